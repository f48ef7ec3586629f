// Fatal messages and PNG decoding, shared by every platform layer.
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
