// The Raspberry Pi platform layer: one display-manager layer on the VideoCore
// (full screen less the overscan, or a centred window of a requested size),
// an EGL window surface and an OpenGL ES 1.1 context on it, the buffer swap
// and the raw mouse. The main loop, the tick clock, PNG loading and fatal
// messages are shared with the other platforms (the engine's loop.cpp, common.cpp).
#include "../drawboxlib.h"
#include "rawmouse.h"

#include <bcm_host.h>

#include <EGL/egl.h>
#include <GLES/gl.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

// The display set-up has no way back: every EGL step and the GL error state
// are checked, and a failed check writes the standard assertion report and
// aborts, in every build type.
extern "C" void __assert_fail(const char *assertion, const char *file, unsigned int line,
                              const char *function) noexcept __attribute__((__noreturn__));
#define check(expr) \
    ((expr) ? static_cast<void>(0) \
            : __assert_fail(#expr, "drawboxlib/platforms/raspberrypi.cpp", __LINE__, __func__))

static EGLDisplay display;
static EGLContext context;
static EGLSurface surface;
static int32_t egl_x1, egl_y1, egl_width, egl_height;
static EGL_DISPMANX_WINDOW_T nativewindow;  // the surface refers to it for its whole life

static const EGLint attribute_list[] = {
    EGL_RED_SIZE, 8,
    EGL_GREEN_SIZE, 8,
    EGL_BLUE_SIZE, 8,
    EGL_ALPHA_SIZE, 8,
    EGL_SURFACE_TYPE, EGL_WINDOW_BIT,
    EGL_NONE,
};

// The display manager takes the source rectangle in 16.16 fixed point: a
// layer side must be at least one pixel and below 32768 to be expressed.
static int32_t fixed_16_16(int32_t pixels, const char *side) {
    const int64_t value = int64_t{pixels} * 65536;
    if (pixels < 1 || value > INT32_MAX)
        dbx_fail("The layer's %s of %d pixels cannot be shown (it must be 1 to 32767 pixels).\n", side,
                 static_cast<int>(pixels));
    return static_cast<int32_t>(value);
}

static void init_ogl(void) {
    EGLBoolean result;
    EGLint num_config;
    EGLConfig config;
    uint32_t screen_width, screen_height;
    int32_t success;

    bcm_host_init();

    display = eglGetDisplay(EGL_DEFAULT_DISPLAY);
    check(display!=EGL_NO_DISPLAY);
    check(glGetError() == 0);

    result = eglInitialize(display, nullptr, nullptr);
    check(EGL_FALSE != result);
    check(glGetError() == 0);

    result = eglChooseConfig(display, attribute_list, &config, 1, &num_config);
    check(EGL_FALSE != result);
    check(glGetError() == 0);

    context = eglCreateContext(display, config, EGL_NO_CONTEXT, nullptr);
    check(context!=EGL_NO_CONTEXT);
    check(glGetError() == 0);

    success = graphics_get_display_size(0, &screen_width, &screen_height);
    check(success >= 0);

    // The layer: a requested window size, centred, or the display less the
    // overscan margins.
    dbx_platform_layer_rect(static_cast<int32_t>(screen_width), static_cast<int32_t>(screen_height), &egl_x1,
                            &egl_y1, &egl_width, &egl_height);

    DISPMANX_DISPLAY_HANDLE_T dispman_display = vc_dispmanx_display_open(0);
    DISPMANX_UPDATE_HANDLE_T dispman_update = vc_dispmanx_update_start(0);

    VC_RECT_T dst_rect;
    dst_rect.x = egl_x1;
    dst_rect.y = egl_y1;
    dst_rect.width = egl_width;
    dst_rect.height = egl_height;

    // 16.16 fixed point: the offset is 24/65536 of a pixel, the size 1:1.
    VC_RECT_T src_rect;
    src_rect.x = 24;
    src_rect.y = 24;
    src_rect.width = fixed_16_16(egl_width, "width");
    src_rect.height = fixed_16_16(egl_height, "height");

    VC_DISPMANX_ALPHA_T alpha = {DISPMANX_FLAGS_ALPHA_FIXED_ALL_PIXELS, 255, 0};

    DISPMANX_ELEMENT_HANDLE_T dispman_element =
        vc_dispmanx_element_add(dispman_update, dispman_display, 10, &dst_rect, 0, &src_rect,
                                DISPMANX_PROTECTION_NONE, &alpha, nullptr, DISPMANX_NO_ROTATE);

    nativewindow.element = dispman_element;
    nativewindow.width = egl_width;
    nativewindow.height = egl_height;
    vc_dispmanx_update_submit_sync(dispman_update);
    check(glGetError() == 0);

    surface = eglCreateWindowSurface(display, config, &nativewindow, nullptr);
    check(surface != EGL_NO_SURFACE);
    check(glGetError() == 0);

    result = eglMakeCurrent(display, surface, surface, context);
    check(EGL_FALSE != result);
    check(glGetError() == 0);

    glClearColor(0.15f, 0.25f, 0.35f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    check(glGetError() == 0);

    dbx_screen_width = egl_width;
    dbx_screen_height = egl_height;
}

void dbx_platform_init_window(void) { init_ogl(); }

void dbx_platform_swapbuffers(void) { eglSwapBuffers(display, surface); }

// The raw mouse, with the main loop's button codes: left 1, right 2,
// middle 3; several buttons at once leave the code as it was.
void dbx_platform_poll_input(void) {
    int buttons = dbx_rawmouse_poll(dbx_screen_width, dbx_screen_height, &dtmp_mousex, &dtmp_mousey);
    if (buttons == 1) dtmp_mousedown = 1;
    else if (buttons == 2) dtmp_mousedown = 2;
    else if (buttons == 4) dtmp_mousedown = 3;
}
