// The Raspberry Pi layer on the emulated VideoCore display: the set-up's
// calls and arguments, the layer rectangle, the checks, the swap, and the
// mouse through the main loop.
#include "display_fixture.h"
#include "drawboxlib/platforms/rawmouse.h"
#include "tests/common/emulator.h"

#include <EGL/egl.h>
#include <fcntl.h>
#include <lodepng.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <string>
#include <vector>

namespace {

class PiLayer : public ::testing::Test {
protected:
    void SetUp() override {
        reset_engine();
        standin_clear_calls();
    }
};

TEST_F(PiLayer, SetUpCallsInOrderWithTheirArguments) {
    standin_set_display_size(800, 600);
    dbx_platform_init_window();
    const std::vector<std::string> expected = {
        "bcm_host_init",           "eglGetDisplay",          "eglInitialize",
        "eglChooseConfig",         "eglCreateContext",       "graphics_get_display_size",
        "vc_dispmanx_display_open", "vc_dispmanx_update_start", "vc_dispmanx_element_add",
        "vc_dispmanx_update_submit_sync", "eglCreateWindowSurface", "eglMakeCurrent",
    };
    std::vector<std::string> calls;
    for (int i = 0; i < standin_call_count(); i++) calls.push_back(standin_call(i));
    EXPECT_EQ(calls, expected);

    const standin_args_t *a = standin_args();
    EXPECT_EQ(a->display_id, EGL_DEFAULT_DISPLAY);
    EXPECT_FALSE(a->initialize_major_given);
    EXPECT_FALSE(a->initialize_minor_given);
    const EGLint attribs[11] = {EGL_RED_SIZE,   8, EGL_GREEN_SIZE,   8,              EGL_BLUE_SIZE, 8,
                                EGL_ALPHA_SIZE, 8, EGL_SURFACE_TYPE, EGL_WINDOW_BIT, EGL_NONE};
    for (int i = 0; i < 11; i++) EXPECT_EQ(a->choose_attribs[i], attribs[i]) << "attribute word " << i;
    EXPECT_EQ(a->choose_config_size, 1);
    EXPECT_TRUE(a->choose_num_config_given);
    EXPECT_EQ(a->context_share, EGL_NO_CONTEXT);
    EXPECT_FALSE(a->context_attribs_given);
    EXPECT_EQ(a->size_display, 0);
    EXPECT_EQ(a->open_device, 0u);
    EXPECT_EQ(a->update_priority, 0);
    EXPECT_FALSE(a->window_attribs_given);
    EXPECT_EQ(a->current_draw, a->current_read);
    EXPECT_NE(a->current_draw, EGL_NO_SURFACE);
    EXPECT_EQ(a->current_context, eglGetCurrentContext());

    const standin_element_t *el = standin_last_element();
    ASSERT_NE(el, nullptr);
    EXPECT_EQ(el->update, a->submitted);
    EXPECT_EQ(el->layer, 10);
    EXPECT_EQ(el->resource, 0u);
    EXPECT_EQ(el->protection, 0u);
    EXPECT_EQ(el->src.x, 24);  // 24/65536 of a pixel
    EXPECT_EQ(el->src.y, 24);
    EXPECT_EQ(el->src.width, 800 * 65536);
    EXPECT_EQ(el->src.height, 600 * 65536);
    EXPECT_TRUE(el->alpha_given);
    EXPECT_EQ(el->alpha.flags, DISPMANX_FLAGS_ALPHA_FIXED_ALL_PIXELS);
    EXPECT_EQ(el->alpha.opacity, 255u);
    EXPECT_EQ(el->alpha.mask, 0u);
    EXPECT_FALSE(el->clamp_given);
    EXPECT_EQ(el->transform, DISPMANX_NO_ROTATE);
    EXPECT_EQ(a->window.width, 800);
    EXPECT_EQ(a->window.height, 600);
    EXPECT_NE(a->window.element, 0u);

    // An OpenGL ES 1 context is current, cleared to the set-up's colour.
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(glGetString(GL_VERSION))).rfind("OpenGL ES-CM 1.", 0), 0u);
    GLfloat clear[4];
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
    EXPECT_EQ(clear[0], 0.15f);
    EXPECT_EQ(clear[1], 0.25f);
    EXPECT_EQ(clear[2], 0.35f);
    EXPECT_EQ(clear[3], 1.0f);
    EXPECT_EQ(dbx_screen_width, 800);
    EXPECT_EQ(dbx_screen_height, 600);
}

struct layer_case {
    const char *what;
    uint32_t display_w, display_h;
    int32_t window_w, window_h, overscan_x, overscan_y;
    int32_t x, y, w, h;
};

