// Start-up configuration and the letterboxed viewport, read back from GL.
#include "display_fixture.h"
#include "tests/common/emulator.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace {

struct gl_view {
    GLint viewport[4], scissor[4];
    GLboolean scissor_on;
    GLfloat projection[16], modelview[16];
    GLint matrix_mode;
};

gl_view read_view(void) {
    gl_view v{};
    glGetIntegerv(GL_VIEWPORT, v.viewport);
    glGetIntegerv(GL_SCISSOR_BOX, v.scissor);
    v.scissor_on = glIsEnabled(GL_SCISSOR_TEST);
    glGetFloatv(GL_PROJECTION_MATRIX, v.projection);
    glGetFloatv(GL_MODELVIEW_MATRIX, v.modelview);
    glGetIntegerv(GL_MATRIX_MODE, &v.matrix_mode);
    return v;
}

// An orthographic projection of (0, w) x (h, 0): y grows downwards.
void expect_ortho(const gl_view &v, float w, float h) {
    EXPECT_FLOAT_EQ(v.projection[0], 2.0f / w);
    EXPECT_FLOAT_EQ(v.projection[5], -2.0f / h);
    EXPECT_FLOAT_EQ(v.projection[10], -1.0f);
    EXPECT_FLOAT_EQ(v.projection[12], -1.0f);
    EXPECT_FLOAT_EQ(v.projection[13], 1.0f);
    EXPECT_FLOAT_EQ(v.projection[15], 1.0f);
    EXPECT_EQ(v.matrix_mode, GL_PROJECTION);
    for (int i = 0; i < 16; i++) EXPECT_EQ(v.modelview[i], i % 5 == 0 ? 1.0f : 0.0f) << "model-view " << i;
}

void expect_viewport(const gl_view &v, int left, int top, int width, int height) {
    EXPECT_EQ(v.viewport[0], left);
    EXPECT_EQ(v.viewport[1], top);
    EXPECT_EQ(v.viewport[2], width);
    EXPECT_EQ(v.viewport[3], height);
}

class Viewport : public ::testing::Test {
protected:
    void SetUp() override { reset_engine(); }
};

struct viewport_case {
    int screen_w, screen_h, fixed_w, fixed_h;
    int left, top, width, height;
};

TEST_F(Viewport, LetterboxTable) {
    open_display(320, 180);
    const viewport_case cases[] = {
        {1920, 1080, 640, 360, 0, 0, 1920, 1080},  // same aspect: no bars
        {1280, 1024, 640, 360, 0, 152, 1280, 720},
        {1680, 1050, 640, 360, 0, 52, 1680, 946},  // 52.5 truncated
        {1024, 768, 640, 360, 0, 96, 1024, 576},
        {1366, 768, 640, 360, 0, 0, 1366, 768},    // bars of a third of a pixel
        {1280, 720, 640, 480, 160, 0, 960, 720},   // bars left and right
    };
    for (const viewport_case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.screen_w << "x" << c.screen_h << " for " << c.fixed_w << "x" << c.fixed_h);
        dbx_screen_width = c.screen_w;
        dbx_screen_height = c.screen_h;
        dbx_fixed_width = c.fixed_w;
        dbx_fixed_height = c.fixed_h;
        glClearColor(0.5f, 0.5f, 0.5f, 0.5f);
        dbx_setviewport();
        EXPECT_EQ(dbx_viewport_left, c.left);
        EXPECT_EQ(dbx_viewport_top, c.top);
        EXPECT_EQ(dbx_viewport_right, c.screen_w - c.left);
        EXPECT_EQ(dbx_viewport_bottom, c.screen_h - c.top);
        EXPECT_EQ(dbx_viewport_width, c.width);
        EXPECT_EQ(dbx_viewport_height, c.height);
        gl_view v = read_view();
        expect_viewport(v, c.left, c.top, c.width, c.height);
        EXPECT_TRUE(v.scissor_on);
        EXPECT_EQ(v.scissor[0], c.left);
        EXPECT_EQ(v.scissor[1], c.top);
        EXPECT_EQ(v.scissor[2], c.width);
        EXPECT_EQ(v.scissor[3], c.height);
        expect_ortho(v, static_cast<float>(c.fixed_w), static_cast<float>(c.fixed_h));
        GLfloat clear[4];
        glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
        for (float channel : clear) EXPECT_EQ(channel, 0.0f);
    }
}

