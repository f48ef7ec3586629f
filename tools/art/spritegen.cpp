// spritegen: draws the intro's sprite pictures as PNG files.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "sprites.h"
#include "file_io.h"

#ifndef ART_FONTDIR
#define ART_FONTDIR "/usr/share/fonts/truetype/dejavu"
#endif

static void usage(FILE *to) {
    fprintf(to,
            "usage: spritegen [--fontdir DIR] OUTDIR [NAME...]\n"
            "Draws the intro's sprite pictures (the invitation lettering, the greeted\n"
            "names, faces, bird, hand, stamp and stars) and writes each one as a PNG\n"
            "file named after its frame into OUTDIR, at its source size with a\n"
            "transparent border. With NAMEs, only those pictures are drawn.\n"
            "  --fontdir DIR   where the DejaVu TrueType fonts are (default %s)\n"
            "  --list          print the picture names, one a line, and exit\n",
            ART_FONTDIR);
}

int main(int argc, char **argv) {
    std::string fontdir = ART_FONTDIR, outdir;
    std::vector<std::string> names;
    for (int i = 1; i < argc; i++) {
        if (!strcmp(argv[i], "--help") || !strcmp(argv[i], "-h")) {
            usage(stdout);
            return 0;
        } else if (!strcmp(argv[i], "--list")) {
            for (int k = 0; k < sprite_count(); k++) printf("%s\n", sprite_at(k).name);
            return 0;
        } else if (!strcmp(argv[i], "--fontdir")) {
            if (++i >= argc) {
                fprintf(stderr, "spritegen: --fontdir needs a directory\n");
                return 2;
            }
            fontdir = argv[i];
        } else if (argv[i][0] == '-' && argv[i][1]) {
            fprintf(stderr, "spritegen: unknown option %s (try --help)\n", argv[i]);
            return 2;
        } else if (outdir.empty()) {
            outdir = argv[i];
        } else {
            names.push_back(argv[i]);
        }
    }
    if (outdir.empty()) {
        usage(stderr);
        return 2;
    }
    std::vector<int> which;
    if (names.empty())
        for (int k = 0; k < sprite_count(); k++) which.push_back(k);
    for (const std::string &n : names) {
        int k = sprite_find(n);
        if (k < 0) {
            fprintf(stderr, "spritegen: no picture called \"%s\" (try --list)\n", n.c_str());
            return 1;
        }
        which.push_back(k);
    }
    // Every picture is drawn before any is written, and they are written all
    // or none.
    std::vector<std::vector<unsigned char>> pngs(which.size());
    std::vector<tool_output> outputs;
    std::string err;
    for (size_t i = 0; i < which.size(); i++) {
        art_image img;
        if (!sprite_render(which[i], fontdir, img, err) || !art_png_encode(img, pngs[i], err)) {
            fprintf(stderr, "spritegen: %s\n", err.c_str());
            return 1;
        }
        outputs.push_back({outdir + "/" + sprite_at(which[i]).name, pngs[i].data(), pngs[i].size()});
    }
    if (!tool_write_files(outputs, {}, err)) {
        fprintf(stderr, "spritegen: %s\n", err.c_str());
        return 1;
    }
    return 0;
}
