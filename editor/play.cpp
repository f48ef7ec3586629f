// Playing the scene being edited: the model handed to the intro's own scene
// script through boxart_open_hook, from the scene's song position, with the
// music and the beat reveal as the scenes before it leave them.
#include "editor.h"

#include "intro.h"
#include "playxm.h"

#include <cstdio>

static int play_position;

void ed_play(bool on) {
    if (on == (ed_playing != 0)) return;
    if (!on) {
        if (sound && module) xm_seek(play_position, 1);
        ed_playing = 0;
        currentscene = -1;
        extrareset();
        bg = ed_bg_edit;
        ed_sync();
        return;
    }
    if (ed_scene < 0) {
        snprintf(ed_status, sizeof ed_status, "no scene of the show loads %.200s", ed_dat_path());
        return;
    }
    ed_encode_model();
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
void ed_play_update(void) {
    if (currentscene < 0 && xmtrack == play_position) switchscene(scenes[ed_scene].name);
    if (currentscene >= 0) scenes[currentscene].f_update();
}

int ed_play_position(void) { return play_position; }
