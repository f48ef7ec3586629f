// The scene editor with a full scene of 5000 boxes: picking the box under
// the pointer where only the bottom box lies (every box is looked at), and
// one update of a drag (the pointer's event, the moved box, the model onto
// the pool with the selection's markers, the title) with the renderer's
// batch after it. The draw call itself is frame_bench's.
#include "editor.h"

#include "drawboxlib/drawboxlib.h"
#include "out.h"

#include <benchmark/benchmark.h>

#include <cstring>

namespace {

constexpr int frames_in_atlas = sizeof tileset / sizeof tileset[0];

void full_scene(void) {
    dbx_reset();
    ed_reset();
    memcpy(dbx_frame, tileset, sizeof tileset);
    dbx_frames = frames_in_atlas;
    dbx_fixed_width = 640;
    dbx_fixed_height = 360;
    dbx_viewport_width = 1280;
    dbx_viewport_height = 720;
    // Box 0 covers the screen; the rest lie in the right half, half of them rotated.
    const uint32_t white = static_cast<uint32_t>(dbx_findframe("whitesquare1.png"));
    ed_boxes[0] = ed_box_t{0, 0, white, 0.5f, 0.0f, {}, 0};
    ed_boxes[0].scale = 16.0f;
    for (int i = 1; i < ED_MAX_BOXES; i++) {
        ed_boxes[i] = ed_box_t{};
        ed_boxes[i].frame = static_cast<uint32_t>(i % frames_in_atlas);
        ed_boxes[i].x1 = 330 + (i * 37) % 260;
        ed_boxes[i].y1 = (i * 53) % 330;
        ed_boxes[i].scale = 0.1f * static_cast<float>(i % 3 + 1);
        ed_boxes[i].rotation = i % 2 ? static_cast<float>((i * 7) % 359 + 1) : 0.0f;
        ed_boxes[i].origin = i;
    }
    ed_count = ED_MAX_BOXES;
    ed_sync();
}

void BM_EditorPickUnderAllBoxes(benchmark::State &state) {
    full_scene();
    for (auto _ : state) benchmark::DoNotOptimize(ed_pick(100, 300));
    if (ed_pick(100, 300) != 0) state.SkipWithError("the point is not on box 0 alone");
    state.counters["boxes"] = ED_MAX_BOXES;
}

void BM_EditorDragFrame(benchmark::State &state) {
    full_scene();
    dbx_event_t e{0, DBX_EVENT_BUTTONDOWN, 1, 1200, 100};
    ed_event(e);  // takes the top-most box there
    if (ed_selected < 1) state.SkipWithError("nothing to drag");
    uint32_t x = 1200;
    for (auto _ : state) {
        x = x == 1200 ? 1190 : 1200;
        dbx_event_t *m = dbx_event_add();
        *m = dbx_event_t{0, DBX_EVENT_MOTION, 0, x, 100};
        dbx_application_update();
        benchmark::DoNotOptimize(dbx_render_build(1024.0f));
    }
    state.counters["boxes"] = ED_MAX_BOXES;
}

BENCHMARK(BM_EditorPickUnderAllBoxes);
BENCHMARK(BM_EditorDragFrame);

}  // namespace
