// The scene editor. The scene is a model of its own (ed_boxes), copied onto
// the engine's pool to be drawn and picked; every edit is one undo step
// that records the box before and after. Playing hands the model to the
// intro's own scene script through boxart_open_hook, from the scene's song
// position, with the music.
#include "editor.h"

#include "boxart.h"
#include "boxart_text.h"
#include "intro.h"
#include "playxm.h"
#include "file_io.h"

#include <dirent.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

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
static unsigned edits;          // every step done, undone or redone
static unsigned edits_handed = ~0u;  // edits when the files went to the page; ~0u: none are on the way

static char dat_name[256];                  // as the scene scripts name it
static char dat_path[4096], txt_path[4096];  // where it and its text are read and written
static std::string source_text;  // the text source as last read or written, when it builds the file
static std::string disk_text;    // the text file's bytes as last read or written
static bool text_existed;        // there was a text file
static int source_boxes;         // how many boxes it holds
static unsigned char bg_edit;    // the scene's background, as its script sets it

// ---------------------------------------------------------------- undo

namespace {

enum step_kind : uint8_t { STEP_CHANGE, STEP_INSERT, STEP_REMOVE, STEP_SWAP };

struct step_t {
    step_kind kind;
    int index;
    ed_box_t before, after;  // CHANGE: both; INSERT: after; REMOVE: before
    int moved;               // SWAP: where the moved box goes (index or index + 1)
};

step_t steps[ED_UNDO_STEPS];
int first_step, done_steps, total_steps;  // a ring: the oldest, how many are done, how many can be redone

void insert_box(int at, const ed_box_t &box) {
    memmove(&ed_boxes[at + 1], &ed_boxes[at], static_cast<size_t>(ed_count - at) * sizeof ed_boxes[0]);
    ed_boxes[at] = box;
    ed_count++;
}

void remove_box(int at) {
    memmove(&ed_boxes[at], &ed_boxes[at + 1], static_cast<size_t>(ed_count - at - 1) * sizeof ed_boxes[0]);
    ed_count--;
}

void run_step(const step_t &s, bool forward) {
    switch (s.kind) {
    case STEP_CHANGE:
        ed_boxes[s.index] = forward ? s.after : s.before;
        ed_selected = s.index;
        break;
    case STEP_INSERT:
    case STEP_REMOVE:
        if ((s.kind == STEP_INSERT) == forward) {
            insert_box(s.index, forward ? s.after : s.before);
            ed_selected = s.index;
        } else {
            remove_box(s.index);
            // A removed box leaves the one after it selected; an insert taken
            // back, the one before it (a duplicate's original).
            if (s.kind == STEP_INSERT && s.index > 0)
                ed_selected = s.index - 1;
            else
                ed_selected = s.index < ed_count ? s.index : ed_count - 1;
        }
        break;
    case STEP_SWAP: {
        ed_box_t t = ed_boxes[s.index];
        ed_boxes[s.index] = ed_boxes[s.index + 1];
        ed_boxes[s.index + 1] = t;
        // The box that was moved stays selected, either way.
        const int other = s.moved == s.index ? s.index + 1 : s.index;
        ed_selected = forward ? s.moved : other;
        break;
    }
    }
    ed_dirty = 1;
    edits++;
    ed_sync();
}

// Does the step and keeps it; the steps that could be redone are gone.
void edit(const step_t &s) {
    if (done_steps == ED_UNDO_STEPS) {
        first_step = (first_step + 1) % ED_UNDO_STEPS;
        done_steps--;
    }
    steps[(first_step + done_steps) % ED_UNDO_STEPS] = s;
    total_steps = ++done_steps;
    ed_status[0] = 0;
    run_step(s, true);
}

void change(int index, const ed_box_t &after) {
    if (index < 0 || index >= ed_count || !memcmp(&ed_boxes[index], &after, sizeof after)) return;
    edit({STEP_CHANGE, index, ed_boxes[index], after, 0});
}

}  // namespace

