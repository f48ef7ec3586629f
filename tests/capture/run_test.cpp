// The capture program as a user runs it: options, output files, exact sound
// length, repeatability, and scene switches against the module's own timing.
#include "helpers.h"

#include <gtest/gtest.h>
#include <lodepng.h>
#include <mikmod.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <algorithm>

namespace {

const int kRate = 48000;

// The sound of a WAV file written by the capture: 16-bit stereo samples.
std::vector<int16_t> wav_samples(const std::string &bytes) {
    if (bytes.size() < 44 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(36, 4, "data") != 0) return {};
    uint32_t data = 0;
    memcpy(&data, bytes.data() + 40, 4);
    if (data != bytes.size() - 44) return {};
    std::vector<int16_t> samples(data / 2);
    memcpy(samples.data(), bytes.data() + 44, data);
    return samples;
}

std::vector<std::string> pngs_in(const std::string &dir) {
    std::vector<std::string> names;
    for (const std::string &name : list_dir(dir))
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".png") == 0) names.push_back(name);
    return names;
}

std::vector<std::vector<std::string>> read_csv(const std::string &text) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> cells;
        std::istringstream fields(line);
        std::string cell;
        while (std::getline(fields, cell, ',')) cells.push_back(cell);
        if (!line.empty() && line.back() == ',') cells.push_back("");
        rows.push_back(cells);
    }
    return rows;
}

// A PATH with nothing in it: the capture cannot find ffmpeg.
struct no_ffmpeg {
    scratch_dir empty;
};

// ---------------------------------------------------------------- options

TEST(CaptureOptions, BadOptionsExitTwoWithAMessage) {
    scratch_dir dir;
    const std::vector<std::vector<std::string>> bad = {
        {"--frobnicate"},  {"--size", "100"},   {"--size", "161x90"}, {"--size", "0x0"},
        {"--size", "x90"}, {"--fps", "0"},      {"--fps", "sixty"},   {"--fps", "1000"},
        {"--seconds", "-1"}, {"--seconds", "soon"}, {"-o"},           {"--timeline"},
        {"--seconds", "0x1"}, {"--seconds", "1e1"}, {"--fps", "30.0"},
        {"--fps=", "60"},  {"extra"},
    };
    for (const auto &arguments : bad) {
        run_result r = run_capture(dir.path, arguments);
        std::string shown;
        for (const std::string &a : arguments) shown += a + " ";
        EXPECT_EQ(r.status, 2) << shown;
        EXPECT_NE(r.err.find("invitro-capture: "), std::string::npos) << shown << r.err;
        EXPECT_NE(r.err.find("--help"), std::string::npos) << shown << r.err;
    }
    EXPECT_TRUE(list_dir(dir.path).empty()) << "a rejected command line writes nothing";
}

TEST(CaptureOptions, HelpDescribesEveryOption) {
    scratch_dir dir;
    run_result r = run_capture(dir.path, {"--help"});
    EXPECT_EQ(r.status, 0);
    for (const char *option : {"-o FILE", "--size WxH", "--fps N", "--seconds N", "--timeline FILE", "--help"})
        EXPECT_NE(r.out.find(option), std::string::npos) << option;
}

TEST(CaptureOptions, MissingFilesAndFoldersFailWithoutLeavingOutput) {
    scratch_dir dir;  // no atlas, no module
    run_result r = run_capture(dir.path, {"--size", "32x18", "--seconds", "1", "-o", "x.mp4", "--timeline", "t.csv"});
    EXPECT_NE(r.status, 0);
    EXPECT_TRUE(list_dir(dir.path).empty());
    put_tiny_intro(dir.path);
    for (const auto &arguments : std::vector<std::vector<std::string>>{{"-o", "nowhere/x.mp4"},
                                                                       {"--timeline", "nowhere/t.csv"}}) {
        std::vector<std::string> all = {"--size", "32x18", "--seconds", "1"};
        all.insert(all.end(), arguments.begin(), arguments.end());
        r = run_capture(dir.path, all);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("no folder \"nowhere\""), std::string::npos) << r.err;
        EXPECT_EQ(list_dir(dir.path), (std::vector<std::string>{"omber.xm", "out.png"}));
    }
}

