// Entry point of the interactive builds: start up, then loop until the
// process is ended (by the application, the window, or from outside).
#include "drawboxlib.h"

#include <signal.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>

static const char usage[] =
    "Usage: %s [--help]\n"
    "Plays the invitation intro with its music, and ends with its song.\n"
    "Escape or Q (or closing its window) ends it early; so do SIGINT and SIGTERM.\n"
    "\n"
    "Settings (environment variables, read once at the start; a number is read\n"
    "whole, and one that cannot be used is named and ignored):\n"
    "  DBX_WINDOWSIZE=WxH     a window of that size instead of the full screen\n"
    "  DBX_RESOLUTION=WxH     the logical resolution (the intro draws 640x360)\n"
    "  DBX_OVERSCAN=N         margins in thousandths of the display (0 to 499);\n"
    "  DBX_OVERSCANX=N        DBX_OVERSCANX and DBX_OVERSCANY for one axis\n"
    "  DBX_OVERSCANY=N\n"
    "  DBX_AV_OFFSET_MS=N     the display shows pictures N ms late (-1000 to 1000):\n"
    "                         they are drawn that much earlier against the sound\n"
    "  DBX_DATA=DIR           the folder with the intro's files\n"
    "  DBX_LOOP=1             play the intro again and again instead of ending\n";

// A stop asked for from outside (Ctrl-C, a service manager): the pass that
// runs ends first, then the program ends as at the song's end, leaving the
// console and the sound as it found them.
static volatile sig_atomic_t stop_asked;
static void ask_to_stop(int) { stop_asked = 1; }

int main(int argc, char **argv) {
    for (int i = 1; i < argc; i++)
        if (!strcmp(argv[i], "--help") || !strcmp(argv[i], "-h")) {
            const char *name = strrchr(argv[0], '/');
            printf(usage, name ? name + 1 : argv[0]);  // argv[0] is there: argc > i
            return 0;
        }
    struct sigaction stop = {};
    stop.sa_handler = ask_to_stop;
    sigemptyset(&stop.sa_mask);
    for (int sig : {SIGINT, SIGTERM}) sigaction(sig, &stop, nullptr);
    dbx_platform_start();
    while (!stop_asked) dbx_platform_pass();
    dbx_platform_end();
}
