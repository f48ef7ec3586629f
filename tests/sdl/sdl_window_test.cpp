// The window, the drawing area and the context: full screen by default, a
// window of the requested size, overscan margins, and the viewport the
// engine sets inside the area. SDL's offscreen driver stands for a
// 1024 x 768 display.
#include "test_app.h"
#include "tests/common/emulator.h"

#include <GLES/gl.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <utility>

namespace {

struct box { GLint x, y, w, h; };
bool operator==(const box &a, const box &b) { return a.x == b.x && a.y == b.y && a.w == b.w && a.h == b.h; }
std::ostream &operator<<(std::ostream &o, const box &b) {
    return o << "(" << b.x << ", " << b.y << ", " << b.w << " x " << b.h << ")";
}

box gl_box(GLenum which) {
    box b{};
    glGetIntegerv(which, &b.x);
    return b;
}

bool is_black(rgba p) { return p.r == 0 && p.g == 0 && p.b == 0; }
// The first clear of the area, as on the firmware layer: 0.15, 0.25, 0.35.
bool is_first_clear(rgba p) { return p.r == 38 && p.g == 64 && p.b == 89; }

class SdlWindow : public ::testing::Test {
protected:
    void SetUp() override { sdl_test_reset(); }
};

TEST_F(SdlWindow, FullScreenAtTheDisplaySizeWithAnEs11Context) {
    dbx_platform_init_window();
    SDL_Window *window = SDL_GL_GetCurrentWindow();
    ASSERT_NE(window, nullptr);
    SDL_DisplayMode desktop{};
    ASSERT_EQ(SDL_GetDesktopDisplayMode(0, &desktop), 0);
    EXPECT_EQ(dbx_screen_width, desktop.w);
    EXPECT_EQ(dbx_screen_height, desktop.h);
    EXPECT_TRUE(SDL_GetWindowFlags(window) & SDL_WINDOW_FULLSCREEN_DESKTOP);
    EXPECT_STREQ(SDL_GetWindowTitle(window), dbx_application_title);

    const char *version = reinterpret_cast<const char *>(glGetString(GL_VERSION));
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(strncmp(version, "OpenGL ES-CM 1.1", 16), 0) << version;
    GLint bits[4] = {};
    glGetIntegerv(GL_RED_BITS, &bits[0]);
    glGetIntegerv(GL_GREEN_BITS, &bits[1]);
    glGetIntegerv(GL_BLUE_BITS, &bits[2]);
    glGetIntegerv(GL_ALPHA_BITS, &bits[3]);
    EXPECT_EQ(bits[0], 8);
    EXPECT_EQ(bits[1], 8);
    EXPECT_EQ(bits[2], 8);
    EXPECT_EQ(bits[3], 8);
    EXPECT_EQ(gl_box(GL_VIEWPORT), (box{0, 0, desktop.w, desktop.h}));
    EXPECT_TRUE(is_first_clear(sdl_test_pixel(0, 0)));
    EXPECT_TRUE(is_first_clear(sdl_test_pixel(desktop.w - 1, desktop.h - 1)));
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(SdlWindow, RequestedSizeGivesAWindowOfThatSize) {
    dbx_window_width = 800;
    dbx_window_height = 600;
    dbx_screen_overscanx = dbx_screen_overscany = 50;  // a window size wins over overscan
    dbx_platform_init_window();
    SDL_Window *window = SDL_GL_GetCurrentWindow();
    int w = 0, h = 0;
    SDL_GetWindowSize(window, &w, &h);
    EXPECT_EQ(w, 800);
    EXPECT_EQ(h, 600);
    EXPECT_FALSE(SDL_GetWindowFlags(window) & SDL_WINDOW_FULLSCREEN);
    EXPECT_EQ(dbx_screen_width, 800);
    EXPECT_EQ(dbx_screen_height, 600);
    EXPECT_EQ(gl_box(GL_VIEWPORT), (box{0, 0, 800, 600}));
    EXPECT_TRUE(is_first_clear(sdl_test_pixel(0, 0)));
    EXPECT_TRUE(is_first_clear(sdl_test_pixel(799, 599)));
}

TEST_F(SdlWindow, OneWindowDimensionAloneIsIgnored) {
    dbx_window_width = 800;
    dbx_platform_init_window();
    EXPECT_TRUE(SDL_GetWindowFlags(SDL_GL_GetCurrentWindow()) & SDL_WINDOW_FULLSCREEN_DESKTOP);
    EXPECT_EQ(dbx_screen_width, 1024);
    EXPECT_EQ(dbx_screen_height, 768);
}

TEST_F(SdlWindow, OverscanLeavesBlackMarginsAndShiftsTheEnginesViewport) {
    // 5 % of 1024 is 51.2 and 3 % of 768 is 23.04, truncated: a 922 x 722
    // area at (51, 23), 23 rows above the bottom as GL counts.
    dbx_screen_overscanx = 50;
    dbx_screen_overscany = 30;
    dbx_platform_init_window();
    EXPECT_EQ(dbx_screen_width, 922);
    EXPECT_EQ(dbx_screen_height, 722);
    EXPECT_EQ(gl_box(GL_VIEWPORT), (box{51, 23, 922, 722}));

    EXPECT_TRUE(is_black(sdl_test_pixel(50, 400)));
    EXPECT_TRUE(is_first_clear(sdl_test_pixel(51, 400)));
    EXPECT_TRUE(is_first_clear(sdl_test_pixel(972, 400)));
    EXPECT_TRUE(is_black(sdl_test_pixel(973, 400)));
    EXPECT_TRUE(is_black(sdl_test_pixel(500, 22)));
    EXPECT_TRUE(is_first_clear(sdl_test_pixel(500, 23)));
    EXPECT_TRUE(is_first_clear(sdl_test_pixel(500, 744)));
    EXPECT_TRUE(is_black(sdl_test_pixel(500, 745)));

    // The engine works in area pixels; its viewport and scissor land inside
    // the area (here letterboxed: 180 rows of bars above and below), and its
    // clears stay inside them.
    EXPECT_EQ(dbx_viewport_originx, 51);
    EXPECT_EQ(dbx_viewport_originy, 23);
    dbx_fixed_width = 922;
    dbx_fixed_height = 361;
    dbx_setviewport();
    EXPECT_EQ(gl_box(GL_VIEWPORT), (box{51, 203, 922, 362}));
    EXPECT_EQ(gl_box(GL_SCISSOR_BOX), (box{51, 203, 922, 362}));
    glClearColor(1.0f, 1.0f, 1.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    EXPECT_TRUE(is_black(sdl_test_pixel(50, 203)));
    EXPECT_TRUE(is_first_clear(sdl_test_pixel(51, 202)));
    EXPECT_EQ(sdl_test_pixel(51, 203).r, 255);
    EXPECT_EQ(sdl_test_pixel(972, 564).r, 255);
    EXPECT_TRUE(is_first_clear(sdl_test_pixel(972, 565)));
}

// A console's buffers come from a pool that grows: a buffer seen for the
// first time holds nothing of the first frames (here: white all over). Each
// swap paints the bars and margins around the engine's picture, leaves the
// picture alone, and gives the engine its viewport and scissor back.
TEST_F(SdlWindow, ABufferWithoutBarsGetsThemAtTheSwap) {
    setenv("DBX_OVERSCAN", "50", 1);
    setenv("DBX_RESOLUTION", "640x360", 1);
    dbx_init();
    glDisable(GL_SCISSOR_TEST);
    glClearColor(1.0f, 1.0f, 1.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    dbx_platform_swapbuffers();
    for (auto [x, y] : {std::pair{51, 123}, {972, 38}, {51, 644}, {972, 729}})
        EXPECT_TRUE(is_first_clear(sdl_test_pixel(x, y))) << "bar at " << x << ", " << y;
    for (auto [x, y] : {std::pair{50, 300}, {973, 300}, {500, 37}, {500, 730}, {0, 0}, {1023, 767}})
        EXPECT_TRUE(is_black(sdl_test_pixel(x, y))) << "margin at " << x << ", " << y;
    for (auto [x, y] : {std::pair{51, 124}, {972, 643}, {500, 400}})
        EXPECT_EQ(sdl_test_pixel(x, y).r, 255) << "picture at " << x << ", " << y;
    EXPECT_TRUE(glIsEnabled(GL_SCISSOR_TEST));
    EXPECT_EQ(gl_box(GL_VIEWPORT), (box{51, 124, 922, 520}));
    EXPECT_EQ(gl_box(GL_SCISSOR_BOX), (box{51, 124, 922, 520}));
}

TEST_F(SdlWindow, OverscanThatLeavesNoRoomStillGivesAnArea) {
    dbx_screen_overscanx = 500;
    dbx_screen_overscany = 900;
    dbx_platform_init_window();
    EXPECT_GE(dbx_screen_width, 1);
    EXPECT_GE(dbx_screen_height, 1);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(SdlWindow, EnvironmentGivesTheWindowAndTheLetterboxedViewport) {
    setenv("DBX_WINDOWSIZE", "800x600", 1);
    setenv("DBX_RESOLUTION", "640x360", 1);
    dbx_fixed_width = 320;  // the environment wins over the application's setting
    dbx_fixed_height = 200;
    dbx_init();
    int w = 0, h = 0;
    SDL_GetWindowSize(SDL_GL_GetCurrentWindow(), &w, &h);
    EXPECT_EQ(w, 800);
    EXPECT_EQ(h, 600);
    EXPECT_EQ(dbx_fixed_width, 640);
    EXPECT_EQ(dbx_fixed_height, 360);
    // 800 / 640 = 1.25 < 600 / 360: bars of 75 rows above and below.
    EXPECT_EQ(dbx_viewport_left, 0);
    EXPECT_EQ(dbx_viewport_top, 75);
    EXPECT_EQ(dbx_viewport_width, 800);
    EXPECT_EQ(dbx_viewport_height, 450);
    EXPECT_EQ(gl_box(GL_VIEWPORT), (box{0, 75, 800, 450}));
    EXPECT_TRUE(glIsEnabled(GL_SCISSOR_TEST));
    EXPECT_EQ(gl_box(GL_SCISSOR_BOX), (box{0, 75, 800, 450}));
}

TEST_F(SdlWindow, OverscanAndLogicalResolutionTogether) {
    // Full screen 1024 x 768 less 5 %: a 922 x 692 area at (51, 38). The
    // engine letterboxes 640 x 360 into it: top = (692 - 1.440625 * 360) / 2
    // = 86.6875, so 86 rows of bars and a 922 x 520 viewport, 38 + 86 rows
    // from the top (and from the bottom) of the display.
    setenv("DBX_OVERSCAN", "50", 1);
    setenv("DBX_RESOLUTION", "640x360", 1);
    dbx_init();
    EXPECT_EQ(dbx_screen_width, 922);
    EXPECT_EQ(dbx_screen_height, 692);
    EXPECT_EQ(dbx_viewport_top, 86);
    EXPECT_EQ(dbx_viewport_height, 520);
    EXPECT_EQ(gl_box(GL_VIEWPORT), (box{51, 124, 922, 520}));
    EXPECT_EQ(gl_box(GL_SCISSOR_BOX), (box{51, 124, 922, 520}));

    // A clear fills the viewport only: the bars keep the first colour and
    // the margins stay black.
    dbx_clear(255, 255, 255, 255);
    EXPECT_EQ(sdl_test_pixel(51, 124).r, 255);
    EXPECT_EQ(sdl_test_pixel(972, 643).r, 255);
    EXPECT_TRUE(is_first_clear(sdl_test_pixel(51, 123)));
    EXPECT_TRUE(is_first_clear(sdl_test_pixel(972, 644)));
    EXPECT_TRUE(is_black(sdl_test_pixel(50, 300)));
    EXPECT_TRUE(is_black(sdl_test_pixel(500, 730)));
}

TEST_F(SdlWindow, NoDisplayIsOneClearLineAndAFailureStatus) {
    struct stat st;
    if (stat("/dev/dri", &st) == 0) GTEST_SKIP() << "a DRM device is present: the console could be opened";
    GTEST_FLAG_SET(death_test_style, emulated_death_test_style());
    EXPECT_EXIT(
        {
            unsetenv("SDL_VIDEODRIVER");
            unsetenv("DISPLAY");
            unsetenv("WAYLAND_DISPLAY");
            dbx_platform_init_window();
            exit(0);
        },
        ::testing::ExitedWithCode(1), "no display.*invitro-capture renders the intro to a video file");
}

}  // namespace
