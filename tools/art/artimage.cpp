#include "artimage.h"

#include <cstdlib>

#include <lodepng.h>

art_rect art_opaque_box(const art_image &img) {
    unsigned x0 = img.width, y0 = img.height, x1 = 0, y1 = 0;
    bool any = false;
    for (unsigned y = 0; y < img.height; y++)
        for (unsigned x = 0; x < img.width; x++)
            if (img.rgba[(size_t(y) * img.width + x) * 4 + 3] > 0) {
                any = true;
                if (x < x0) x0 = x;
                if (y < y0) y0 = y;
                if (x > x1) x1 = x;
                if (y > y1) y1 = y;
            }
    art_rect r;
    if (any) r = {x0, y0, x1 - x0 + 1, y1 - y0 + 1};
    return r;
}

bool art_png_encode(const art_image &img, std::vector<unsigned char> &png, std::string &err) {
    unsigned char *out = nullptr;
    size_t size = 0;
    unsigned e = lodepng_encode32(&out, &size, img.rgba.data(), img.width, img.height);
    if (e) {
        free(out);
        err = std::string("PNG encoding failed: ") + lodepng_error_text(e);
        return false;
    }
    png.assign(out, out + size);
    free(out);
    return true;
}

bool art_png_read(const std::string &path, art_image &img, std::string &err) {
    unsigned char *pixels = nullptr;
    unsigned w = 0, h = 0;
    unsigned e = lodepng_decode32_file(&pixels, &w, &h, path.c_str());
    if (e) {
        free(pixels);
        err = path + ": " + lodepng_error_text(e);
        return false;
    }
    img.width = w;
    img.height = h;
    img.rgba.assign(pixels, pixels + size_t(w) * h * 4);
    free(pixels);
    return true;
}
