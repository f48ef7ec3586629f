// Where the captured frames go. With ffmpeg: the frames as 4:2:0 through a
// pipe into an H.264 encoder, the sound through a second pipe into an AAC
// encoder running beside it, and at the end one more ffmpeg run that copies
// both streams into the MP4. Each ffmpeg reads one pipe and writes nothing
// back, so nothing can deadlock. Without ffmpeg: one PNG per frame and a WAV
// file.
#include "invitro_capture.h"
#include "drawboxlib/drawboxlib.h"
#include "drawboxlib/platforms/capture_layer.h"

#include <lodepng.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern char **environ;

namespace fs = std::filesystem;

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "WAV samples are written in host order");

// ---------------------------------------------------------------- state of the one output

static std::string error_text;
static output_names names;
static int width, height, fps;
static bool with_ffmpeg;
static std::string tmp_video, tmp_sound, tmp_wav, tmp_mp4, tmp_frames;
static FILE *wav;
static uint64_t wav_frames;
static int encoder_stdin = -1, sound_stdin = -1;
static pid_t encoder = -1, sound_encoder = -1;
static uint64_t frames_written;
static std::vector<unsigned char> last_png;  // a kept frame is this file again

std::atomic<int> capture_interrupted;

// How long ffmpeg may take no data, or go on without finishing, before it
// counts as stalled. INVITRO_CAPTURE_STALL_MS shortens it for tests.
static std::chrono::milliseconds stall_limit{30000};

using steady = std::chrono::steady_clock;

const std::string &output_error(void) { return error_text; }

static int fail(const std::string &text) {
    error_text = text;
    return -1;
}

bool output_ffmpeg_on_path(void) {
    const char *path = getenv("PATH");
    if (!path) return false;
    std::string dirs = path;
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        std::string dir = dirs.substr(start, end - start);
        if (dir.empty()) dir = ".";
        std::string candidate = dir + "/ffmpeg";
        struct stat info;
        if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(candidate.c_str(), X_OK) == 0)
            return true;
        start = end + 1;
    }
    return false;
}