// ---------------------------------------------------------------- output

TEST(CaptureOutput, WithoutFfmpegWritesPngFramesAndAWav) {
    scratch_dir dir;
    put_tiny_intro(dir.path);
    no_ffmpeg path;
    run_result r = run_capture(dir.path, {"--size", "64x36", "--fps", "10", "--seconds", "1.5", "-o", "demo.mp4"},
                               path.empty.path);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("ffmpeg is not on the PATH"), std::string::npos) << r.err;
    EXPECT_EQ(list_dir(dir.path), (std::vector<std::string>{"demo-frames", "demo.wav", "omber.xm", "out.png"}));
    const std::vector<std::string> frames = pngs_in(dir / "demo-frames");
    ASSERT_EQ(frames.size(), 15u);
    EXPECT_EQ(frames.front(), "frame-000000.png");
    EXPECT_EQ(frames.back(), "frame-000014.png");
    unsigned char *pixels = nullptr;
    unsigned w = 0, h = 0;
    ASSERT_EQ(lodepng_decode32_file(&pixels, &w, &h, (dir / "demo-frames/frame-000007.png").c_str()), 0u);
    EXPECT_EQ(w, 64u);
    EXPECT_EQ(h, 36u);
    for (unsigned i = 3; i < w * h * 4; i += 4) ASSERT_EQ(pixels[i], 255) << "frames are opaque";
    free(pixels);
    EXPECT_EQ(wav_samples(read_file(dir / "demo.wav")).size(), 15u * kRate / 10 * 2);
}

