// The capture platform layer: an off-screen OpenGL ES 1.1 surface on Mesa's
// surfaceless EGL platform, so the intro renders on a machine with no display
// and no GPU. The swap reads the frame back instead of showing it.
#include "capture_layer.h"

#include "../drawboxlib.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GLES/gl.h>
#include <GLES/glext.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int32_t dbx_capture_width = 1280, dbx_capture_height = 720;
const unsigned char *dbx_capture_gl_pixels;
bool dbx_capture_gl_bgra;
uint64_t dbx_capture_swaps;
uint64_t dbx_capture_kept;

static EGLDisplay display = EGL_NO_DISPLAY;
static EGLConfig config;
static EGLContext context = EGL_NO_CONTEXT;
static EGLSurface surface = EGL_NO_SURFACE;
static unsigned char *readback[DBX_CAPTURE_GL_BUFFERS];  // GL's rows, bottom row first
static int last_readback;        // the buffer of the last swap
static unsigned char *rgba;      // dbx_capture_frame's pixels
static bool rgba_stale;          // a swap came after rgba was made
static bool have_frame;          // a frame of this surface was swapped

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "pixels are swizzled as little-endian words");

// Display set-up has no way back: a failed step ends the program with the
// step's name, since nothing could be captured without it.
static void egl_check(bool ok, const char *step) {
    if (ok) return;
    dbx_fail("invitro-capture: %s failed (EGL error 0x%04x); the off-screen display needs Mesa's EGL "
             "(libegl-mesa0) with OpenGL ES 1.1\n", step, static_cast<unsigned>(eglGetError()));
}

static int make_surface(int32_t width, int32_t height) {
    const EGLint attributes[] = {EGL_WIDTH, width, EGL_HEIGHT, height, EGL_NONE};
    EGLSurface fresh = eglCreatePbufferSurface(display, config, attributes);
    if (fresh == EGL_NO_SURFACE) return -1;
    if (!eglMakeCurrent(display, fresh, fresh, context)) {
        eglDestroySurface(display, fresh);
        return -1;
    }
    if (surface != EGL_NO_SURFACE) eglDestroySurface(display, surface);
    surface = fresh;
    size_t bytes = static_cast<size_t>(width) * static_cast<size_t>(height) * 4;
    bool allocated = true;
    for (unsigned char *&buffer : readback) {
        free(buffer);
        buffer = static_cast<unsigned char *>(calloc(bytes, 1));
        allocated = allocated && buffer;
    }
    free(rgba);
    rgba = static_cast<unsigned char *>(calloc(bytes, 1));
    if (!allocated || !rgba) dbx_fail("invitro-capture: out of memory for the frame buffers\n");
    last_readback = 0;
    dbx_capture_gl_pixels = readback[0];
    have_frame = rgba_stale = false;
    dbx_capture_width = width;
    dbx_capture_height = height;
    dbx_screen_width = width;
    dbx_screen_height = height;
    // The bars around a letterboxed picture keep what the surface showed
    // first: black, as on a screen.
    glDisable(GL_SCISSOR_TEST);
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    // Mesa keeps the surface as BGRA: read that way the pixels come out in
    // one copy, while asking for RGBA converts every pixel inside GL.
    GLint format = 0, type = 0;
    glGetIntegerv(GL_IMPLEMENTATION_COLOR_READ_FORMAT_OES, &format);
    glGetIntegerv(GL_IMPLEMENTATION_COLOR_READ_TYPE_OES, &type);
    dbx_capture_gl_bgra = format == GL_BGRA_EXT && type == GL_UNSIGNED_BYTE;
    glGetError();  // without the query's extension: plain RGBA
    return 0;
}

