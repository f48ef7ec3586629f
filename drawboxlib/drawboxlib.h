// drawboxlib: a small sprite engine. Everything it draws lives in fixed-size
// global pools of plain records; nothing is allocated per frame and nothing is
// freed during a run. The application plugs in through four hooks: its
// start-up, update and frame functions (dbx_application_*, linked in by
// name) and dbx_frame_shown (a pointer it may set, called once a frame is
// on the screen).
#ifndef DRAWBOXLIB_H
#define DRAWBOXLIB_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include "settings.h"

// ---------------------------------------------------------------- records

typedef struct dbx_drawbox_st {
    uint32_t used;      // non-zero while the slot holds a live box
    uint32_t visible;   // drawn only when used and visible
    int32_t x1;         // where the untrimmed source image's top-left lands
    int32_t y1;
    uint32_t width;     // carried, not used by the engine
    uint32_t height;
    uint32_t frame;     // index into dbx_frame
    float scale;        // 1.0 = one atlas texel per logical unit
    float rotation;     // degrees, clockwise on screen; exactly 0.0 = unrotated
    float opacity;      // carried, not applied
    struct dbx_drawbox_st *parent, *firstchild, *previous, *next;  // carried
} dbx_drawbox_t;

typedef struct {
    uint32_t used;
    uint32_t frameset;  // index into dbx_frameset
    uint32_t x1, y1;    // top-left texel of the packed rectangle in the atlas
    uint32_t xoffset, yoffset;  // where that rectangle sits in the source image
    uint32_t width, height;     // trimmed size in texels
    char source_name[32];       // NUL-filled; frames are looked up by it
    uint32_t source_width, source_height;
} dbx_frame_t;

typedef struct {
    int32_t used;
    uint32_t textureid;  // GL texture name
    uint32_t size;       // atlas width in texels (atlases are square)
    uint32_t pixelscale;
} dbx_frameset_t;

typedef struct {
    uint32_t deviceid, type, buttoncode, x, y;
} dbx_event_t;

// The input events a platform layer queues (dbx_event_add) for an
// application that sets dbx_platform_events. Pointer events carry the
// position in display pixels in x and y (as int32_t, like dtmp_mousex/y);
// a button's code is buttoncode (1 left, 2 right, 3 middle); a wheel step
// count, positive away from the user, is buttoncode as int32_t. A key's
// code is buttoncode: lower-case ASCII for characters (Tab, Enter, Escape,
// Space and Delete too, named DBX_KEY_*), DBX_KEY_* above 0xff otherwise;
// deviceid holds the DBX_MOD_* bits held with it. A request to close the window is
// DBX_EVENT_QUIT.
enum {
    DBX_EVENT_KEY = 1,
    DBX_EVENT_BUTTONDOWN = 2,
    DBX_EVENT_BUTTONUP = 3,
    DBX_EVENT_MOTION = 4,
    DBX_EVENT_WHEEL = 5,
    DBX_EVENT_QUIT = 6,
};
enum {
    DBX_KEY_TAB = 9,
    DBX_KEY_ENTER = 13,
    DBX_KEY_ESCAPE = 27,
    DBX_KEY_SPACE = 32,
    DBX_KEY_DELETE = 127,
    DBX_KEY_LEFT = 0x100,
    DBX_KEY_RIGHT,
    DBX_KEY_UP,
    DBX_KEY_DOWN,
    DBX_KEY_PAGEUP,
    DBX_KEY_PAGEDOWN,
    DBX_KEY_BACKSPACE,
};
enum { DBX_MOD_SHIFT = 1, DBX_MOD_CTRL = 2 };

// A decoded image: the header is followed directly by width*height RGBA
// pixels in the same block, released with a single free().
typedef struct {
    uint32_t width, height;
} dbx_image_t;

inline unsigned char *dbx_image_pixels(dbx_image_t *image) {
    return reinterpret_cast<unsigned char *>(image + 1);
}

