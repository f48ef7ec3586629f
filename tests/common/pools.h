// Shared by the tests: boxes put into the engine's pool.
#ifndef TESTS_COMMON_POOLS_H
#define TESTS_COMMON_POOLS_H

#include "drawboxlib/drawboxlib.h"

// A visible box of the frame at (x, y); null when the pool is full.
inline dbx_drawbox_t *add_box(uint32_t frame, int32_t x, int32_t y, float scale, float rotation) {
    dbx_drawbox_t *b = dbx_drawbox_create();
    if (!b) return nullptr;
    b->visible = 1;
    b->frame = frame;
    b->x1 = x;
    b->y1 = y;
    b->scale = scale;
    b->rotation = rotation;
    return b;
}

#endif
