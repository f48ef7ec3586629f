// The atlas packer: trims pictures to their opaque pixels and packs them on
// shelves into one square RGBA image, with the frame table that says where
// each one went.
#ifndef ART_PACK_H
#define ART_PACK_H

#include <cstdint>
#include <string>
#include <vector>

#include "artimage.h"

struct packed_frame {
    std::string name;
    unsigned x1, y1;               // packed rectangle in the atlas
    unsigned xoffset, yoffset;     // trimmed border at the left and top
    unsigned width, height;        // trimmed size
    unsigned source_width, source_height;
};

// Packs the named pictures, given in listed order, into a size x size atlas.
// The first `given` pictures are packed first on their own, so that their
// rows stay where they are whatever comes after them; the others follow on
// the same shelves. Within each group rows come out in packing order: by
// decreasing height, equal heights wider first, then in listed order.
// Shelves start one texel from the top and left edges; rectangles lie two
// texels apart along and between shelves.
bool atlas_pack(const std::vector<std::string> &names, const std::vector<art_image> &pictures, unsigned size,
                std::vector<packed_frame> &frames, art_image &atlas, std::string &err, size_t given = SIZE_MAX);

// Why the picture cannot be the frame `name` of a size x size atlas (its
// name, no opaque pixel, too big once trimmed), or "" when it can.
std::string atlas_frame_problem(const std::string &name, const art_image &picture, unsigned size);

// The PNG files of `dir` (names ending in ".png", in byte order of their
// names; other files are left alone), appended to `names` and `pictures` as
// frames named after their files. A file that is not a PNG, or that
// atlas_frame_problem refuses, or whose name `names` already holds, is
// refused instead: one line "FILE: why" in `refused`. A missing folder holds
// no sprites.
void atlas_read_sprites(const std::string &dir, unsigned size, std::vector<std::string> &names,
                        std::vector<art_image> &pictures, std::vector<std::string> &refused);

// Appends the picture names listed in the file at `path`, one a line. Blank
// lines and lines whose first non-blank character is '#' are skipped; blanks
// and a carriage return round a name are not part of it.
bool atlas_read_list(const std::string &path, std::vector<std::string> &names, std::string &err);

// The C header defining `tileset` for the frame rows.
std::string atlas_header(const std::vector<packed_frame> &frames, const std::string &pngname);

#endif
