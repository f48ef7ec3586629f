// The capture platform layer: the intro draws into an off-screen pbuffer
// (Mesa's surfaceless EGL, OpenGL ES 1.1) and every buffer swap reads the
// finished frame back. There is no window and no input.
#ifndef DBX_CAPTURE_LAYER_H
#define DBX_CAPTURE_LAYER_H

#include <cstdint>

// The frame size; set before dbx_init (the intro's start-up) opens the display.
extern int32_t dbx_capture_width, dbx_capture_height;

// The last swapped frame: width x height RGBA pixels, top row first, alpha
// 255 everywhere (the screen shows the frame opaque, so the capture does
// too). Made from the GL pixels below on the first call after a swap; black
// before the first swap of a surface.
const unsigned char *dbx_capture_frame(void);

// The last swapped frame as GL handed it over, for readers that take it as
// it is: width x height pixels, bottom row first, BGRA when
// dbx_capture_gl_bgra and RGBA otherwise; alpha is whatever was drawn. The
// swaps take turns between DBX_CAPTURE_GL_BUFFERS buffers, so a frame's
// pixels stay as they are until that many more swaps have passed, for a
// reader on another thread.
enum { DBX_CAPTURE_GL_BUFFERS = 2 };
extern const unsigned char *dbx_capture_gl_pixels;
extern bool dbx_capture_gl_bgra;
extern uint64_t dbx_capture_swaps;  // frames read back so far
extern uint64_t dbx_capture_kept;   // frames kept by dbx_capture_keep so far

// Keeps the last swapped frame as the next one, for a pass that would draw
// the very same picture again: nothing is drawn or read back. Returns 0, or
// -1 when there is no frame of the current surface yet (draw one instead).
int dbx_capture_keep(void);

// Makes a new off-screen surface of another size current, publishes the size
// and fits the viewport to it. Returns 0, or -1 when the surface cannot be made.
int dbx_capture_resize(int32_t width, int32_t height);

#endif
