// The intro: the show's table (assets/show.txt) with the generic create and
// update functions that run its rows, the schedule and the scene switch. Its
// application hooks are in intro_show.cpp.
#include "intro.h"

#include "boxart.h"
#include "drawboxlib/drawboxlib.h"
#include "out.h"
#include "playxm.h"
#include "file_io.h"

#include <cstdio>
#include <cstdlib>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include <sys/stat.h>

int currentscene = -1;
int lasttrack = -2;
int quit;
int skip_scene_create;
unsigned char bg;
int sound = 1;

int ev_first, ev_max, ev_pace = 2, ev_beat1;

int ends_seen;
int restart_pending;

// ---------------------------------------------------------------- beat reveal

void evolve(void) {
    for (int i = ev_first; i < ev_max && static_cast<uint32_t>(i) < dbx_drawboxes; i++) {
        uint32_t d = beatnow() - static_cast<uint32_t>(ev_beat1);
        uint32_t pace = ev_pace > 0 ? static_cast<uint32_t>(ev_pace) : 1u;
        uint32_t s = d / pace;
        uint32_t k = s % static_cast<uint32_t>(ev_max - ev_first);
        dbx_drawbox[i].visible = k >= static_cast<uint32_t>(i - ev_first) ? 1 : 0;
    }
}

// ---------------------------------------------------------------- the show's rows

scene_t scenes[SCENE_MAX];
show_scene_t show[SCENE_MAX];
int scene_count;
schedule_table schedule;

static int creating = -1;  // the row whose create function runs

static int end_value(const show_end &e, int count, int keep) {
    switch (e.kind) {
    case SHOW_NUMBER: return e.value;
    case SHOW_COUNT_MINUS: return count - e.value;
    case SHOW_KEEP: break;
    }
    return keep;
}

// The reveal a row sets, with `count` boxes in the pool.
static void show_settings(const show_scene_t &row, int count) {
    ev_max = end_value(row.last, count, ev_max);
    ev_first = end_value(row.first, count, ev_first);
    if (row.pace >= 0) ev_pace = row.pace;
}

static void show_run(const show_steps &steps) {
    for (int i = 0; i < steps.count; i++) {
        if (steps.step[i] == SHOW_REVEAL) evolve();
        else spinboxes();
    }
}

// A scene's create function: its grey, its file, its reveal, then the steps
// it runs on entering.
static void show_create(void) {
    if (creating < 0 || creating >= scene_count) return;
    const show_scene_t &row = show[creating];
    if (!row.on_tick && row.bg >= 0) bg = static_cast<unsigned char>(row.bg);
    if (row.file[0]) {
        char path[SHOW_FILE_MAX + 16];
        snprintf(path, sizeof path, "data/%s.dat", row.file);
        boxart_loadfile(path);
    }
    if (!row.on_tick) show_settings(row, static_cast<int>(dbx_drawboxes));
    if (row.anchor) ev_beat1 = static_cast<int>(beatnow());
    show_run(row.enter);
}

// A scene's update function: its grey and reveal again where the row sets
// them on every tick, then its steps.
static void show_update(void) {
    if (currentscene < 0 || currentscene >= scene_count) return;
    const show_scene_t &row = show[currentscene];
    if (row.on_tick) {
        if (row.bg >= 0) bg = static_cast<unsigned char>(row.bg);
        show_settings(row, static_cast<int>(dbx_drawboxes));
    }
    show_run(row.tick);
}

// ---------------------------------------------------------------- reading the table

