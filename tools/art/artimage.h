// Images for the art tools: straight (not premultiplied) 8-bit RGBA, row
// after row, with PNG input and output through lodepng.
#ifndef ART_ARTIMAGE_H
#define ART_ARTIMAGE_H

#include <string>
#include <vector>

struct art_image {
    unsigned width = 0, height = 0;
    std::vector<unsigned char> rgba;  // width * height * 4 bytes
};

struct art_rect {
    unsigned x = 0, y = 0, width = 0, height = 0;
};

// Bounding box of the pixels whose alpha is above 0. An image without such
// pixels gives a rectangle of width and height 0.
art_rect art_opaque_box(const art_image &img);

// The image encoded as PNG bytes (deterministic: same pixels, same bytes).
bool art_png_encode(const art_image &img, std::vector<unsigned char> &png, std::string &err);
bool art_png_read(const std::string &path, art_image &img, std::string &err);

#endif
