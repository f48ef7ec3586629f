#include "display_fixture.h"

#include <lodepng.h>

#include <cstdlib>
#include <cstring>

// The engine's application hooks, as a test application.
const char *dbx_application_title = "display tests";
int app_updates;
int32_t app_mousedown_seen;
int dbx_application_init(void) { return 0; }
int dbx_application_update(void) {
    app_updates++;
    app_mousedown_seen = dtmp_mousedown;
    return 0;
}
int dbx_application_drawframe(void) { return 0; }

void reset_engine(void) {
    dbx_reset();
    for (const char *name :
         {"DBX_OVERSCAN", "DBX_OVERSCANX", "DBX_OVERSCANY", "DBX_WINDOWSIZE", "DBX_RESOLUTION", "DBX_AV_OFFSET_MS"})
        unsetenv(name);
    standin_fail_step(nullptr);
    app_updates = 0;
    app_mousedown_seen = 0;
}

void open_display(uint32_t width, uint32_t height) {
    standin_set_display_size(width, height);
    dbx_fixed_width = 640;
    dbx_fixed_height = 360;
    dbx_alphamode = 1;
    dbx_init();
}

void rgba_image::fill(uint32_t x, uint32_t y, uint32_t w, uint32_t h, unsigned char r, unsigned char g,
                      unsigned char b, unsigned char a) {
    for (uint32_t row = y; row < y + h; row++) {
        for (uint32_t col = x; col < x + w; col++) {
            unsigned char *p = &pixels[(static_cast<size_t>(row) * width + col) * 4];
            p[0] = r, p[1] = g, p[2] = b, p[3] = a;
        }
    }
}

std::vector<unsigned char> rgba_image::png(void) const {
    unsigned char *out = nullptr;
    size_t size = 0;
    unsigned error = lodepng_encode32(&out, &size, pixels.data(), width, height);
    EXPECT_EQ(error, 0u) << lodepng_error_text(error);
    std::vector<unsigned char> bytes(out, out + size);
    free(out);
    return bytes;
}

dbx_frame_t make_frame(const char *name, uint32_t x1, uint32_t y1, uint32_t xoffset, uint32_t yoffset,
                       uint32_t width, uint32_t height) {
    dbx_frame_t f{};
    f.used = 1;
    f.frameset = 1;
    f.x1 = x1, f.y1 = y1;
    f.xoffset = xoffset, f.yoffset = yoffset;
    f.width = width, f.height = height;
    strncpy(f.source_name, name, sizeof f.source_name - 1);
    f.source_width = xoffset + width;
    f.source_height = yoffset + height;
    return f;
}

screen_pixel screen_at(uint32_t x, uint32_t y) {
    uint32_t w = 0, h = 0;
    const unsigned char *screen = standin_screen(&w, &h);
    if (x >= w || y >= h) {
        ADD_FAILURE() << "pixel (" << x << ", " << y << ") is off the " << w << "x" << h << " screen";
        return {};
    }
    const unsigned char *p = &screen[(static_cast<size_t>(y) * w + x) * 4];
    return {p[0], p[1], p[2], p[3]};
}
