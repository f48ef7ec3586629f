// The main loop and the tick clock, shared by every platform layer. Only the
// display, the buffer swap, input and (for offline rendering) the time source
// differ between platforms.
#include "../drawboxlib.h"

#include <sys/timeb.h>

int32_t dbx_ticsize = 25;
int32_t dbx_tics;
int32_t dtmp_mousex, dtmp_mousey, dtmp_mousedown;

static uint64_t ts_next;  // the next tick is due once the time is past this

uint64_t dbx_wallclock_ms(void) {
    struct timeb now;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    ftime(&now);
#pragma GCC diagnostic pop
    return static_cast<uint64_t>(now.time) * 1000u + now.millitm;
}

uint64_t (*dbx_platform_clock)(void) = dbx_wallclock_ms;

// Tick boundaries are fixed by the restart: a late pass catches up one tick
// at a time and never shifts the later boundaries, so the rate cannot drift.
int dbx_platform_ticready(int restart) {
    uint64_t now = dbx_platform_clock();
    if (ts_next == 0 || restart) {
        dbx_tics = 0;
        ts_next = now;
        return 1;
    }
    if (now > ts_next) {
        dbx_tics++;
        ts_next += static_cast<int64_t>(dbx_ticsize);
        return 1;
    }
    return 0;
}

void dbx_platform_start(void) {
    dbx_application_init();
    dbx_platform_ticready(1);
}

void dbx_platform_pass(void) {
    dbx_platform_poll_input();
    if (dbx_platform_ticready(0)) {
        dbx_application_update();
        dtmp_mousedown = 0;
    }
    dbx_application_drawframe();
    dbx_render_to_screen();
}
