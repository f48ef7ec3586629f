// atlaspack: packs trimmed pictures into one atlas PNG and writes the frame
// table header that describes it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "pack.h"
#include "file_io.h"

static void usage(FILE *to) {
    fprintf(to,
            "usage: atlaspack [options] [PICTURE.png...]\n"
            "Trims each picture to its opaque pixels (alpha > 0) and packs them on\n"
            "shelves, tallest first (equal heights: wider first, then in the order\n"
            "given), one texel from the top and left edges and two texels apart, into\n"
            "one square RGBA PNG. Writes that atlas and a C header defining the frame\n"
            "table `tileset` (dbx_frame_t rows: atlas position, trim offsets, trimmed\n"
            "and source sizes, and the picture's file name as the frame name).\n"
            "  --given FILE    the pictures whose rows stay as they are: packed first,\n"
            "                  on their own, named in FILE like --list\n"
            "  --list FILE     take the picture names from FILE, one a line ('#' starts\n"
            "                  a comment), read from the directory given by --dir\n"
            "  --dir DIR       where the pictures of --given and --list are (default .)\n"
            "  --sprites DIR   also every PNG file in DIR, named after its file; a file\n"
            "                  that cannot be a frame is refused with its reason, and\n"
            "                  then nothing is written\n"
            "  --size N        atlas width and height in texels (default 1024)\n"
            "  --png FILE      the atlas to write (default out.png)\n"
            "  --header FILE   the header to write (default out.h)\n");
}

static std::string base_name(const std::string &path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

int main(int argc, char **argv) {
    std::string given_list, list, dir = ".", sprites, png = "out.png", header = "out.h";
    unsigned size = 1024;
    std::vector<std::string> paths;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        auto value = [&](const char *what) -> const char * {
            if (i + 1 >= argc) {
                fprintf(stderr, "atlaspack: %s needs %s\n", a.c_str(), what);
                exit(2);
            }
            return argv[++i];
        };
        if (a == "--help" || a == "-h") {
            usage(stdout);
            return 0;
        } else if (a == "--given") {
            given_list = value("a file");
        } else if (a == "--list") {
            list = value("a file");
        } else if (a == "--sprites") {
            sprites = value("a directory");
        } else if (a == "--dir") {
            dir = value("a directory");
        } else if (a == "--png") {
            png = value("a file");
        } else if (a == "--header") {
            header = value("a file");
        } else if (a == "--size") {
            const char *v = value("a number");
            char *end;
            long n = strtol(v, &end, 10);
            if (*end || n < 4 || n > 16384) {
                fprintf(stderr, "atlaspack: --size wants a number from 4 to 16384, not \"%s\"\n", v);
                return 2;
            }
            size = unsigned(n);
        } else if (a.size() > 1 && a[0] == '-') {
            fprintf(stderr, "atlaspack: unknown option %s (try --help)\n", a.c_str());
            return 2;
        } else {
            paths.push_back(a);
        }
    }
    std::string err;
    // The given pictures come first, then the listed ones, then those given
    // on the command line, then the sprite folder's.
    std::vector<std::string> names, files;
    size_t given = SIZE_MAX;
    for (const std::string *from : {&given_list, &list}) {
        if (!from->empty() && !atlas_read_list(*from, names, err)) {
            fprintf(stderr, "atlaspack: %s\n", err.c_str());
            return 1;
        }
        if (from == &given_list && !from->empty()) given = names.size();
    }
    for (const std::string &n : names) files.push_back(dir + "/" + n);
    for (const std::string &p : paths) {
        files.push_back(p);
        names.push_back(base_name(p));
    }
    std::vector<art_image> pictures(files.size());
    for (size_t i = 0; i < files.size(); i++)
        if (!art_png_read(files[i], pictures[i], err)) {
            fprintf(stderr, "atlaspack: %s\n", err.c_str());
            return 1;
        }
    if (!sprites.empty()) {
        const size_t before = names.size();
        std::vector<std::string> refused;
        atlas_read_sprites(sprites, size, names, pictures, refused);
        for (const std::string &why : refused) fprintf(stderr, "atlaspack: %s/%s\n", sprites.c_str(), why.c_str());
        if (!refused.empty()) {
            fprintf(stderr, "atlaspack: %zu sprite%s refused; nothing written\n", refused.size(),
                    refused.size() == 1 ? "" : "s");
            return 1;
        }
        for (size_t i = before; i < names.size(); i++) files.push_back(sprites + "/" + names[i]);
    }
    if (files.empty()) {
        fprintf(stderr, "atlaspack: no pictures given (try --help)\n");
        return 2;
    }
    std::vector<packed_frame> frames;
    art_image atlas;
    if (!atlas_pack(names, pictures, size, frames, atlas, err, given)) {
        fprintf(stderr, "atlaspack: %s\n", err.c_str());
        return 1;
    }
    std::string text = atlas_header(frames, base_name(png));
    std::vector<unsigned char> png_bytes;
    std::vector<std::string> inputs = files;
    for (const std::string &from : {given_list, list})
        if (!from.empty()) inputs.push_back(from);
    // Both files or neither: a header that names another atlas's rows would
    // draw garbage.
    if (!art_png_encode(atlas, png_bytes, err) ||
        !tool_write_files({{png, png_bytes.data(), png_bytes.size()}, {header, text.data(), text.size()}}, inputs,
                          err)) {
        fprintf(stderr, "atlaspack: %s\n", err.c_str());
        return 1;
    }
    return 0;
}
