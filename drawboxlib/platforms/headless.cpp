// A platform without a display: no window, no GL context, the swap does
// nothing. It runs the whole show (clock, music, director) for a machine
// that has nothing to show it on.
#include "../drawboxlib.h"

#include <unistd.h>

void dbx_platform_init_window(void) {
    dbx_screen_width = dbx_window_width > 0 && dbx_window_height > 0 ? dbx_window_width : 1920;
    dbx_screen_height = dbx_window_width > 0 && dbx_window_height > 0 ? dbx_window_height : 1080;
}

// Nothing is shown, so no display paces the loop: on the wall clock it
// sleeps until the next tick is due (at most one tick's length) instead of
// spinning. Another time source is never waited for.
void dbx_platform_swapbuffers(void) {
    if (dbx_platform_clock != dbx_wallclock_ms) return;
    const uint64_t now = dbx_wallclock_ms(), due = dbx_platform_next_tick();
    if (due <= now) return;
    const uint64_t most = dbx_ticsize > 0 ? static_cast<uint64_t>(dbx_ticsize) : 1;
    const uint64_t wait = due - now < most ? due - now : most;
    usleep(static_cast<useconds_t>(wait * 1000));
}

void dbx_platform_poll_input(void) {}
