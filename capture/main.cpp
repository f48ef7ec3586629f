// invitro-capture: renders the intro offline into a video file, frame-exact
// and in step with its music. It runs the same engine, application and main
// loop as the interactive builds, on an off-screen display and a virtual clock.
#include "invitro_capture.h"

#include "drawboxlib/drawboxlib.h"
#include "drawboxlib/platforms/capture_layer.h"
#include "file_io.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

static const char usage[] =
    "Usage: invitro-capture [options]\n"
    "Renders the intro offline to a video file: every frame, with its music, in sync.\n"
    "Run it in the folder that holds the intro's files (out.png, omber.xm, data/).\n"
    "\n"
    "  -o FILE          the video to write, an .mp4 (default invitro.mp4)\n"
    "  --size WxH       frame size in pixels, even numbers (default 1280x720)\n"
    "  --fps N          frames per second (default 60)\n"
    "  --seconds N      length of the capture, e.g. 20 or 20.5 (default: until the\n"
    "                   song has ended, plus 5 seconds of the last scene)\n"
    "  --timeline FILE  also write a CSV with one row per frame: frame, time in ms,\n"
    "                   song position, row, beat number, scene name\n"
    "  --help           show this text\n"
    "\n"
    "The video is an MP4 (H.264 and AAC, 48 kHz stereo) made by ffmpeg. Where ffmpeg\n"
    "is not on the PATH, the frames are written as PNG files into FILE-frames/ (the\n"
    "name without its extension) and the sound into a WAV file of the same name;\n"
    "neither may exist yet.\n"
    "\n"
    "Settings (environment variables): DBX_DATA=DIR reads the intro's files from\n"
    "DIR instead.\n"
    "\n"
    "SIGINT, SIGTERM, SIGHUP and SIGQUIT stop the capture at once and remove what\n"
    "it had written; it then exits with 128 plus the signal's number.\n";

static constexpr int tail_seconds = 5;           // of the last scene after the song
static constexpr double longest_song_s = 1800;   // a song that never ends stops here

struct settings {
    std::string output = "invitro.mp4";
    int width = 1280, height = 720;
    int fps = 60;
    double seconds = 0;  // 0: until the song has ended, plus the tail
    std::string timeline;
};

[[noreturn]] static void bad_usage(const std::string &text) {
    fprintf(stderr, "invitro-capture: %s\nTry 'invitro-capture --help'.\n", text.c_str());
    exit(2);
}

// A whole number from low to high, read as the settings read numbers.
static bool parse_int(const std::string &text, int32_t low, int32_t high, int32_t *value) {
    return !dbx_whole_number(text.c_str(), value) && *value >= low && *value <= high;
}

// Seconds as the settings read numbers, whole (blanks before, nothing
// after), with a decimal fraction allowed: "1", "20.05". Not "0x1" or "1e1".
static bool parse_seconds(const std::string &text, double *seconds) {
    const size_t dot = text.find('.');
    int32_t whole = 0;
    if (dbx_whole_number(text.substr(0, dot).c_str(), &whole)) return false;
    double fraction = 0, unit = 1;
    if (dot != std::string::npos) {
        if (dot + 1 == text.size()) return false;
        for (size_t i = dot + 1; i < text.size(); i++) {
            if (text[i] < '0' || text[i] > '9') return false;
            unit /= 10;
            fraction += (text[i] - '0') * unit;
        }
    }
    *seconds = whole + (text.find('-') != std::string::npos ? -fraction : fraction);
    return true;
}