// The frame table is copied from compiled tables and atlas files byte for
// byte, so its layout is fixed.
static_assert(sizeof(dbx_frame_t) == 72, "frame record layout");
static_assert(offsetof(dbx_frame_t, source_name) == 32, "frame record layout");
static_assert(offsetof(dbx_frame_t, source_width) == 64, "frame record layout");
static_assert(offsetof(dbx_drawbox_t, frame) == 24, "drawbox record layout");
static_assert(offsetof(dbx_drawbox_t, opacity) == 36, "drawbox record layout");
static_assert(sizeof(dbx_frameset_t) == 16, "frame set record layout");
static_assert(sizeof(dbx_event_t) == 20, "event record layout");
static_assert(sizeof(dbx_image_t) == 8, "image header is two 32-bit words");
static_assert(sizeof(float) == 4, "32-bit floats");

// ---------------------------------------------------------------- pools

enum {
    DBX_MAX_DRAWBOXES = 5000,
    DBX_MAX_FRAMES = 1000,
    DBX_MAX_FRAMESETS = 20,
    DBX_MAX_EVENTS = 50,
};

extern dbx_drawbox_t dbx_drawbox[DBX_MAX_DRAWBOXES];
extern uint32_t dbx_drawboxes;
extern dbx_frame_t dbx_frame[DBX_MAX_FRAMES];
extern uint32_t dbx_frames;
extern dbx_frameset_t dbx_frameset[DBX_MAX_FRAMESETS];
extern uint32_t dbx_framesets;
extern dbx_event_t dbx_event[DBX_MAX_EVENTS];
extern uint32_t dbx_events;
extern int32_t dbx_reuse_drawboxes;

dbx_drawbox_t *dbx_drawbox_create(void);
int dbx_drawbox_remove(unsigned int i);
int dbx_frame_create(void);
int dbx_frameset_create(void);
dbx_event_t *dbx_event_add(void);
dbx_event_t *dbx_event_get(void);
int dbx_findframe(const char *name);

// Atlas loading: decodes the PNG (from memory when pngsize != 0), uploads it
// as a texture, appends the frame table; returns the frame set index. An
// image that cannot hold the table (see dbx_atlas_problem) is reported and
// makes nothing, like one that cannot be decoded.
int dbx_loadframeset(const char *pngfilename, const unsigned char *pngdata, int pngsize,
                     const void *framesetdata, int frames);
// Why an image of this size cannot be the atlas of these `frames` records
// (packed dbx_frame_t rows, read byte for byte): a frame rectangle that does
// not lie inside the image, or an image wider or taller than max_texture
// (GL_MAX_TEXTURE_SIZE; 0 for no limit). Null when it can; otherwise one line
// of text in a static buffer, naming `name`.
const char *dbx_atlas_problem(const char *name, uint32_t width, uint32_t height, const void *framesetdata,
                              int frames, int32_t max_texture);
// Replaces every byte of the string outside printable ASCII with '?', so a
// name read from a file cannot garble a message line.
void dbx_printable(char *text);

// ---------------------------------------------------------------- display

extern int32_t dbx_screen_width, dbx_screen_height, dbx_screen_pixelscale;
extern int32_t dbx_screen_overscan, dbx_screen_overscanx, dbx_screen_overscany;
extern int32_t dbx_window_width, dbx_window_height;
extern int32_t dbx_fixed_width, dbx_fixed_height;
extern int32_t dbx_viewport_left, dbx_viewport_right, dbx_viewport_top, dbx_viewport_bottom;
extern int32_t dbx_viewport_width, dbx_viewport_height;
// Where the engine's screen lies in the GL surface, in GL window pixels (x
// from the left, y from the bottom): added to every glViewport and glScissor
// of dbx_setviewport. 0 unless a platform layer draws into a bigger surface.
extern int32_t dbx_viewport_originx, dbx_viewport_originy;
extern int dbx_alphamode;
// DBX_AV_OFFSET_MS: how many milliseconds late the display shows a picture
// (a television, a projector); the song clock runs that much ahead of the
// sound. Negative when the sound comes late instead.
extern int32_t dbx_av_offset_ms;
// The largest offset either way: the sound queued ahead of the speaker is
// about a second, so the song clock cannot serve a display or sound delay
// beyond that. A larger DBX_AV_OFFSET_MS is reported and ignored.
enum { DBX_AV_OFFSET_MAX_MS = 1000 };

