// The platform layer in a web browser (emscripten): a WebGL context on the
// page's canvas, served the engine's OpenGL ES 1.1 calls by emscripten's
// legacy GL emulation. The main loop is the shared one, run once per
// animation frame of the browser; the tick clock is the shared one too.
//
// The canvas fills the browser window, in device pixels, and the engine
// letterboxes its logical resolution into it; when the window changes size
// (or goes full screen, on F or a double click) the screen size and the
// viewport follow on the next pass. Browsers start sound only after a user
// gesture, so the page shows its start screen and calls web_start on the
// first click.
#include "../drawboxlib.h"

#include <EGL/egl.h>
#include <GLES/gl.h>
#include <emscripten.h>
#include <emscripten/html5.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

static EGLDisplay display;
static EGLSurface surface;
static double pixel_ratio = 1.0;
static bool resized;

static const char canvas_id[] = "#canvas";
static const char stage_id[] = "#stage";  // the canvas's parent, what goes full screen

[[noreturn]] static void no_webgl(const char *step) {
    const unsigned error = static_cast<unsigned>(eglGetError());
    EM_ASM({ if (Module.webFailed) Module.webFailed("This browser cannot show the intro: WebGL is not available."); });
    dbx_fail("%s: no WebGL context (%s failed, EGL error 0x%x)\n", dbx_application_title, step, error);
}

// The canvas's drawing buffer in device pixels, from its size on the page.
static void fit_canvas(int *width, int *height) {
    double css_w = 0, css_h = 0;
    emscripten_get_element_css_size(canvas_id, &css_w, &css_h);
    pixel_ratio = emscripten_get_device_pixel_ratio();
    if (pixel_ratio <= 0) pixel_ratio = 1.0;
    *width = static_cast<int>(css_w * pixel_ratio + 0.5);
    *height = static_cast<int>(css_h * pixel_ratio + 0.5);
    if (*width < 1) *width = 1;
    if (*height < 1) *height = 1;
    emscripten_set_canvas_element_size(canvas_id, *width, *height);
}

// A page cannot end its process: at the end of the show it keeps the last
// picture and offers to play again.
static void web_finish(void) {
    EM_ASM({ if (Module.webEnded) Module.webEnded(); });
}

void dbx_platform_init_window(void) {
    dbx_platform_finish = web_finish;
    int width, height;
    fit_canvas(&width, &height);

    display = eglGetDisplay(EGL_DEFAULT_DISPLAY);
    if (display == EGL_NO_DISPLAY) no_webgl("eglGetDisplay");
    if (!eglInitialize(display, nullptr, nullptr)) no_webgl("eglInitialize");
    static const EGLint attributes[] = {EGL_RED_SIZE,     8, EGL_GREEN_SIZE,   8,
                                        EGL_BLUE_SIZE,    8, EGL_ALPHA_SIZE,   8,
                                        EGL_SURFACE_TYPE, EGL_WINDOW_BIT,   EGL_NONE};
    EGLConfig config;
    EGLint configs = 0;
    if (!eglChooseConfig(display, attributes, &config, 1, &configs) || configs < 1)
        no_webgl("eglChooseConfig");
    surface = eglCreateWindowSurface(display, config, 0, nullptr);
    if (surface == EGL_NO_SURFACE) no_webgl("eglCreateWindowSurface");
    // The browser makes WebGL contexts only; the legacy GL emulation serves
    // the fixed-function calls on top of them.
    static const EGLint context_attributes[] = {EGL_CONTEXT_CLIENT_VERSION, 2, EGL_NONE};
    EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, context_attributes);
    if (context == EGL_NO_CONTEXT) no_webgl("eglCreateContext");
    if (!eglMakeCurrent(display, surface, surface, context)) no_webgl("eglMakeCurrent");

    glClearColor(0.15f, 0.25f, 0.35f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    dbx_screen_width = width;
    dbx_screen_height = height;
}

void dbx_platform_swapbuffers(void) {
    // The browser shows the canvas when the animation frame returns.
    eglSwapBuffers(display, surface);
}

// ---------------------------------------------------------------- input

