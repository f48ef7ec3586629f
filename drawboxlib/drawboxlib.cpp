// drawboxlib: pools, atlas loading, configuration, viewport and renderer.
#include "drawboxlib.h"

#include <cstdlib>
#include <cstring>

// ---------------------------------------------------------------- pools

dbx_drawbox_t dbx_drawbox[DBX_MAX_DRAWBOXES];
uint32_t dbx_drawboxes;
dbx_frame_t dbx_frame[DBX_MAX_FRAMES];
uint32_t dbx_frames;
dbx_frameset_t dbx_frameset[DBX_MAX_FRAMESETS];
uint32_t dbx_framesets;
dbx_event_t dbx_event[DBX_MAX_EVENTS];
uint32_t dbx_events;
int32_t dbx_reuse_drawboxes;
static uint32_t dbx_nextevent;

dbx_drawbox_t *dbx_drawbox_create(void) {
    uint32_t slot = dbx_drawboxes;
    if (dbx_reuse_drawboxes) {
        for (uint32_t i = 0; i < dbx_drawboxes; i++) {
            if (!dbx_drawbox[i].used) {
                slot = i;
                break;
            }
        }
    }
    if (slot == dbx_drawboxes) {
        if (dbx_drawboxes >= DBX_MAX_DRAWBOXES) return nullptr;
        dbx_drawboxes++;
    }
    dbx_drawbox[slot].used = 1;
    return &dbx_drawbox[slot];
}

int dbx_drawbox_remove(unsigned int i) {
    // An index outside the pool is ignored rather than written past the table.
    if (i < DBX_MAX_DRAWBOXES) dbx_drawbox[i].used = 0;
    return 0;
}

// Frames and frame sets always look for a hole first, then append.
template <typename T, uint32_t N>
static int pool_take(T (&pool)[N], uint32_t &count) {
    uint32_t slot = count;
    for (uint32_t i = 0; i < count; i++) {
        if (!pool[i].used) {
            slot = i;
            break;
        }
    }
    if (slot == count) {
        if (count >= N) return -1;
        count++;
    }
    pool[slot].used = 1;
    return static_cast<int>(slot);
}

int dbx_frame_create(void) { return pool_take(dbx_frame, dbx_frames); }
int dbx_frameset_create(void) { return pool_take(dbx_frameset, dbx_framesets); }

dbx_event_t *dbx_event_add(void) {
    if (dbx_events >= DBX_MAX_EVENTS) return nullptr;
    return &dbx_event[dbx_events++];
}

dbx_event_t *dbx_event_get(void) {
    if (dbx_nextevent < dbx_events) return &dbx_event[dbx_nextevent++];
    dbx_events = 0;
    dbx_nextevent = 0;
    return nullptr;
}

int dbx_findframe(const char *name) {
    for (uint32_t i = 0; i < dbx_frames && i < DBX_MAX_FRAMES; i++) {
        if (strncmp(name, dbx_frame[i].source_name, sizeof dbx_frame[i].source_name) == 0)
            return static_cast<int>(i);
    }
    return -1;
}

// ---------------------------------------------------------------- display (to be completed)

int32_t dbx_screen_width, dbx_screen_height, dbx_screen_pixelscale;
int32_t dbx_screen_overscan, dbx_screen_overscanx, dbx_screen_overscany;
int32_t dbx_window_width, dbx_window_height;
int32_t dbx_fixed_width, dbx_fixed_height;
int32_t dbx_viewport_left, dbx_viewport_right, dbx_viewport_top, dbx_viewport_bottom;
int32_t dbx_viewport_width, dbx_viewport_height;
int dbx_alphamode;

void dbx_init(void) { dbx_platform_init_window(); }
void dbx_setviewport(void) {}
void dbx_render_to_screen(void) { dbx_platform_swapbuffers(); }
void dbx_clear(unsigned int, unsigned int, unsigned int, unsigned int) {}
int dbx_loadframeset(const char *pngfilename, const unsigned char *pngdata, int pngsize, const void *, int) {
    dbx_image_t *image = dbx_loadpng(pngfilename, pngdata, pngsize);
    if (!image) return 0;
    free(image);
    return dbx_frameset_create();
}
