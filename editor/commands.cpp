// The editor's commands: the edits the mouse and the keys make, and the one
// table of every input (ed_inputs) that the keys are dispatched from and the
// usage text is printed from.
#include "editor.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

static int drag = -1;         // the box being dragged
static ed_box_t drag_before;  // as it was when the drag began
static float grab_x, grab_y;  // where it was taken, from its x1, y1

static void move_by(ed_box_t &b, int32_t dx, int32_t dy) {
    b.x1 += dx;
    b.y1 += dy;
    // The jitter home moves with the box.
    b.e.x1 += dx;
    b.e.y1 += dy;
}

static void nudge(int32_t dx, int32_t dy) {
    if (ed_selected < 0) return;
    ed_box_t b = ed_boxes[ed_selected];
    move_by(b, dx, dy);
    ed_change(ed_selected, b);
}

static float round3(double v) { return static_cast<float>(std::round(v * 1000.0) / 1000.0); }

// The scale and the pulse's base scale by the same factor.
static void scale_by(double factor) {
    if (ed_selected < 0) return;
    ed_box_t b = ed_boxes[ed_selected];
    float s = round3(b.scale * factor);
    if (s < 0.01f) s = 0.01f;
    if (s == b.scale) s = round3(b.scale + (factor > 1.0 ? 0.001 : -0.001));
    if (s < 0.01f) return;
    if (b.scale > 0.0f) b.e.scale1 = round3(b.e.scale1 * (static_cast<double>(s) / b.scale));
    b.scale = s;
    ed_change(ed_selected, b);
}

static void rotate_by(float degrees) {
    if (ed_selected < 0) return;
    ed_box_t b = ed_boxes[ed_selected];
    float r = std::fmod(b.rotation + degrees, 360.0f);
    b.rotation = r == 0.0f ? 0.0f : r;  // never -0
    ed_change(ed_selected, b);
}

static void step_frame(int by) {
    if (ed_atlas_frames == 0) return;
    uint32_t n = ed_atlas_frames;
    if (ed_selected < 0) {
        ed_frame = static_cast<uint32_t>((static_cast<int64_t>(ed_frame % n) + by + n) % n);
        return;
    }
    ed_box_t b = ed_boxes[ed_selected];
    b.frame = static_cast<uint32_t>((static_cast<int64_t>(b.frame < n ? b.frame : 0) + by + n) % n);
    ed_frame = b.frame;
    ed_change(ed_selected, b);
}

static void set_field(int by) {
    if (ed_selected < 0) return;
    ed_box_t b = ed_boxes[ed_selected];
    int32_t *fields[ED_FIELDS] = {&b.e.delta_rot, &b.e.animationmode, &b.e.extra1, &b.e.extra2,
                                  &b.e.x1,        &b.e.y1,            nullptr,     &b.e.timing};
    if (ed_field == ED_SCALE1)
        b.e.scale1 = round3(b.e.scale1 + by * 0.01);
    else if (ed_field == ED_MODE)
        b.e.animationmode = ((b.e.animationmode + by) % 3 + 3) % 3;
    else
        *fields[ed_field] += by;
    ed_change(ed_selected, b);
}

static void new_box(int32_t px, int32_t py, const ed_box_t *like) {
    if (ed_count >= ED_MAX_BOXES) return;
    ed_box_t b{};
    if (like) {
        b = *like;
        move_by(b, 10, 10);
    } else {
        float lx, ly;
        dbx_screen_to_logical(px, py, &lx, &ly);
        b.frame = ed_frame < ed_atlas_frames ? ed_frame : 0;
        b.scale = 1.0f;
        b.e.scale1 = 1.0f;
        // The frame's middle under the pointer.
        const dbx_frame_t &f = dbx_frame[b.frame];
        b.x1 = static_cast<int32_t>(lroundf(lx - static_cast<float>(f.source_width) * 0.5f));
        b.y1 = static_cast<int32_t>(lroundf(ly - static_cast<float>(f.source_height) * 0.5f));
        b.e.x1 = b.x1;
        b.e.y1 = b.y1;
    }
    b.origin = -1;
    int at = ed_selected >= 0 && like ? ed_selected + 1 : ed_count;
    ed_insert(at, b);
}