TEST(CaptureOutput, MakesAnMp4WithH264AndAacAndLeavesNothingElse) {
    if (!ffmpeg_available()) GTEST_SKIP() << "ffmpeg is not installed";
    scratch_dir dir;
    put_tiny_intro(dir.path);
    run_result r = run_capture(dir.path, {"--size", "64x36", "--fps", "25", "--seconds", "2", "-o", "v.mp4"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(list_dir(dir.path), (std::vector<std::string>{"omber.xm", "out.png", "v.mp4"}));
    const std::string probe = dir / "probe.txt";
    ASSERT_EQ(system(("ffprobe -v error -show_entries stream=codec_name,pix_fmt,width,height,sample_rate,channels,"
                      "start_time,duration,nb_read_frames -count_frames -of compact '" + (dir / "v.mp4") + "' > '" +
                      probe + "'")
                         .c_str()),
              0);
    // The sound, encoded apart and muxed by copying, starts with the
    // picture and lasts as long.
    const std::string streams = read_file(probe);
    EXPECT_NE(streams.find("codec_name=h264|width=64|height=36|pix_fmt=yuv420p|start_time=0.000000|"
                           "duration=2.000000|nb_read_frames=50"),
              std::string::npos) << streams;
    EXPECT_NE(streams.find("codec_name=aac|sample_rate=48000|channels=2|start_time=0.000000|duration=2.000000"),
              std::string::npos) << streams;
}

// The frames and the sound go to two ffmpeg runs side by side, then a third
// muxes them. Whichever fails, the run says which and leaves nothing.
TEST(CaptureOutput, AFailingFfmpegIsReportedAndLeavesNoFile) {
    struct {
        const char *fails_on;  // the ffmpeg run that fails: its input's format, or "-c" for the mux
        const char *says;
    } cases[] = {
        {"", "ffmpeg failed while encoding the frames (exit status 3)"},  // every run fails at once
        {"s16le", "ffmpeg failed while encoding the sound (exit status 3)"},
        {"rawvideo", "ffmpeg failed while encoding the frames (exit status 3)"},
        {"-c", "ffmpeg failed while muxing the video and the sound (exit status 3)"},
    };
    for (const auto &c : cases) {
        if (*c.fails_on && !ffmpeg_available()) continue;  // the other runs are the real ffmpeg
        scratch_dir dir, bin;
        put_tiny_intro(dir.path);
        {
            std::ofstream fake(bin / "ffmpeg");
            fake << "#!/bin/sh\nfor a; do case \"$a\" in " << (*c.fails_on ? c.fails_on : "*")
                 << ") echo 'ffmpeg: out of luck' >&2; exit 3;; esac; done\nexec /usr/bin/ffmpeg \"$@\"\n";
        }
        ASSERT_EQ(chmod((bin / "ffmpeg").c_str(), 0755), 0);
        run_result r = run_capture(dir.path, {"--size", "64x36", "--fps", "10", "--seconds", "3", "-o", "v.mp4",
                                              "--timeline", "t.csv"},
                                   bin.path + ":/usr/bin:/bin");
        EXPECT_NE(r.status, 0) << c.fails_on;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.fails_on << ": " << r.err;
        EXPECT_EQ(list_dir(dir.path), (std::vector<std::string>{"omber.xm", "out.png"})) << c.fails_on;
    }
}

// Targets that are not files, the intro's own files and a second name for
// another output are refused before anything is made; nothing is replaced.
TEST(CaptureOutput, RefusesTargetsItMustNotReplace) {
    scratch_dir dir, bin;
    put_tiny_intro(dir.path);
    ASSERT_EQ(mkdir((dir / "data").c_str(), 0755), 0);
    std::ofstream(dir / "data/scene.dat") << "scene";
    ASSERT_EQ(mkdir((dir / "folder").c_str(), 0755), 0);
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0644), 0);
    {
        std::ofstream fake(bin / "ffmpeg");  // never reached: the refusal comes first
        fake << "#!/bin/sh\nexit 3\n";
    }
    ASSERT_EQ(chmod((bin / "ffmpeg").c_str(), 0755), 0);
    no_ffmpeg none;
    ASSERT_EQ(mkfifo((dir / "fifo-frames").c_str(), 0644), 0);
    const std::string atlas = read_file(dir / "out.png");
    const struct {
        std::vector<std::string> arguments;
        bool ffmpeg;
        const char *said;
    } cases[] = {
        {{"-o", "/dev/null"}, true, "cannot write \"/dev/null\": it is a character device"},
        {{"--timeline", "/dev/full"}, true, "cannot write \"/dev/full\": it is a character device"},
        {{"-o", "fifo"}, true, "cannot write \"fifo\": it is a FIFO"},
        {{"-o", "folder"}, true, "cannot write \"folder\": it is a directory"},
        {{"-o", "out.png"}, true, "cannot write \"out.png\": this run reads it"},
        {{"-o", "./omber.xm"}, true, "cannot write \"./omber.xm\": it is \"omber.xm\", which this run reads"},
        {{"--timeline", "data/scene.dat"}, true, "this run reads it"},
        {{"-o", "v.mp4", "--timeline", "./v.mp4"}, true, "which this run also writes"},
        {{"-o", "v.mp4", "--timeline", "v.wav"}, false, "cannot write \"v.wav\": this run writes it as another output"},
        {{"-o", "fifo.mp4"}, false, "cannot write \"fifo-frames\": it is a FIFO"},
        {{"-o", "x.avi"}, true, "cannot write \"x.avi\": the video is an MP4"},
    };
    const std::vector<std::string> all_before = list_dir(dir.path);
    for (const auto &c : cases) {
        std::vector<std::string> arguments = {"--size", "32x18", "--seconds", "1"};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        run_result r = run_capture(dir.path, arguments, c.ffmpeg ? bin.path + ":/usr/bin:/bin" : none.empty.path);
        EXPECT_EQ(r.status, 1) << c.said << r.err;
        EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
        EXPECT_EQ(list_dir(dir.path), all_before) << c.said;
    }
    EXPECT_EQ(read_file(dir / "out.png"), atlas);
    struct stat info;
    ASSERT_EQ(stat("/dev/null", &info), 0);
    EXPECT_TRUE(S_ISCHR(info.st_mode));
}