// A layer that draws into a bigger surface moves what GL is told; the
// engine's own viewport globals stay in screen pixels.
TEST_F(Viewport, OriginShiftsTheGlViewportAndScissorOnly) {
    open_display(320, 180);
    dbx_viewport_originx = 7;
    dbx_viewport_originy = 11;
    dbx_screen_width = 1280;
    dbx_screen_height = 720;
    dbx_fixed_width = 640;
    dbx_fixed_height = 480;
    dbx_setviewport();
    EXPECT_EQ(dbx_viewport_left, 160);
    EXPECT_EQ(dbx_viewport_top, 0);
    gl_view v = read_view();
    expect_viewport(v, 167, 11, 960, 720);
    EXPECT_EQ(v.scissor[0], 167);
    EXPECT_EQ(v.scissor[1], 11);
    EXPECT_EQ(v.scissor[2], 960);
    EXPECT_EQ(v.scissor[3], 720);
    dbx_fixed_width = 0;
    dbx_setviewport();
    expect_viewport(read_view(), 7, 11, 1280, 720);
}

TEST_F(Viewport, WithoutLogicalResolutionDrawsInWindowPixels) {
    standin_set_display_size(400, 300);
    dbx_init();
    gl_view v = read_view();
    expect_viewport(v, 0, 0, 400, 300);
    EXPECT_FALSE(v.scissor_on);
    expect_ortho(v, 400, 300);
    EXPECT_EQ(dbx_viewport_width, 0);  // the viewport globals stay untouched
    EXPECT_EQ(dbx_viewport_bottom, 0);
    GLfloat clear[4];
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
    EXPECT_FLOAT_EQ(clear[0], 0.15f);  // the display set-up's clear colour stays
}

TEST_F(Viewport, ResolutionFromTheEnvironment) {
    setenv("DBX_RESOLUTION", "1280x720", 1);
    open_display(320, 240);
    EXPECT_EQ(dbx_fixed_width, 1280);
    EXPECT_EQ(dbx_fixed_height, 720);
    expect_ortho(read_view(), 1280, 720);
    EXPECT_EQ(dbx_viewport_top, 30);
}

TEST_F(Viewport, BlanksBeforeTheNumbersAreSkipped) {
    setenv("DBX_RESOLUTION", " 640x 360", 1);
    setenv("DBX_WINDOWSIZE", " 300x 200", 1);
    open_display(320, 240);
    EXPECT_EQ(dbx_fixed_width, 640);
    EXPECT_EQ(dbx_fixed_height, 360);
    EXPECT_EQ(dbx_window_width, 300);
    EXPECT_EQ(dbx_window_height, 200);
    EXPECT_EQ(dbx_screen_width, 300);
}

struct overscan_case {
    const char *all, *x, *y;
    int want_all, want_x, want_y;
};

TEST_F(Viewport, OverscanInheritance) {
    const overscan_case cases[] = {
        {"20", nullptr, nullptr, 20, 20, 20},
        {"20", "0", nullptr, 20, 20, 20},   // 0 counts as not given
        {"20", "30", "5", 20, 30, 5},
        {"0", nullptr, nullptr, 0, 0, 0},
        {nullptr, "40", nullptr, 0, 40, 0},
    };
    for (const overscan_case &c : cases) {
        SCOPED_TRACE(testing::Message() << (c.all ? c.all : "-") << " " << (c.x ? c.x : "-") << " "
                                        << (c.y ? c.y : "-"));
        reset_engine();
        if (c.all) setenv("DBX_OVERSCAN", c.all, 1);
        if (c.x) setenv("DBX_OVERSCANX", c.x, 1);
        if (c.y) setenv("DBX_OVERSCANY", c.y, 1);
        open_display(200, 100);
        EXPECT_EQ(dbx_screen_overscan, c.want_all);
        EXPECT_EQ(dbx_screen_overscanx, c.want_x);
        EXPECT_EQ(dbx_screen_overscany, c.want_y);
    }
}