bool ed_undo(void) {
    if (done_steps == 0) return false;
    done_steps--;
    run_step(steps[(first_step + done_steps) % ED_UNDO_STEPS], false);
    return true;
}

bool ed_redo(void) {
    if (done_steps == total_steps) return false;
    run_step(steps[(first_step + done_steps) % ED_UNDO_STEPS], true);
    done_steps++;
    return true;
}

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

// ---------------------------------------------------------------- files

static void load_model(void) {
    ed_count = 0;
    for (uint32_t i = 0; i < dbx_drawboxes && i < ED_MAX_BOXES; i++) {
        const dbx_drawbox_t &d = dbx_drawbox[i];
        ed_boxes[ed_count++] = {d.x1, d.y1, d.frame, d.scale, d.rotation, extra[i], static_cast<int32_t>(i)};
    }
}

// The scene file's bytes as the model holds them, for the scene scripts.
static unsigned char model_bytes[DBX_MAX_DRAWBOXES * (BOXART_FRAME_ITEM + BOXART_BOX_ITEM)];
static size_t model_size;

static const char *model_hook(const char *filename, int *size) {
    if (strcmp(filename, dat_name) != 0) return nullptr;
    *size = static_cast<int>(model_size);
    return reinterpret_cast<const char *>(model_bytes);
}

static void encode_model(void) {
    const bool playing = ed_playing != 0;
    ed_playing = 0;
    const int palette = ed_palette;
    ed_palette = 0;
    ed_sync();
    model_size = boxart_encode(model_bytes, sizeof model_bytes, 0, ed_count);
    ed_palette = palette;
    ed_playing = playing;
}

const char *ed_dat_path(void) { return dat_path; }
const char *ed_txt_path(void) { return txt_path; }

const char *ed_bad_name(const char *name) {
    if (!*name) return "a scene name cannot be empty";
    if (strchr(name, '/') || strchr(name, '\\'))
        return "a scene name is a file name alone: no folders, no '/' or '\\'";
    if (strlen(name) > ED_NAME_MAX) return "a scene name has at most 63 characters";
    return nullptr;
}

// One of the editor's files, read only when it is a regular file (a FIFO
// would block). false with the reason in `error`; `missing` says there is
// no file at all.
static bool read_regular(const char *path, std::string &bytes, std::string &error, bool *missing = nullptr) {
    const char *kind = nullptr;
    FILE *f = dbx_open_regular(path, &kind);
    if (missing) *missing = !f && !kind && errno == ENOENT;
    if (!f) {
        error = std::string("cannot open \"") + path + "\": " + (kind ? std::string("it is ") + kind : strerror(errno));
        return false;
    }
    bytes.clear();
    char buffer[65536];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, got);
    const bool failed = ferror(f) != 0;
    fclose(f);
    if (failed) error = std::string("cannot read \"") + path + "\"";
    return !failed;
}

static bool builds(const std::string &text, const std::string &bytes) {
    std::vector<unsigned char> built;
    std::string error;
    return boxart_build_text(text, built, error) && built.size() == bytes.size() &&
           std::equal(built.begin(), built.end(), reinterpret_cast<const unsigned char *>(bytes.data()));
}

// What a save cut short left beside `path`: its part files, by name.
static std::vector<std::string> parts_of(const std::string &path) {
    std::vector<std::string> found;
    const size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
    const std::string stem = (slash == std::string::npos ? path : path.substr(slash + 1)) + ED_PART_TAG ".";
    if (DIR *d = opendir(folder.c_str())) {
        while (const dirent *e = readdir(d))
            if (!strncmp(e->d_name, stem.c_str(), stem.size()) && strlen(e->d_name) == stem.size() + 6)
                found.push_back(folder + "/" + e->d_name);
        closedir(d);
    }
    return found;
}

