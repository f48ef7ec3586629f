// Fatal messages, PNG decoding and the layer's place on the display, shared
// by every platform layer.
#include "../drawboxlib.h"

#include <lodepng.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

void dbx_platform_fatal(const char *title, const char *text) {
    printf("[%s] %s\n", title, text);
    fflush(stdout);
}

dbx_image_t *dbx_loadpng(const char *filename, const unsigned char *data, int datasize) {
    unsigned char *pixels = nullptr;
    unsigned width = 0, height = 0;
    unsigned error = datasize != 0
        ? lodepng_decode32(&pixels, &width, &height, data, static_cast<size_t>(datasize))
        : lodepng_decode32_file(&pixels, &width, &height, filename);
    if (error) {
        dbx_platform_fatal("lodepng", lodepng_error_text(error));
        free(pixels);
        return nullptr;
    }
    size_t bytes = static_cast<size_t>(width) * height * 4;
    dbx_image_t *image = static_cast<dbx_image_t *>(malloc(sizeof(dbx_image_t) + bytes));
    if (!image) {
        free(pixels);
        return nullptr;
    }
    memcpy(dbx_image_pixels(image), pixels, bytes);
    free(pixels);
    image->width = width;
    image->height = height;
    return image;
}

void dbx_platform_layer_rect(int32_t display_width, int32_t display_height, int32_t *x, int32_t *y,
                             int32_t *width, int32_t *height) {
    *x = 0;
    *y = 0;
    if (dbx_window_width > 0 && dbx_window_height > 0) {
        *width = dbx_window_width;
        *height = dbx_window_height;
        *x = (display_width - *width) / 2;
        *y = (display_height - *height) / 2;
        return;
    }
    if (dbx_screen_overscanx > 0)
        *x = static_cast<int32_t>(static_cast<float>(dbx_screen_overscanx) / 1000.0f *
                                  static_cast<float>(display_width));
    if (dbx_screen_overscany > 0)
        *y = static_cast<int32_t>(static_cast<float>(dbx_screen_overscany) / 1000.0f *
                                  static_cast<float>(display_height));
    *width = display_width - 2 * *x;
    *height = display_height - 2 * *y;
}
