// The capture program on a machine that misbehaves: FIFOs among the intro's
// files, an encoder that stops taking data or never ends, signals while it
// waits, outputs it was never asked to replace, file names that look like
// something else, and frame rates below the tick rate.
#include "helpers.h"
#include "tests/common/emulator.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>

namespace {

using steady = std::chrono::steady_clock;

// How soon a signal must end the capture: a second, and more where the
// program runs emulated or under the sanitizers, whose exit takes time.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool slow_build = true;
#else
constexpr bool slow_build = false;
#endif
const std::chrono::seconds prompt(DBX_EMULATOR[0] || slow_build ? 5 : 1);

// The processes of this machine as /proc has them: id, state, parent and
// process group, for each that matches.
struct process {
    long pid, parent, group;
    char state;
};
std::vector<process> processes(const std::function<bool(const process &)> &matches) {
    std::vector<process> found;
    for (const std::string &entry : list_dir("/proc")) {
        if (entry.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream stat("/proc/" + entry + "/stat");
        std::string line;
        if (!std::getline(stat, line)) continue;
        process p{atol(entry.c_str()), 0, 0, 0};
        const size_t name_end = line.rfind(')');
        if (name_end != std::string::npos &&
            sscanf(line.c_str() + name_end + 1, " %c %ld %ld", &p.state, &p.parent, &p.group) == 3 && matches(p))
            found.push_back(p);
    }
    return found;
}

std::vector<int> children_of(int pid) {
    std::vector<int> ids;
    for (const process &p : processes([&](const process &q) { return q.parent == pid; }))
        ids.push_back(static_cast<int>(p.pid));
    return ids;
}

// A zombie counts as ended: not every container's first process reaps the
// orphans it is given.
bool group_ended(long group) {
    return processes([&](const process &p) { return p.group == group && p.state != 'Z'; }).empty();
}
bool ended(long pid) {
    return processes([&](const process &p) { return p.pid == pid && p.state != 'Z'; }).empty();
}

// A fake ffmpeg on a PATH of its own: a shell script that writes its process
// id to NAME.pid beside itself (so the test can see that it was ended) and
// then runs `body`.
struct fake_ffmpeg {
    scratch_dir bin;
    explicit fake_ffmpeg(const std::string &body) {
        std::ofstream(bin / "ffmpeg") << "#!/bin/sh\necho $$ >> \"$0.pid\"\n" << body << "\n";
        chmod((bin / "ffmpeg").c_str(), 0755);
    }
    std::string path(void) const { return bin.path + ":/usr/bin:/bin"; }
    // Every fake run has ended, with whatever it started.
    bool all_ended(void) const {
        std::ifstream pids(bin / "ffmpeg.pid");
        int count = 0;
        for (long pid; pids >> pid; count++)
            if (!group_ended(pid)) return false;
        return count > 0;
    }
};

const std::vector<std::string> tiny_intro = {"omber.xm", "out.png"};

bool wait_for_file(const std::string &folder, const char *part, int seconds = 20) {
    const auto until = steady::now() + std::chrono::seconds(seconds);
    while (steady::now() < until) {
        for (const std::string &name : list_dir(folder))
            if (name.find(part) != std::string::npos) return true;
        usleep(2000);
    }
    return false;
}

// ---------------------------------------------------------------- the intro's files

// A FIFO, a folder or a device in place of one of the intro's files is named
// with what it is; the run goes on as for a missing file of that kind.
TEST(CaptureFaults, InputsThatAreNotRegularFilesAreNamedAndNeverOpened) {
    const struct {
        const char *file;
        bool folder;  // a folder instead of a FIFO
        int status;
        const char *said;
    } cases[] = {
        {"out.png", false, 1, "\"out.png\" is a FIFO, not a regular file"},
        {"out.png", true, 1, "\"out.png\" is a directory, not a regular file"},
        {"omber.xm", false, 0, "\"omber.xm\" (it is a FIFO, not a regular file); the scenes follow the silent clock"},
        {"data/hello2.dat", false, 0, "\"data/hello2.dat\" is a FIFO, not a regular file; the scene goes on"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file);
        scratch_dir dir;
        put_tiny_intro(dir.path);
        ASSERT_EQ(mkdir((dir / "data").c_str(), 0755), 0);
        unlink((dir / c.file).c_str());
        ASSERT_EQ(c.folder ? mkdir((dir / c.file).c_str(), 0755) : mkfifo((dir / c.file).c_str(), 0644), 0);
        const run_result r = run_capture(dir.path, {"--size", "32x18", "--seconds", "8", "-o", "c.mp4"},
                                         scratch_dir().path);  // no ffmpeg: PNG frames
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE((r.out + r.err).find(c.said), std::string::npos) << r.out << r.err;
        for (const std::string &name : list_dir(dir.path)) EXPECT_EQ(name.find(".part"), std::string::npos) << name;
    }
}

// ---------------------------------------------------------------- the encoder

// Whatever the capture waits for, a signal ends it at once: the fake
// encoders are ended, nothing is left behind, and the status says which
// signal it was.
TEST(CaptureFaults, SignalsEndTheCaptureWhateverItWaitsFor) {
    const struct {
        const char *what;
        const char *body;      // the fake ffmpeg
        const char *seconds;   // of the capture
        const char *wait_for;  // in the fake's folder, before the signal
        int sig;
    } cases[] = {
        {"an encoder that takes no data", "exec sleep 1000", "60", "ffmpeg.pid", SIGTERM},
        {"an encoder that never ends", "cat >/dev/null; touch \"$0.read\"; exec sleep 1000", "1", "ffmpeg.read",
         SIGINT},
        {"an encoder that takes no data", "exec sleep 1000", "60", "ffmpeg.pid", SIGHUP},
        {"an encoder that never ends", "cat >/dev/null; touch \"$0.read\"; exec sleep 1000", "1", "ffmpeg.read",
         SIGQUIT},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.what) + ", " + strsignal(c.sig));
        scratch_dir dir;
        put_tiny_intro(dir.path);
        fake_ffmpeg ffmpeg(c.body);
        steady::time_point sent;
        const run_result r = run_capture(dir.path, {"--size", "32x18", "--seconds", c.seconds, "-o", "c.mp4"},
                                         ffmpeg.path(), [&](int pid) {
                                             EXPECT_TRUE(wait_for_file(ffmpeg.bin.path, c.wait_for));
                                             usleep(300000);  // well into the wait
                                             sent = steady::now();
                                             kill(pid, c.sig);
                                         });
        EXPECT_LT(steady::now() - sent, prompt);
        EXPECT_EQ(r.status, 128 + c.sig) << r.err;
        EXPECT_NE(r.err.find("interrupted"), std::string::npos) << r.err;
        EXPECT_EQ(list_dir(dir.path), tiny_intro);
        EXPECT_TRUE(ffmpeg.all_ended());
    }
}