output_names output_names_for(const std::string &path) {
    output_names result;
    result.video = path;
    // "demo.mp4" -> "demo-frames/" and "demo.wav"; the extension counts only
    // after the last slash.
    std::string stem = path;
    size_t slash = stem.rfind('/');
    size_t dot = stem.rfind('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash + 1)) stem.erase(dot);
    result.frames_dir = stem + "-frames";
    result.wav = stem + ".wav";
    return result;
}

// ---------------------------------------------------------------- WAV

static void put32(unsigned char *at, uint32_t value) {
    for (int i = 0; i < 4; i++) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

static void put16(unsigned char *at, uint16_t value) {
    at[0] = static_cast<unsigned char>(value);
    at[1] = static_cast<unsigned char>(value >> 8);
}

// A 44-byte RIFF header for 16-bit stereo PCM at the mixing rate.
static void wav_header(unsigned char *header, uint64_t sample_frames) {
    const uint32_t block = CAPTURE_CHANNELS * 2;
    const uint32_t data = static_cast<uint32_t>(sample_frames * block);
    memcpy(header, "RIFF", 4);
    put32(header + 4, 36 + data);
    memcpy(header + 8, "WAVEfmt ", 8);
    put32(header + 16, 16);
    put16(header + 20, 1);  // PCM
    put16(header + 22, CAPTURE_CHANNELS);
    put32(header + 24, CAPTURE_MIXFREQ);
    put32(header + 28, CAPTURE_MIXFREQ * block);
    put16(header + 32, static_cast<uint16_t>(block));
    put16(header + 34, 16);
    memcpy(header + 36, "data", 4);
    put32(header + 40, data);
}

static int wav_open(const std::string &path) {
    wav = fopen(path.c_str(), "wb");
    if (!wav) return fail("cannot write \"" + path + "\": " + strerror(errno));
    unsigned char header[44];
    wav_header(header, 0);
    wav_frames = 0;
    if (fwrite(header, sizeof header, 1, wav) != 1) return fail("cannot write \"" + path + "\": " + strerror(errno));
    return 0;
}

static int wav_close(const std::string &path) {
    unsigned char header[44];
    wav_header(header, wav_frames);
    bool ok = fseek(wav, 0, SEEK_SET) == 0 && fwrite(header, sizeof header, 1, wav) == 1;
    int code = ok ? 0 : errno;
    if (fclose(wav) != 0 && ok) {
        ok = false;
        code = errno;
    }
    wav = nullptr;
    if (!ok) return fail("cannot write \"" + path + "\": " + strerror(code ? code : EIO));
    return 0;
}

// ---------------------------------------------------------------- the encoder's pixels

// BT.601 studio range, as H.264 video carries it; every term is kept
// non-negative, so the shifts round the same way on every machine.
static inline unsigned char luma(int r, int g, int b) {
    return static_cast<unsigned char>(((66 * r + 129 * g + 25 * b + 128) >> 8) + 16);
}

template <bool bgra> static void to_yuv420(const output_picture &picture, int w, int h, unsigned char *out) {
    constexpr int R = bgra ? 2 : 0, B = bgra ? 0 : 2;
    const size_t width = static_cast<size_t>(w), half = width / 2;
    unsigned char *cb = out + width * static_cast<size_t>(h);
    unsigned char *cr = cb + half * static_cast<size_t>(h / 2);
    for (int y = 0; y < h; y += 2) {
        const unsigned char *top = picture.top_row + picture.stride * y, *bottom = top + picture.stride;
        unsigned char *luma_top = out + static_cast<size_t>(y) * width;
        for (size_t x = 0; x < width; x++) {
            const unsigned char *t = top + 4 * x, *b = bottom + 4 * x;
            luma_top[x] = luma(t[R], t[1], t[B]);
            luma_top[width + x] = luma(b[R], b[1], b[B]);
        }
        // Each chroma sample from the sum of its four pixels (0..1020 a channel).
        const size_t c = static_cast<size_t>(y / 2) * half;
        for (size_t x = 0; x < half; x++) {
            const unsigned char *a = top + 8 * x, *b = bottom + 8 * x;
            const int r = a[R] + a[4 + R] + b[R] + b[4 + R], g = a[1] + a[5] + b[1] + b[5],
                      bl = a[B] + a[4 + B] + b[B] + b[4 + B];
            cb[c + x] = static_cast<unsigned char>((-38 * r - 74 * g + 112 * bl + 128 * 1024 + 512) >> 10);
            cr[c + x] = static_cast<unsigned char>((112 * r - 94 * g - 18 * bl + 128 * 1024 + 512) >> 10);
        }
    }
}

void output_to_yuv420(const output_picture &picture, int w, int h, unsigned char *out) {
    if (picture.bgra)
        to_yuv420<true>(picture, w, h, out);
    else
        to_yuv420<false>(picture, w, h, out);
}

// ---------------------------------------------------------------- the frames' writer

// The frames on their way to the encoder. The main thread queues each frame;
// a writer thread converts every new picture to 4:2:0 and pushes it through
// the pipe, and a kept frame goes through again as it was converted. So the
// next frame renders while the last one is converted and ffmpeg takes it in.
static constexpr int queue_size = 16;
struct queued_frame {
    output_picture picture;
    bool same_picture;
};
static queued_frame queued[queue_size];
static int queue_head, queue_length;
static int unconverted;               // queued new pictures not yet converted
// The main thread goes on once no more queued new pictures than this are
// unconverted. A picture may be the layer's read-back buffer itself, which
// the swaps reuse DBX_CAPTURE_GL_BUFFERS swaps later; the next frame's swap
// takes one buffer, so the unconverted pictures must fit in the others.
static constexpr int max_unconverted = 1;
static_assert(max_unconverted <= DBX_CAPTURE_GL_BUFFERS - 1,
              "an unconverted picture's buffer would be read back into");
static std::vector<unsigned char> yuv;  // the last picture as the encoder takes it; the writer's alone
static bool writer_stop, writer_failed;
static std::mutex writer_lock;
static std::condition_variable writer_wakes, main_wakes;
static std::thread writer;

// Every wait on ffmpeg looks at these at least every 100 ms: an
// interrupted capture, and an abandoned output, stop waiting at once.
static std::atomic<bool> abandon_writes;
static bool stop_waiting(void) { return capture_interrupted || abandon_writes; }

enum class wrote { all, closed, stalled, stopped };

// Writes into a pipe to ffmpeg (non-blocking: a write never waits for it
// for ever). Gives up when ffmpeg has taken nothing for the stall limit.
static wrote write_all(int fd, const unsigned char *data, size_t size) {
    steady::time_point last = steady::now();
    while (size > 0) {
        if (stop_waiting()) return wrote::stopped;
        const ssize_t done = write(fd, data, size);
        if (done > 0) {
            data += done;
            size -= static_cast<size_t>(done);
            last = steady::now();
            continue;
        }
        if (done < 0 && errno == EINTR) continue;
        if (done < 0 && errno != EAGAIN) return wrote::closed;
        if (steady::now() - last >= stall_limit) return wrote::stalled;
        pollfd ready = {fd, POLLOUT, 0};
        poll(&ready, 1, 100);
    }
    return wrote::all;
}

static wrote writer_result;  // why the writer failed

static void write_frames(void) {
    std::unique_lock<std::mutex> lock(writer_lock);
    for (;;) {
        writer_wakes.wait(lock, [] { return queue_length > 0 || writer_stop; });
        if (writer_stop) return;  // the queue is empty, or abandoned
        const queued_frame frame = queued[queue_head];
        queue_head = (queue_head + 1) % queue_size;
        queue_length--;
        lock.unlock();
        if (!frame.same_picture) {
            output_to_yuv420(frame.picture, width, height, yuv.data());
            lock.lock();
            unconverted--;
            main_wakes.notify_all();
            lock.unlock();
        }
        const wrote result = write_all(encoder_stdin, yuv.data(), yuv.size());
        const bool ok = result == wrote::all;
        lock.lock();
        if (!ok) {
            writer_failed = true;
            writer_result = result;
        }
        main_wakes.notify_all();
        if (!ok) return;
    }
}

static void writer_start(size_t frame_bytes) {
    yuv.assign(frame_bytes, 0);
    queue_head = queue_length = unconverted = 0;
    writer_stop = writer_failed = false;
    abandon_writes = false;
    writer = std::thread(write_frames);
}

// Queues a frame, and returns once every new picture before this one has
// been converted. false once a write has failed.
static bool writer_queue(const output_picture &picture, bool same_picture) {
    const auto wait = [](std::unique_lock<std::mutex> &lock, bool (*done)(void)) {
        while (!done() && !writer_failed)
            if (main_wakes.wait_for(lock, std::chrono::milliseconds(100)) == std::cv_status::timeout &&
                capture_interrupted)
                return false;
        return !writer_failed;
    };
    std::unique_lock<std::mutex> lock(writer_lock);
    if (!wait(lock, [] { return queue_length < queue_size; })) return false;
    queued[(queue_head + queue_length) % queue_size] = {picture, same_picture};
    queue_length++;
    if (!same_picture) unconverted++;
    writer_wakes.notify_one();
    return wait(lock, [] { return unconverted <= max_unconverted; });
}

// Lets the writer finish the queue (or, abandoning it, only the write under
// way) and waits for it. true when every frame went through the pipe.
static bool writer_end(bool abandon) {
    if (!writer.joinable()) return false;
    {
        std::unique_lock<std::mutex> lock(writer_lock);
        if (!abandon)
            while (queue_length > 0 && !writer_failed && !capture_interrupted)
                main_wakes.wait_for(lock, std::chrono::milliseconds(100));
        if (capture_interrupted) abandon = true;
        if (abandon) abandon_writes = true;
        writer_stop = true;
        writer_wakes.notify_one();
    }
    writer.join();
    return !writer_failed && !abandon;
}

// ---------------------------------------------------------------- ffmpeg

// Runs ffmpeg with these arguments; with stdin_pipe, its standard input is
// the read end of a new pipe whose write end comes back in *stdin_pipe.
static pid_t spawn_ffmpeg(const std::vector<std::string> &arguments, int *stdin_pipe) {
    std::vector<char *> argv;
    static char program[] = "ffmpeg";
    argv.push_back(program);
    for (const std::string &a : arguments) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    int ends[2] = {-1, -1};
    if (stdin_pipe) {
        if (pipe2(ends, O_CLOEXEC) != 0) {
            posix_spawn_file_actions_destroy(&actions);
            return -1;
        }
        posix_spawn_file_actions_adddup2(&actions, ends[0], 0);
    } else {
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    }
    // In a process group of its own, so that Ctrl-C reaches only the capture,
    // which then stops ffmpeg and removes what it had written.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    pid_t pid = -1;
    int result = posix_spawnp(&pid, "ffmpeg", &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (stdin_pipe) {
        close(ends[0]);
        if (result != 0) {
            close(ends[1]);
            return -1;
        }
        // A larger pipe lets the next frame render while ffmpeg still reads.
        fcntl(ends[1], F_SETPIPE_SZ, 1 << 20);
        fcntl(ends[1], F_SETFL, fcntl(ends[1], F_GETFL) | O_NONBLOCK);
        *stdin_pipe = ends[1];
    }
    return result == 0 ? pid : -1;
}

static std::string describe_status(int status) {
    if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return std::string("signal ") + strsignal(WTERMSIG(status));
    return "unknown status";
}

static std::string stalled(const char *what, const char *how) {
    char seconds[32];
    snprintf(seconds, sizeof seconds, "%g", static_cast<double>(stall_limit.count()) / 1000.0);
    return std::string("ffmpeg stalled while ") + what + ": it " + how + " for " + seconds + " s and was ended";
}

// Ends an ffmpeg run at once, whatever it is doing (stopped too), with
// anything it started: it leads a process group of its own.
static void end_ffmpeg(pid_t pid) {
    kill(-pid, SIGKILL);
    kill(pid, SIGKILL);
    int status;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

static long long file_size(const std::string &path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : -1;
}

// Waits for ffmpeg to end. As long as its output grows it is working; once
// it has written nothing for the stall limit it is ended, as it is when
// the capture is interrupted.
static int wait_ffmpeg(pid_t pid, const char *what, const std::string &output) {
    int status = 0;
    long long size = file_size(output);
    steady::time_point last = steady::now();
    for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if (done < 0 && errno != EINTR) return fail(std::string("lost track of ffmpeg (") + what + ")");
        if (capture_interrupted) {
            end_ffmpeg(pid);
            return fail("interrupted");
        }
        const long long now_size = file_size(output);
        if (now_size != size) {
            size = now_size;
            last = steady::now();
        } else if (steady::now() - last >= stall_limit) {
            end_ffmpeg(pid);
            return fail(stalled(what, "wrote nothing"));
        }
        usleep(20000);
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return 0;
    return fail(std::string("ffmpeg failed while ") + what + " (" + describe_status(status) + ")");
}

// A file name as ffmpeg takes it: absolute, behind its file protocol, so
// that no part of it can be read as another protocol ("name:...") or an
// option ("-name").
static std::string ffmpeg_file(const std::string &path) {
    std::error_code ec;
    const fs::path absolute = fs::absolute(path, ec);
    return "file:" + (ec ? path : absolute.string());
}

static const std::vector<std::string> quiet = {"-hide_banner", "-nostats", "-loglevel", "error", "-y"};
// Settings that keep the file free of anything that differs between runs.
static const std::vector<std::string> exact = {"-fflags", "+bitexact", "-map_metadata", "-1", "-f", "mp4"};

static int start_encoders(void) {
    std::vector<std::string> a = quiet;
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    // The frames come as 4:2:0 already: less than half the bytes of RGBA
    // through the pipe, and no conversion inside ffmpeg.
    for (const char *s : {"-f", "rawvideo", "-pix_fmt", "yuv420p", "-video_size"}) a.push_back(s);
    a.push_back(size);
    a.push_back("-framerate");
    a.push_back(std::to_string(fps));
    // ultrafast at CRF 22 encodes about three times faster than veryfast at
    // CRF 18 and is no worse: on the intro's frames its SSIM and PSNR against
    // the frames themselves are both higher (0.9984 / 53 dB against 0.9982 /
    // 50 dB at 1280x720). The file is about three times as big.
    for (const char *s : {"-i", "pipe:0", "-an", "-c:v", "libx264", "-preset", "ultrafast", "-crf", "22",
                          "-pix_fmt", "yuv420p", "-flags:v", "+bitexact"})
        a.push_back(s);
    a.insert(a.end(), exact.begin(), exact.end());
    a.push_back(ffmpeg_file(tmp_video));
    encoder = spawn_ffmpeg(a, &encoder_stdin);
    if (encoder < 0) return fail("cannot start ffmpeg");
    // The sound is encoded while the frames are, not after them: AAC at
    // 192 kb/s takes about a second for every 16 of sound.
    a = quiet;
    for (const char *s : {"-f", "s16le", "-ar"}) a.push_back(s);
    a.push_back(std::to_string(CAPTURE_MIXFREQ));
    a.push_back("-ac");
    a.push_back(std::to_string(CAPTURE_CHANNELS));
    for (const char *s : {"-i", "pipe:0", "-vn", "-c:a", "aac", "-b:a", "192k", "-flags:a", "+bitexact"})
        a.push_back(s);
    a.insert(a.end(), exact.begin(), exact.end());
    a.push_back(ffmpeg_file(tmp_sound));
    sound_encoder = spawn_ffmpeg(a, &sound_stdin);
    if (sound_encoder < 0) return fail("cannot start ffmpeg");
    return 0;
}

static int mux(void) {
    std::vector<std::string> a = quiet;
    for (const std::string &s : {std::string("-i"), ffmpeg_file(tmp_video), std::string("-i"), ffmpeg_file(tmp_sound)})
        a.push_back(s);
    for (const char *s : {"-map", "0:v:0", "-map", "1:a:0", "-c", "copy", "-movflags", "+faststart"})
        a.push_back(s);
    a.insert(a.end(), exact.begin(), exact.end());
    a.push_back(ffmpeg_file(tmp_mp4));
    pid_t pid = spawn_ffmpeg(a, nullptr);
    if (pid < 0) return fail("cannot start ffmpeg");
    return wait_ffmpeg(pid, "muxing the video and the sound", tmp_mp4);
}

// Closes a pipe into ffmpeg and waits for that ffmpeg to end.
static int end_encoder(int *pipe_end, pid_t *pid, const char *what, const std::string &output) {
    if (*pipe_end >= 0) close(*pipe_end);
    *pipe_end = -1;
    const pid_t waited = *pid;
    *pid = -1;
    return waited > 0 ? wait_ffmpeg(waited, what, output) : 0;
}

// ---------------------------------------------------------------- the output

int output_open(const std::string &path, int w, int h, int rate, bool use_ffmpeg) {
    names = output_names_for(path);
    width = w;
    height = h;
    fps = rate;
    with_ffmpeg = use_ffmpeg;
    frames_written = 0;
    last_png.clear();
    const std::string part = ".part-" + std::to_string(getpid());
    int32_t limit_ms = 0;
    if (dbx_env_range("INVITRO_CAPTURE_STALL_MS", 1, INT32_MAX, "the limit must be above 0 milliseconds", &limit_ms))
        stall_limit = std::chrono::milliseconds(limit_ms);
    if (with_ffmpeg) {
        // A closed pipe must show up as a failed write, not end the program.
        signal(SIGPIPE, SIG_IGN);
        tmp_video = names.video + part + "-video.mp4";
        tmp_sound = names.video + part + "-sound.m4a";
        tmp_mp4 = names.video + part + ".mp4";
        if (start_encoders() != 0) {
            output_abort();
            return -1;
        }
        writer_start(static_cast<size_t>(w) * static_cast<size_t>(h) * 3 / 2);
    } else {
        tmp_wav = names.wav + part;
        tmp_frames = names.frames_dir + part;
        std::error_code ec;
        fs::create_directories(tmp_frames, ec);
        if (ec) return fail("cannot make the folder \"" + tmp_frames + "\": " + ec.message());
        if (wav_open(tmp_wav) != 0) {
            output_abort();
            return -1;
        }
    }
    return 0;
}

// After a failed write into one of the encoders (`result`, "encoding the
// frames" or "... the sound"): why it failed. An encoder that stalled or a
// capture that was interrupted ends them all; a closed pipe is explained by
// how its ffmpeg ended.
static int encoder_failed(wrote result, const char *what) {
    writer_end(true);
    if (result == wrote::stopped || capture_interrupted) return fail("interrupted");
    if (result == wrote::stalled)
        return fail(stalled(what, "took no data"));
    if (end_encoder(&encoder_stdin, &encoder, "encoding the frames", tmp_video) == 0 &&
        end_encoder(&sound_stdin, &sound_encoder, "encoding the sound", tmp_sound) == 0)
        fail(std::string("ffmpeg stopped reading while ") + what);
    return -1;
}

int output_frame(const output_picture &picture, bool same_picture, const int16_t *audio, uint32_t sample_frames) {
    const size_t sound_bytes = static_cast<size_t>(sample_frames) * CAPTURE_CHANNELS * sizeof(int16_t);
    if (with_ffmpeg) {
        if (!writer_queue(picture, same_picture && frames_written > 0))
            return encoder_failed(capture_interrupted ? wrote::stopped : writer_result, "encoding the frames");
        const wrote sound = sound_bytes ? write_all(sound_stdin, reinterpret_cast<const unsigned char *>(audio),
                                                    sound_bytes)
                                        : wrote::all;
        if (sound != wrote::all) return encoder_failed(sound, "encoding the sound");
    } else {
        if (sample_frames && fwrite(audio, CAPTURE_CHANNELS * sizeof(int16_t), sample_frames, wav) != sample_frames)
            return fail("cannot write the sound file \"" + tmp_wav + "\": " + strerror(errno));
        wav_frames += sample_frames;
        char file[4096];
        snprintf(file, sizeof file, "%s/frame-%06llu.png", tmp_frames.c_str(),
                 static_cast<unsigned long long>(frames_written));
        // A kept picture is the last file's bytes again, not a new encoding.
        unsigned error = 0;
        if (!same_picture || last_png.empty()) {
            last_png.clear();
            error = lodepng::encode(last_png, picture.top_row, static_cast<unsigned>(width),
                                    static_cast<unsigned>(height));
        }
        if (!error) error = lodepng::save_file(last_png, file);
        if (error) return fail("cannot write \"" + std::string(file) + "\": " + lodepng_error_text(error));
    }
    frames_written++;
    return 0;
}

static int put_in_place(const std::string &from, const std::string &to) {
    if (rename(from.c_str(), to.c_str()) != 0)
        return fail("cannot rename \"" + from + "\" to \"" + to + "\": " + strerror(errno));
    return 0;
}

int output_finish(void) {
    if (with_ffmpeg) {
        if (!writer_end(false)) {
            encoder_failed(capture_interrupted ? wrote::stopped : writer_result, "encoding the frames");
            output_abort();
            return -1;
        }
        if (end_encoder(&encoder_stdin, &encoder, "encoding the frames", tmp_video) != 0 ||
            end_encoder(&sound_stdin, &sound_encoder, "encoding the sound", tmp_sound) != 0 || mux() != 0 ||
            put_in_place(tmp_mp4, names.video) != 0) {
            output_abort();
            return -1;
        }
        unlink(tmp_video.c_str());
        unlink(tmp_sound.c_str());
        return 0;
    }
    if (wav_close(tmp_wav) != 0) {
        output_abort();
        return -1;
    }
    // Nothing is replaced: the run refused to start where either name was
    // taken, and one taken since then fails the rename.
    std::error_code ec;
    for (const std::string &name : {names.frames_dir, names.wav}) {
        if (!fs::exists(fs::symlink_status(name, ec))) continue;
        output_abort();
        return fail("cannot write \"" + name + "\": it was made while the capture ran");
    }
    if (put_in_place(tmp_frames, names.frames_dir) != 0) {
        output_abort();
        return -1;
    }
    if (put_in_place(tmp_wav, names.wav) != 0) {
        output_abort();
        fs::remove_all(names.frames_dir, ec);  // all of the output or none
        return -1;
    }
    return 0;
}

void output_unfinish(void) {
    std::error_code ec;
    if (with_ffmpeg) {
        fs::remove(names.video, ec);
    } else {
        fs::remove_all(names.frames_dir, ec);
        fs::remove(names.wav, ec);
    }
}

void output_abort(void) {
    if (wav) {
        fclose(wav);
        wav = nullptr;
    }
    // The encoders end first, whatever state they are in; the writer
    // thread gives up its write at once.
    for (pid_t *pid : {&encoder, &sound_encoder}) {
        if (*pid > 0) end_ffmpeg(*pid);
        *pid = -1;
    }
    writer_end(true);
    for (int *pipe_end : {&encoder_stdin, &sound_stdin}) {
        if (*pipe_end >= 0) close(*pipe_end);
        *pipe_end = -1;
    }
    std::error_code ec;
    for (const std::string &file : {tmp_video, tmp_sound, tmp_wav, tmp_mp4})
        if (!file.empty()) fs::remove(file, ec);
    if (!tmp_frames.empty()) fs::remove_all(tmp_frames, ec);
}