namespace {

constexpr int show_columns = 11;

// The show being read, made current only once all of it is good.
struct show_draft {
    scene_t scenes[SCENE_MAX];
    show_scene_t show[SCENE_MAX];
    int count;
    int at[SCHEDULE_MAX], at_scene[SCHEDULE_MAX], at_count;
};
show_draft draft;

bool parse_int(const char *s, int lo, int hi, int &out) {
    if (*s < '0' || *s > '9') return false;
    long v = 0;
    for (; *s; s++) {
        if (*s < '0' || *s > '9') return false;
        v = v * 10 + (*s - '0');
        if (v > hi) return false;
    }
    if (v < lo) return false;
    out = static_cast<int>(v);
    return true;
}

bool parse_end(const char *s, show_end &e) {
    if (!strcmp(s, "-")) {
        e = {SHOW_KEEP, 0};
        return true;
    }
    if (!strcmp(s, "N")) {
        e = {SHOW_COUNT_MINUS, 0};
        return true;
    }
    if (s[0] == 'N' && s[1] == '-') {
        e.kind = SHOW_COUNT_MINUS;
        return parse_int(s + 2, 1, DBX_MAX_DRAWBOXES, e.value);
    }
    e.kind = SHOW_NUMBER;
    return parse_int(s, 0, DBX_MAX_DRAWBOXES, e.value);
}

// A list with commas between its words, no empty word.
bool list_ok(const char *s) { return *s != ',' && s[strlen(s) - 1] != ',' && !strstr(s, ",,"); }

bool parse_steps(char *s, show_steps &steps) {
    steps.count = 0;
    if (!strcmp(s, "-")) return true;
    if (!list_ok(s)) return false;
    for (char *word = strtok(s, ","); word; word = strtok(nullptr, ",")) {
        if (steps.count == SHOW_STEPS_MAX) return false;
        if (!strcmp(word, "reveal")) steps.step[steps.count++] = SHOW_REVEAL;
        else if (!strcmp(word, "animate")) steps.step[steps.count++] = SHOW_ANIMATE;
        else return false;
    }
    return steps.count > 0;
}

bool file_name_ok(const char *s) {
    if (!*s || strlen(s) >= SHOW_FILE_MAX) return false;
    for (; *s; s++)
        if (!((*s >= 'a' && *s <= 'z') || (*s >= 'A' && *s <= 'Z') || (*s >= '0' && *s <= '9') || *s == '_' ||
              *s == '-' || *s == '.'))
            return false;
    return true;
}

// One row's words into the draft; the reason when they do not make a row.
const char *parse_row(char **word) {
    if (draft.count == SCENE_MAX) return "more scenes than the intro holds (64)";
    scene_t &sc = draft.scenes[draft.count];
    show_scene_t &row = draft.show[draft.count];
    if (strlen(word[0]) >= sizeof sc.name) return "a scene name has 1 to 19 characters";
    for (int i = 0; i < draft.count; i++)
        if (!strcmp(draft.scenes[i].name, word[0])) return "the scene's name is taken by an earlier row";
    memset(&sc, 0, sizeof sc);
    strncpy(sc.name, word[0], sizeof sc.name - 1);
    sc.f_create = show_create;
    sc.f_update = show_update;
    if (strcmp(word[1], "-") != 0) {
        if (!list_ok(word[1])) return "\"at\" wants song positions 0 to 255 with commas, or -";
        for (char *p = strtok(word[1], ","); p; p = strtok(nullptr, ",")) {
            int position;
            if (!parse_int(p, 0, 255, position)) return "\"at\" wants song positions 0 to 255 with commas, or -";
            for (int i = 0; i < draft.at_count; i++)
                if (draft.at[i] == position) return "a song position is taken by an earlier row";
            if (draft.at_count == SCHEDULE_MAX) return "more song positions than the schedule holds (128)";
            draft.at[draft.at_count] = position;
            draft.at_scene[draft.at_count++] = draft.count;
        }
    }
    memset(&row, 0, sizeof row);
    if (strcmp(word[2], "-") != 0) {
        if (!file_name_ok(word[2])) return "\"file\" wants a name of 1 to 31 letters, digits, '_', '-' or '.', or -";
        strcpy(row.file, word[2]);
    }
    row.bg = -1;
    if (strcmp(word[3], "-") != 0 && !parse_int(word[3], 0, 255, row.bg)) return "\"bg\" wants 0 to 255, or -";
    if (!parse_end(word[4], row.first)) return "\"first\" wants a box number, N-K or -";
    if (!parse_end(word[5], row.last)) return "\"last\" wants N, a box number, N-K or -";
    row.pace = -1;
    if (strcmp(word[6], "-") != 0 && !parse_int(word[6], 1, 1 << 20, row.pace)) return "\"pace\" wants 1 or more, or -";
    if (!strcmp(word[7], "now")) row.anchor = true;
    else if (strcmp(word[7], "-") != 0) return "\"beat\" wants now or -";
    if (!strcmp(word[8], "tick")) row.on_tick = true;
    else if (strcmp(word[8], "enter") != 0) return "\"set\" wants enter or tick";
    if (!parse_steps(word[9], row.enter)) return "\"enter\" wants reveal, animate, both with a comma, or -";
    if (!parse_steps(word[10], row.tick)) return "\"tick\" wants reveal, animate, both with a comma, or -";
    draft.count++;
    return nullptr;
}

}  // namespace

bool intro_show_parse(const char *text, char *err, size_t errsize) {
    draft.count = 0;
    draft.at_count = 0;
    char line[512];
    int number = 0;
    for (const char *at = text; *at;) {
        const char *end = strchr(at, '\n');
        const size_t length = end ? static_cast<size_t>(end - at) : strlen(at);
        number++;
        if (length >= sizeof line) {
            snprintf(err, errsize, "line %d: longer than %d characters", number, static_cast<int>(sizeof line) - 1);
            return false;
        }
        memcpy(line, at, length);
        line[length] = 0;
        at += length + (end ? 1 : 0);
        char *word[show_columns + 1];
        int words = 0;
        for (char *w = strtok(line, " \t\r"); w && words <= show_columns; w = strtok(nullptr, " \t\r")) word[words++] = w;
        if (words == 0 || word[0][0] == '#') continue;
        if (words != show_columns) {
            snprintf(err, errsize, "line %d: a row has %d columns, this one %s%d", number, show_columns,
                     words > show_columns ? "more than " : "", words > show_columns ? show_columns : words);
            return false;
        }
        // strtok is done with the line: each column is a string of its own.
        if (const char *why = parse_row(word)) {
            snprintf(err, errsize, "line %d: %s", number, why);
            return false;
        }
    }
    bool start = false;
    for (int i = 0; i < draft.at_count; i++) start = start || draft.at[i] == 0;
    if (!start) {
        snprintf(err, errsize, "no scene at song position 0, where the song starts");
        return false;
    }
    memcpy(scenes, draft.scenes, sizeof scenes);
    memcpy(show, draft.show, sizeof show);
    scene_count = draft.count;
    // By position. Position 0 is the director's start-up branch, not a row.
    schedule.count = 0;
    for (int p = 0; p <= 255; p++)
        for (int i = 0; i < draft.at_count; i++) {
            if (draft.at[i] != p) continue;
            if (p == 0) schedule.start = scenes[draft.at_scene[i]].name;
            else schedule.row[schedule.count++] = {p, scenes[draft.at_scene[i]].name};
        }
    return true;
}