// A save writes both part files, then renames the scene file's, then the
// text's. A part of the text that builds the scene file as it is now was cut
// short between the two: it is renamed into place, the pair is the new one.
// Every other part file is dropped: the pair is the old one.
static void finish_cut_save(const std::string &dat_bytes) {
    for (const std::string &part : parts_of(txt_path)) {
        std::string text, error;
        if (read_regular(part.c_str(), text, error) && builds(text, dat_bytes)) {
            mode_t mask = umask(0);
            umask(mask);
            chmod(part.c_str(), 0666 & ~mask);
            if (tool_rename(part.c_str(), txt_path) == 0) {
                fprintf(stderr, "invitro-edit: a save of \"%s\" was cut short; it is finished now.\n", txt_path);
                continue;
            }
        }
        unlink(part.c_str());
    }
    for (const std::string &part : parts_of(dat_path)) unlink(part.c_str());
}

// Every frame name of the file the atlas lacks gets a stand-in frame, so its
// boxes are drawn, picked, and saved under their name.
static void stand_in_for_missing(const std::string &bytes) {
    const unsigned char *p = reinterpret_cast<const unsigned char *>(bytes.data());
    int remaining = static_cast<int>(bytes.size());
    for (int size; (size = boxart_item_at(p, remaining)) != 0; p += size, remaining -= size) {
        if (p[0] != BOXART_TYPE_FRAME) continue;
        char name[BOXART_NAME_SIZE];
        boxart_decode_frame(p, name);
        if (name[0] && dbx_findframe(name) < 0) ed_missing_frame(name);
    }
}

// The model as the file's bytes load.
static void load_bytes(const std::string &bytes) {
    dbx_drawboxes = 0;
    extrareset();
    boxart_load(bytes.data(), static_cast<int>(bytes.size()));
    load_model();
}

// The scene of the show's table that loads this file and that the song
// shows first, with the grey it sets.
static void find_scene(const char *name) {
    encode_model();
    boxart_open_hook = model_hook;
    ed_scene = intro_scene_of_file(name);
    bg_edit = ed_scene >= 0 && show[ed_scene].bg >= 0 ? static_cast<unsigned char>(show[ed_scene].bg) : 0;
}

static void reset_undo(void) { first_step = done_steps = total_steps = 0; }

bool ed_open(const char *name) {
    if (const char *why = ed_bad_name(name)) {
        fprintf(stderr, "invitro-edit: \"%.80s\": %s\n", name, why);
        return false;
    }
    snprintf(dat_name, sizeof dat_name, "data/%s.dat", name);
    char text_name[256];
    snprintf(text_name, sizeof text_name, "assets/scenes/%s.txt", name);
    snprintf(dat_path, sizeof dat_path, "%s", dbx_data_file(dat_name).text);
    snprintf(txt_path, sizeof txt_path, "%s", dbx_data_file(text_name).text);
    if (ed_atlas_frames == 0 || ed_atlas_frames > dbx_frames) {
        ed_atlas_frames = dbx_frames;
        ed_overlay_load();
    }
    std::string bytes, error;
    if (!read_regular(dat_path, bytes, error)) {
        fprintf(stderr, "invitro-edit: %s\n", error.c_str());
        return false;
    }
    finish_cut_save(bytes);
    boxart_check(dat_path, bytes.data(), static_cast<int>(bytes.size()), false, stderr);
    stand_in_for_missing(bytes);
    load_bytes(bytes);
    source_text.clear();
    disk_text.clear();
    source_boxes = 0;
    ed_conflict = ED_AGREE;
    ed_status[0] = 0;
    bool missing = false;
    text_existed = read_regular(txt_path, disk_text, error, &missing);
    if (text_existed && builds(disk_text, bytes)) {
        source_text = disk_text;
        source_boxes = ed_count;
    } else if (!missing) {
        ed_conflict = ED_TEXT_DIFFERS;
        snprintf(ed_status, sizeof ed_status, "%.60s does not build %.60s: T takes the text, R replaces it",
                 text_existed ? txt_path : "the text", dat_path);
        fprintf(stderr, "invitro-edit: \"%s\" does not build \"%s\" (%s); T takes the text, R replaces it.\n",
                txt_path, dat_path, text_existed ? "it differs" : error.c_str());
    }
    ed_selected = -1;
    ed_frame = ed_count > 0 && ed_boxes[0].frame < ed_atlas_frames ? ed_boxes[0].frame : 0;
    reset_undo();
    ed_dirty = 0;
    find_scene(name);
    ed_sync();
    return true;
}

