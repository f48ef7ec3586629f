// invitro-edit SCENE: edits data/SCENE.dat (and assets/scenes/SCENE.txt) in
// a window, from the folder that holds the intro's files.
#include "editor.h"

#include <cstdio>
#include <cstring>

int main(int argc, char **argv) {
    if (argc != 2 || !strcmp(argv[1], "--help") || !strcmp(argv[1], "-h")) {
        FILE *out = argc == 2 && argv[1][0] == '-' ? stdout : stderr;
        fputs("usage: invitro-edit SCENE   edit data/SCENE.dat and assets/scenes/SCENE.txt\n"
              "\n"
              "Mouse and keys:\n",
              out);
        ed_print_inputs(out);
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
