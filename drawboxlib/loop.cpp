// The main loop, the tick clock and the reset of the engine's state, shared
// by every platform layer. Only the display, the buffer swap, input and (for
// offline rendering) the time source differ between platforms.
#include "drawboxlib.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

int32_t dbx_ticsize = 25;
int32_t dbx_tics;
int32_t dtmp_mousex, dtmp_mousey, dtmp_mousedown;
int32_t dbx_platform_events;

static uint64_t ts_next;  // the next tick is due once the time is past this

// Milliseconds since some fixed moment (the machine's boot). Unlike the
// wall clock it never steps: a Pi without a real-time clock boots with a
// stale time that NTP later sets, often while the show is running.
uint64_t dbx_monotonic_ms(void) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

uint64_t (*dbx_platform_clock)(void) = dbx_monotonic_ms;
void (*dbx_frame_shown)(void);
void (*dbx_platform_finish)(void);
int (*dbx_platform_keep)(void);

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

// A layer that nothing paces: on the real clock the pass sleeps until the
// next tick is due (at most one tick's length) instead of spinning. Another
// time source is never waited for.
static void wait_for_tick(void) {
    if (dbx_platform_clock != dbx_monotonic_ms) return;
    const uint64_t now = dbx_monotonic_ms(), due = ts_next + 1;
    if (due <= now) return;
    const uint64_t most = dbx_ticsize > 0 ? static_cast<uint64_t>(dbx_ticsize) : 1;
    const uint64_t wait = due - now < most ? due - now : most;
    usleep(static_cast<useconds_t>(wait * 1000));
}

void dbx_platform_end(void) {
    if (dbx_platform_finish)
        dbx_platform_finish();
    else
        exit(0);
}

void dbx_platform_start(void) {
    dbx_application_init();
    dbx_platform_ticready(1);
}

int32_t dbx_platform_every_tick;

// A pass up to its picture: input, the update when a tick is due (offline,
// every update due by now), the application's frame hook. Returns 1 when an
// update ran.
static int advance(void) {
    dbx_platform_poll_input();
    int updated = 0;
    while (dbx_platform_ticready(0)) {
        dbx_application_update();
        dtmp_mousedown = 0;
        updated = 1;
        if (!dbx_platform_every_tick) break;
    }
    dbx_application_drawframe();
    return updated;
}

void dbx_platform_pass(void) {
    const int updated = advance();
    if (updated || !dbx_platform_keep || dbx_platform_keep() != 0) dbx_render_to_screen();
    if (dbx_frame_shown) dbx_frame_shown();
    if (dbx_platform_unpaced) wait_for_tick();
}

void dbx_reset(void) {
    memset(dbx_drawbox, 0, sizeof dbx_drawbox);
    memset(dbx_frame, 0, sizeof dbx_frame);
    memset(dbx_frameset, 0, sizeof dbx_frameset);
    dbx_drawboxes = dbx_frames = dbx_framesets = 0;
    dbx_reuse_drawboxes = 0;
    while (dbx_event_get()) {
    }
    dbx_screen_width = dbx_screen_height = dbx_screen_pixelscale = 0;
    dbx_screen_overscan = dbx_screen_overscanx = dbx_screen_overscany = 0;
    dbx_window_width = dbx_window_height = 0;
    dbx_fixed_width = dbx_fixed_height = 0;
    dbx_av_offset_ms = 0;
    dbx_viewport_left = dbx_viewport_right = dbx_viewport_top = dbx_viewport_bottom = 0;
    dbx_viewport_width = dbx_viewport_height = 0;
    dbx_viewport_originx = dbx_viewport_originy = 0;
    dbx_alphamode = 0;
    dbx_platform_unpaced = 0;
    dbx_platform_keep = nullptr;
    dbx_platform_finish = nullptr;
    dbx_frame_shown = nullptr;
    dbx_platform_every_tick = 0;
    dbx_platform_events = 0;
    dtmp_mousex = dtmp_mousey = dtmp_mousedown = 0;
    dbx_ticsize = 25;
    dbx_tics = 0;
    dbx_platform_clock = dbx_monotonic_ms;
    ts_next = 0;
}
