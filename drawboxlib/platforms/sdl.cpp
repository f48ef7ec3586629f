// The platform layer on SDL2: an OpenGL ES 1.1 context on whatever display
// SDL finds — an X11 or Wayland desktop, or the bare console through the
// kernel's mode setting (KMS/DRM), as on a Raspberry Pi 4/5 with a current
// OS. Only the display, the buffer swap and input live here; the main loop,
// the tick clock and PNG loading are the shared ones.
//
// The drawing area. Full screen, the area is the display less the overscan
// margins; with a requested window size it is a window of that size. Where
// the surface SDL hands out is bigger than the area (overscan margins, or a
// console that shows every window at the display mode's size), the area is
// placed inside it as the firmware layer would be placed on the display, and
// the engine still sees a screen of exactly the area's size: the layer sets
// the engine's viewport origin to the area's corner.
#include "../drawboxlib.h"

#include <SDL.h>
#include <GLES/gl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

static SDL_Window *window;
static SDL_GLContext context;
static int area_x, area_y;    // top-left of the drawing area in the surface, y downwards
static int area_gl_y;         // its bottom edge counted from the surface's bottom (GL)
static int area_w, area_h;
static int surface_w, surface_h;  // drawable size of the window in pixels
static int refresh_hz;            // of the display, for pacing without a vertical blank
static bool self_paced;
static int frames_seen;
static Uint64 count_start, next_swap;

// Nothing to show the intro on: say so once, point at the offline renderer
// and stop. This is not a crash, and not a success either.
[[noreturn]] static void no_display(const char *what) {
    dbx_fail("%s: no display to open (%s: %s); invitro-capture renders the intro to a video file instead.\n",
             dbx_application_title, what, SDL_GetError());
}

// Without a display SDL would fall back to drivers that show nothing; those
// run only when asked for by name (SDL_VIDEODRIVER=offscreen, as the tests
// do). Wayland is left out where it cannot connect anyway (no runtime
// directory), so its client library does not complain on the way.
static void choose_video_drivers(void) {
    if (SDL_GetHint(SDL_HINT_VIDEODRIVER)) return;
    static char list[256];
    list[0] = 0;
    bool wayland_possible = getenv("XDG_RUNTIME_DIR") != nullptr;
    for (int i = 0; i < SDL_GetNumVideoDrivers(); i++) {
        const char *name = SDL_GetVideoDriver(i);
        if (!strcmp(name, "offscreen") || !strcmp(name, "dummy") || !strcmp(name, "evdev")) continue;
        if (!strcmp(name, "wayland") && !wayland_possible) continue;
        if (strlen(list) + strlen(name) + 2 > sizeof list) break;
        if (list[0]) strcat(list, ",");
        strcat(list, name);
    }
    SDL_SetHint(SDL_HINT_VIDEODRIVER, list);
}

// The Pi layer's rule, on the surface SDL gave us, kept inside it: a
// requested size no bigger than the surface, and margins that would leave
// no room keep one pixel.
static void place_area(int *width, int *height) {
    int32_t x, y, w, h;
    dbx_platform_layer_rect(surface_w, surface_h, &x, &y, &w, &h);
    if (w > surface_w) w = surface_w, x = 0;
    if (h > surface_h) h = surface_h, y = 0;
    if (w <= 0) x = (surface_w - 1) / 2, w = surface_w - 2 * x;
    if (h <= 0) y = (surface_h - 1) / 2, h = surface_h - 2 * y;
    area_x = x;
    area_y = y;
    *width = area_w = w;
    *height = area_h = h;
    area_gl_y = surface_h - area_y - *height;
    dbx_viewport_originx = area_x;
    dbx_viewport_originy = area_gl_y;
}