// T: the text as it is on disk becomes the model (an undo step away from
// what the editor held), and the next save rebuilds the scene file from it.
static void take_text(void) {
    std::string text, error;
    std::vector<unsigned char> built;
    if (!read_regular(txt_path, text, error) || !boxart_build_text(text, built, error)) {
        snprintf(ed_status, sizeof ed_status, "the text cannot be taken: %.150s (R replaces it)", error.c_str());
        return;
    }
    const std::string bytes(built.begin(), built.end());
    stand_in_for_missing(bytes);
    load_bytes(bytes);
    disk_text = source_text = text;
    source_boxes = ed_count;
    text_existed = true;
    reset_undo();
    ed_selected = -1;
    ed_conflict = ED_AGREE;
    ed_dirty = 1;
    snprintf(ed_status, sizeof ed_status, "took %.100s: Ctrl+S rebuilds %.100s from it", txt_path, dat_path);
    ed_sync();
}

// R: the model stays, and the next save writes the text anew from it.
static void replace_text(void) {
    ed_conflict = ED_AGREE;
    std::string error;
    bool missing = false;
    text_existed = read_regular(txt_path, disk_text, error, &missing) || !missing;
    ed_dirty = 1;
    snprintf(ed_status, sizeof ed_status, "Ctrl+S replaces %.100s", txt_path);
}

bool ed_save(void) {
    if (ed_conflict != ED_AGREE) {
        snprintf(ed_status, sizeof ed_status, "not saved: %.60s and %.60s disagree: T takes the text, R replaces it",
                 txt_path, dat_path);
        return false;
    }
    // A text another program changed since it was read is not overwritten
    // without asking.
    std::string now, error;
    bool missing = false;
    const bool there = read_regular(txt_path, now, error, &missing);
    if (there != text_existed || (there && now != disk_text) || (!there && !missing)) {
        ed_conflict = ED_TEXT_CHANGED;
        snprintf(ed_status, sizeof ed_status, "not saved: %.80s changed on disk: T takes it, R replaces it", txt_path);
        return false;
    }
    encode_model();
    if (model_size > BOXART_FILE_MAX) {
        snprintf(ed_status, sizeof ed_status, "not saved: %zu bytes, the intro reads at most %d", model_size,
                 BOXART_FILE_MAX);
        fprintf(stderr, "invitro-edit: %s\n", ed_status);
        return false;
    }
    std::vector<int> origin(static_cast<size_t>(ed_count));
    for (int i = 0; i < ed_count; i++) origin[static_cast<size_t>(i)] = ed_boxes[i].origin;
    std::string text = boxart_rewrite_text(source_text, model_bytes, model_size, origin);
    // The scene file first, the text last: a save cut short between them
    // is finished by the next start (finish_cut_save).
    if (!tool_write_files({{dat_path, model_bytes, model_size}, {txt_path, text.data(), text.size()}}, {}, error,
                          ED_PART_TAG)) {
        snprintf(ed_status, sizeof ed_status, "not saved: %.200s", error.c_str());
        fprintf(stderr, "invitro-edit: %s\n", error.c_str());
        return false;
    }
    // The boxes are now those of the new text, in order; boxes the undo
    // steps hold are renumbered alike, or made new where they are gone.
    std::vector<int> renumber(static_cast<size_t>(source_boxes > 0 ? source_boxes : 0), -1);
    for (int i = 0; i < ed_count; i++) {
        int o = ed_boxes[i].origin;
        if (o >= 0 && o < source_boxes) renumber[static_cast<size_t>(o)] = i;
    }
    auto map = [&](ed_box_t &b) { b.origin = b.origin >= 0 && b.origin < source_boxes ? renumber[static_cast<size_t>(b.origin)] : -1; };
    for (step_t &s : steps) {
        map(s.before);
        map(s.after);
    }
    for (int i = 0; i < ed_count; i++) ed_boxes[i].origin = i;
    disk_text = source_text = text;
    text_existed = true;
    source_boxes = ed_count;
    ed_dirty = 0;
    snprintf(ed_status, sizeof ed_status, "saved %.100s and %.100s", dat_path, txt_path);
    if (ed_saved && ed_saved(dat_path, txt_path)) {
        ed_dirty = 1;
        edits_handed = edits;
        snprintf(ed_status, sizeof ed_status, "handing the files to the browser...");
    }
    return true;
}

