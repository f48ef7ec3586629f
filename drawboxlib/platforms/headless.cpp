// A platform without a display: no window, no GL context, the swap does
// nothing. It runs the whole show (clock, music, director) for a machine
// that has nothing to show it on.
#include "../drawboxlib.h"

void dbx_platform_init_window(void) {
    dbx_platform_unpaced = 1;  // no display paces the loop
    dbx_screen_width = dbx_window_width > 0 && dbx_window_height > 0 ? dbx_window_width : 1920;
    dbx_screen_height = dbx_window_width > 0 && dbx_window_height > 0 ? dbx_window_height : 1080;
}

void dbx_platform_swapbuffers(void) {}

void dbx_platform_poll_input(void) {}
