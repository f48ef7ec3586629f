// Capture speed against real time: seconds of intro made per second of wall
// time (above 1 the capture is faster than watching). Each frame is one pass
// of the intro's main loop, the read-back of the picture and the mixing of
// its sound; the encoder is left out. Runs the intro's own files.
#include "invitro_capture.h"
#include "drawboxlib/platforms/capture_layer.h"

#include <benchmark/benchmark.h>
#include <unistd.h>

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
        benchmark::DoNotOptimize(dbx_capture_pixels[0]);
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

BENCHMARK_MAIN();
