// The scene editor: an application on the engine beside the intro, sharing
// its scene table, box art and song clock. It edits one box art file
// (data/NAME.dat, with its text source assets/scenes/NAME.txt) in a model of
// its own, which it copies onto the engine's pool to draw and pick.
#ifndef EDITOR_H
#define EDITOR_H

#include "boxart_format.h"
#include "drawboxlib/drawboxlib.h"

#include <cstdint>
#include <cstdio>

// One box of the scene as the file stores it, and which box of the text
// source it was when the scene was opened or last saved (-1: made since).
struct ed_box_t {
    int32_t x1, y1;
    uint32_t frame;
    float scale, rotation;
    extra_t e;
    int32_t origin;
};

enum {
    ED_MARKERS = 4,                               // pool slots after the scene's boxes
    ED_MAX_BOXES = DBX_MAX_DRAWBOXES - ED_MARKERS,
    ED_UNDO_STEPS = 256,                          // undo and redo reach this far back
    ED_PALETTE_COLUMNS = 5,
};

// Which field of the animation the -/= keys change (',' and '.' choose).
enum ed_field_t {
    ED_SPIN, ED_MODE, ED_EXTRA1, ED_EXTRA2, ED_HOME_X, ED_HOME_Y, ED_SCALE1, ED_TIMING, ED_FIELDS
};

extern ed_box_t ed_boxes[ED_MAX_BOXES];
extern int ed_count;
extern int ed_selected;       // -1: none
extern uint32_t ed_frame;     // the frame a new box gets
extern int ed_field;
extern int ed_dirty;          // changes since the last save
extern int ed_palette;        // the frame palette is showing
extern int ed_playing;        // the scene plays to the music
extern int ed_quit_asked;     // a way out was asked for with unsaved changes
// The text source and the scene file disagree (it does not build the file,
// or another program changed it since it was read): saving waits for the
// user's choice, T (take the text: the model becomes what it builds) or
// R (replace the text with the model's).
enum ed_conflict_t { ED_AGREE, ED_TEXT_DIFFERS, ED_TEXT_CHANGED };
extern int ed_conflict;
extern uint32_t ed_atlas_frames;  // the atlas's own frames; those after stand in for frames it lacks
extern int ed_scene;          // the scene table's scene that shows the file (-1: none)
extern char ed_status[256];   // the selected box's fields, or what just happened

// Set before the application starts (main takes it from the command line).
extern const char *ed_name;
// Called after both files were written (null: nothing). The web page hands
// them over to the user's disk and returns true: the save then counts only
// once ed_handed_over says they arrived.
extern bool (*ed_saved)(const char *dat_path, const char *txt_path);
// The page's word on the hand-over: `ok`, or not, with what happened.
void ed_handed_over(bool ok, const char *what);

// Why NAME cannot name a scene (a path separator, too long, empty), or null.
enum { ED_NAME_MAX = 63 };
const char *ed_bad_name(const char *name);

// Opens data/NAME.dat and its text source (in DBX_DATA when it is set);
// false (with a message on stderr) when the file cannot be read. Needs the
// atlas loaded. Finishes or drops what a save cut short left beside them.
bool ed_open(const char *name);
// Writes both files safely: the pair is either both old or both new after
// a failure, and after a kill at any point once ed_open has run again.
// false when they could not be written (both are then left as they were).
bool ed_save(void);
// The scene's files as the editor reads and writes them.
const char *ed_dat_path(void);
const char *ed_txt_path(void);
// The marker a save's part files carry after the file's own name.
#define ED_PART_TAG ".invitro-edit-part"

// The overlay (overlay.cpp): its texels into the atlas (false when the
// atlas has no room left for them; the status line is then in the title
// only), a frame standing in for one the atlas lacks, named `name` (-1
// when there is no room), and the status lines drawn over this frame.
bool ed_overlay_load(void);
int ed_missing_frame(const char *name);
void ed_overlay_draw(const char *const lines[], int count);
// The status line as drawn: the box's fields, and what happened or is asked.
extern char ed_fields_line[400];

// One input event as the layers queue it (DBX_EVENT_*).
void ed_event(const dbx_event_t &e);

// Undo and redo; false when there is nothing to undo or redo.
bool ed_undo(void);
bool ed_redo(void);

// The model onto the engine's pool: the boxes in order, every one visible,
// then the selection's corner markers (or the palette, when it shows).
void ed_sync(void);
// The box under a point in display pixels (the top-most), or -1.
int ed_pick(int32_t x, int32_t y);
// The palette cell of frame `frame` (its box while the palette shows).
void ed_palette_cell(uint32_t frame, float *x, float *y, float *scale);

void ed_play(bool on);
void ed_reset(void);

// Every input of the editor (commands.cpp): what the user does (`input`, as
// the docs' table says it) and what that does; a key's row also has its code,
// the modifiers it needs, when it acts and its action, given whether Shift is
// held. A key row without words is one more key of the row above it. The
// keys are dispatched from it, the usage text and the docs' table are it.
// When a key acts: always, while editing (not playing), while editing with
// the boxes showing (not the palette), or while the text source and the
// scene file disagree. The modifiers it needs: by default no Ctrl and
// either Shift.
enum { ED_ALWAYS, ED_EDITING, ED_BOXES, ED_CONFLICT };
enum { ED_CTRL = 1, ED_ANY_CTRL = 2, ED_SHIFT = 4, ED_NO_SHIFT = 8 };
struct ed_input_t {
    const char *input, *does;
    uint32_t code;
    uint8_t mods, when;
    void (*act)(bool shift);
};
extern const ed_input_t ed_inputs[];
extern const int ed_input_count;
// The inputs with their words, for the usage text.
void ed_print_inputs(FILE *out);

// ---------------------------------------------------------------- between the editor's files

// The undo ring (undo.cpp): each of these edits the model as one step; a
// change to a box that leaves it as it is makes none. ed_edits counts every
// step done, undone or redone.
void ed_change(int index, const ed_box_t &after);
void ed_insert(int at, const ed_box_t &box);
void ed_remove(int at);
void ed_swap(int low, int moved);  // boxes low and low + 1; `moved` is where the moved box goes
void ed_undo_clear(void);
// The boxes the steps hold renumbered after a save: origin o becomes
// renumber[o] (o below count), any other -1.
void ed_undo_renumber(const int *renumber, int count);
extern unsigned ed_edits;

// The files (files.cpp): the model as the scene file's bytes, which the
// scene scripts read while it plays; T and R when the text disagrees; the
// scene's background as its script sets it.
void ed_encode_model(void);
void ed_take_text(void);
void ed_replace_text(void);
void ed_files_reset(void);
extern unsigned char ed_bg_edit;

// Playing (play.cpp): one update while the scene plays, and the song
// position it plays from.
void ed_play_update(void);
int ed_play_position(void);

void ed_commands_reset(void);

#endif
