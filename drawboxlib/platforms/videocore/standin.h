// Controls and views of the emulated VideoCore display, for tests and for
// looking at what the Pi layer shows on a machine without a Pi.
//
// The display has a settable size (1920 x 1080 unless told otherwise, by
// standin_set_display_size or the environment variable
// DBX_STANDIN_DISPLAY=WxH). Every buffer swap of a display-manager window
// composes the window's pixels onto an RGBA screen buffer (rows top-down)
// at the rectangle its element was added with; what lies outside that
// rectangle keeps what the screen showed before.
//
// DBX_STANDIN_SNAPSHOT=dir writes the whole screen to dir/frame-NNNNN.png
// after every DBX_STANDIN_SNAPSHOT_EVERY-th swap (default: every swap),
// NNNNN being the swap number counted from 1.
#ifndef DBX_VIDEOCORE_STANDIN_H
#define DBX_VIDEOCORE_STANDIN_H

#include "bcm_host.h"

#include <EGL/egl.h>

#include <stdint.h>

// ---------------------------------------------------------------- the display

void standin_set_display_size(uint32_t width, uint32_t height);  // clears the screen to black
const unsigned char *standin_screen(uint32_t *width, uint32_t *height);
void standin_fill_screen(unsigned char red, unsigned char green, unsigned char blue);
int standin_save_screen(const char *path);  // PNG; 0 on success
// RGBA pixels, rows top-down, to a PNG through a temporary file beside it,
// so no half-written file is ever left under the name; 0 on success.
int standin_save_png(const char *path, const unsigned char *rgba, uint32_t width, uint32_t height);
unsigned long standin_swaps(void);

// An element added to the display, as the call gave it.
typedef struct {
    DISPMANX_UPDATE_HANDLE_T update;
    DISPMANX_DISPLAY_HANDLE_T display;
    int32_t layer;
    VC_RECT_T dest, src;
    DISPMANX_RESOURCE_HANDLE_T resource;
    DISPMANX_PROTECTION_T protection;
    VC_DISPMANX_ALPHA_T alpha;
    int alpha_given, clamp_given;
    DISPMANX_TRANSFORM_T transform;
} standin_element_t;

#ifdef DBX_STANDIN_INSTRUMENTS
// The instruments below are compiled into the tests' copy of the stand-in
// only (dbx_videocore_test), never into a program.

// ---------------------------------------------------------------- failures
// Makes the named step fail from now on until cleared with a null or empty
// name: "eglGetDisplay", "eglInitialize", "eglChooseConfig",
// "eglCreateContext", "graphics_get_display_size", "eglCreateWindowSurface",
// "eglMakeCurrent", or "glGetError" (which then reports GL_INVALID_OPERATION).
void standin_fail_step(const char *step);

// ---------------------------------------------------------------- what was called

typedef struct {
    uint16_t size_display;       // graphics_get_display_size
    uint32_t open_device;        // vc_dispmanx_display_open
    int32_t update_priority;     // vc_dispmanx_update_start
    DISPMANX_UPDATE_HANDLE_T submitted;  // vc_dispmanx_update_submit_sync
    EGLNativeDisplayType display_id;     // eglGetDisplay
    int initialize_major_given, initialize_minor_given;
    EGLint choose_attribs[32];   // as the caller passed them, EGL_NONE included
    EGLint choose_config_size;
    int choose_num_config_given;
    EGLContext context_share;
    int context_attribs_given;
    EGL_DISPMANX_WINDOW_T window;  // the native window a surface was made for
    int window_attribs_given;
    EGLSurface current_draw, current_read;
    EGLContext current_context;
} standin_args_t;

// The most recently added element, or null before the first.
const standin_element_t *standin_last_element(void);
const standin_args_t *standin_args(void);

// The calls of the host interface and of EGL made so far, by name, in order.
int standin_call_count(void);
const char *standin_call(int i);
void standin_clear_calls(void);

#endif  // DBX_STANDIN_INSTRUMENTS

#endif