static void remove_selected(void) {
    if (ed_selected < 0) return;
    ed_remove(ed_selected);
}

// Down (-1) or up (+1) in the drawing order.
static void reorder(int by) {
    if (ed_selected < 0) return;
    int low = by < 0 ? ed_selected - 1 : ed_selected;
    if (low < 0 || low + 1 >= ed_count) return;
    ed_swap(low, by < 0 ? low : low + 1);
}

static void press(const dbx_event_t &e) {
    float lx, ly;
    dbx_screen_to_logical(static_cast<int32_t>(e.x), static_cast<int32_t>(e.y), &lx, &ly);
    int hit = ed_pick(static_cast<int32_t>(e.x), static_cast<int32_t>(e.y));
    if (ed_palette) {
        if (hit < 0) return;
        ed_frame = static_cast<uint32_t>(hit);
        ed_palette = 0;
        if (ed_selected >= 0) {
            ed_box_t b = ed_boxes[ed_selected];
            b.frame = ed_frame;
            ed_change(ed_selected, b);
        }
        ed_sync();
        return;
    }
    ed_selected = hit;
    ed_sync();
    if (hit < 0) return;
    drag = hit;
    drag_before = ed_boxes[hit];
    grab_x = lx - static_cast<float>(drag_before.x1);
    grab_y = ly - static_cast<float>(drag_before.y1);
}

static void motion(const dbx_event_t &e) {
    if (drag < 0) return;
    float lx, ly;
    dbx_screen_to_logical(static_cast<int32_t>(e.x), static_cast<int32_t>(e.y), &lx, &ly);
    ed_box_t &b = ed_boxes[drag];
    move_by(b, static_cast<int32_t>(lroundf(lx - grab_x)) - b.x1, static_cast<int32_t>(lroundf(ly - grab_y)) - b.y1);
    ed_sync();
}

// A drag is one step, from where it began to where it ended.
static void release(void) {
    if (drag < 0) return;
    ed_box_t after = ed_boxes[drag];
    ed_boxes[drag] = drag_before;
    int which = drag;
    drag = -1;
    ed_change(which, after);
    ed_sync();
}

// Every way out (Escape, the window's close, SIGTERM and SIGINT, which SDL
// turns into a close) asks once more while there are unsaved edits.
static void ask_quit(void) {
    if (!ed_dirty || ed_quit_asked) exit(0);
    ed_quit_asked = 1;
    snprintf(ed_status, sizeof ed_status, "unsaved edits: Escape again quits%s",
             ed_playing ? "" : " (Ctrl+S saves)");
}

static const char quit_question[] = "unsaved edits: Escape again quits";

// Escape closes the palette, or else asks to quit.
static void escape(bool) {
    if (!ed_palette) return ask_quit();
    ed_palette = 0;
    ed_sync();
}

static void select_next(bool backwards) {
    if (ed_count == 0) return;
    if (backwards)
        ed_selected = ed_selected <= 0 ? ed_count - 1 : ed_selected - 1;
    else
        ed_selected = (ed_selected + 1) % ed_count;
    ed_sync();
}

static int step_of(bool shift) { return shift ? 10 : 1; }