void extrareset(void) { memset(extra, 0, sizeof extra); }

void intro_reset(void) {
    currentscene = -1;
    lasttrack = -2;
    quit = 0;
    skip_scene_create = 0;
    bg = 0;
    sound = 1;
    ev_first = 0;
    ev_max = 0;
    ev_pace = 2;
    ev_beat1 = 0;
    xmtrack = 0;
    xmrow = 0;
    ends_seen = 0;
    restart_pending = 0;
    extrareset();
    rseed = 12345;
    cursordb = &dbx_drawbox[DBX_MAX_DRAWBOXES - 1];
}

const char *intro_scene_name(void) {
    return currentscene >= 0 && currentscene < scene_count ? scenes[currentscene].name : "";
}

void switchscene(const char *name) {
    dbx_drawboxes = 0;
    extrareset();
    for (int i = 0; i < scene_count; i++) {
        if (strncmp(scenes[i].name, name, sizeof scenes[i].name) != 0) continue;
        if (currentscene >= 0 && scenes[currentscene].f_destroy) scenes[currentscene].f_destroy();
        creating = i;
        if (scenes[i].f_create && !skip_scene_create) scenes[i].f_create();
        creating = -1;
        skip_scene_create = 0;
        currentscene = i;
    }
}

void intro_play_again(void) {
    xm_restart();
    restart_pending = 1;
}

int intro_scene_position(const char *name) {
    if (schedule.start && !strcmp(name, schedule.start)) return 0;
    for (const schedule_row &row : schedule)
        if (!strcmp(row.scene, name)) return row.position;
    return -1;
}

int intro_scene_of_file(const char *file) {
    int found = -1, first = -1;
    for (int i = 0; i < scene_count; i++) {
        if (strcmp(show[i].file, file) != 0) continue;
        const int position = intro_scene_position(scenes[i].name);
        if (position < 0 || (found >= 0 && position >= first)) continue;
        found = i;
        first = position;
    }
    return found;
}

bool intro_show_read(const char *path, FILE *out) {
    std::vector<unsigned char> bytes;
    std::string error;
    const char *kind = nullptr;
    if (!dbx_read_regular(path, bytes, error, &kind)) {
        if (kind)
            fprintf(out, "%s is %s, not a regular file\n", path, kind);
        else
            fprintf(out, "%s: %s\n", path, strerror(errno));
        return false;
    }
    if (bytes.size() >= 65536) {
        fprintf(out, "%s: longer than 64 KB\n", path);
        return false;
    }
    const std::string text(bytes.begin(), bytes.end());
    char err[200];
    if (!intro_show_parse(text.c_str(), err, sizeof err)) {
        fprintf(out, "%s: %s\n", path, err);
        return false;
    }
    return true;
}

// The compiled show is the show until the data folder gives another.
[[maybe_unused]] static const bool compiled_show = [] {
    char err[200];
    if (intro_show_parse(intro_show_text, err, sizeof err)) return true;
    fprintf(stderr, "The show compiled in is not a show: %s\n", err);
    return false;
}();

void intro_open(void) {
    dbx_fixed_width = 640;
    dbx_fixed_height = 360;
    dbx_alphamode = 1;
    dbx_init();
    uint32_t sets_before = dbx_framesets;
    const dbx_path atlas = dbx_data_file("out.png");
    int set = dbx_loadframeset(atlas.text, nullptr, 0, tileset, static_cast<int>(sizeof tileset / sizeof tileset[0]));
    if (dbx_framesets == sets_before) {
        // Nothing sensible can be drawn without the atlas.
        fprintf(stderr, "The intro cannot run without its atlas \"%s\" (looked in %s).\n", atlas.text,
                dbx_data_where().text);
        exit(1);
    }
    dbx_frame[0].frameset = static_cast<uint32_t>(set);
    intro_show_load();
}

void intro_show_load(void) {
    char err[200];
    if (!intro_show_parse(intro_show_text, err, sizeof err)) return;
    const dbx_path table = dbx_data_file("assets/show.txt");
    struct stat info;
    if (stat(table.text, &info) == 0 && !intro_show_read(table.text, stderr))
        fprintf(stderr, "The intro plays the show it was built with.\n");
}

void intro_music_frame(void) {
    if (sound) {
        playxm();
        xmupdate();
    } else {
        xm_fallback_step();
    }
}