void dbx_platform_init_window(void) {
    display = eglGetPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    egl_check(display != EGL_NO_DISPLAY, "eglGetPlatformDisplay(surfaceless)");
    egl_check(eglInitialize(display, nullptr, nullptr), "eglInitialize");
    egl_check(eglBindAPI(EGL_OPENGL_ES_API), "eglBindAPI");
    const EGLint request[] = {EGL_RED_SIZE, 8, EGL_GREEN_SIZE, 8, EGL_BLUE_SIZE, 8, EGL_ALPHA_SIZE, 8,
                              EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RENDERABLE_TYPE, EGL_OPENGL_ES_BIT,
                              EGL_NONE};
    EGLint found = 0;
    egl_check(eglChooseConfig(display, request, &config, 1, &found) && found > 0, "eglChooseConfig");
    const EGLint version[] = {EGL_CONTEXT_CLIENT_VERSION, 1, EGL_NONE};
    context = eglCreateContext(display, config, EGL_NO_CONTEXT, version);
    egl_check(context != EGL_NO_CONTEXT, "eglCreateContext");
    dbx_platform_keep = dbx_capture_keep;
    dbx_platform_every_tick = 1;
    egl_check(dbx_capture_width > 0 && dbx_capture_height > 0 &&
                  make_surface(dbx_capture_width, dbx_capture_height) == 0,
              "eglCreatePbufferSurface");
}

int dbx_capture_resize(int32_t width, int32_t height) {
    if (width <= 0 || height <= 0 || display == EGL_NO_DISPLAY) return -1;
    if (make_surface(width, height) != 0) return -1;
    dbx_setviewport();
    return 0;
}

// One pixel of GL's (a BGRA or RGBA word) as opaque RGBA.
template <bool bgra> static inline uint32_t opaque_rgba(uint32_t p) {
    if (bgra) p = (p & 0x0000ff00u) | ((p >> 16) & 0xffu) | ((p & 0xffu) << 16);
    return p | 0xff000000u;
}

// One row of GL's pixels as opaque RGBA, four pixels at a time, which the
// compiler turns into vector code.
template <bool bgra> static void opaque_rgba_row(const unsigned char *from, unsigned char *to, size_t pixels) {
    size_t x = 0;
    uint32_t p[4];
    for (; x + 4 <= pixels; x += 4) {
        memcpy(p, from + x * 4, sizeof p);
        for (uint32_t &q : p) q = opaque_rgba<bgra>(q);
        memcpy(to + x * 4, p, sizeof p);
    }
    for (; x < pixels; x++) {
        memcpy(p, from + x * 4, 4);
        p[0] = opaque_rgba<bgra>(p[0]);
        memcpy(to + x * 4, p, 4);
    }
}

void dbx_platform_swapbuffers(void) {
    last_readback = (last_readback + 1) % DBX_CAPTURE_GL_BUFFERS;
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, dbx_capture_width, dbx_capture_height, dbx_capture_gl_bgra ? GL_BGRA_EXT : GL_RGBA,
                 GL_UNSIGNED_BYTE, readback[last_readback]);
    dbx_capture_gl_pixels = readback[last_readback];
    have_frame = rgba_stale = true;
    dbx_capture_swaps++;
}

// GL hands the rows over bottom first; the frame is kept top row first, as
// image files and video encoders expect.
const unsigned char *dbx_capture_frame(void) {
    if (!rgba_stale) return rgba;
    const size_t row = static_cast<size_t>(dbx_capture_width) * 4;
    for (int32_t y = 0; y < dbx_capture_height; y++) {
        const unsigned char *from = dbx_capture_gl_pixels + static_cast<size_t>(dbx_capture_height - 1 - y) * row;
        unsigned char *to = rgba + static_cast<size_t>(y) * row;
        if (dbx_capture_gl_bgra)
            opaque_rgba_row<true>(from, to, static_cast<size_t>(dbx_capture_width));
        else
            opaque_rgba_row<false>(from, to, static_cast<size_t>(dbx_capture_width));
    }
    rgba_stale = false;
    return rgba;
}

int dbx_capture_keep(void) {
    if (!have_frame) return -1;
    dbx_capture_kept++;
    return 0;
}

void dbx_platform_poll_input(void) {}
