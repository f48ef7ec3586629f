// The intro: the scene table, the schedule, the scene switch and the sixteen
// scene scripts. Its application hooks are in intro_show.cpp.
#include "intro.h"

#include "boxart.h"
#include "drawboxlib/drawboxlib.h"
#include "out.h"
#include "playxm.h"

#include <cstdio>
#include <cstdlib>

#include <cstring>

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

// ---------------------------------------------------------------- scene scripts

static void black_create(void) { bg = 0; }
static void black_update(void) {}

static void fade_create(void) { boxart_loadfile("data/hello2.dat"); }
static void fade_update(void) {
    bg = 75;
    ev_first = 11;
    ev_max = static_cast<int>(dbx_drawboxes);
    ev_pace = 4;
    spinboxes();
    evolve();
}

static void hello_create(void) {
    bg = 0;
    ev_first = 10;
    boxart_loadfile("data/test2.dat");
    ev_max = static_cast<int>(dbx_drawboxes);
    ev_pace = 4;
}
static void hello_update(void) {
    evolve();
    spinboxes();
}

static void zuzu_create(void) {
    bg = 0;
    boxart_loadfile("data/zuzu2.dat");
    evolve();
    spinboxes();
}
static void zuzu_update(void) {
    evolve();
    spinboxes();
}

static void knock_create(void) {
    bg = 100;
    boxart_loadfile("data/knock2.dat");
}
static void knock_update(void) { evolve(); }

static void beat1_create(void) {
    bg = 0;
    ev_first = static_cast<int>(dbx_drawboxes);
    boxart_loadfile("data/invit.dat");
    ev_max = static_cast<int>(dbx_drawboxes);
    ev_beat1 = static_cast<int>(beatnow());
    ev_pace = 2;
    evolve();
}
static void beat1_update(void) {
    evolve();
    spinboxes();
}

static void beat2_create(void) {
    bg = 0;
    ev_first = 3;
    boxart_loadfile("data/inmossby.dat");
    ev_max = static_cast<int>(dbx_drawboxes);
    ev_pace = 2;
    evolve();
}
static void beat2_update(void) {
    spinboxes();
    evolve();
}

static void beat3_create(void) {
    bg = 0;
    ev_first = 5;
    boxart_loadfile("data/greets.dat");
    ev_max = static_cast<int>(dbx_drawboxes);
    ev_pace = 2;
    evolve();
}
static void beat3_update(void) {
    evolve();
    spinboxes();
}

static void lead1_create(void) {
    bg = 0;
    ev_first = 5;
    boxart_loadfile("data/cratery.dat");
    ev_max = static_cast<int>(dbx_drawboxes);
    ev_pace = 2;
    evolve();
}
static void lead1_update(void) {
    spinboxes();
    evolve();
}

static void lead2_create(void) {
    bg = 0;
    ev_first = static_cast<int>(dbx_drawboxes);
    boxart_loadfile("data/ending.dat");
    ev_max = static_cast<int>(dbx_drawboxes);
    ev_pace = 1;
    evolve();
}
static void lead2_update(void) {
    evolve();
    spinboxes();
}

static void heart_create(void) {
    bg = 0;
    boxart_loadfile("data/greettext.dat");
}
static void heart_update(void) {
    evolve();
    spinboxes();
}

static void cred1_create(void) {
    bg = 0;
    boxart_loadfile("data/greets.dat");
}
static void cred1_update(void) { spinboxes(); }

static void cred2_create(void) {
    bg = 0;
    boxart_loadfile("data/hellothere.dat");
    ev_max = static_cast<int>(dbx_drawboxes);
    ev_first = static_cast<int>(dbx_drawboxes) - 10;
}
static void cred2_update(void) { evolve(); }

static void cred3_create(void) {
    bg = 255;
    boxart_loadfile("data/faces.dat");
}
static void cred3_update(void) {
    spinboxes();
    evolve();
}

static void hal1_create(void) {
    bg = 255;
    boxart_loadfile("data/fennickinvitro.dat");
}
static void hal1_update(void) { spinboxes(); }

static void hal2_create(void) {
    bg = 0;
    boxart_loadfile("data/tolmen.dat");
}
static void hal2_update(void) { spinboxes(); }

// ---------------------------------------------------------------- director

const scene_t scenes[SCENE_COUNT] = {
    {"black", black_create, black_update, nullptr},
    {"fade", fade_create, fade_update, nullptr},
    {"hello", hello_create, hello_update, nullptr},
    {"zuzu", zuzu_create, zuzu_update, nullptr},
    {"knock", knock_create, knock_update, nullptr},
    {"beat1", beat1_create, beat1_update, nullptr},
    {"beat2", beat2_create, beat2_update, nullptr},
    {"beat3", beat3_create, beat3_update, nullptr},
    {"lead1", lead1_create, lead1_update, nullptr},
    {"lead2", lead2_create, lead2_update, nullptr},
    {"heart", heart_create, heart_update, nullptr},
    {"cred1", cred1_create, cred1_update, nullptr},
    {"cred2", cred2_create, cred2_update, nullptr},
    {"cred3", cred3_create, cred3_update, nullptr},
    {"hal1", hal1_create, hal1_update, nullptr},
    {"hal2", hal2_create, hal2_update, nullptr},
};

const schedule_row schedule[SCHEDULE_ROWS] = {
    {1, "fade"},   {2, "zuzu"},   {5, "knock"},  {6, "beat1"},  {7, "beat2"},
    {8, "beat3"},  {9, "lead2"},  {11, "heart"}, {12, "cred1"}, {13, "cred3"},
    {14, "cred2"}, {15, "lead1"}, {16, "beat2"}, {17, "hal1"},  {20, "hal2"},
};

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
    return currentscene >= 0 && currentscene < SCENE_COUNT ? scenes[currentscene].name : "";
}

void switchscene(const char *name) {
    dbx_drawboxes = 0;
    extrareset();
    for (int i = 0; i < SCENE_COUNT; i++) {
        if (strncmp(scenes[i].name, name, sizeof scenes[i].name) != 0) continue;
        if (currentscene >= 0 && scenes[currentscene].f_destroy) scenes[currentscene].f_destroy();
        if (scenes[i].f_create && !skip_scene_create) scenes[i].f_create();
        skip_scene_create = 0;
        currentscene = i;
    }
}

void intro_play_again(void) {
    xm_restart();
    restart_pending = 1;
}

int intro_scene_position(const char *name) {
    if (!strcmp(name, "hello")) return 0;
    for (const schedule_row &row : schedule)
        if (!strcmp(row.scene, name)) return row.position;
    return -1;
}

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
}

void intro_music_frame(void) {
    if (sound) {
        playxm();
        xmupdate();
    } else {
        xm_fallback_step();
    }
}