static settings parse_options(int argc, char **argv) {
    settings s;
    for (int i = 1; i < argc; i++) {
        std::string option = argv[i], value;
        bool inline_value = false;
        if (option.rfind("--", 0) == 0 && option.find('=') != std::string::npos) {
            value = option.substr(option.find('=') + 1);
            option.erase(option.find('='));
            inline_value = true;
        }
        if (option == "--help" || option == "-h") {
            if (inline_value) bad_usage("--help takes no value");
            fputs(usage, stdout);
            exit(0);
        }
        if (option != "-o" && option != "--output" && option != "--size" && option != "--fps" &&
            option != "--seconds" && option != "--timeline")
            bad_usage("unknown option '" + std::string(argv[i]) + "'");
        if (!inline_value) {
            if (i + 1 >= argc) bad_usage("option '" + option + "' needs a value");
            value = argv[++i];
        }
        if (option == "-o" || option == "--output") {
            if (value.empty()) bad_usage("-o needs a file name");
            s.output = value;
        } else if (option == "--size") {
            size_t x = value.find('x');
            int32_t w = 0, h = 0;
            if (x == std::string::npos || !parse_int(value.substr(0, x), 2, 7680, &w) ||
                !parse_int(value.substr(x + 1), 2, 4320, &h))
                bad_usage("--size wants WIDTHxHEIGHT, e.g. 1280x720 (at most 7680x4320), not '" + value + "'");
            if (w % 2 || h % 2) bad_usage("--size " + value + ": width and height must be even (the video is 4:2:0)");
            s.width = static_cast<int>(w);
            s.height = static_cast<int>(h);
        } else if (option == "--fps") {
            int32_t fps = 0;
            if (!parse_int(value, 1, 240, &fps))
                bad_usage("--fps wants a whole number from 1 to 240, not '" + value + "'");
            s.fps = static_cast<int>(fps);
        } else if (option == "--seconds") {
            double seconds = -1;
            if (!parse_seconds(value, &seconds) || !(seconds > 0) || seconds > longest_song_s)
                bad_usage("--seconds wants a number of seconds above 0 and at most 1800, not '" + value + "'");
            s.seconds = seconds;
        } else {
            if (value.empty()) bad_usage("--timeline needs a file name");
            s.timeline = value;
        }
    }
    return s;
}

// ---------------------------------------------------------------- progress

static volatile sig_atomic_t interrupt_signal;
static void on_interrupt(int sig) {
    interrupt_signal = sig;
    capture_interrupted = 1;
}

static std::string clock_text(double seconds) {
    long s = seconds > 0 ? static_cast<long>(seconds + 0.5) : 0;
    char text[32];
    snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

// One line on a terminal, redrawn in place; nothing at all in a log.
static void show_progress(double done, double intro_seconds, double wall_seconds, bool last) {
    static double shown_at = -1;
    if (!isatty(STDERR_FILENO)) return;
    if (!last && shown_at >= 0 && wall_seconds - shown_at < 0.2) return;
    shown_at = wall_seconds;
    if (done > 1) done = 1;
    const int width = 30;
    int filled = static_cast<int>(done * width);
    std::string bar(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(width - filled), '.');
    std::string left = done > 0.01 ? clock_text(wall_seconds * (1 - done) / done) + " left" : "estimating";
    fprintf(stderr, "\r[%s] %3d%%  %s of intro, %s   ", bar.c_str(), static_cast<int>(done * 100),
            clock_text(intro_seconds).c_str(), left.c_str());
    if (last) fputc('\n', stderr);
    fflush(stderr);
}

// ---------------------------------------------------------------- the files

// Why the outputs of this run cannot be written, or "" when they can. They
// are checked before anything is made: each must be a file (the PNG frames a
// folder) that is neither one of the intro's own files nor another output.
// A video is muxed with a seek back to its start, so it cannot be a stream.
static std::string outputs_problem(const settings &s, const output_names &names, bool use_ffmpeg) {
    std::vector<std::string> outputs;
    if (use_ffmpeg) {
        outputs = {names.video};
    } else {
        outputs = {names.frames_dir, names.wav};
    }
    if (!s.timeline.empty()) outputs.push_back(s.timeline);
    for (const std::string &file : outputs) {
        struct stat info;
        const char *kind = tool_special_kind(file, &info);
        if (*kind && !(file == names.frames_dir && S_ISDIR(info.st_mode)))
            return "cannot write \"" + file + "\": it is " + kind + ", not a file; name a file instead";
    }
    // The PNG frames and the WAV are named after -o, not by the user: they
    // never replace anything.
    if (!use_ffmpeg)
        for (const std::string &file : {names.frames_dir, names.wav}) {
            std::error_code ec;
            if (fs::exists(fs::symlink_status(file, ec)))
                return "without ffmpeg the capture writes its frames to " + names.frames_dir + "/ and its sound to " +
                       names.wav + ", but \"" + file +
                       "\" already exists; remove it, or name another -o";
        }
    const std::string clash = tool_output_clash(outputs, capture_inputs());
    if (!clash.empty()) return clash;
    // The video is an MP4, whatever its name says: a name that says another
    // kind of file is refused rather than filled with one it is not.
    const std::string name = fs::path(s.output).filename().string();
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) {
        std::string extension = name.substr(dot + 1);
        for (char &c : extension) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
        if (extension != "mp4")
            return "cannot write \"" + s.output + "\": the video is an MP4; name it with .mp4 (or without an extension)";
    }
    return "";
}

