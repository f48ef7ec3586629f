// Box art scene files: the byte format with its reader and writer, the
// per-box animation table, and the per-tick box animation.
#ifndef BOXART_H
#define BOXART_H

#include "drawboxlib/drawboxlib.h"

#include <cstddef>
#include <cstdint>

// Animation parameters of one box, in the same order and widths as stored
// in a box art file.
typedef struct {
    int32_t delta_rot;      // degrees added to the rotation every tick
    int32_t animationmode;  // 1 jitter, 2 pulse, anything else neither
    int32_t extra1;
    int32_t extra2;
    int32_t x1, y1;         // jitter home position
    float scale1;           // pulse base scale
    int32_t timing;         // pulse phase in ticks
} extra_t;
static_assert(sizeof(extra_t) == 32, "animation record is 32 bytes in files");

extern extra_t extra[DBX_MAX_DRAWBOXES];

enum {
    BOXART_FRAME_ITEM = 33,  // type byte + 32-byte frame name
    BOXART_BOX_ITEM = 49,    // type byte + x1, y1, scale, rotation + extra_t
    BOXART_FILE_MAX = 64000, // a file is read in one buffer of this size
};

void boxart_load(const char *data, int datasize);
void boxart_loadfile(const char *filename);
void boxart_save(const char *filename, int dbfirst, int dblast);

// Box animation.
extern uint32_t rseed;
extern dbx_drawbox_t *cursordb;
uint32_t randomint(void);
void spinboxes(void);

#endif
