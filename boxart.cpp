// Box art files and box animation (to be completed).
#include "boxart.h"

extra_t extra[DBX_MAX_DRAWBOXES];
uint32_t rseed = 12345;
dbx_drawbox_t *cursordb = &dbx_drawbox[DBX_MAX_DRAWBOXES - 1];

uint32_t randomint(void) {
    rseed = (rseed * 125u) % 2796203u;
    return rseed;
}

void boxart_load(const char *, int) {}
void boxart_loadfile(const char *) {}
void boxart_save(const char *, int, int) {}
void spinboxes(void) {}