void ed_handed_over(bool ok, const char *what) {
    if (ok && edits_handed == edits) ed_dirty = 0;
    edits_handed = ~0u;
    snprintf(ed_status, sizeof ed_status, "%s%.200s", ok ? "" : "not saved: ", what);
}

// ---------------------------------------------------------------- playing

static int play_position;

void ed_play(bool on) {
    if (on == (ed_playing != 0)) return;
    if (!on) {
        if (sound && module) xm_seek(play_position, 1);
        ed_playing = 0;
        currentscene = -1;
        extrareset();
        bg = bg_edit;
        ed_sync();
        return;
    }
    if (ed_scene < 0) {
        snprintf(ed_status, sizeof ed_status, "no scene of the show loads %.200s", dat_path);
        return;
    }
    encode_model();
    ed_palette = 0;
    ed_playing = 1;
    play_position = intro_scene_position(scenes[ed_scene].name);
    // The beat reveal's settings as the scenes before this one leave them:
    // each made current at its position, and updated once.
    const int keep_sound = sound;
    intro_reset();
    sound = keep_sound;
    switchscene(schedule.start);
    scenes[currentscene].f_update();
    for (const schedule_row &row : schedule) {
        if (row.position >= play_position) break;
        xmtrack = row.position;
        xmrow = 0;
        switchscene(row.scene);
        if (currentscene >= 0) scenes[currentscene].f_update();
    }
    dbx_drawboxes = 0;
    currentscene = -1;
    if (sound) {
        if (!xmplaying) playxm();
        xm_seek(play_position, 0);
    }
    // Until the song is heard there, the clock stands just before it.
    xmtrack = play_position - 1;
    xmrow = 128;
}

// The scene comes when the song reaches its position, as in the show.
static void play_update(void) {
    if (currentscene < 0 && xmtrack == play_position) switchscene(scenes[ed_scene].name);
    if (currentscene >= 0) scenes[currentscene].f_update();
}

// ---------------------------------------------------------------- editing

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
    change(ed_selected, b);
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
    change(ed_selected, b);
}

static void rotate_by(float degrees) {
    if (ed_selected < 0) return;
    ed_box_t b = ed_boxes[ed_selected];
    float r = std::fmod(b.rotation + degrees, 360.0f);
    b.rotation = r == 0.0f ? 0.0f : r;  // never -0
    change(ed_selected, b);
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
    change(ed_selected, b);
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
    change(ed_selected, b);
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
    edit({STEP_INSERT, at, ed_box_t{}, b, 0});
}

static void remove_selected(void) {
    if (ed_selected < 0) return;
    edit({STEP_REMOVE, ed_selected, ed_boxes[ed_selected], ed_box_t{}, 0});
}