// Every input of the editor, in the order of the docs' table; a key row
// without words of its own is one more key of the row above it.
const ed_input_t ed_inputs[] = {
    {"click", "selects the top-most box under the pointer (exactly, also for rotated and scaled boxes); a click on "
              "no box selects nothing", 0, 0, 0, nullptr},
    {"drag", "moves the box (one undo step for the whole drag)", 0, 0, 0, nullptr},
    {"wheel", "scales the box by 1.1 a notch (with Shift 1.01)", 0, 0, 0, nullptr},
    {"Q / E", "rotates by 1 degree anticlockwise / clockwise (with Shift 15)", 'q', 0, ED_BOXES,
     [](bool shift) { rotate_by(shift ? -15.0f : -1.0f); }},
    {nullptr, nullptr, 'e', 0, ED_BOXES, [](bool shift) { rotate_by(shift ? 15.0f : 1.0f); }},
    {"arrow keys", "move the box by 1 unit (with Shift 10)", DBX_KEY_LEFT, 0, ED_BOXES,
     [](bool shift) { nudge(-step_of(shift), 0); }},
    {nullptr, nullptr, DBX_KEY_RIGHT, 0, ED_BOXES, [](bool shift) { nudge(step_of(shift), 0); }},
    {nullptr, nullptr, DBX_KEY_UP, 0, ED_BOXES, [](bool shift) { nudge(0, -step_of(shift)); }},
    {nullptr, nullptr, DBX_KEY_DOWN, 0, ED_BOXES, [](bool shift) { nudge(0, step_of(shift)); }},
    {"Tab / Shift+Tab", "selects the next / previous box in drawing order", DBX_KEY_TAB, 0, ED_BOXES, select_next},
    {"PageUp / PageDown", "steps the box's frame through the atlas (without a selection: the frame new boxes get)",
     DBX_KEY_PAGEUP, 0, ED_BOXES, [](bool) { step_frame(-1); }},
    {nullptr, nullptr, DBX_KEY_PAGEDOWN, 0, ED_BOXES, [](bool) { step_frame(1); }},
    {"F", "shows the palette of every atlas frame; a click on one gives it to the selected box (or to new boxes); F "
          "or Escape closes it", 'f', 0, ED_EDITING, [](bool) {
         ed_palette = !ed_palette;
         ed_sync();
     }},
    {"N", "a new box of the current frame, its middle under the pointer, drawn on top", 'n', 0, ED_BOXES,
     [](bool) { new_box(dtmp_mousex, dtmp_mousey, nullptr); }},
    {"Delete, Backspace", "removes the box", DBX_KEY_DELETE, 0, ED_BOXES, [](bool) { remove_selected(); }},
    {nullptr, nullptr, DBX_KEY_BACKSPACE, 0, ED_BOXES, [](bool) { remove_selected(); }},
    {"Ctrl+D", "duplicates the box, 10 units right and down, just above it", 'd', ED_CTRL, ED_EDITING, [](bool) {
         if (ed_selected >= 0) new_box(0, 0, &ed_boxes[ed_selected]);
     }},
    {"[ and ]", "moves the box one down / up in drawing order", '[', 0, ED_BOXES, [](bool) { reorder(-1); }},
    {nullptr, nullptr, ']', 0, ED_BOXES, [](bool) { reorder(1); }},
    {", and .", "choose the animation field: spin, mode, extra1, extra2, home x, home y, scale1, timing", ',', 0,
     ED_BOXES, [](bool) { ed_field = (ed_field + ED_FIELDS - 1) % ED_FIELDS; }},
    {nullptr, nullptr, '.', 0, ED_BOXES, [](bool) { ed_field = (ed_field + 1) % ED_FIELDS; }},
    {"- and =", "change that field by 1 (with Shift 10; scale1 by 0.01; mode cycles 0, 1 jitter, 2 pulse)", '-', 0,
     ED_BOXES, [](bool shift) { set_field(-step_of(shift)); }},
    {nullptr, nullptr, '=', 0, ED_BOXES, [](bool shift) { set_field(step_of(shift)); }},
    {"Ctrl+Z / Ctrl+Shift+Z (or Ctrl+Y)", "undo / redo, 256 steps back", 'z', ED_CTRL | ED_NO_SHIFT, ED_EDITING,
     [](bool) { ed_undo(); }},
    {nullptr, nullptr, 'z', ED_CTRL | ED_SHIFT, ED_EDITING, [](bool) { ed_redo(); }},
    {nullptr, nullptr, 'y', ED_CTRL, ED_EDITING, [](bool) { ed_redo(); }},
    {"Space", "plays the scene to the music; Space again returns to editing", DBX_KEY_SPACE, ED_ANY_CTRL, ED_ALWAYS,
     [](bool) { ed_play(!ed_playing); }},
    {"Ctrl+S", "saves", 's', ED_CTRL, ED_EDITING, [](bool) { ed_save(); }},
    {"T / R", "when the text and the scene file disagree: T takes the text, R replaces it (see Saving)", 't', 0,
     ED_CONFLICT, [](bool) { ed_take_text(); }},
    {nullptr, nullptr, 'r', 0, ED_CONFLICT, [](bool) { ed_replace_text(); }},
    {"Escape, closing the window, SIGTERM, SIGINT", "quits; with unsaved edits the first request only asks "
     "(\"unsaved edits: Escape again quits\" on the status line), the second quits without saving; any other key "
     "takes the question back", DBX_KEY_ESCAPE, ED_ANY_CTRL, ED_ALWAYS, escape},
};
const int ed_input_count = sizeof ed_inputs / sizeof ed_inputs[0];

