// The scene editor. The scene is a model of its own (ed_boxes), copied onto
// the engine's pool to be drawn and picked, with the selection marked; this
// file holds that view, the editor's state and its application hooks and
// title. Its other concerns have files of their own: the undo ring
// (undo.cpp), the files (files.cpp), playing (play.cpp), the commands and
// their key table (commands.cpp) and the status line (overlay.cpp).
#include "editor.h"

#include "boxart.h"
#include "intro.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

ed_box_t ed_boxes[ED_MAX_BOXES];
int ed_count;
int ed_selected = -1;
uint32_t ed_frame;
int ed_field;
int ed_dirty;
int ed_palette;
int ed_playing;
int ed_quit_asked;
int ed_scene = -1;
int ed_conflict;
uint32_t ed_atlas_frames;
char ed_status[256];
char ed_fields_line[400];
const char *ed_name = "";
bool (*ed_saved)(const char *dat_path, const char *txt_path);

// ---------------------------------------------------------------- the pool

void ed_palette_cell(uint32_t frame, float *x, float *y, float *scale) {
    const uint32_t rows = (ed_atlas_frames + ED_PALETTE_COLUMNS - 1) / ED_PALETTE_COLUMNS;
    const float w = 640.0f / ED_PALETTE_COLUMNS, h = 360.0f / static_cast<float>(rows ? rows : 1);
    const dbx_frame_t &f = dbx_frame[frame];
    float sw = static_cast<float>(f.source_width ? f.source_width : 1);
    float sh = static_cast<float>(f.source_height ? f.source_height : 1);
    *scale = fminf((w - 8.0f) / sw, (h - 8.0f) / sh);
    *x = static_cast<float>(frame % ED_PALETTE_COLUMNS) * w + (w - sw * *scale) * 0.5f;
    *y = static_cast<float>(frame / ED_PALETTE_COLUMNS) * h + (h - sh * *scale) * 0.5f;
}

static void put_pool_box(uint32_t slot, uint32_t frame, int32_t x, int32_t y, float scale, float rotation) {
    dbx_drawbox_t &d = dbx_drawbox[slot];
    d = dbx_drawbox_t{};
    d.used = 1;
    d.visible = 1;
    d.frame = frame;
    d.x1 = x;
    d.y1 = y;
    d.scale = scale;
    d.rotation = rotation;
}

// The selection's corners, each marked by a small red star centred on it.
static void put_markers(uint32_t slot, const dbx_drawbox_t &box) {
    const int star = dbx_findframe("redstart0.png");
    if (star < 0 || box.frame >= dbx_frames) return;
    float px[4], py[4];
    dbx_box_corners(box, dbx_frame[box.frame], px, py);
    const dbx_frame_t &f = dbx_frame[star];
    const float s = 0.75f;
    for (int c = 0; c < ED_MARKERS; c++) {
        float cx = static_cast<float>(f.xoffset) + static_cast<float>(f.width) * 0.5f;
        float cy = static_cast<float>(f.yoffset) + static_cast<float>(f.height) * 0.5f;
        put_pool_box(slot + static_cast<uint32_t>(c), static_cast<uint32_t>(star),
                     static_cast<int32_t>(lroundf(px[c] - cx * s)), static_cast<int32_t>(lroundf(py[c] - cy * s)), s,
                     0.0f);
    }
    dbx_drawboxes = slot + ED_MARKERS;
}

void ed_sync(void) {
    if (ed_playing) return;  // the scene script owns the pool
    if (ed_palette) {
        uint32_t n = ed_atlas_frames < ED_MAX_BOXES ? ed_atlas_frames : uint32_t{ED_MAX_BOXES};
        for (uint32_t i = 0; i < n; i++) {
            float x, y, s;
            ed_palette_cell(i, &x, &y, &s);
            put_pool_box(i, i, static_cast<int32_t>(lroundf(x)), static_cast<int32_t>(lroundf(y)), s, 0.0f);
        }
        dbx_drawboxes = n;
        uint32_t current = ed_selected >= 0 ? ed_boxes[ed_selected].frame : ed_frame;
        if (current < n) put_markers(n, dbx_drawbox[current]);
        return;
    }
    for (int i = 0; i < ed_count; i++) {
        const ed_box_t &b = ed_boxes[i];
        put_pool_box(static_cast<uint32_t>(i), b.frame, b.x1, b.y1, b.scale, b.rotation);
        extra[i] = b.e;
    }
    dbx_drawboxes = static_cast<uint32_t>(ed_count);
    if (ed_selected >= 0 && ed_selected < ed_count) put_markers(static_cast<uint32_t>(ed_count), dbx_drawbox[ed_selected]);
}