TEST_F(PiLayer, LayerRectangle) {
    const layer_case cases[] = {
        {"whole display", 1920, 1080, 0, 0, 0, 0, 0, 0, 1920, 1080},
        {"overscan 50", 1920, 1080, 0, 0, 50, 50, 96, 54, 1728, 972},
        {"overscan 30", 1920, 1080, 0, 0, 30, 30, 57, 32, 1806, 1016},
        {"window", 1920, 1080, 1280, 720, 0, 0, 320, 180, 1280, 720},
        {"window wins over overscan", 1920, 1080, 1280, 720, 50, 50, 320, 180, 1280, 720},
        {"odd difference", 1921, 1081, 1280, 720, 0, 0, 320, 180, 1280, 720},
        {"width alone is ignored", 1920, 1080, 1280, 0, 50, 0, 96, 0, 1728, 1080},
        {"axes apart", 1920, 1080, 0, 0, 0, 30, 0, 32, 1920, 1016},
        {"negative overscan", 1920, 1080, 0, 0, -50, -1, 0, 0, 1920, 1080},
    };
    for (const layer_case &c : cases) {
        SCOPED_TRACE(c.what);
        standin_set_display_size(c.display_w, c.display_h);
        dbx_window_width = c.window_w;
        dbx_window_height = c.window_h;
        dbx_screen_overscanx = c.overscan_x;
        dbx_screen_overscany = c.overscan_y;
        dbx_platform_init_window();
        const standin_element_t *el = standin_last_element();
        ASSERT_NE(el, nullptr);
        EXPECT_EQ(el->dest.x, c.x);
        EXPECT_EQ(el->dest.y, c.y);
        EXPECT_EQ(el->dest.width, c.w);
        EXPECT_EQ(el->dest.height, c.h);
        EXPECT_EQ(dbx_screen_width, c.w);
        EXPECT_EQ(dbx_screen_height, c.h);
        EXPECT_EQ(standin_args()->window.width, c.w);
        EXPECT_EQ(standin_args()->window.height, c.h);
    }
}

TEST_F(PiLayer, SwapComposesTheLayerOntoTheScreen) {
    standin_set_display_size(200, 100);
    standin_fill_screen(10, 20, 30);
    dbx_screen_overscanx = dbx_screen_overscany = 100;  // margins of 20 and 10
    dbx_platform_init_window();
    screen_pixel before = screen_at(100, 50);
    EXPECT_EQ(before.r, 10);  // nothing shows before the first swap
    unsigned long swaps = standin_swaps();
    dbx_platform_swapbuffers();
    EXPECT_EQ(standin_swaps(), swaps + 1);
    EXPECT_EQ(standin_call(standin_call_count() - 1), std::string("eglSwapBuffers"));
    for (auto [x, y] : {std::pair{20u, 10u}, {179u, 89u}, {100u, 50u}}) {
        screen_pixel p = screen_at(x, y);
        EXPECT_EQ(p.r, 38) << x << "," << y;
        EXPECT_EQ(p.g, 64) << x << "," << y;
        EXPECT_EQ(p.b, 89) << x << "," << y;
    }
    for (auto [x, y] : {std::pair{19u, 50u}, {180u, 50u}, {100u, 9u}, {100u, 90u}}) {
        screen_pixel p = screen_at(x, y);
        EXPECT_EQ(p.r, 10) << x << "," << y;
        EXPECT_EQ(p.b, 30) << x << "," << y;
    }
}

// Snapshots for people: every N-th swap writes the whole screen as a PNG
// named after the swap number.
TEST_F(PiLayer, SnapshotsEveryNthSwap) {
    std::string dir = testing::TempDir() + "standin_snapshots_" + std::to_string(getpid());
    ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
    standin_set_display_size(40, 30);
    standin_fill_screen(1, 2, 3);
    dbx_window_width = 20;
    dbx_window_height = 10;
    dbx_platform_init_window();
    setenv("DBX_STANDIN_SNAPSHOT", dir.c_str(), 1);
    setenv("DBX_STANDIN_SNAPSHOT_EVERY", "2", 1);
    unsigned long first = standin_swaps() + 1;
    for (int i = 0; i < 4; i++) dbx_platform_swapbuffers();
    unsetenv("DBX_STANDIN_SNAPSHOT");
    unsetenv("DBX_STANDIN_SNAPSHOT_EVERY");
    int written = 0;
    for (unsigned long n = first; n < first + 4; n++) {
        char name[64];
        snprintf(name, sizeof name, "/frame-%05lu.png", n);
        std::string path = dir + name;
        unsigned char *pixels = nullptr;
        unsigned w = 0, h = 0;
        unsigned error = lodepng_decode32_file(&pixels, &w, &h, path.c_str());
        EXPECT_EQ(error == 0, n % 2 == 0) << path;
        if (!error) {
            written++;
            uint32_t sw = 0, sh = 0;
            const unsigned char *screen = standin_screen(&sw, &sh);
            EXPECT_EQ(w, sw);
            EXPECT_EQ(h, sh);
            EXPECT_EQ(memcmp(pixels, screen, static_cast<size_t>(sw) * sh * 4), 0);
            EXPECT_EQ(pixels[0], 1);                   // margin
            EXPECT_EQ(pixels[(10 * 40 + 10) * 4], 38);  // layer at (10, 10)
            remove(path.c_str());
        }
        free(pixels);
    }
    EXPECT_EQ(written, 2);
    EXPECT_EQ(rmdir(dir.c_str()), 0);  // nothing else, no temporary files left
}

