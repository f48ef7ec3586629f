// Building the renderer's triangle batch for a full pool of 5000 boxes,
// axis-aligned and rotated. No GL is involved: only the arithmetic that
// runs every frame before the single draw call.
#include "drawboxlib/drawboxlib.h"

#include <benchmark/benchmark.h>

#include <cstring>

namespace {

void fill_pool(float rotation_step) {
    memset(dbx_drawbox, 0, sizeof dbx_drawbox);
    dbx_drawboxes = 0;
    dbx_frames = 1;
    dbx_frame[0] = dbx_frame_t{1, 0, 1, 1, 0, 0, 100, 105, "bird.png", 100, 105};
    for (int i = 0; i < DBX_MAX_DRAWBOXES; i++) {
        dbx_drawbox_t *b = dbx_drawbox_create();
        b->visible = 1;
        b->x1 = i % 640;
        b->y1 = i % 360;
        b->frame = 0;
        b->scale = 0.5f + static_cast<float>(i % 4) * 0.5f;
        b->rotation = rotation_step * static_cast<float>(i % 360 + 1);
    }
}

void run(benchmark::State &state, float rotation_step) {
    fill_pool(rotation_step);
    for (auto _ : state) benchmark::DoNotOptimize(dbx_render_build(1024.0f));
    // Seconds per box, shown with an SI prefix: "2.5n" is 2.5 ns per box.
    state.counters["per_box"] = benchmark::Counter(
        DBX_MAX_DRAWBOXES, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_BatchAxisAligned(benchmark::State &state) { run(state, 0.0f); }
void BM_BatchRotated(benchmark::State &state) { run(state, 1.0f); }

BENCHMARK(BM_BatchAxisAligned);
BENCHMARK(BM_BatchRotated);

}  // namespace