// Where the engine never draws, every buffer shows the same: the margins
// black, the area in the firmware layer's first colour, which letterbox bars
// keep, as on the Pi. The console hands out buffers from a pool that grows
// as the display needs them (Mesa's GBM: up to four, a new one black), so
// every frame paints them before it is shown, not only the first buffers:
// otherwise the bars flicker between black and their colour.
static void clear_rect(int x, int y, int w, int h, float red, float green, float blue) {
    if (w <= 0 || h <= 0) return;
    glScissor(x, y, w, h);
    glClearColor(red, green, blue, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
}

// Everything around the rectangle (x, y, w, h), GL's way up, within the
// rectangle (ox, oy, ow, oh).
static void clear_around(int ox, int oy, int ow, int oh, int x, int y, int w, int h, float red, float green,
                         float blue) {
    clear_rect(ox, oy, x - ox, oh, red, green, blue);
    clear_rect(x + w, oy, ox + ow - x - w, oh, red, green, blue);
    clear_rect(x, oy, w, y - oy, red, green, blue);
    clear_rect(x, y + h, w, oy + oh - y - h, red, green, blue);
}

static void paint_surround(int picture_x, int picture_y, int picture_w, int picture_h) {
    glEnable(GL_SCISSOR_TEST);
    clear_around(0, 0, surface_w, surface_h, area_x, area_gl_y, area_w, area_h, 0.0f, 0.0f, 0.0f);
    // 0.15, 0.25, 0.35 as the bytes they round to (38, 64, 89): a scissored
    // clear on Mesa's software rasteriser truncates 0.25 to 63.
    clear_around(area_x, area_gl_y, area_w, area_h, picture_x, picture_y, picture_w, picture_h, 38 / 255.0f,
                 64 / 255.0f, 89 / 255.0f);
}

// Opening a second time (tests do) replaces the first window.
static void close_window(void) {
    if (context) SDL_GL_DeleteContext(context);
    if (window) SDL_DestroyWindow(window);
    context = nullptr;
    window = nullptr;
}

void dbx_platform_init_window(void) {
    // ES contexts through EGL everywhere, also on X11 where SDL would use GLX.
    SDL_SetHint(SDL_HINT_OPENGL_ES_DRIVER, "1");
    SDL_SetHint(SDL_HINT_VIDEO_X11_FORCE_EGL, "1");
    bool first = !SDL_WasInit(SDL_INIT_VIDEO);
    if (first) {
        choose_video_drivers();
        if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) no_display("SDL");
    }
    const char *driver = SDL_GetCurrentVideoDriver();
    if (!driver) driver = "SDL";
    bool console = !strcmp(driver, "KMSDRM");
    close_window();

    // Set before the GL library is loaded: it picks the ES 1 library.
    SDL_GL_ResetAttributes();
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_ES);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 1);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 1);
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 0);  // the engine draws flat, in order
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);

    if (first && console) {
        // On the console SDL takes the display mode and the keyboard: give
        // them back after exit(0). A desktop window goes with the process.
        atexit(SDL_Quit);
    } else if (first) {
        // The GL library stays loaded for the whole run, also when a window
        // is replaced (SDL unloads it with the last window). The console
        // driver loads it itself, with its first window.
        if (SDL_GL_LoadLibrary(nullptr) != 0) no_display(driver);
    }

    // Full screen is also asked for by size: without a window manager (a
    // bare X server) the full-screen request alone would not be honoured.
    bool windowed = dbx_window_width > 0 && dbx_window_height > 0;
    // No high-DPI surface: a requested size is a size in pixels, and a
    // scaling desktop scales the whole window.
    // An application that reads input (the editor) gets a window the user
    // can resize; the picture follows it.
    Uint32 flags = SDL_WINDOW_OPENGL | (dbx_platform_events ? Uint32{SDL_WINDOW_RESIZABLE} : 0u);
    int width = dbx_window_width, height = dbx_window_height;
    if (!windowed) {
        SDL_DisplayMode desktop{};
        flags |= SDL_WINDOW_FULLSCREEN_DESKTOP;
        if (SDL_GetDesktopDisplayMode(0, &desktop) == 0 && desktop.w > 0 && desktop.h > 0) {
            width = desktop.w;
            height = desktop.h;
        } else {
            width = 640;
            height = 360;
        }
    }
    window = SDL_CreateWindow(dbx_application_title, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                              width, height, flags);
    if (!window) no_display(driver);
    context = SDL_GL_CreateContext(window);
    if (!context) no_display(driver);
    if (SDL_GL_MakeCurrent(window, context) != 0) no_display(driver);
    // A window shows the desktop's pointer; full screen, like the Pi, none,
    // unless the application is pointed with (the editor).
    SDL_ShowCursor(windowed || dbx_platform_events ? SDL_ENABLE : SDL_DISABLE);

    // The swap waits for the vertical blank: that paces the loop.
    SDL_GL_SetSwapInterval(1);
    SDL_DisplayMode mode{};
    refresh_hz = SDL_GetWindowDisplayMode(window, &mode) == 0 && mode.refresh_rate > 0 ? mode.refresh_rate : 60;
    self_paced = false;
    frames_seen = 0;

    SDL_GL_GetDrawableSize(window, &surface_w, &surface_h);
    place_area(&width, &height);

    paint_surround(area_x, area_gl_y, 0, 0);
    // With margins the scissor keeps the engine's clears off them.
    if (width == surface_w && height == surface_h) glDisable(GL_SCISSOR_TEST);
    glViewport(area_x, area_gl_y, width, height);

    dbx_screen_width = width;
    dbx_screen_height = height;
}