int ed_pick(int32_t x, int32_t y) {
    float lx, ly;
    dbx_screen_to_logical(x, y, &lx, &ly);
    uint32_t last = ed_palette ? (ed_atlas_frames < ED_MAX_BOXES ? ed_atlas_frames : uint32_t{ED_MAX_BOXES})
                               : static_cast<uint32_t>(ed_count);
    return dbx_pick(lx, ly, 0, last);
}

void ed_reset(void) {
    ed_count = 0;
    ed_selected = -1;
    ed_frame = 0;
    ed_field = 0;
    ed_dirty = ed_palette = ed_playing = ed_quit_asked = 0;
    ed_scene = -1;
    ed_status[0] = 0;
    ed_conflict = ED_AGREE;
    ed_atlas_frames = 0;
    ed_edits = 0;
    ed_undo_clear();
    ed_files_reset();
    ed_commands_reset();
    boxart_open_hook = nullptr;
    ed_saved = nullptr;
}

// ---------------------------------------------------------------- the application

static char title[512];
const char *dbx_application_title = "invitro-edit";

static void update_title(void) {
    static const char *const names[ED_FIELDS] = {"spin", "mode", "extra1", "extra2",
                                                 "home x", "home y", "scale1", "timing"};
    char box[320] = "";
    if (ed_playing) {
        snprintf(box, sizeof box, "playing from song position %d (Space: back to editing)", ed_play_position());
    } else if (ed_palette) {
        snprintf(box, sizeof box, "palette: click a frame (F: back) | frame \"%.31s\"",
                 ed_frame < dbx_frames ? dbx_frame[ed_frame].source_name : "?");
    } else if (ed_selected >= 0) {
        const ed_box_t &b = ed_boxes[ed_selected];
        char frame[48];
        snprintf(frame, sizeof frame, "%.31s%s", b.frame < dbx_frames ? dbx_frame[b.frame].source_name : "?",
                 b.frame < ed_atlas_frames ? "" : " (missing)");
        snprintf(box, sizeof box,
                 "box %d/%d \"%s\" x %d y %d scale %g rot %g | spin %d mode %d extra %d %d home %d %d "
                 "scale1 %g timing %d | [%s]",
                 ed_selected + 1, ed_count, frame, b.x1, b.y1, static_cast<double>(b.scale),
                 static_cast<double>(b.rotation), b.e.delta_rot, b.e.animationmode, b.e.extra1, b.e.extra2, b.e.x1,
                 b.e.y1, static_cast<double>(b.e.scale1), b.e.timing, names[ed_field]);
    } else {
        snprintf(box, sizeof box, "%d boxes, nothing selected", ed_count);
    }
    snprintf(ed_fields_line, sizeof ed_fields_line, "%.63s%s %s", ed_name, ed_dirty ? "* not saved" : " saved", box);
    snprintf(title, sizeof title, "%.63s%s - %s%s%.120s", ed_name, ed_dirty ? "*" : "", box, ed_status[0] ? " - " : "",
             ed_status);
    dbx_application_title = title;
}

int dbx_application_init(void) {
    dbx_platform_events = 1;
    intro_open();
    if (!ed_open(ed_name)) exit(1);
    bg = ed_bg_edit;
    update_title();
    return 0;
}

int dbx_application_update(void) {
    while (const dbx_event_t *e = dbx_event_get()) ed_event(*e);
    if (ed_playing) ed_play_update();
    update_title();
    return 0;
}

int dbx_application_drawframe(void) {
    if (ed_playing) intro_music_frame();
    dbx_clear(ed_playing ? bg : ed_bg_edit, ed_playing ? bg : ed_bg_edit, ed_playing ? bg : ed_bg_edit, 255);
    // The fields in lines of their groups (split at " | "), then the status.
    static char parts[sizeof ed_fields_line];
    memcpy(parts, ed_fields_line, sizeof parts);
    const char *lines[5];
    int n = 0;
    for (char *at = parts; at && n < 4;) {
        lines[n++] = at;
        if ((at = strstr(at, " | "))) {
            *at = 0;
            at += 3;
        }
    }
    if (ed_status[0]) lines[n++] = ed_status;
    ed_overlay_draw(lines, n);
    return 0;
}
