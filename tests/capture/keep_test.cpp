// A pass without an update keeps the frame before instead of drawing it:
// with the intro's own files, every kept frame must be exactly what drawing
// that pass would have given.
#include "invitro_capture.h"
#include "drawboxlib/drawboxlib.h"
#include "drawboxlib/platforms/capture_layer.h"
#include "intro.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <vector>

namespace {

TEST(CaptureKeep, KeptFramesAreWhatDrawingThemGives) {
    if (chdir(REPO_ROOT) != 0 || access("out.png", R_OK) != 0 || access("omber.xm", R_OK) != 0)
        GTEST_SKIP() << "needs the intro's files in " REPO_ROOT;
    const int width = 96, height = 54, fps = 60, frames = 40 * fps;  // 40 s: four scenes
    capture_start(width, height, fps);
    const size_t bytes = static_cast<size_t>(width) * height * 4;
    std::vector<unsigned char> kept(bytes);
    uint64_t kept_frames = 0;
    for (int n = 0; n < frames; n++) {
        const uint64_t swaps = dbx_capture_swaps, keeps = dbx_capture_kept;
        capture_step();
        ASSERT_EQ(dbx_capture_swaps - swaps + dbx_capture_kept - keeps, 1u) << "frame " << n;
        if (dbx_capture_kept == keeps) continue;
        ASSERT_GT(n, 0) << "the first frame has nothing before it to keep";
        kept_frames++;
        memcpy(kept.data(), dbx_capture_frame(), bytes);
        dbx_clear(bg, bg, bg, 255);  // the pass as drawn in full
        dbx_render_to_screen();
        ASSERT_EQ(0, memcmp(kept.data(), dbx_capture_frame(), bytes)) << "frame " << n;
    }
    // Every frame without an update but the first is kept: at 60 fps and 40
    // updates a second, one in three.
    EXPECT_EQ(dbx_tics, frames * 2 / 3);
    EXPECT_EQ(kept_frames, static_cast<uint64_t>(frames - 1 - dbx_tics));
    // A new surface has no frame to keep.
    ASSERT_EQ(dbx_capture_resize(width, height), 0);
    EXPECT_EQ(dbx_capture_keep(), -1);
}

}  // namespace