// The real encoders stopped (SIGSTOP) while the capture writes to them: a
// stopped process does not act on SIGTERM, so only SIGKILL can end them.
TEST(CaptureFaults, SignalsEndTheCaptureWithItsEncodersStopped) {
    if (!ffmpeg_available()) GTEST_SKIP() << "ffmpeg is not installed";
    scratch_dir dir;
    put_tiny_intro(dir.path);
    std::vector<int> encoders;
    steady::time_point sent;
    const run_result r =
        run_capture(dir.path, {"--size", "64x36", "--seconds", "60", "-o", "c.mp4"}, "", [&](int pid) {
            EXPECT_TRUE(wait_for_file(dir.path, ".part-"));
            encoders = children_of(pid);
            for (int child : encoders) kill(child, SIGSTOP);
            usleep(500000);
            sent = steady::now();
            kill(pid, SIGTERM);
        });
    EXPECT_LT(steady::now() - sent, prompt);
    EXPECT_EQ(encoders.size(), 2u);
    EXPECT_EQ(r.status, 128 + SIGTERM) << r.err;
    EXPECT_EQ(list_dir(dir.path), tiny_intro);
    for (int child : encoders) EXPECT_TRUE(ended(child)) << child;
}

// An encoder that takes no data, or never ends once it has it all, is given
// up on after the stall limit (made short here), with its part files.
TEST(CaptureFaults, AStalledEncoderIsEndedAndReported) {
    const struct {
        const char *body, *seconds, *said;
    } cases[] = {
        {"exec sleep 1000", "60", "ffmpeg stalled while encoding the"},
        {"cat >/dev/null; exec sleep 1000", "1", "ffmpeg stalled while encoding the frames: it wrote nothing for 0.5 s"},
    };
    setenv("INVITRO_CAPTURE_STALL_MS", "500", 1);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.body);
        scratch_dir dir;
        put_tiny_intro(dir.path);
        fake_ffmpeg ffmpeg(c.body);
        const auto began = steady::now();
        const run_result r = run_capture(dir.path, {"--size", "32x18", "--seconds", c.seconds, "-o", "c.mp4"},
                                         ffmpeg.path());
        EXPECT_LT(steady::now() - began, prompt * 10);
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
        EXPECT_EQ(list_dir(dir.path), tiny_intro);
        EXPECT_TRUE(ffmpeg.all_ended());
    }
    unsetenv("INVITRO_CAPTURE_STALL_MS");
}

