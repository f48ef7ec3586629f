#include "test_app.h"

#include <GLES/gl.h>

#include <cstdlib>
#include <cstring>
#include <initializer_list>

const char *dbx_application_title = "SDL layer test";

int dbx_application_init(void) {
    dbx_init();
    return 0;
}
int dbx_application_update(void) { return 0; }
int dbx_application_drawframe(void) { return 0; }

void sdl_test_reset(void) {
    setenv("SDL_VIDEODRIVER", "offscreen", 1);
    for (const char *name : {"DBX_OVERSCAN", "DBX_OVERSCANX", "DBX_OVERSCANY", "DBX_WINDOWSIZE", "DBX_RESOLUTION"})
        unsetenv(name);
    dbx_screen_overscan = dbx_screen_overscanx = dbx_screen_overscany = 0;
    dbx_window_width = dbx_window_height = 0;
    dbx_fixed_width = dbx_fixed_height = 0;
    dbx_viewport_left = dbx_viewport_right = dbx_viewport_top = dbx_viewport_bottom = 0;
    dbx_viewport_width = dbx_viewport_height = 0;
    dbx_screen_width = dbx_screen_height = 0;
    dtmp_mousex = dtmp_mousey = dtmp_mousedown = 0;
    dbx_drawboxes = 0;
}

rgba sdl_test_pixel(int x, int y) {
    SDL_Window *window = SDL_GL_GetCurrentWindow();
    int w = 0, h = 0;
    SDL_GL_GetDrawableSize(window, &w, &h);
    rgba p{};
    glReadPixels(x, h - 1 - y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, &p);
    return p;
}