// A hang-up, quit or termination, and a timeline that cannot be put in place
// at the end, leave none of the run's outputs behind.
TEST(CaptureOutput, AllOutputsOrNone) {
    no_ffmpeg none;
    // Waits until a file whose name holds `part` shows up in `folder`.
    auto wait_for = [](const std::string &folder, const char *part) {
        for (int i = 0; i < 20000; i++) {
            for (const std::string &name : list_dir(folder))
                if (name.find(part) != std::string::npos) return true;
            usleep(1000);
        }
        return false;
    };
    for (int sig : {SIGHUP, SIGQUIT, SIGTERM}) {
        SCOPED_TRACE(strsignal(sig));
        scratch_dir dir;
        put_tiny_intro(dir.path);
        run_result r = run_capture(dir.path,
                                   {"--size", "32x18", "--fps", "60", "--seconds", "600", "-o", "v.mp4",
                                    "--timeline", "t.csv"},
                                   none.empty.path, [&](int pid) {
                                       // The frames folder appears once the first frame is made.
                                       EXPECT_TRUE(wait_for(dir.path, "v-frames.part"));
                                       kill(pid, sig);
                                   });
        EXPECT_EQ(r.status, 128 + sig) << r.err;
        EXPECT_NE(r.err.find(std::string("interrupted (") + strsignal(sig) + "); nothing written"), std::string::npos)
            << r.err;
        EXPECT_EQ(list_dir(dir.path), (std::vector<std::string>{"omber.xm", "out.png"}));
    }
    scratch_dir dir;
    put_tiny_intro(dir.path);
    ASSERT_EQ(mkdir((dir / "sub").c_str(), 0755), 0);
    run_result r = run_capture(dir.path, {"--size", "32x18", "--fps", "30", "--seconds", "3", "-o", "v.mp4",
                                          "--timeline", "sub/t.csv"},
                               none.empty.path, [&](int) {
                                   EXPECT_TRUE(wait_for(dir / "sub", "t.csv.part"));
                                   std::error_code ec;
                                   std::filesystem::remove_all(dir / "sub", ec);
                               });
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("cannot write the timeline \"sub/t.csv\": No such file or directory"), std::string::npos)
        << r.err;
    EXPECT_EQ(list_dir(dir.path), (std::vector<std::string>{"omber.xm", "out.png"}));
}

// Without a module the clock keeps the song's nominal pace (120 ms a row),
// so the show is at the same place at the same time whatever the frame
// rate (a rate with a blank before it is read like a setting).
TEST(CaptureTimeline, WithoutMusicThePaceDoesNotDependOnTheFrameRate) {
    std::vector<std::string> at_ten_seconds;
    for (const char *fps : {"10", " 60", "25"}) {
        scratch_dir dir;
        put_tiny_intro(dir.path);
        ASSERT_EQ(unlink((dir / "omber.xm").c_str()), 0);
        run_result r = run_capture(dir.path, {"--size", "32x18", "--fps", fps, "--seconds", "10.2", "-o", "v.mp4",
                                              "--timeline", "t.csv"},
                                   no_ffmpeg().empty.path);
        ASSERT_EQ(r.status, 0) << r.err;
        for (const auto &cells : read_csv(read_file(dir / "t.csv")))
            if (cells.size() > 3 && cells[1] == "10000.000") at_ten_seconds.push_back(cells[2] + "," + cells[3]);
    }
    ASSERT_EQ(at_ten_seconds.size(), 3u);
    EXPECT_EQ(at_ten_seconds[0], "1,19") << "10 s of 120 ms rows: row 83, position 1 row 19";
    EXPECT_EQ(at_ten_seconds[1], at_ten_seconds[0]);
    EXPECT_EQ(at_ten_seconds[2], at_ten_seconds[0]);
}

