// Capture speed against real time: seconds of intro made per second of wall
// time (above 1 the capture is faster than watching).
//
// capture_end_to_end is what a user waits for: the invitro-capture program
// itself on the first 30 seconds of the intro, with the conversion, both
// encoders and the final mux into the MP4. capture_speed is the main
// thread's part alone: each frame is one pass of the intro's main loop, the
// read-back of the picture and the mixing of its sound, with no conversion
// and no encoder. Runs the intro's own files.
#include "invitro_capture.h"
#include "drawboxlib/platforms/capture_layer.h"

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

extern char **environ;

static constexpr int fps = 60;

static void capture_speed(benchmark::State &state) {
    static bool started = false;
    const int width = static_cast<int>(state.range(0)), height = static_cast<int>(state.range(1));
    if (!started) {
        if (chdir(REPO_ROOT) != 0 || access("out.png", R_OK) != 0 || access("omber.xm", R_OK) != 0) {
            state.SkipWithError("needs the intro's out.png and omber.xm in " REPO_ROOT);
            return;
        }
        capture_start(width, height, fps);
        started = true;
    } else if (dbx_capture_resize(width, height) != 0) {
        state.SkipWithError("cannot make the off-screen surface");
        return;
    }
    const uint64_t first = capture_frame;
    for (auto _ : state) {
        capture_step();
        benchmark::DoNotOptimize(dbx_capture_gl_pixels[0]);
    }
    const double intro_seconds = static_cast<double>(capture_frame - first) / fps;
    state.counters["realtime_ratio"] = benchmark::Counter(intro_seconds, benchmark::Counter::kIsRate);
}
BENCHMARK(capture_speed)
    ->Args({640, 360})
    ->Args({1280, 720})
    ->ArgNames({"width", "height"})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(3.0);

static constexpr int end_to_end_seconds = 30;

static void capture_end_to_end(benchmark::State &state) {
    if (!output_ffmpeg_on_path()) {
        state.SkipWithError("needs ffmpeg on the PATH");
        return;
    }
    char folder[] = "/tmp/capture_bench-XXXXXX";
    if (!mkdtemp(folder)) {
        state.SkipWithError("cannot make a scratch folder");
        return;
    }
    const std::string video = std::string(folder) + "/bench.mp4";
    const std::string size = std::to_string(state.range(0)) + "x" + std::to_string(state.range(1));
    const std::string seconds = std::to_string(end_to_end_seconds);
    const char *argv[] = {CAPTURE_PROGRAM, "--size", size.c_str(), "--seconds", seconds.c_str(), "-o", video.c_str(),
                          nullptr};
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
    for (auto _ : state) {
        pid_t child = -1;
        int status = -1;
        if (posix_spawn(&child, CAPTURE_PROGRAM, &quiet, nullptr, const_cast<char **>(argv), environ) != 0 ||
            waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("invitro-capture failed");
            break;
        }
    }
    posix_spawn_file_actions_destroy(&quiet);
    remove(video.c_str());
    rmdir(folder);
    state.counters["realtime_ratio"] =
        benchmark::Counter(end_to_end_seconds, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(capture_end_to_end)
    ->Args({640, 360})
    ->Args({1280, 720})
    ->ArgNames({"width", "height"})
    ->UseRealTime()
    ->Unit(benchmark::kSecond)
    ->Iterations(1);

int main(int argc, char **argv) {
    // The intro reads its files from the working directory, the program too.
    if (chdir(REPO_ROOT) != 0) {
        fprintf(stderr, "capture_bench: cannot enter %s\n", REPO_ROOT);
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
