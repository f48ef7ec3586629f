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
    dbx_reset();
}

rgba sdl_test_pixel(int x, int y) {
    SDL_Window *window = SDL_GL_GetCurrentWindow();
    int w = 0, h = 0;
    SDL_GL_GetDrawableSize(window, &w, &h);
    rgba p{};
    glReadPixels(x, h - 1 - y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, &p);
    return p;
}