// ---------------------------------------------------------------- sound length and repeatability

TEST(CaptureSound, HoldsExactlyFramesTimesRateOverFps) {
    scratch_dir dir;
    put_tiny_intro(dir.path);
    no_ffmpeg path;
    struct { const char *fps, *seconds; size_t frames; } cases[] = {
        {"60", "1.5", 90},  // 800 sample frames each
        {"7", "1.5", 11},   // 6857.14... : the parts must still add up exactly
        {"7", "3", 21},
        {"13", "0.1", 1},
    };
    for (const auto &c : cases) {
        std::filesystem::remove_all(dir / "s-frames");  // the last case's: never replaced
        std::filesystem::remove(dir / "s.wav");
        run_result r = run_capture(dir.path, {"--size", "32x18", "--fps", c.fps, "--seconds", c.seconds, "-o", "s.mp4"},
                                   path.empty.path);
        ASSERT_EQ(r.status, 0) << r.err;
        const size_t fps = static_cast<size_t>(atoi(c.fps));
        EXPECT_EQ(pngs_in(dir / "s-frames").size(), c.frames) << c.fps << " fps";
        EXPECT_EQ(wav_samples(read_file(dir / "s.wav")).size(), c.frames * kRate / fps * 2) << c.fps << " fps";
    }
}

TEST(CaptureRepeat, TwoCapturesGiveTheSameFramesAndSound) {
    scratch_dir first, second;
    no_ffmpeg path;
    for (const scratch_dir *dir : {&first, &second}) {
        put_tiny_intro(dir->path);
        run_result r = run_capture(dir->path, {"--size", "80x46", "--fps", "30", "--seconds", "2.5", "-o", "a.mp4",
                                               "--timeline", "a.csv"},
                                   path.empty.path);
        ASSERT_EQ(r.status, 0) << r.err;
    }
    const std::vector<std::string> frames = pngs_in(first / "a-frames");
    ASSERT_EQ(frames.size(), 75u);
    ASSERT_EQ(pngs_in(second / "a-frames"), frames);
    for (const std::string &f : frames)
        EXPECT_EQ(read_file(first / ("a-frames/" + f)), read_file(second / ("a-frames/" + f))) << f;
    const std::string sound = read_file(first / "a.wav");
    EXPECT_EQ(sound, read_file(second / "a.wav"));
    std::vector<int16_t> samples = wav_samples(sound);
    EXPECT_TRUE(std::any_of(samples.begin(), samples.end(), [](int16_t s) { return s != 0; })) << "the song plays";
    EXPECT_EQ(read_file(first / "a.csv"), read_file(second / "a.csv"));
}

TEST(CaptureRepeat, TwoMp4CapturesAreTheSameBytes) {
    if (!ffmpeg_available()) GTEST_SKIP() << "ffmpeg is not installed";
    scratch_dir first, second;
    for (const scratch_dir *dir : {&first, &second}) {
        put_tiny_intro(dir->path);
        run_result r = run_capture(dir->path, {"--size", "80x46", "--fps", "30", "--seconds", "2.5", "-o", "a.mp4"});
        ASSERT_EQ(r.status, 0) << r.err;
    }
    const std::string video = read_file(first / "a.mp4");
    EXPECT_GT(video.size(), 1000u);
    EXPECT_TRUE(video == read_file(second / "a.mp4"));
}

// ---------------------------------------------------------------- letterboxing

