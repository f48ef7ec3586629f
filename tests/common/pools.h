// Shared by the tests: the engine's pools as a fresh program has them.
#ifndef TESTS_COMMON_POOLS_H
#define TESTS_COMMON_POOLS_H

#include "drawboxlib/drawboxlib.h"

#include <cstring>

// Empty, zeroed drawbox, frame and frame set pools, no reuse of released
// boxes, and a drained event queue.
inline void empty_pools(void) {
    memset(dbx_drawbox, 0, sizeof dbx_drawbox);
    memset(dbx_frame, 0, sizeof dbx_frame);
    memset(dbx_frameset, 0, sizeof dbx_frameset);
    dbx_drawboxes = dbx_frames = dbx_framesets = 0;
    dbx_reuse_drawboxes = 0;
    while (dbx_event_get()) {
    }
}

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