// Down (-1) or up (+1) in the drawing order.
static void reorder(int by) {
    if (ed_selected < 0) return;
    int low = by < 0 ? ed_selected - 1 : ed_selected;
    if (low < 0 || low + 1 >= ed_count) return;
    edit({STEP_SWAP, low, ed_box_t{}, ed_box_t{}, by < 0 ? low : low + 1});
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
            change(ed_selected, b);
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
    change(which, after);
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

static void key(uint32_t code, uint32_t mods) {
    const bool shift = (mods & DBX_MOD_SHIFT) != 0, ctrl = (mods & DBX_MOD_CTRL) != 0;
    release();  // a drag ends before any key acts, so its step comes first
    if (code != DBX_KEY_ESCAPE && ed_quit_asked) {
        // Any other key takes the question back.
        ed_quit_asked = 0;
        if (!strncmp(ed_status, quit_question, sizeof quit_question - 1)) ed_status[0] = 0;
    }
    if (code == DBX_KEY_ESCAPE && ed_palette) {
        ed_palette = 0;
        return ed_sync();
    }
    if (code == DBX_KEY_ESCAPE) return ask_quit();
    if (code == DBX_KEY_SPACE) return ed_play(!ed_playing);
    if (ed_playing) return;
    if (ed_conflict != ED_AGREE && !ctrl && (code == 't' || code == 'r')) return code == 't' ? take_text() : replace_text();
    if (ctrl) {
        if (code == 'z' && shift) ed_redo();
        if (code == 'z' && !shift) ed_undo();
        if (code == 'y') ed_redo();
        if (code == 's') ed_save();
        if (code == 'd' && ed_selected >= 0) new_box(0, 0, &ed_boxes[ed_selected]);
        return;
    }
    if (code == 'f') {
        ed_palette = !ed_palette;
        return ed_sync();
    }
    if (ed_palette) return;
    const int step = shift ? 10 : 1;
    switch (code) {
    case DBX_KEY_LEFT: return nudge(-step, 0);
    case DBX_KEY_RIGHT: return nudge(step, 0);
    case DBX_KEY_UP: return nudge(0, -step);
    case DBX_KEY_DOWN: return nudge(0, step);
    case 'q': return rotate_by(shift ? -15.0f : -1.0f);
    case 'e': return rotate_by(shift ? 15.0f : 1.0f);
    case DBX_KEY_PAGEUP: return step_frame(-1);
    case DBX_KEY_PAGEDOWN: return step_frame(1);
    case DBX_KEY_TAB:
        if (ed_count == 0) return;
        if (shift)
            ed_selected = ed_selected <= 0 ? ed_count - 1 : ed_selected - 1;
        else
            ed_selected = (ed_selected + 1) % ed_count;
        return ed_sync();
    case 'n': return new_box(dtmp_mousex, dtmp_mousey, nullptr);
    case DBX_KEY_DELETE:
    case DBX_KEY_BACKSPACE: return remove_selected();
    case '[': return reorder(-1);
    case ']': return reorder(1);
    case ',': ed_field = (ed_field + ED_FIELDS - 1) % ED_FIELDS; return;
    case '.': ed_field = (ed_field + 1) % ED_FIELDS; return;
    case '-': return set_field(-step);
    case '=': return set_field(step);
    default: return;
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
    edits = 0;
    edits_handed = ~0u;
    first_step = done_steps = total_steps = 0;
    drag = -1;
    source_text.clear();
    source_boxes = 0;
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
        snprintf(box, sizeof box, "playing from song position %d (Space: back to editing)", play_position);
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
    bg = bg_edit;
    update_title();
    return 0;
}

int dbx_application_update(void) {
    while (const dbx_event_t *e = dbx_event_get()) ed_event(*e);
    if (ed_playing) play_update();
    update_title();
    return 0;
}

int dbx_application_drawframe(void) {
    if (ed_playing) intro_music_frame();
    dbx_clear(ed_playing ? bg : bg_edit, ed_playing ? bg : bg_edit, ed_playing ? bg : bg_edit, 255);
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
