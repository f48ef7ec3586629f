// Fatal messages, PNG decoding and the layer's place on the display, shared
// by every platform layer.
#include "../drawboxlib.h"

#include <lodepng.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

void dbx_platform_fatal(const char *title, const char *text) {
    printf("[%s] %s\n", title, text);
    fflush(stdout);
}

dbx_image_t *dbx_loadpng(const char *filename, const unsigned char *data, int datasize) {
    unsigned char *file = nullptr, *pixels = nullptr;
    size_t size = static_cast<size_t>(datasize);
    unsigned width = 0, height = 0;
    unsigned error = 0;
    if (datasize == 0) {
        error = lodepng_load_file(&file, &size, filename);
        data = file;
    } else if (datasize < 0) {
        error = 48;  // lodepng's "empty input buffer"
    }
    // The size comes from the header before anything is decoded: an image
    // larger than any texture is refused without allocating it.
    if (!error) {
        LodePNGState state;
        lodepng_state_init(&state);
        error = lodepng_inspect(&width, &height, &state, data, size);
        lodepng_state_cleanup(&state);
    }
    if (!error && (width > DBX_MAX_IMAGE_SIDE || height > DBX_MAX_IMAGE_SIDE)) {
        char text[96];
        snprintf(text, sizeof text, "the image is %ux%u pixels; at most %dx%d can be loaded", width, height,
                 DBX_MAX_IMAGE_SIDE, DBX_MAX_IMAGE_SIDE);
        dbx_platform_fatal("lodepng", text);
        free(file);
        return nullptr;
    }
    if (!error) error = lodepng_decode32(&pixels, &width, &height, data, size);
    free(file);
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

// Sums in 64 bits, results clamped to the 32-bit range, so no value of the
// settings or the display size can overflow.
static int32_t clamp32(int64_t value) {
    return static_cast<int32_t>(value < INT32_MIN ? INT32_MIN : value > INT32_MAX ? INT32_MAX : value);
}

static int32_t margin(int32_t overscan, int32_t display_size) {
    if (overscan <= 0) return 0;
    float m = static_cast<float>(overscan) / 1000.0f * static_cast<float>(display_size);
    // Out of the int range the conversion would be undefined.
    if (!(m > -2147483520.0f)) return INT32_MIN;
    if (!(m < 2147483520.0f)) return INT32_MAX;
    return static_cast<int32_t>(m);
}

void dbx_platform_layer_rect(int32_t display_width, int32_t display_height, int32_t *x, int32_t *y,
                             int32_t *width, int32_t *height) {
    *x = 0;
    *y = 0;
    if (dbx_window_width > 0 && dbx_window_height > 0) {
        *width = dbx_window_width;
        *height = dbx_window_height;
        *x = clamp32((int64_t{display_width} - *width) / 2);
        *y = clamp32((int64_t{display_height} - *height) / 2);
        return;
    }
    *x = margin(dbx_screen_overscanx, display_width);
    *y = margin(dbx_screen_overscany, display_height);
    *width = clamp32(int64_t{display_width} - 2 * int64_t{*x});
    *height = clamp32(int64_t{display_height} - 2 * int64_t{*y});
}
