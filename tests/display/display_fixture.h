// Shared set-up of the display tests: the engine's globals back to their
// start values, the emulated display, and small atlases made on the spot.
#ifndef DISPLAY_FIXTURE_H
#define DISPLAY_FIXTURE_H

#include "drawboxlib/drawboxlib.h"
#include "standin.h"

#include <GLES/gl.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

// The engine as a fresh program has it (dbx_reset), no DBX_ variables in the
// environment, no failing step, the test application's counters 0.
void reset_engine(void);

// The stand-in display at the given size, then dbx_init with the intro's
// logical resolution and alpha mode (the environment may override them).
void open_display(uint32_t width, uint32_t height);

// An RGBA image of the given size, every pixel transparent black.
struct rgba_image {
    uint32_t width, height;
    std::vector<unsigned char> pixels;
    rgba_image(uint32_t w, uint32_t h) : width(w), height(h), pixels(static_cast<size_t>(w) * h * 4, 0) {}
    void fill(uint32_t x, uint32_t y, uint32_t w, uint32_t h, unsigned char r, unsigned char g, unsigned char b,
              unsigned char a = 255);
    std::vector<unsigned char> png(void) const;
};

dbx_frame_t make_frame(const char *name, uint32_t x1, uint32_t y1, uint32_t xoffset, uint32_t yoffset,
                       uint32_t width, uint32_t height);

// A pixel of the emulated screen (rows top-down).
struct screen_pixel {
    unsigned char r, g, b, a;
};
screen_pixel screen_at(uint32_t x, uint32_t y);

// What the test application's hooks saw.
extern int app_updates;
extern int32_t app_mousedown_seen;

#endif