// A value that is not a usable number is reported with one line and counts
// as not given: nothing after the number, no exponent, no fraction, each
// side of a size given, a logical resolution of 1 to 16384 a side and an
// offset of at most a second either way.
// One unusable setting: reported in one line and ignored, the engine as if
// it were not set.
struct unusable_setting {
    const char *name, *value, *why;
};
void expect_ignored(const unusable_setting &c) {
    SCOPED_TRACE(std::string(c.name) + "=" + c.value);
    reset_engine();
    setenv(c.name, c.value, 1);
    ::testing::internal::CaptureStderr();
    open_display(200, 100);
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(said, std::string(c.name) + "=" + c.value + ": " + c.why + "; the setting is ignored\n");
    EXPECT_EQ(dbx_screen_overscan, 0);
    EXPECT_EQ(dbx_screen_overscanx, 0);
    EXPECT_EQ(dbx_screen_overscany, 0);
    EXPECT_EQ(dbx_window_width, 0);
    EXPECT_EQ(dbx_window_height, 0);
    EXPECT_EQ(dbx_fixed_width, 640);
    EXPECT_EQ(dbx_fixed_height, 360);
    EXPECT_EQ(dbx_av_offset_ms, 0);
    EXPECT_EQ(dbx_screen_width, 200);
}

// Each display opened stays open for the process, so the table is in two
// tests (two processes): 32-bit ARM under emulation runs out of address
// space with twenty of them.
TEST_F(Viewport, UnusableMarginsAndWindowSizesAreReportedAndIgnored) {
    const unusable_setting cases[] = {
        {"DBX_OVERSCAN", "99999999999", "the number is out of range"},
        {"DBX_OVERSCANX", "-99999999999", "the number is out of range"},
        {"DBX_OVERSCAN", "", "not a whole number"},
        {"DBX_OVERSCANY", "20px", "not a whole number"},
        {"DBX_OVERSCANX", "2.5", "not a whole number"},
        {"DBX_WINDOWSIZE", "99999999999x5", "the number is out of range"},
        {"DBX_WINDOWSIZE", "1280x", "not a whole number"},
        {"DBX_WINDOWSIZE", "1280", "not WIDTHxHEIGHT"},
    };
    for (const auto &c : cases) expect_ignored(c);
}

TEST_F(Viewport, UnusableResolutionsAndOffsetsAreReportedAndIgnored) {
    const unusable_setting cases[] = {
        {"DBX_RESOLUTION", "640x2147483648", "the number is out of range"},
        {"DBX_RESOLUTION", "800", "not WIDTHxHEIGHT"},
        {"DBX_RESOLUTION", "640x", "not a whole number"},
        {"DBX_RESOLUTION", "0x10x20", "not a whole number"},
        {"DBX_RESOLUTION", "0x0", "each side must be 1 to 16384"},
        {"DBX_RESOLUTION", "640x0", "each side must be 1 to 16384"},
        {"DBX_RESOLUTION", "-1x-1", "each side must be 1 to 16384"},
        {"DBX_RESOLUTION", "100000x1", "each side must be 1 to 16384"},
        {"DBX_AV_OFFSET_MS", "1e3", "not a whole number"},
        {"DBX_AV_OFFSET_MS", "abc", "not a whole number"},
        {"DBX_AV_OFFSET_MS", "1001", "the offset must be -1000 to 1000 milliseconds"},
        {"DBX_AV_OFFSET_MS", "-2147483648", "the offset must be -1000 to 1000 milliseconds"},
    };
    for (const auto &c : cases) expect_ignored(c);
}

TEST_F(Viewport, SettingsAtTheirLimitsAreTakenSilently) {
    // The limits themselves are taken, silently.
    reset_engine();
    setenv("DBX_AV_OFFSET_MS", "-1000", 1);
    setenv("DBX_RESOLUTION", "16384x1", 1);
    ::testing::internal::CaptureStderr();
    open_display(200, 100);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(dbx_av_offset_ms, -1000);
    EXPECT_EQ(dbx_fixed_width, 16384);
    EXPECT_EQ(dbx_fixed_height, 1);
}

