// Box art scene files read into and written from the engine's pools, the
// per-box animation table, and the per-tick box animation.
#ifndef BOXART_H
#define BOXART_H

#include "drawboxlib/drawboxlib.h"
#include "boxart_format.h"

#include <cstdio>

// The animation parameters of every box, by pool slot.
extern extra_t extra[DBX_MAX_DRAWBOXES];

// A box whose frame is not one of the loaded frames (its name matched none)
// keeps this frame index; the renderer skips it and the writer stores it
// under an empty frame name.
enum : uint32_t { BOXART_NO_FRAME = 0xffffffffu };

void boxart_load(const char *data, int datasize);
void boxart_loadfile(const char *filename);
// The problems of a scene file's bytes as read, one line each on `out`
// naming the file: empty, no box, bytes that are not items, frame names the
// loaded frames lack, and (`cut`) more bytes than were read. Returns how many
// lines it wrote. boxart_loadfile reports every file it loads this way.
int boxart_check(const char *filename, const char *data, int datasize, bool cut, FILE *out);
// Boxes dbfirst..dblast-1 with their animation as a box art file, written
// safely: a temporary file renamed over the old one, which a failed write
// leaves as it was.
void boxart_save(const char *filename, int dbfirst, int dblast);
// The bytes boxart_save writes, into `out` as far as `room` allows; returns
// their whole size.
size_t boxart_encode(unsigned char *out, size_t room, int dbfirst, int dblast);
// An application that holds a scene file's bytes itself (an editor with
// unsaved changes) returns them here for that file name, with their size;
// boxart_loadfile then loads them instead of the file. Null: files only.
extern const char *(*boxart_open_hook)(const char *filename, int *size);

// Box animation.
extern uint32_t rseed;
extern dbx_drawbox_t *cursordb;
uint32_t randomint(void);
void spinboxes(void);

#endif