// Some displays have no vertical blank to wait for (a virtual X server, a
// compositor with its sync off): there the swap returns at once and the loop
// would spin a core. When a refresh's worth of frames comes in clearly less
// than a second, the layer paces the swaps itself at the refresh rate.
static void pace(void) {
    Uint64 now = SDL_GetPerformanceCounter(), second = SDL_GetPerformanceFrequency();
    if (!self_paced) {
        if (frames_seen == 0) count_start = now;
        if (++frames_seen < refresh_hz) return;
        self_paced = now - count_start < second * 9 / 10;
        frames_seen = 0;
        next_swap = now;
        return;
    }
    next_swap += second / static_cast<Uint64>(refresh_hz);
    if (next_swap <= now) {
        next_swap = now;  // late: no catching up, the tick clock does that
        return;
    }
    SDL_Delay(static_cast<Uint32>((next_swap - now) * 1000 / second));
}

void dbx_platform_swapbuffers(void) {
    // What surrounds the engine's picture (letterboxed, or the whole area),
    // then the engine's own viewport and scissor again.
    bool letterboxed = dbx_viewport_width > 0 && dbx_viewport_height > 0;
    int w = letterboxed ? dbx_viewport_width : area_w, h = letterboxed ? dbx_viewport_height : area_h;
    if (w != surface_w || h != surface_h) {
        int x = area_x + (letterboxed ? dbx_viewport_left : 0);
        int y = area_gl_y + (letterboxed ? dbx_screen_height - dbx_viewport_bottom : 0);
        paint_surround(x, y, w, h);
        dbx_setviewport();
    }
    SDL_GL_SwapWindow(window);
    pace();
}

// Window coordinates to drawing-area pixels (the same unless the surface
// is not the window's size).
static void set_pointer(int x, int y) {
    int ww = 1, wh = 1;
    SDL_GetWindowSize(window, &ww, &wh);
    if (ww > 0 && wh > 0) {
        x = static_cast<int>(static_cast<long long>(x) * surface_w / ww);
        y = static_cast<int>(static_cast<long long>(y) * surface_h / wh);
    }
    dtmp_mousex = x - area_x;
    dtmp_mousey = y - area_y;
}

// The window took a new size: the drawing area is the whole new surface,
// and the engine's screen and viewport follow it.
static void follow_resize(void) {
    if (!window) return;
    int w = 0, h = 0;
    SDL_GL_GetDrawableSize(window, &w, &h);
    if (w <= 0 || h <= 0 || (w == surface_w && h == surface_h)) return;
    surface_w = w;
    surface_h = h;
    area_x = area_y = area_gl_y = 0;
    area_w = dbx_screen_width = w;
    area_h = dbx_screen_height = h;
    dbx_viewport_originx = dbx_viewport_originy = 0;
    glDisable(GL_SCISSOR_TEST);
    dbx_setviewport();
}

static int button_code(Uint8 button) {
    switch (button) {
    case SDL_BUTTON_LEFT: return 1;
    case SDL_BUTTON_RIGHT: return 2;
    case SDL_BUTTON_MIDDLE: return 3;
    default: return 0;
    }
}

// The window title follows dbx_application_title, which an application may
// change while it runs.
static void follow_title(void) {
    if (!window) return;
    if (const char *title = dbx_platform_title_changed()) SDL_SetWindowTitle(window, title);
}