static void key(uint32_t code, uint32_t mods) {
    const bool shift = (mods & DBX_MOD_SHIFT) != 0, ctrl = (mods & DBX_MOD_CTRL) != 0;
    release();  // a drag ends before any key acts, so its step comes first
    if (code != DBX_KEY_ESCAPE && ed_quit_asked) {
        // Any other key takes the question back.
        ed_quit_asked = 0;
        if (!strncmp(ed_status, quit_question, sizeof quit_question - 1)) ed_status[0] = 0;
    }
    for (const ed_input_t &row : ed_inputs) {
        if (!row.act || row.code != code) continue;
        if ((row.mods & ED_CTRL) ? !ctrl : (ctrl && !(row.mods & ED_ANY_CTRL))) continue;
        if (((row.mods & ED_SHIFT) && !shift) || ((row.mods & ED_NO_SHIFT) && shift)) continue;
        if (row.when != ED_ALWAYS && ed_playing) return;
        if (row.when == ED_CONFLICT && ed_conflict == ED_AGREE) continue;
        if (row.when == ED_BOXES && ed_palette) return;
        return row.act(shift);
    }
}

void ed_event(const dbx_event_t &e) {
    switch (e.type) {
    case DBX_EVENT_KEY: return key(e.buttoncode, e.deviceid);
    case DBX_EVENT_QUIT: return ask_quit();
    default: break;
    }
    if (ed_playing) return;
    switch (e.type) {
    case DBX_EVENT_BUTTONDOWN:
        if (e.buttoncode == 1) press(e);
        break;
    case DBX_EVENT_BUTTONUP:
        if (e.buttoncode == 1) release();
        break;
    case DBX_EVENT_MOTION: motion(e); break;
    case DBX_EVENT_WHEEL: {
        int32_t steps_up = static_cast<int32_t>(e.buttoncode);
        scale_by(std::pow((e.deviceid & DBX_MOD_SHIFT) ? 1.01 : 1.1, steps_up));
        break;
    }
    default: break;
    }
}

void ed_print_inputs(FILE *out) {
    for (const ed_input_t &row : ed_inputs) {
        if (!row.input) continue;
        fprintf(out, "  %s\n", row.input);
        // The words wrapped at 78 columns, six spaces in.
        const char *at = row.does;
        while (*at) {
            size_t take = strlen(at);
            if (take > 72) {
                take = 72;
                while (take > 0 && at[take] != ' ') take--;
                if (take == 0) take = strcspn(at, " ");
            }
            fprintf(out, "      %.*s\n", static_cast<int>(take), at);
            at += take;
            while (*at == ' ') at++;
        }
    }
}

void ed_commands_reset(void) { drag = -1; }
