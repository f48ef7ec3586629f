// The intro's sprite pictures, drawn with cairo at their source sizes.
#ifndef ART_SPRITES_H
#define ART_SPRITES_H

#include <string>

#include "artimage.h"

struct sprite_spec {
    const char *name;                      // file name, as the frame table names it
    unsigned source_width, source_height;  // size of the whole picture
    art_rect ink;                          // where its opaque pixels lie
};

int sprite_count();
const sprite_spec &sprite_at(int i);
// Index of the sprite with that file name, or -1.
int sprite_find(const std::string &name);

// Draws sprite i into img (source size, transparent border, straight alpha).
// The opaque pixels cover exactly the sprite's ink rectangle, every edge of
// it touched; a picture that does not is reported as an error.
// fontdir holds the DejaVu TrueType files.
bool sprite_render(int i, const std::string &fontdir, art_image &img, std::string &err);

#endif
