// invitro-edit SCENE: edits data/SCENE.dat (and assets/scenes/SCENE.txt) in
// a window, from the folder that holds the intro's files.
#include "editor.h"

#include <cstdio>
#include <cstring>

static const char usage[] =
    "usage: invitro-edit SCENE   edit data/SCENE.dat and assets/scenes/SCENE.txt\n"
    "\n"
    "Mouse: click picks the top-most box, drag moves it, the wheel scales it\n"
    "(Shift: finer). Keys: arrows nudge (Shift: 10), Q/E rotate 1 degree\n"
    "(Shift: 15), PageUp/PageDown step the frame, F shows the frame palette,\n"
    "Tab selects the next box, N makes a box at the pointer, Delete removes,\n"
    "Ctrl+D duplicates, [ and ] move down and up in the drawing order,\n"
    ", and . choose an animation field and - and = change it (Shift: 10),\n"
    "Ctrl+Z undoes, Ctrl+Shift+Z redoes, Space plays the scene to the music,\n"
    "Ctrl+S saves, Escape quits (twice with unsaved edits). When the text and\n"
    "the scene file disagree, T takes the text and R replaces it.\n";

int main(int argc, char **argv) {
    if (argc != 2 || !strcmp(argv[1], "--help") || !strcmp(argv[1], "-h")) {
        fputs(usage, argc == 2 && argv[1][0] == '-' ? stdout : stderr);
        return argc == 2 && argv[1][0] == '-' ? 0 : 2;
    }
    if (const char *why = ed_bad_name(argv[1])) {
        fprintf(stderr, "invitro-edit: \"%.80s%s\": %s.\n", argv[1], strlen(argv[1]) > 80 ? "..." : "", why);
        return 2;
    }
    ed_name = argv[1];
    dbx_platform_start();
    for (;;) dbx_platform_pass();
}