// The intro draws in 640x360; a frame of another shape gets black bars and
// the scene's background grey in between (knock is grey 100, cred3 white).
TEST(CaptureLetterbox, BarsStayBlackAroundTheSceneBackground) {
    struct { const char *size; unsigned w, h, left, top; } cases[] = {
        {"64x48", 64, 48, 0, 6},   // taller: bars above and below
        {"96x36", 96, 36, 16, 0},  // wider: bars left and right
    };
    no_ffmpeg path;
    for (const auto &c : cases) {
        scratch_dir dir;
        put_tiny_intro(dir.path);
        run_result r = run_capture(dir.path, {"--size", c.size, "--fps", "20", "--seconds", "4.5", "--timeline",
                                              "t.csv", "-o", "l.mp4"},
                                   path.empty.path);
        ASSERT_EQ(r.status, 0) << r.err;
        const auto rows = read_csv(read_file(dir / "t.csv"));
        for (const auto &[scene, grey] : {std::pair<std::string, int>{"knock", 100}, {"cred3", 255}}) {
            size_t frame = 0;
            while (frame + 1 < rows.size() && rows[frame + 1][5] != scene) frame++;
            ASSERT_LT(frame + 1, rows.size()) << scene << " is reached";
            char name[64];
            snprintf(name, sizeof name, "l-frames/frame-%06zu.png", frame + 1);  // a frame into the scene
            unsigned char *pixels = nullptr;
            unsigned w = 0, h = 0;
            ASSERT_EQ(lodepng_decode32_file(&pixels, &w, &h, (dir / name).c_str()), 0u);
            ASSERT_EQ(w, c.w);
            ASSERT_EQ(h, c.h);
            for (unsigned y = 0; y < h; y++)
                for (unsigned x = 0; x < w; x++) {
                    const bool bar = y < c.top || y >= h - c.top || x < c.left || x >= w - c.left;
                    const unsigned char *p = pixels + (y * w + x) * 4;
                    const int want = bar ? 0 : grey;
                    ASSERT_EQ(p[0], want) << c.size << " " << scene << " at " << x << "," << y;
                    ASSERT_EQ(p[1], want);
                    ASSERT_EQ(p[2], want);
                }
            free(pixels);
        }
    }
}

// ---------------------------------------------------------------- the schedule against the module

// The module's own timing: played by libmikmod on the no-sound driver, one
// frame's worth of sound at a time, noting the position after each frame.
struct module_timing {
    std::vector<int> position, row;
    std::vector<int16_t> pcm;
    size_t last_playing_frame = 0;  // the frame after which the player stopped
};

size_t samples_for_frame(size_t n, size_t fps) { return (n + 1) * kRate / fps - n * kRate / fps; }

module_timing play_module(const std::string &path, size_t fps, size_t frames) {
    static bool ready = false;
    if (!ready) {
        MikMod_RegisterDriver(&drv_nos);
        MikMod_RegisterAllLoaders();
        md_mixfreq = kRate;
        md_mode = static_cast<UWORD>((md_mode | DMODE_STEREO | DMODE_16BITS | DMODE_SOFT_MUSIC) & ~DMODE_FLOAT);
        ready = MikMod_Init(const_cast<CHAR *>("")) == 0;
    }
    module_timing t;
    MODULE *m = ready ? Player_Load(const_cast<CHAR *>(path.c_str()), 64, 0) : nullptr;
    if (!m) return t;
    Player_Start(m);
    for (size_t n = 0; n < frames; n++) {
        std::vector<int16_t> chunk(samples_for_frame(n, fps) * 2, 0);
        if (Player_Active()) {
            VC_WriteBytes(reinterpret_cast<SBYTE *>(chunk.data()), static_cast<ULONG>(chunk.size() * 2));
            if (!Player_Active() && !t.last_playing_frame) t.last_playing_frame = n;
        }
        t.pcm.insert(t.pcm.end(), chunk.begin(), chunk.end());
        t.position.push_back(m->sngpos);
        t.row.push_back(m->patpos);
    }
    Player_Stop();
    Player_Free(m);
    return t;
}

// At 59 fps frame 3 lies 50.85 ms after the start: a millisecond clock shows
// 50 there, so the third update (due after 50 ms) waits for frame 4.
class CaptureTimeline : public testing::TestWithParam<size_t> {};