static void set_pointer(const EmscriptenMouseEvent *event) {
    dtmp_mousex = static_cast<int32_t>(static_cast<double>(event->targetX) * pixel_ratio);
    dtmp_mousey = static_cast<int32_t>(static_cast<double>(event->targetY) * pixel_ratio);
}

static EM_BOOL on_mouse(int type, const EmscriptenMouseEvent *event, void *) {
    set_pointer(event);
    // DOM buttons: 0 left, 1 middle, 2 right.
    static const int32_t codes[3] = {1, 3, 2};
    const int32_t code = event->button <= 2 ? codes[event->button] : 0;
    if (type == EMSCRIPTEN_EVENT_MOUSEDOWN && code) dtmp_mousedown = code;
    if (!dbx_platform_events) return EM_FALSE;
    if (type == EMSCRIPTEN_EVENT_MOUSEMOVE) dbx_platform_queue(DBX_EVENT_MOTION, 0, 0);
    if (type == EMSCRIPTEN_EVENT_MOUSEDOWN && code) dbx_platform_queue(DBX_EVENT_BUTTONDOWN, static_cast<uint32_t>(code), 0);
    if (type == EMSCRIPTEN_EVENT_MOUSEUP && code) dbx_platform_queue(DBX_EVENT_BUTTONUP, static_cast<uint32_t>(code), 0);
    return EM_FALSE;
}

static EM_BOOL on_wheel(int, const EmscriptenWheelEvent *event, void *) {
    if (!dbx_platform_events || event->deltaY == 0) return EM_FALSE;
    set_pointer(&event->mouse);
    const uint32_t mods = event->mouse.shiftKey ? uint32_t{DBX_MOD_SHIFT} : 0u;
    dbx_platform_queue(DBX_EVENT_WHEEL, static_cast<uint32_t>(event->deltaY < 0 ? 1 : -1), mods);
    return EM_TRUE;  // the page does not scroll
}

// A DOM key name as the engine's key code (0: none).
static uint32_t key_code(const char *key) {
    static const struct {
        const char *name;
        uint32_t code;
    } named[] = {{"ArrowLeft", DBX_KEY_LEFT}, {"ArrowRight", DBX_KEY_RIGHT}, {"ArrowUp", DBX_KEY_UP},
                 {"ArrowDown", DBX_KEY_DOWN}, {"PageUp", DBX_KEY_PAGEUP},    {"PageDown", DBX_KEY_PAGEDOWN},
                 {"Backspace", DBX_KEY_BACKSPACE}, {"Tab", DBX_KEY_TAB}, {"Enter", DBX_KEY_ENTER}, {"Escape", DBX_KEY_ESCAPE}, {"Delete", DBX_KEY_DELETE}};
    for (const auto &k : named)
        if (!strcmp(key, k.name)) return k.code;
    const unsigned char c = static_cast<unsigned char>(key[0]);
    if (!c || key[1] || c >= 128) return 0;
    // Shifted characters by their unshifted keys, as a keyboard's key codes are.
    if (c >= 'A' && c <= 'Z') return c - 'A' + 'a';
    if (c == '{') return '[';
    if (c == '}') return ']';
    if (c == '+') return '=';
    if (c == '_') return '-';
    if (c == '<') return ',';
    if (c == '>') return '.';
    return c;
}

static void toggle_fullscreen(void) {
    EmscriptenFullscreenChangeEvent state;
    if (emscripten_get_fullscreen_status(&state) == EMSCRIPTEN_RESULT_SUCCESS && state.isFullscreen)
        emscripten_exit_fullscreen();
    else
        emscripten_request_fullscreen(stage_id, 1);
}

// Keys the engine's queue had no room for, in order, for the next passes:
// the browser delivers a burst of keys between two frames.
static struct {
    uint32_t code, mods;
} held_keys[1024];
static uint32_t held_first, held_count;

static void queue_held_keys(void) {
    while (held_count > 0 && dbx_events < DBX_MAX_EVENTS) {
        dbx_platform_queue(DBX_EVENT_KEY, held_keys[held_first].code, held_keys[held_first].mods);
        held_first = (held_first + 1) % (sizeof held_keys / sizeof held_keys[0]);
        held_count--;
    }
}

