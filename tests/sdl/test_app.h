// A minimal application for the SDL layer tests: it opens the display through
// the engine and draws nothing, so the tests see the platform layer alone.
#ifndef SDL_TEST_APP_H
#define SDL_TEST_APP_H

#include "drawboxlib/drawboxlib.h"

#include <SDL.h>

// The engine as a fresh program has it (dbx_reset), none of the environment
// variables the tests use, and SDL's offscreen driver, before each test.
void sdl_test_reset(void);

// The back buffer's pixel at (x, y), y counted from the top of the window.
struct rgba { unsigned char r, g, b, a; };
rgba sdl_test_pixel(int x, int y);

#endif
