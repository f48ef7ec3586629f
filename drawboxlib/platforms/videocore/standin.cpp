// An emulated VideoCore display for machines without a Raspberry Pi.
//
// The host interface (bcm_host.h) keeps a display of settable size and the
// elements added to it. The Pi layer's EGL calls are redirected here by the
// linker (--wrap, see raspberrypi.cmake): the default display becomes Mesa's
// surfaceless display, a window request becomes a pbuffer request, and a
// display-manager window becomes a pbuffer of the element's size. Every swap
// copies that pbuffer onto the emulated screen at the element's rectangle.
#include "standin.h"
#include "settings.h"

#include <EGL/eglext.h>
#include <GLES/gl.h>
#include <lodepng.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern "C" {
EGLDisplay __real_eglGetDisplay(EGLNativeDisplayType display_id);
EGLBoolean __real_eglInitialize(EGLDisplay dpy, EGLint *major, EGLint *minor);
EGLBoolean __real_eglChooseConfig(EGLDisplay dpy, const EGLint *attrib_list, EGLConfig *configs,
                                  EGLint config_size, EGLint *num_config);
EGLContext __real_eglCreateContext(EGLDisplay dpy, EGLConfig config, EGLContext share_context,
                                   const EGLint *attrib_list);
EGLSurface __real_eglCreateWindowSurface(EGLDisplay dpy, EGLConfig config, EGLNativeWindowType win,
                                         const EGLint *attrib_list);
EGLBoolean __real_eglMakeCurrent(EGLDisplay dpy, EGLSurface draw, EGLSurface read, EGLContext ctx);
EGLBoolean __real_eglSwapBuffers(EGLDisplay dpy, EGLSurface surface);
#ifdef DBX_STANDIN_INSTRUMENTS
GLenum __real_glGetError(void);
#endif
}

namespace {

enum { MAX_CALLS = 256 };

uint32_t display_width, display_height;  // 0 until first needed
std::vector<unsigned char> screen;       // display size, RGBA, rows top-down
std::vector<unsigned char> layer;        // read-back buffer of one window
unsigned long swaps;

std::vector<standin_element_t> elements;  // handle = index + 1

struct window_surface {
    EGLSurface surface;
    DISPMANX_ELEMENT_HANDLE_T element;
    int width, height;
};
std::vector<window_surface> surfaces;

EGLDisplay surfaceless = EGL_NO_DISPLAY;

// The tests' instruments: the call log, the arguments of the latest calls
// and a step made to fail. A program without them runs the same emulation.
#ifdef DBX_STANDIN_INSTRUMENTS
std::string failing;
standin_args_t args;
const char *calls[MAX_CALLS];
int call_count;

void called(const char *name) {
    if (call_count < MAX_CALLS) calls[call_count++] = name;
}

bool fails(const char *step) { return !failing.empty() && failing == step; }
#define RECORD(...) (__VA_ARGS__)
#else
void called(const char *) {}
bool fails(const char *) { return false; }
#define RECORD(...) static_cast<void>(0)
#endif

void need_display(void) {
    if (display_width) return;
    int32_t w = 1920, h = 1080;
    dbx_env_size("DBX_STANDIN_DISPLAY", 1, 16384, "each side must be 1 to 16384", &w, &h);
    standin_set_display_size(static_cast<uint32_t>(w), static_cast<uint32_t>(h));
}

void snapshot(void) {
    const char *dir = getenv("DBX_STANDIN_SNAPSHOT");
    if (!dir || !*dir) return;
    // Read once: an unusable value is named once, not at every frame.
    static int32_t every = 0;
    if (every == 0 && !dbx_env_range("DBX_STANDIN_SNAPSHOT_EVERY", 1, INT32_MAX, "it must be 1 or more", &every))
        every = 1;
    if (swaps % static_cast<unsigned long>(every) != 0) return;
    char path[4096];
    snprintf(path, sizeof path, "%s/frame-%05lu.png", dir, swaps);
    if (standin_save_png(path, screen.data(), display_width, display_height) != 0)
        fprintf(stderr, "standin: cannot write %s\n", path);
}

// Copies the current window's pixels onto the screen at its element.
void compose(const window_surface &win) {
    if (win.element == 0 || win.element > elements.size()) return;
    const standin_element_t &el = elements[win.element - 1];
    need_display();
    size_t bytes = static_cast<size_t>(win.width) * static_cast<size_t>(win.height) * 4;
    if (layer.size() < bytes) layer.resize(bytes);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glReadPixels(0, 0, win.width, win.height, GL_RGBA, GL_UNSIGNED_BYTE, layer.data());
    bool fixed = (el.alpha.flags & 3) == DISPMANX_FLAGS_ALPHA_FIXED_ALL_PIXELS;
    uint32_t opacity = el.alpha_given ? el.alpha.opacity : 255;
    if (opacity > 255) opacity = 255;
    int w = el.dest.width < win.width ? el.dest.width : win.width;
    int h = el.dest.height < win.height ? el.dest.height : win.height;
    for (int row = 0; row < h; row++) {
        int sy = el.dest.y + row;
        if (sy < 0 || sy >= static_cast<int>(display_height)) continue;
        // GL rows run bottom-up; the screen's run top-down.
        const unsigned char *src = &layer[static_cast<size_t>(win.height - 1 - row) * win.width * 4];
        for (int col = 0; col < w; col++) {
            int sx = el.dest.x + col;
            if (sx < 0 || sx >= static_cast<int>(display_width)) continue;
            unsigned char *dst = &screen[(static_cast<size_t>(sy) * display_width + sx) * 4];
            const unsigned char *px = src + static_cast<size_t>(col) * 4;
            uint32_t a = el.alpha_given && fixed ? opacity : px[3];
            for (int c = 0; c < 3; c++) dst[c] = static_cast<unsigned char>((px[c] * a + dst[c] * (255 - a) + 127) / 255);
            dst[3] = 255;
        }
    }
}

}  // namespace