static EM_BOOL on_key(int, const EmscriptenKeyboardEvent *event, void *) {
    if (dbx_platform_events) {
        const uint32_t code = key_code(event->key);
        if (!code || event->altKey || event->metaKey) return EM_FALSE;
        const uint32_t mods = (event->shiftKey ? uint32_t{DBX_MOD_SHIFT} : 0u) | (event->ctrlKey ? uint32_t{DBX_MOD_CTRL} : 0u);
        const uint32_t room = sizeof held_keys / sizeof held_keys[0];
        if (held_count == 0 && dbx_events < DBX_MAX_EVENTS) {
            dbx_platform_queue(DBX_EVENT_KEY, code, mods);
        } else if (held_count < room) {
            held_keys[(held_first + held_count++) % room] = {code, mods};
        } else {
            fprintf(stderr, "%s: more keys than can be held; a key was dropped\n", dbx_application_title);
        }
        return EM_TRUE;  // not the browser's: Tab, Ctrl+S, Ctrl+D...
    }
    if (event->repeat || event->ctrlKey || event->altKey || event->metaKey) return EM_FALSE;
    if (!strcmp(event->key, "f") || !strcmp(event->key, "F")) {
        toggle_fullscreen();
        return EM_TRUE;
    }
    return EM_FALSE;
}

static EM_BOOL on_double_click(int, const EmscriptenMouseEvent *, void *) {
    // An application pointed with (the editor) has its own use for clicks.
    if (dbx_platform_events) return EM_FALSE;
    toggle_fullscreen();
    return EM_TRUE;
}

static EM_BOOL on_resize(int, const EmscriptenUiEvent *, void *) {
    resized = true;
    return EM_FALSE;
}

static EM_BOOL on_fullscreen(int, const EmscriptenFullscreenChangeEvent *, void *) {
    resized = true;
    return EM_FALSE;
}

// The browser delivers events between animation frames through the
// callbacks above (queued as DBX_EVENT_* for an application that reads
// them); a pass shows a changed title and applies a change of the window's
// size.
void dbx_platform_poll_input(void) {
    queue_held_keys();
    if (const char *title = dbx_platform_title_changed())
        EM_ASM({ if (Module.onTitle) Module.onTitle(UTF8ToString($0)); }, title);
    if (!resized) return;
    resized = false;
    int width, height;
    fit_canvas(&width, &height);
    if (width == dbx_screen_width && height == dbx_screen_height) return;
    dbx_screen_width = width;
    dbx_screen_height = height;
    glDisable(GL_SCISSOR_TEST);
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    dbx_setviewport();
}

// ---------------------------------------------------------------- the loop

// One pass of the shared main loop per animation frame; the page may watch
// every frame (the browser test does).
static void web_pass(void) {
    dbx_platform_pass();
    EM_ASM({ if (Module.onframe) Module.onframe(); });
}

extern "C" EMSCRIPTEN_KEEPALIVE void web_start(void) {
    static bool started;
    if (started) return;
    started = true;
    emscripten_set_mousemove_callback(canvas_id, nullptr, EM_FALSE, on_mouse);
    emscripten_set_mousedown_callback(canvas_id, nullptr, EM_FALSE, on_mouse);
    emscripten_set_mouseup_callback(canvas_id, nullptr, EM_FALSE, on_mouse);
    emscripten_set_wheel_callback(canvas_id, nullptr, EM_FALSE, on_wheel);
    emscripten_set_dblclick_callback(canvas_id, nullptr, EM_FALSE, on_double_click);
    emscripten_set_keydown_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, nullptr, EM_FALSE, on_key);
    emscripten_set_resize_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, nullptr, EM_FALSE, on_resize);
    emscripten_set_fullscreenchange_callback(EMSCRIPTEN_EVENT_TARGET_DOCUMENT, nullptr, EM_FALSE, on_fullscreen);
    dbx_platform_start();
    emscripten_set_main_loop(web_pass, 0, 0);
}

// The page loads, shows its start screen and waits for the first click.
int main() {
    EM_ASM({ if (Module.webReady) Module.webReady(); });
    return 0;
}
