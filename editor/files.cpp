// The editor's files: the scene file and its text source read, checked
// against each other and written as a pair, what a save cut short left
// finished or dropped, and the model handed to the scene scripts as bytes.
#include "editor.h"

#include "boxart.h"
#include "boxart_text.h"
#include "file_io.h"
#include "intro.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

unsigned char ed_bg_edit;

static unsigned edits_handed = ~0u;  // ed_edits when the files went to the page; ~0u: none are on the way
static char dat_name[256];                  // as the scene scripts name it
static char dat_path[4096], txt_path[4096];  // where it and its text are read and written
static std::string source_text;  // the text source as last read or written, when it builds the file
static std::string disk_text;    // the text file's bytes as last read or written
static bool text_existed;        // there was a text file
static int source_boxes;         // how many boxes it holds

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

void ed_encode_model(void) {
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
    std::vector<unsigned char> read;
    const char *kind = nullptr;
    const bool ok = dbx_read_regular(path, read, error, &kind);
    if (missing) *missing = !ok && !kind && errno == ENOENT;
    bytes.assign(read.begin(), read.end());
    return ok;
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
    ed_encode_model();
    boxart_open_hook = model_hook;
    ed_scene = intro_scene_of_file(name);
    ed_bg_edit = ed_scene >= 0 && show[ed_scene].bg >= 0 ? static_cast<unsigned char>(show[ed_scene].bg) : 0;
}

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
    ed_undo_clear();
    ed_dirty = 0;
    find_scene(name);
    ed_sync();
    return true;
}

// T: the text as it is on disk becomes the model (an undo step away from
// what the editor held), and the next save rebuilds the scene file from it.
void ed_take_text(void) {
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
    ed_undo_clear();
    ed_selected = -1;
    ed_conflict = ED_AGREE;
    ed_dirty = 1;
    snprintf(ed_status, sizeof ed_status, "took %.100s: Ctrl+S rebuilds %.100s from it", txt_path, dat_path);
    ed_sync();
}

// R: the model stays, and the next save writes the text anew from it.
void ed_replace_text(void) {
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
    ed_encode_model();
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
    ed_undo_renumber(renumber.data(), source_boxes);
    for (int i = 0; i < ed_count; i++) ed_boxes[i].origin = i;
    disk_text = source_text = text;
    text_existed = true;
    source_boxes = ed_count;
    ed_dirty = 0;
    snprintf(ed_status, sizeof ed_status, "saved %.100s and %.100s", dat_path, txt_path);
    if (ed_saved && ed_saved(dat_path, txt_path)) {
        ed_dirty = 1;
        edits_handed = ed_edits;
        snprintf(ed_status, sizeof ed_status, "handing the files to the browser...");
    }
    return true;
}

void ed_handed_over(bool ok, const char *what) {
    if (ok && edits_handed == ed_edits) ed_dirty = 0;
    edits_handed = ~0u;
    snprintf(ed_status, sizeof ed_status, "%s%.200s", ok ? "" : "not saved: ", what);
}

void ed_files_reset(void) {
    edits_handed = ~0u;
    source_text.clear();
    source_boxes = 0;
}