// The largest window side a layer may have (DBX_WINDOWSIZE), and the largest
// side of a logical resolution (DBX_RESOLUTION). A window side outside 1 to
// this ends the program in dbx_init, as do margins outside 0 to 499; a
// resolution outside it is reported and ignored.
enum { DBX_MAX_LAYER_SIDE = 16384 };

void dbx_init(void);
void dbx_setviewport(void);
// The engine's state as a fresh program has it: empty pools
// and event queue, no reuse of released boxes, the display, configuration,
// viewport and pointer globals 0, the tick clock on the monotonic clock with its
// 25 ms tick, to be restarted. Touches neither GL nor the environment.
void dbx_reset(void);
void dbx_render_to_screen(void);
void dbx_clear(unsigned int red, unsigned int green, unsigned int blue, unsigned int alpha);
// The renderer's batch on its own: writes the triangles of every used,
// visible box into the renderer's static arrays, texture coordinates divided
// by atlas_size; returns the number of vertices. dbx_render_to_screen calls it.
unsigned int dbx_render_build(float atlas_size);
// The four corners of a box as the renderer draws it with frame f, in
// logical units: top-left, top-right, bottom-left, bottom-right of the
// rectangle before its rotation. Returns 1 when the enlarged texture
// rectangle is drawn (rotated or magnified boxes).
int dbx_box_corners(const dbx_drawbox_t &b, const dbx_frame_t &f, float px[4], float py[4]);
// The top-most box drawn at logical (x, y): the highest index in
// first..last-1 among used, visible boxes with a loaded frame whose drawn
// quadrilateral holds the point (edges included); -1 for none.
int dbx_pick(float x, float y, uint32_t first, uint32_t last);
// A point in display pixels (as dtmp_mousex/y) in logical units, through
// the viewport dbx_setviewport set; without a logical size, unchanged.
void dbx_screen_to_logical(int32_t x, int32_t y, float *lx, float *ly);

// ---------------------------------------------------------------- ticks

extern int32_t dbx_ticsize;  // milliseconds per tick
extern int32_t dbx_tics;     // ticks since the clock was restarted

// The time source of the tick clock in milliseconds. Defaults to the
// monotonic clock, which a change of the wall clock (NTP setting a Pi's time
// while the show runs) does not move; an offline renderer or a test points
// it at a clock of its own.
extern uint64_t (*dbx_platform_clock)(void);
uint64_t dbx_monotonic_ms(void);
int dbx_platform_ticready(int restart);

