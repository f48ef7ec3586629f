// The raw Linux mouse: 3-byte PS/2 packets read without blocking from
// "/dev/input/mouse0", one packet per poll at most.
#ifndef DBX_RAWMOUSE_H
#define DBX_RAWMOUSE_H

#include <cstdint>

// The device the poll opens (while it has no descriptor, it tries again on
// every poll).
extern const char *dbx_rawmouse_device;

// One poll with the layer size. Returns the packet's button bits (1 to 7)
// when it took a button packet, leaving *mousex and *mousey alone; otherwise
// applies any movement, clamps it and publishes the position (x from the
// left, y from the top of the layer) and returns 0.
int dbx_rawmouse_poll(int width, int height, int32_t *mousex, int32_t *mousey);

// Starts over with the descriptor fd (which should be non-blocking; -1 for
// none) and the pointer at its start position.
void dbx_rawmouse_reset(int fd);

#endif