// ---------------------------------------------------------------- controls

void standin_set_display_size(uint32_t width, uint32_t height) {
    display_width = width;
    display_height = height;
    screen.assign(static_cast<size_t>(width) * height * 4, 0);
    for (size_t i = 3; i < screen.size(); i += 4) screen[i] = 255;
}

const unsigned char *standin_screen(uint32_t *width, uint32_t *height) {
    need_display();
    if (width) *width = display_width;
    if (height) *height = display_height;
    return screen.data();
}

void standin_fill_screen(unsigned char red, unsigned char green, unsigned char blue) {
    need_display();
    for (size_t i = 0; i < screen.size(); i += 4) {
        screen[i] = red;
        screen[i + 1] = green;
        screen[i + 2] = blue;
        screen[i + 3] = 255;
    }
}

int standin_save_png(const char *path, const unsigned char *rgba, uint32_t w, uint32_t h) {
    std::string tmp = std::string(path) + ".tmp";
    unsigned error = lodepng_encode32_file(tmp.c_str(), rgba, w, h);
    if (error) {
        remove(tmp.c_str());
        return static_cast<int>(error);
    }
    if (rename(tmp.c_str(), path) != 0) {
        remove(tmp.c_str());
        return -1;
    }
    return 0;
}

int standin_save_screen(const char *path) {
    need_display();
    return standin_save_png(path, screen.data(), display_width, display_height);
}

unsigned long standin_swaps(void) { return swaps; }

#ifdef DBX_STANDIN_INSTRUMENTS
const standin_element_t *standin_last_element(void) {
    return elements.empty() ? nullptr : &elements.back();
}
void standin_fail_step(const char *step) { failing = step ? step : ""; }
const standin_args_t *standin_args(void) { return &args; }
int standin_call_count(void) { return call_count; }
const char *standin_call(int i) { return i >= 0 && i < call_count ? calls[i] : nullptr; }
void standin_clear_calls(void) { call_count = 0; }
#endif

// ---------------------------------------------------------------- host interface

