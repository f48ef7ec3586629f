// The intro as an application of the engine: its hooks, and the schedule
// that makes the scene of each song position current. Everything they use
// (scene table, scene scripts, music) is in the intro's library, which other
// applications on the engine link too.
#include "intro.h"

#include "boxart.h"
#include "drawboxlib/drawboxlib.h"
#include "playxm.h"

#include <cstdlib>

const char *dbx_application_title = "Fennick 2019 Invitro";

int dbx_application_init(void) {
    intro_open();
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
        switchscene("hello");
        if (quit) exit(0);
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

int dbx_application_update(void) {
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