static int key_code(SDL_Keycode sym) {
    switch (sym) {
    case SDLK_LEFT: return DBX_KEY_LEFT;
    case SDLK_RIGHT: return DBX_KEY_RIGHT;
    case SDLK_UP: return DBX_KEY_UP;
    case SDLK_DOWN: return DBX_KEY_DOWN;
    case SDLK_PAGEUP: return DBX_KEY_PAGEUP;
    case SDLK_PAGEDOWN: return DBX_KEY_PAGEDOWN;
    case SDLK_BACKSPACE: return DBX_KEY_BACKSPACE;
    case SDLK_TAB: return DBX_KEY_TAB;
    case SDLK_RETURN: return DBX_KEY_ENTER;
    case SDLK_ESCAPE: return DBX_KEY_ESCAPE;
    case SDLK_SPACE: return DBX_KEY_SPACE;
    case SDLK_DELETE: return DBX_KEY_DELETE;
    default: return sym > 0 && sym < 128 ? static_cast<int>(sym) : 0;
    }
}

static uint32_t modifiers(Uint16 mod) {
    return ((mod & KMOD_SHIFT) ? uint32_t{DBX_MOD_SHIFT} : 0u) | ((mod & KMOD_CTRL) ? uint32_t{DBX_MOD_CTRL} : 0u);
}

// Drains SDL's queue once per pass. The intro has no way out of its own;
// on a desktop Escape, Q or closing the window ends it. An application that
// reads events (dbx_platform_events) gets them queued instead: what the
// engine's queue cannot take this pass stays in SDL's for the next, so a
// burst of keys is never dropped. Closing the window is one request, though
// SDL reports it twice (the window's close, then the quit it implies).
void dbx_platform_poll_input(void) {
    follow_title();
    SDL_Event event;
    const bool queue = dbx_platform_events != 0;
    static bool closing;  // a window close was queued: the quit after it is the same request
    while ((!queue || dbx_events < DBX_MAX_EVENTS) && SDL_PollEvent(&event)) {
        const bool was_closing = closing;
        closing = false;
        switch (event.type) {
        case SDL_QUIT:
            if (!queue) dbx_platform_end();
            if (!was_closing) dbx_platform_queue(DBX_EVENT_QUIT, 0, 0);
            break;
        case SDL_WINDOWEVENT:
            if (event.window.event == SDL_WINDOWEVENT_SIZE_CHANGED && queue) follow_resize();
            if (event.window.event != SDL_WINDOWEVENT_CLOSE) {
                closing = was_closing;
                break;
            }
            if (!queue) dbx_platform_end();
            dbx_platform_queue(DBX_EVENT_QUIT, 0, 0);
            closing = true;
            break;
        case SDL_KEYDOWN:
            if (queue) {
                int code = key_code(event.key.keysym.sym);
                if (code) dbx_platform_queue(DBX_EVENT_KEY, static_cast<uint32_t>(code), modifiers(event.key.keysym.mod));
            } else if (event.key.keysym.sym == SDLK_ESCAPE || event.key.keysym.sym == SDLK_q) {
                dbx_platform_end();
            }
            break;
        case SDL_MOUSEMOTION:
            set_pointer(event.motion.x, event.motion.y);
            if (queue) dbx_platform_queue(DBX_EVENT_MOTION, 0, 0);
            break;
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP: {
            int code = button_code(event.button.button);
            set_pointer(event.button.x, event.button.y);
            bool down = event.type == SDL_MOUSEBUTTONDOWN;
            if (code && down) dtmp_mousedown = code;
            if (code && queue)
                dbx_platform_queue(down ? DBX_EVENT_BUTTONDOWN : DBX_EVENT_BUTTONUP, static_cast<uint32_t>(code), 0);
            break;
        }
        case SDL_MOUSEWHEEL:
            if (queue && event.wheel.y != 0) {
                int32_t steps = event.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -event.wheel.y : event.wheel.y;
                dbx_platform_queue(DBX_EVENT_WHEEL, static_cast<uint32_t>(steps), modifiers(SDL_GetModState()));
            }
            break;
        default:
            break;
        }
    }
}