// ---------------------------------------------------------------- platform
// Shared by every platform layer:
void dbx_platform_fatal(const char *title, const char *text);
// A failure a program cannot go on from, outside the display set-up's
// assertions (no display to open, no GL context, no memory for the frames,
// a layer the display cannot show): the message (printf's format) on
// standard error, then the program ends with status 1. Every layer ends
// through this or, when the show is over, dbx_platform_end.
[[noreturn]] void dbx_fail(const char *format, ...) __attribute__((format(printf, 1, 2)));
// No image wider or taller than this is decoded.
enum { DBX_MAX_IMAGE_SIDE = 16384 };
dbx_image_t *dbx_loadpng(const char *filename, const unsigned char *data, int datasize);
// Opens one of the program's own input files (the atlas, a scene file, the
// module) for reading, and only if it is a regular file: a FIFO, a device or
// a folder is never opened for reading, so no program can hang on one.
// Returns the open file; otherwise null, with *kind saying what the path is
// instead ("a FIFO", "a directory", ...), or with *kind null and errno set
// when there is no file to open (a missing file). The file library
// (files/file_io.cpp) defines it for the engine and the tools alike.
FILE *dbx_open_regular(const char *path, const char **kind);
// Where the program's own file `name` (the atlas, a scene file, the module)
// is read from: in the folder DBX_DATA names when it is set; otherwise in
// the working folder when it is there, else in the package's data folder
// beside the program (/usr/share/invitro for /usr/bin/invitro) when it is
// there; a name found nowhere stays as given, relative to the working
// folder. An absolute name is taken as it is. dbx_data_where says where
// the files are looked for, for a message about a missing one.
struct dbx_path {
    char text[4096];
};
dbx_path dbx_data_file(const char *name);
dbx_path dbx_data_where(void);
void dbx_platform_start(void);  // application start-up, then the clock restart
void dbx_platform_pass(void);   // one pass of the main loop
// Called at the end of every pass, once the frame has been swapped onto the
// screen (null: nothing). The song clock uses it to know when its pictures
// are seen.
extern void (*dbx_frame_shown)(void);
// Where the drawing layer lies on a display of the given size: a requested
// window size centred (the odd pixel to the right and bottom; the overscan
// is then ignored), otherwise the display less the overscan margins, each
// margin thousandths of the display's size, truncated.
void dbx_platform_layer_rect(int32_t display_width, int32_t display_height, int32_t *x, int32_t *y,
                             int32_t *width, int32_t *height);

// Set by a layer whose swap does not wait for a display (headless): each
// pass of the main loop then sleeps until the next tick is due.
extern int32_t dbx_platform_unpaced;

// Set by a layer that can show its last frame again without drawing it
// (the capture layer; null otherwise). The application changes its picture
// only in its update, so a pass without one keeps the last frame through
// this hook rather than drawing the same picture again. Returns 0 when the
// frame was kept, -1 when there is none to keep (the pass then draws).
extern int (*dbx_platform_keep)(void);

// The show is over: the application has nothing more to show. The process
// ends with status 0 (exit handlers give a console its screen back), unless
// the layer cannot end its process and sets dbx_platform_finish (the web
// page, which offers to play again).
void dbx_platform_end(void);
extern void (*dbx_platform_finish)(void);

// Set by a layer that runs on a clock of its own (the capture, which
// chooses its frame rate): each pass then runs every update due by its time,
// so the animation keeps its speed at any frame rate. Otherwise a late pass
// runs one update, as a machine that falls behind catches up a tick a pass.
extern int32_t dbx_platform_every_tick;

// Each platform layer provides:
void dbx_platform_init_window(void);
void dbx_platform_swapbuffers(void);
void dbx_platform_poll_input(void);  // mouse / window events, once per pass

// Set by an application that reads input from the event queue: the layer
// then queues keys, buttons, pointer motion, the wheel and close requests
// (DBX_EVENT_*) and no key ends the program by itself.
extern int32_t dbx_platform_events;
// How a layer queues one: at the pointer's position now, a motion right
// after another motion replacing it (a moving pointer cannot fill the
// queue); dropped when the queue is full.
void dbx_platform_queue(uint32_t type, uint32_t code, uint32_t modifiers);
// dbx_application_title (at most 255 bytes of it) when it differs from what
// this last returned, for a layer to show; null while it is unchanged.
const char *dbx_platform_title_changed(void);

// Pointer state in display pixels, y downwards; button code 0 none, 1 left,
// 2 right, 3 middle (cleared by the main loop after every update).
extern int32_t dtmp_mousex, dtmp_mousey, dtmp_mousedown;

// ---------------------------------------------------------------- application hooks
// Defined by the application (the fourth hook, dbx_frame_shown, is above).

int dbx_application_init(void);
int dbx_application_update(void);
int dbx_application_drawframe(void);
extern const char *dbx_application_title;

#endif