// ---------------------------------------------------------------- the outputs

// Without ffmpeg the frames and the sound go to names the user never gave:
// where either is taken, the capture refuses before it draws anything.
TEST(CaptureFaults, ThePngFallbackNeverReplacesWhatItWasNotNamed) {
    const struct {
        const char *taken;
        bool folder;
    } cases[] = {{"holiday-frames", true}, {"holiday.wav", false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.taken);
        scratch_dir dir;
        put_tiny_intro(dir.path);
        const std::string keep = c.folder ? dir / "holiday-frames/important.txt" : dir / "holiday.wav";
        if (c.folder) {
            ASSERT_EQ(mkdir((dir / "holiday-frames").c_str(), 0755), 0);
        }
        std::ofstream(keep) << "keep me";
        const std::vector<std::string> before = list_dir(dir.path);
        const run_result r = run_capture(dir.path, {"--size", "32x18", "--seconds", "1", "-o", "holiday.mp4"},
                                         scratch_dir().path);
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_NE(r.err.find(std::string("\"") + c.taken + "\" already exists; remove it, or name another -o"),
                  std::string::npos)
            << r.err;
        EXPECT_NE(r.err.find("holiday-frames/ and its sound to holiday.wav"), std::string::npos) << r.err;
        EXPECT_EQ(list_dir(dir.path), before);
        EXPECT_EQ(read_file(keep), "keep me");
    }
}

// A name reaches ffmpeg as a file name, never as a protocol or an option.
TEST(CaptureFaults, FileNamesAreFileNames) {
    if (!ffmpeg_available()) GTEST_SKIP() << "ffmpeg is not installed";
    for (const char *name : {"file:z.mp4", "intro-12:30.mp4", "-x.mp4"}) {
        SCOPED_TRACE(name);
        scratch_dir dir;
        put_tiny_intro(dir.path);
        const run_result r = run_capture(dir.path, {"--size", "32x18", "--seconds", "1", "-o", name});
        EXPECT_EQ(r.status, 0) << r.err;
        std::vector<std::string> want = tiny_intro;
        want.push_back(name);
        std::sort(want.begin(), want.end());
        EXPECT_EQ(list_dir(dir.path), want);
    }
}

// ---------------------------------------------------------------- the clock

// Offline every update due by a frame's time runs before it, so the picture
// at a given time is the same at any frame rate, below the tick rate too.
TEST(CaptureClock, TheFrameAtTwentySecondsIsTheSameAtAnyFrameRate) {
    if (access(REPO_ROOT "/out.png", R_OK) != 0 || access(REPO_ROOT "/omber.xm", R_OK) != 0)
        GTEST_SKIP() << "needs the intro's files in " REPO_ROOT;
    scratch_dir out;
    std::string frames[2];
    const char *rates[2] = {"24", "60"};
    for (int i = 0; i < 2; i++) {
        const std::string video = out / (std::string("r") + rates[i] + ".mp4");
        const run_result r = run_capture(REPO_ROOT, {"--size", "96x54", "--fps", rates[i], "--seconds", "20.05", "-o",
                                                     video},
                                         scratch_dir().path);
        ASSERT_EQ(r.status, 0) << r.err;
        const int frame = 20 * atoi(rates[i]);
        char name[64];
        snprintf(name, sizeof name, "-frames/frame-%06d.png", frame);
        frames[i] = read_file(out / (std::string("r") + rates[i] + name));
        ASSERT_FALSE(frames[i].empty()) << name;
    }
    EXPECT_TRUE(frames[0] == frames[1]) << "the frames at 20 s differ between 24 and 60 fps";
}

}  // namespace