// A layer that would have no pixel, or whose size overflows, ends the
// program with one line naming the variable, before any display call.
TEST_F(Viewport, ImpossibleLayersEndTheProgramBeforeTheDisplayIsTouched) {
    GTEST_FLAG_SET(death_test_style, emulated_death_test_style());
    const struct {
        std::vector<std::pair<const char *, const char *>> env;
        const char *line;
    } cases[] = {
        {{{"DBX_OVERSCAN", "600"}}, "DBX_OVERSCAN=600: a margin must be 0 to 499 thousandths"},
        {{{"DBX_OVERSCANY", "500"}}, "DBX_OVERSCANY=500: a margin"},
        {{{"DBX_OVERSCAN", "700"}, {"DBX_OVERSCANX", "10"}}, "DBX_OVERSCAN=700: a margin"},
        {{{"DBX_OVERSCANX", "-5"}}, "DBX_OVERSCANX=-5: a margin must be 0 to 499 thousandths"},
        {{{"DBX_OVERSCAN", "20"}, {"DBX_OVERSCANY", "-1"}}, "DBX_OVERSCANY=-1: a margin"},
        {{{"DBX_OVERSCAN", "-20"}}, "DBX_OVERSCAN=-20: a margin"},
        {{{"DBX_WINDOWSIZE", "100000x100000"}}, "DBX_WINDOWSIZE=100000x100000: a window side must be 1 to 16384"},
        {{{"DBX_WINDOWSIZE", "300x32768"}}, "DBX_WINDOWSIZE=300x32768: a window side"},
        {{{"DBX_WINDOWSIZE", "0x0"}}, "DBX_WINDOWSIZE=0x0: a window side must be 1 to 16384"},
        {{{"DBX_WINDOWSIZE", "640x-1"}}, "DBX_WINDOWSIZE=640x-1: a window side"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.line);
        reset_engine();
        for (const auto &e : c.env) setenv(e.first, e.second, 1);
        EXPECT_EXIT(
            {
                standin_clear_calls();
                atexit([] { fprintf(stderr, "display calls: %d\n", standin_call_count()); });
                dbx_init();
            },
            ::testing::ExitedWithCode(1), std::string("^") + c.line + "[^\n]*\ndisplay calls: 0\n$");
    }
    // Margins are not used with a window size, so they cannot spoil it.
    reset_engine();
    setenv("DBX_OVERSCAN", "600", 1);
    setenv("DBX_WINDOWSIZE", "120x80", 1);
    open_display(200, 100);
    EXPECT_EQ(dbx_screen_width, 120);
}

// No setting or display size overflows the layer's arithmetic.
TEST_F(Viewport, LayerRectangleAtTheLimits) {
    const struct {
        int32_t display_w, display_h, window_w, window_h, overscan;
        int32_t x, y, w, h;
    } cases[] = {
        {INT32_MAX, INT32_MAX, 0, 0, 0, 0, 0, INT32_MAX, INT32_MAX},
        {100, 50, INT32_MAX, INT32_MAX, 0, -1073741773, -1073741798, INT32_MAX, INT32_MAX},
        {INT32_MIN, 10, 5, 5, 0, -1073741826, 2, 5, 5},
        {1000, 1000, 0, 0, INT32_MAX, INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN},
        {999, 999, 0, 0, 499, 498, 498, 3, 3},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.display_w << "x" << c.display_h << " window " << c.window_w << "x"
                                        << c.window_h << " overscan " << c.overscan);
        dbx_window_width = c.window_w;
        dbx_window_height = c.window_h;
        dbx_screen_overscanx = dbx_screen_overscany = c.overscan;
        int32_t x, y, w, h;
        dbx_platform_layer_rect(c.display_w, c.display_h, &x, &y, &w, &h);
        EXPECT_EQ(x, c.x);
        EXPECT_EQ(y, c.y);
        EXPECT_EQ(w, c.w);
        EXPECT_EQ(h, c.h);
    }
}

}  // namespace