extern "C" {

void bcm_host_init(void) {
    called("bcm_host_init");
    need_display();
}

void bcm_host_deinit(void) { called("bcm_host_deinit"); }

int32_t graphics_get_display_size(const uint16_t display_number, uint32_t *width, uint32_t *height) {
    called("graphics_get_display_size");
    RECORD(args.size_display = display_number);
    if (fails("graphics_get_display_size") || display_number != 0) return -1;
    need_display();
    *width = display_width;
    *height = display_height;
    return 0;
}

DISPMANX_DISPLAY_HANDLE_T vc_dispmanx_display_open(uint32_t device) {
    called("vc_dispmanx_display_open");
    RECORD(args.open_device = device);
    return device == 0 ? 1 : DISPMANX_NO_HANDLE;
}

DISPMANX_UPDATE_HANDLE_T vc_dispmanx_update_start([[maybe_unused]] int32_t priority) {
    static DISPMANX_UPDATE_HANDLE_T next = 1;
    called("vc_dispmanx_update_start");
    RECORD(args.update_priority = priority);
    return next++;
}

DISPMANX_ELEMENT_HANDLE_T vc_dispmanx_element_add(DISPMANX_UPDATE_HANDLE_T update,
                                                  DISPMANX_DISPLAY_HANDLE_T display, int32_t layer_number,
                                                  const VC_RECT_T *dest_rect,
                                                  DISPMANX_RESOURCE_HANDLE_T src,
                                                  const VC_RECT_T *src_rect,
                                                  DISPMANX_PROTECTION_T protection,
                                                  VC_DISPMANX_ALPHA_T *alpha, DISPMANX_CLAMP_T *clamp,
                                                  DISPMANX_TRANSFORM_T transform) {
    called("vc_dispmanx_element_add");
    elements.push_back(standin_element_t{});
    standin_element_t &el = elements.back();
    el.update = update;
    el.display = display;
    el.layer = layer_number;
    if (dest_rect) el.dest = *dest_rect;
    if (src_rect) el.src = *src_rect;
    el.resource = src;
    el.protection = protection;
    if (alpha) el.alpha = *alpha;
    el.alpha_given = alpha != nullptr;
    el.clamp_given = clamp != nullptr;
    el.transform = transform;
    return static_cast<DISPMANX_ELEMENT_HANDLE_T>(elements.size());
}

int vc_dispmanx_update_submit_sync([[maybe_unused]] DISPMANX_UPDATE_HANDLE_T update) {
    called("vc_dispmanx_update_submit_sync");
    RECORD(args.submitted = update);
    return 0;
}

// ---------------------------------------------------------------- EGL on Mesa

EGLDisplay __wrap_eglGetDisplay(EGLNativeDisplayType display_id) {
    called("eglGetDisplay");
    RECORD(args.display_id = display_id);
    if (fails("eglGetDisplay")) return EGL_NO_DISPLAY;
    if (display_id != EGL_DEFAULT_DISPLAY) return __real_eglGetDisplay(display_id);
    if (surfaceless == EGL_NO_DISPLAY)
        surfaceless = eglGetPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    return surfaceless != EGL_NO_DISPLAY ? surfaceless : __real_eglGetDisplay(display_id);
}

EGLBoolean __wrap_eglInitialize(EGLDisplay dpy, EGLint *major, EGLint *minor) {
    called("eglInitialize");
    RECORD(args.initialize_major_given = major != nullptr);
    RECORD(args.initialize_minor_given = minor != nullptr);
    if (fails("eglInitialize")) return EGL_FALSE;
    return __real_eglInitialize(dpy, major, minor);
}

// A display-manager window is emulated by a pbuffer, so the configuration
// must support pbuffers wherever windows are asked for (the default).
EGLBoolean __wrap_eglChooseConfig(EGLDisplay dpy, const EGLint *attrib_list, EGLConfig *configs,
                                  EGLint config_size, EGLint *num_config) {
    called("eglChooseConfig");
    int n = 0;
    if (attrib_list) {
        while (n < 31 && attrib_list[n] != EGL_NONE) n += 2;
        n = n > 30 ? 30 : n;
    }
#ifdef DBX_STANDIN_INSTRUMENTS
    memset(args.choose_attribs, 0, sizeof args.choose_attribs);
    if (attrib_list) memcpy(args.choose_attribs, attrib_list, static_cast<size_t>(n) * sizeof(EGLint));
    args.choose_attribs[n] = EGL_NONE;
#endif
    RECORD(args.choose_config_size = config_size);
    RECORD(args.choose_num_config_given = num_config != nullptr);
    if (fails("eglChooseConfig")) return EGL_FALSE;
    if (dpy != surfaceless || surfaceless == EGL_NO_DISPLAY)
        return __real_eglChooseConfig(dpy, attrib_list, configs, config_size, num_config);
    EGLint mapped[34];
    bool surface_type = false;
    for (int i = 0; i < n; i += 2) {
        mapped[i] = attrib_list[i];
        mapped[i + 1] = attrib_list[i + 1];
        if (mapped[i] == EGL_SURFACE_TYPE && (mapped[i + 1] & EGL_WINDOW_BIT)) {
            mapped[i + 1] = (mapped[i + 1] & ~EGL_WINDOW_BIT) | EGL_PBUFFER_BIT;
        }
        surface_type = surface_type || mapped[i] == EGL_SURFACE_TYPE;
    }
    if (!surface_type) {
        mapped[n++] = EGL_SURFACE_TYPE;
        mapped[n++] = EGL_PBUFFER_BIT;
    }
    mapped[n] = EGL_NONE;
    return __real_eglChooseConfig(dpy, mapped, configs, config_size, num_config);
}

EGLContext __wrap_eglCreateContext(EGLDisplay dpy, EGLConfig config, EGLContext share_context,
                                   const EGLint *attrib_list) {
    called("eglCreateContext");
    RECORD(args.context_share = share_context);
    RECORD(args.context_attribs_given = attrib_list != nullptr);
    if (fails("eglCreateContext")) return EGL_NO_CONTEXT;
    return __real_eglCreateContext(dpy, config, share_context, attrib_list);
}

EGLSurface __wrap_eglCreateWindowSurface(EGLDisplay dpy, EGLConfig config, EGLNativeWindowType win,
                                         const EGLint *attrib_list) {
    called("eglCreateWindowSurface");
    RECORD(args.window_attribs_given = attrib_list != nullptr);
    if (fails("eglCreateWindowSurface")) return EGL_NO_SURFACE;
    if (dpy != surfaceless || surfaceless == EGL_NO_DISPLAY)
        return __real_eglCreateWindowSurface(dpy, config, win, attrib_list);
    if (!win) return EGL_NO_SURFACE;
    const EGL_DISPMANX_WINDOW_T *window = static_cast<const EGL_DISPMANX_WINDOW_T *>(win);
    RECORD(args.window = *window);
    const EGLint size[] = {EGL_WIDTH, window->width, EGL_HEIGHT, window->height, EGL_NONE};
    EGLSurface surface = eglCreatePbufferSurface(dpy, config, size);
    if (surface == EGL_NO_SURFACE) return EGL_NO_SURFACE;
    surfaces.push_back(window_surface{surface, window->element, window->width, window->height});
    return surface;
}

EGLBoolean __wrap_eglMakeCurrent(EGLDisplay dpy, EGLSurface draw, EGLSurface read, EGLContext ctx) {
    called("eglMakeCurrent");
    RECORD(args.current_draw = draw);
    RECORD(args.current_read = read);
    RECORD(args.current_context = ctx);
    if (fails("eglMakeCurrent")) return EGL_FALSE;
    return __real_eglMakeCurrent(dpy, draw, read, ctx);
}

EGLBoolean __wrap_eglSwapBuffers(EGLDisplay dpy, EGLSurface surface) {
    called("eglSwapBuffers");
    for (size_t i = surfaces.size(); i-- > 0;) {
        if (surfaces[i].surface != surface) continue;
        if (eglGetCurrentSurface(EGL_DRAW) == surface) {
            swaps++;
            compose(surfaces[i]);
            snapshot();
        }
        break;
    }
    return __real_eglSwapBuffers(dpy, surface);
}

#ifdef DBX_STANDIN_INSTRUMENTS
GLenum __wrap_glGetError(void) {
    if (fails("glGetError")) return GL_INVALID_OPERATION;
    return __real_glGetError();
}
#endif

}  // extern "C"