TEST_P(CaptureTimeline, ScenesSwitchWhenTheModuleReachesTheirPositions) {
    scratch_dir dir;
    put_tiny_intro(dir.path);
    no_ffmpeg path;
    const size_t fps = GetParam();
    run_result r = run_capture(dir.path, {"--size", "32x18", "--fps", std::to_string(fps), "--timeline", "t.csv",
                                          "-o", "t.mp4"},
                               path.empty.path);
    ASSERT_EQ(r.status, 0) << r.err;
    const auto rows = read_csv(read_file(dir / "t.csv"));
    ASSERT_GT(rows.size(), 2u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"frame", "time_ms", "position", "row", "beat", "scene"}));
    const size_t frames = rows.size() - 1;

    module_timing m = play_module(dir / "omber.xm", fps, frames);
    ASSERT_EQ(m.position.size(), frames);
    ASSERT_GT(m.last_playing_frame, 0u) << "the tiny song ends";
    // By default the capture lasts until the song has ended, plus 5 seconds.
    EXPECT_EQ(frames, m.last_playing_frame + 1 + 5 * fps);
    EXPECT_EQ(pngs_in(dir / "t-frames").size(), frames);
    EXPECT_TRUE(wav_samples(read_file(dir / "t.wav")) == m.pcm) << "the sound is the module's own, frame for frame";

    // Every frame shows the song clock the module had after that frame's sound.
    for (size_t n = 0; n < frames; n++) {
        const auto &row = rows[n + 1];
        ASSERT_EQ(row.size(), 6u) << n;
        ASSERT_EQ(row[0], std::to_string(n));
        char ms[32];
        snprintf(ms, sizeof ms, "%zu.%03zu", n * 1000 / fps, n * 1000000 / fps % 1000);
        ASSERT_EQ(row[1], ms) << n;
        ASSERT_EQ(row[2], std::to_string(m.position[n])) << n;
        ASSERT_EQ(row[3], std::to_string(m.row[n])) << n;
        ASSERT_EQ(row[4], std::to_string(m.row[n] + 64 * m.position[n])) << n;
    }

    // Updates run 40 times a second: update k at the first frame at least
    // (k - 1) x 25 + 1 ms after the start, as a millisecond clock would see it.
    std::vector<size_t> update_frames;
    for (size_t k = 1; update_frames.empty() || update_frames.back() < frames; k++)
        update_frames.push_back(((k - 1) * 25 + 1) * fps / 1000 + (((k - 1) * 25 + 1) * fps % 1000 != 0));
    // The scene changes on the first update after the frame at which the
    // module reached its position.
    const std::vector<std::pair<int, std::string>> schedule = {
        {0, "hello"}, {1, "fade"},  {2, "zuzu"},   {5, "knock"},  {6, "beat1"},  {7, "beat2"},
        {8, "beat3"}, {9, "lead2"}, {11, "heart"}, {12, "cred1"}, {13, "cred3"}, {14, "cred2"},
        {15, "lead1"}, {16, "beat2"}, {17, "hal1"}, {20, "hal2"},
    };
    std::vector<std::pair<size_t, std::string>> expected, seen;
    for (const auto &[position, scene] : schedule) {
        size_t reached = 0;
        while (reached < frames && m.position[reached] != position) reached++;
        ASSERT_LT(reached, frames) << "the tiny song reaches position " << position;
        size_t k = 0;
        while (update_frames[k] <= reached) k++;
        expected.push_back({update_frames[k], scene});
    }
    for (size_t n = 0; n < frames; n++) {
        const std::string &scene = rows[n + 1][5];
        if (n == 0 ? !scene.empty() : scene != rows[n][5]) seen.push_back({n, scene});
    }
    EXPECT_EQ(seen, expected);
}

INSTANTIATE_TEST_SUITE_P(Rates, CaptureTimeline, testing::Values(60, 59, 40));

}  // namespace