struct failing_check {
    const char *step, *expression;
};

// A failed check writes the standard assertion report for init_ogl with
// the expression as written, and aborts.
TEST_F(PiLayer, FailedChecksReportTheirExpression) {
    GTEST_FLAG_SET(death_test_style, emulated_death_test_style());
    const failing_check checks[] = {
        {"eglGetDisplay", "display!=EGL_NO_DISPLAY"},
        {"eglInitialize", "EGL_FALSE != result"},
        {"eglChooseConfig", "EGL_FALSE != result"},
        {"eglCreateContext", "context!=EGL_NO_CONTEXT"},
        {"graphics_get_display_size", "success >= 0"},
        {"eglCreateWindowSurface", "surface != EGL_NO_SURFACE"},
        {"eglMakeCurrent", "EGL_FALSE != result"},
        {"glGetError", "glGetError\\(\\) == 0"},
    };
    for (const failing_check &c : checks) {
        SCOPED_TRACE(c.step);
        std::string report = std::string("drawboxlib/platforms/raspberrypi\\.cpp:[0-9]+: init_ogl: Assertion `") +
                             c.expression + "' failed\\.";
        EXPECT_DEATH(
            {
                standin_set_display_size(320, 200);
                standin_fail_step(c.step);
                dbx_platform_init_window();
            },
            report);
    }
}

uint64_t fake_now;
uint64_t fake_clock(void) { return fake_now; }

// The main loop with the Pi layer: a button seen by the poll reaches the
// next update and is cleared after it.
TEST_F(PiLayer, ButtonCodeLastsUntilTheNextUpdate) {
    open_display(320, 180);
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_NONBLOCK), 0);
    dbx_rawmouse_reset(fds[0]);
    dbx_platform_clock = fake_clock;
    fake_now = 1000;
    dbx_platform_ticready(1);

    const unsigned char right[3] = {0x0a, 0, 0};
    ASSERT_EQ(write(fds[1], right, 3), 3);
    dbx_platform_pass();  // no tick due yet
    EXPECT_EQ(app_updates, 0);
    EXPECT_EQ(dtmp_mousedown, 2);

    fake_now = 1001;
    dbx_platform_pass();
    EXPECT_EQ(app_updates, 1);
    EXPECT_EQ(app_mousedown_seen, 2);
    EXPECT_EQ(dtmp_mousedown, 0);

    const unsigned char middle[3] = {0x0c, 0, 0};
    ASSERT_EQ(write(fds[1], middle, 3), 3);
    fake_now = 1100;
    dbx_platform_pass();  // the update in the same pass sees the button
    EXPECT_EQ(app_mousedown_seen, 3);
    EXPECT_EQ(dtmp_mousedown, 0);

    dbx_platform_clock = dbx_monotonic_ms;
    dbx_rawmouse_reset(-1);
    close(fds[0]);
    close(fds[1]);
}

// A pass 100 ms late (four ticks due) runs one update on a live layer,
// which catches up a tick a pass, and all four on one that renders offline.
TEST_F(PiLayer, ALatePassRunsOneUpdateLiveAndEveryDueUpdateOffline) {
    const struct {
        int32_t every_tick;
        int updates, tics;
    } cases[] = {{0, 1, 1}, {1, 4, 4}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.every_tick);
        reset_engine();
        open_display(320, 180);
        dbx_platform_every_tick = c.every_tick;
        dbx_platform_clock = fake_clock;
        fake_now = 1000;
        dbx_platform_ticready(1);
        fake_now = 1100;
        dbx_platform_pass();
        EXPECT_EQ(app_updates, c.updates);
        EXPECT_EQ(dbx_tics, c.tics);
        dbx_platform_pass();  // the same time: nothing more is due offline
        EXPECT_EQ(app_updates, c.every_tick ? 4 : 2);
    }
    dbx_platform_clock = dbx_monotonic_ms;
}

}  // namespace
