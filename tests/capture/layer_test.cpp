// The capture platform layer on real OpenGL ES (Mesa, no display): what GL
// drew comes back top row first and opaque, at the size asked for.
#include "drawboxlib/drawboxlib.h"
#include "drawboxlib/platforms/capture_layer.h"

#include <GLES/gl.h>
#include <gtest/gtest.h>
#include <cstring>
#include <vector>

namespace {

class CaptureLayer : public testing::Test {
protected:
    static void SetUpTestSuite() {
        static bool opened = false;
        if (opened) return;
        dbx_capture_width = 64;
        dbx_capture_height = 32;
        dbx_platform_init_window();
        opened = true;
    }
    void SetUp() override {
        dbx_reset();  // no logical resolution: draws in surface pixels
        ASSERT_EQ(dbx_capture_resize(64, 32), 0);
    }
    static const unsigned char *pixel(int x, int y) {
        return dbx_capture_frame() + (static_cast<size_t>(y) * static_cast<size_t>(dbx_capture_width) + x) * 4;
    }
    // Fills a rectangle given in rows from the top.
    static void fill(int x, int top, int w, int h, float r, float g, float b, float a) {
        glEnable(GL_SCISSOR_TEST);
        glScissor(x, dbx_capture_height - top - h, w, h);
        glClearColor(r, g, b, a);
        glClear(GL_COLOR_BUFFER_BIT);
        glDisable(GL_SCISSOR_TEST);
    }
};

TEST_F(CaptureLayer, FramesComeBackTopRowFirstAndOpaque) {
    EXPECT_EQ(dbx_screen_width, 64);
    EXPECT_EQ(dbx_screen_height, 32);
    fill(0, 0, 64, 32, 0, 0, 1, 1);
    fill(0, 0, 64, 4, 1, 0, 0, 0.5f);  // the top four rows, half transparent
    fill(60, 28, 4, 4, 0, 1, 0, 1);    // the bottom-right corner
    const uint64_t swaps = dbx_capture_swaps;
    dbx_platform_swapbuffers();
    EXPECT_EQ(dbx_capture_swaps, swaps + 1);
    const unsigned char red[4] = {255, 0, 0, 255}, blue[4] = {0, 0, 255, 255}, green[4] = {0, 255, 0, 255};
    EXPECT_EQ(0, memcmp(pixel(0, 0), red, 4));
    EXPECT_EQ(0, memcmp(pixel(63, 3), red, 4));
    EXPECT_EQ(0, memcmp(pixel(0, 4), blue, 4));
    EXPECT_EQ(0, memcmp(pixel(59, 31), blue, 4));
    EXPECT_EQ(0, memcmp(pixel(60, 28), green, 4));
    EXPECT_EQ(0, memcmp(pixel(63, 31), green, 4));
}

TEST_F(CaptureLayer, ASwapReadsTheCurrentFrameNotAnEarlierOne) {
    fill(0, 0, 64, 32, 1, 1, 1, 1);
    dbx_platform_swapbuffers();
    EXPECT_EQ(pixel(10, 10)[0], 255);
    fill(0, 0, 64, 32, 0, 0, 0, 1);
    dbx_platform_swapbuffers();
    EXPECT_EQ(pixel(10, 10)[0], 0);
}

TEST_F(CaptureLayer, ResizeMakesANewBlackSurfaceOfThatSize) {
    fill(0, 0, 64, 32, 1, 1, 1, 1);
    ASSERT_EQ(dbx_capture_resize(30, 50), 0);
    EXPECT_EQ(dbx_screen_width, 30);
    EXPECT_EQ(dbx_screen_height, 50);
    dbx_platform_swapbuffers();
    for (int y = 0; y < 50; y++)
        for (int x = 0; x < 30; x++) {
            const unsigned char black[4] = {0, 0, 0, 255};
            ASSERT_EQ(0, memcmp(pixel(x, y), black, 4)) << x << "," << y;
        }
    fill(0, 49, 30, 1, 1, 1, 0, 1);  // the last row
    dbx_platform_swapbuffers();
    EXPECT_EQ(pixel(29, 49)[1], 255);
    EXPECT_EQ(pixel(29, 48)[1], 0);
    EXPECT_EQ(dbx_capture_resize(0, 10), -1);
}

// The encoder's thread reads GL's own pixels of a frame while the next one
// renders: they are the frame bottom row first, and stay untouched until two
// more swaps have passed.
TEST_F(CaptureLayer, GlPixelsAreTheFrameAndOutlastTheNextSwap) {
    const size_t row = static_cast<size_t>(dbx_capture_width) * 4;
    auto gl_pixel = [&](const unsigned char *frame, int x, int y) {
        const unsigned char *p = frame + static_cast<size_t>(dbx_capture_height - 1 - y) * row + x * 4;
        return std::vector<unsigned char>{p[dbx_capture_gl_bgra ? 2 : 0], p[1], p[dbx_capture_gl_bgra ? 0 : 2]};
    };
    fill(0, 0, 64, 32, 0, 0, 1, 1);
    fill(0, 0, 64, 1, 1, 0, 0, 1);  // the top row red
    dbx_platform_swapbuffers();
    const unsigned char *first = dbx_capture_gl_pixels;
    EXPECT_EQ(gl_pixel(first, 5, 0), (std::vector<unsigned char>{255, 0, 0}));
    EXPECT_EQ(gl_pixel(first, 5, 1), (std::vector<unsigned char>{0, 0, 255}));
    EXPECT_EQ(0, memcmp(pixel(5, 0), "\xff\x00\x00\xff", 4)) << "the frame proper agrees";
    const std::vector<unsigned char> kept(first, first + row * dbx_capture_height);
    fill(0, 0, 64, 32, 0, 1, 0, 1);
    dbx_platform_swapbuffers();
    EXPECT_NE(dbx_capture_gl_pixels, first);
    EXPECT_EQ(gl_pixel(dbx_capture_gl_pixels, 5, 0), (std::vector<unsigned char>{0, 255, 0}));
    EXPECT_EQ(0, memcmp(kept.data(), first, kept.size())) << "the frame before is still there";
}

}  // namespace
