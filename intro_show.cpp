// The intro as an application of the engine: its hooks, and the schedule
// that makes the scene of each song position current. Everything they use
// (scene table, scene scripts, music) is in the intro's library, which other
// applications on the engine link too.
#include "intro.h"

#include "boxart.h"
#include "drawboxlib/drawboxlib.h"
#include "playxm.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

const char *dbx_application_title = "Fennick 2019 Invitro";

// DBX_LOOP=1: at its end the intro starts again from the top (a big screen
// that shows invitations between competitions); 0 or unset: it ends.
static int loop_setting(void) {
    bool loop = false;
    return dbx_env_flag("DBX_LOOP", &loop) && loop;
}

// Without a usable module the song clock keeps the song's nominal pace
// until the schedule's last scene has had its position.
static int schedule_positions(void) {
    int last = 0;
    for (const schedule_row &row : schedule)
        if (row.position > last) last = row.position;
    return last + 1;
}

int dbx_application_init(void) {
    intro_open();
    xm_loop = loop_setting();
    xm_nominal_positions = schedule_positions();
    if (!sound) {
        xmtrack = -1;
        xmrow = 128;
    }
    return 0;
}

// The schedule. It waits while the song clock has not started (a negative
// position: the silent clock before its first step), so the first pass that
// sees the song always makes a scene current.
static void run_schedule(void) {
    int t = xmtrack;
    int last = lasttrack;
    if (t < 0 || t < last || last == -1) return;
    if (t == 0 && last != 0) {
        switchscene(schedule.start);
        if (quit) {
            dbx_platform_end();  // the song came back to its start: the show is over
            return;
        }
        quit = 1;
    }
    for (const schedule_row &row : schedule) {
        if (t == row.position && last != row.position) {
            switchscene(row.scene);
            t = xmtrack;
        }
    }
    lasttrack = t;
}

// Once the song has been heard to its end the show is over: the program
// ends (with status 0), or with the loop the schedule starts again from
// "hello" when the song is back at its first position.
static void follow_the_end(void) {
    if (xm_song_ends != ends_seen) {
        ends_seen = xm_song_ends;
        if (!xm_loop) {
            dbx_platform_end();
            return;
        }
        restart_pending = 1;
    }
    if (restart_pending && xmtrack == 0) {
        restart_pending = 0;
        lasttrack = -2;
        quit = 0;
    }
}

int dbx_application_update(void) {
    follow_the_end();
    for (;;) {
        run_schedule();
        int before = currentscene;
        if (currentscene >= 0) scenes[currentscene].f_update();
        if (currentscene == before) break;
    }
    while (dbx_event_get()) {
    }
    return 0;
}

int dbx_application_drawframe(void) {
    intro_music_frame();
    dbx_clear(bg, bg, bg, 255);
    return 0;
}