// ---------------------------------------------------------------- the capture

int main(int argc, char **argv) {
    const settings s = parse_options(argc, argv);
    for (const std::string &file : {s.output, s.timeline}) {
        const fs::path folder = fs::path(file).parent_path();
        if (!file.empty() && !folder.empty() && !fs::is_directory(folder)) {
            fprintf(stderr, "invitro-capture: there is no folder \"%s\" to write \"%s\" into\n", folder.c_str(),
                    file.c_str());
            return 1;
        }
    }
    const bool use_ffmpeg = output_ffmpeg_on_path();
    const output_names names = output_names_for(s.output);
    const std::string problem = outputs_problem(s, names, use_ffmpeg);
    if (!problem.empty()) {
        fprintf(stderr, "invitro-capture: %s\n", problem.c_str());
        return 1;
    }
    // A hang-up or quit, like Ctrl-C and SIGTERM, stops the run at the next
    // frame, and nothing of it is left behind.
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) signal(sig, on_interrupt);

    std::string timeline_tmp;
    FILE *timeline = nullptr;
    auto give_up = [&](const std::string &text) {
        output_abort();
        if (capture_interrupted) {
            fprintf(stderr, "\ninvitro-capture: interrupted (%s); nothing written\n", strsignal(interrupt_signal));
        } else if (!text.empty()) {
            fprintf(stderr, "invitro-capture: %s\n", text.c_str());
        }
        if (!timeline_tmp.empty()) {
            if (timeline) fclose(timeline);
            timeline = nullptr;
            std::error_code ec;
            fs::remove(timeline_tmp, ec);
        }
        // Interrupted: the shell's status for a program a signal ended.
        return capture_interrupted ? 128 + interrupt_signal : 1;
    };
    auto timeline_failed = [&](int code) {
        return give_up("cannot write the timeline \"" + s.timeline + "\": " + strerror(code ? code : EIO));
    };

    // The first frame comes before any file is made: start-up stops the
    // program when the intro's files are missing, and whether the music
    // loaded decides how long the capture is.
    capture_start(s.width, s.height, s.fps);
    capture_step();
    if (!capture_music_loaded() && s.seconds == 0)
        return give_up("without its music the intro has no end to stop at; give --seconds to capture it silent");

    if (!s.timeline.empty()) {
        timeline_tmp = s.timeline + ".part-" + std::to_string(getpid());
        timeline = fopen(timeline_tmp.c_str(), "wb");
        if (!timeline) {
            fprintf(stderr, "invitro-capture: cannot write the timeline \"%s\": %s\n", timeline_tmp.c_str(),
                    strerror(errno));
            return 1;
        }
        fprintf(timeline, "%s\n", capture_timeline_header);
    }

    if (!use_ffmpeg)
        fprintf(stderr, "invitro-capture: ffmpeg is not on the PATH: writing PNG frames to %s/ and the sound to %s\n",
                names.frames_dir.c_str(), names.wav.c_str());
    if (output_open(s.output, s.width, s.height, s.fps, use_ffmpeg) != 0) return give_up(output_error());

    const uint64_t fixed_frames =
        s.seconds > 0 ? std::max<uint64_t>(1, static_cast<uint64_t>(std::llround(s.seconds * s.fps))) : 0;
    const uint64_t tail_frames = static_cast<uint64_t>(tail_seconds) * static_cast<uint64_t>(s.fps);
    const uint64_t most_frames = static_cast<uint64_t>(longest_song_s) * static_cast<uint64_t>(s.fps);
    uint64_t end_frame = fixed_frames;  // 0 while the song still plays
    const auto began = std::chrono::steady_clock::now();
    char row[128];
    uint64_t swaps_seen = 0;
    for (;;) {
        const bool same_picture = dbx_capture_swaps == swaps_seen;
        swaps_seen = dbx_capture_swaps;
        // The encoder takes GL's own pixels, the PNG files the frame proper.
        const ptrdiff_t line = static_cast<ptrdiff_t>(s.width) * 4;
        const output_picture picture =
            use_ffmpeg ? output_picture{dbx_capture_gl_pixels + line * (s.height - 1), -line, dbx_capture_gl_bgra}
                       : output_picture{dbx_capture_frame(), line, false};
        if (output_frame(picture, same_picture, capture_audio, capture_audio_frames) != 0)
            return give_up(output_error());
        if (timeline) {
            capture_timeline_row(row, sizeof row);
            if (fprintf(timeline, "%s\n", row) < 0) return timeline_failed(errno);
        }
        if (!fixed_frames && !end_frame) {
            if (capture_song_ended())
                end_frame = capture_frame + tail_frames;
            else if (capture_frame >= most_frames) {
                fprintf(stderr, "\ninvitro-capture: the song is still playing after %.0f s; stopping there\n",
                        longest_song_s);
                end_frame = capture_frame;
            }
        }
        double done;
        if (end_frame)
            done = static_cast<double>(capture_frame) / static_cast<double>(end_frame);
        else  // still in the song: judge by the order list, the tail is small
            done = capture_song_progress() * 0.97;
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
        const bool last = end_frame && capture_frame >= end_frame;
        show_progress(done, static_cast<double>(capture_frame) / s.fps, wall, last);
        if (last) break;
        if (capture_interrupted) return give_up("");
        capture_step();
    }

    // All of the outputs or none: the timeline is written out before the
    // video is put in place, and the video goes again if the timeline
    // cannot follow it.
    if (timeline) {
        int code = fflush(timeline) == 0 ? 0 : errno;
        if (fclose(timeline) != 0 && !code) code = errno;
        timeline = nullptr;
        if (code) return timeline_failed(code);
    }
    if (output_finish() != 0) return give_up(output_error());
    if (!timeline_tmp.empty() && rename(timeline_tmp.c_str(), s.timeline.c_str()) != 0) {
        const int code = errno;
        output_unfinish();
        return timeline_failed(code);
    }
    const double seconds = static_cast<double>(capture_frame) / s.fps;
    if (use_ffmpeg)
        fprintf(stderr, "invitro-capture: wrote %s (%llu frames, %.2f s, %dx%d at %d fps)\n", names.video.c_str(),
                static_cast<unsigned long long>(capture_frame), seconds, s.width, s.height, s.fps);
    else
        fprintf(stderr, "invitro-capture: wrote %llu frames to %s/ and %.2f s of sound to %s\n",
                static_cast<unsigned long long>(capture_frame), names.frames_dir.c_str(), seconds, names.wav.c_str());
    return 0;
}
