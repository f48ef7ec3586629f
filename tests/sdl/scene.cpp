#include "scene.h"

#include "drawboxlib/drawboxlib.h"
#include "tests/common/pools.h"

#include <lodepng.h>

#include <cstdlib>
#include <cstring>

namespace {

constexpr unsigned atlas_size = 64;

void fill(unsigned char *pixels, unsigned x, unsigned y, unsigned w, unsigned h, int step) {
    for (unsigned row = y; row < y + h; row++)
        for (unsigned col = x; col < x + w; col++) {
            unsigned char *p = &pixels[(row * atlas_size + col) * 4];
            p[0] = static_cast<unsigned char>(col * 4 * step);
            p[1] = static_cast<unsigned char>(row * 4);
            p[2] = static_cast<unsigned char>(((col / 3 + row / 3) & 1) ? 230 : 40);
            p[3] = static_cast<unsigned char>(step == 2 ? 140 : 255);
        }
}

dbx_frame_t frame(const char *name, uint32_t x1, uint32_t y1, uint32_t w, uint32_t h, uint32_t xoffset,
                  uint32_t yoffset) {
    dbx_frame_t f{};
    f.used = 1;
    f.x1 = x1, f.y1 = y1;
    f.xoffset = xoffset, f.yoffset = yoffset;
    f.width = w, f.height = h;
    strncpy(f.source_name, name, sizeof f.source_name - 1);
    f.source_width = xoffset + w + 3;
    f.source_height = yoffset + h + 1;
    return f;
}


}  // namespace

void scene_load(void) {
    // Three frames, each with a one-texel border of its own colours around it
    // (the renderer reaches into it for magnified and rotated boxes).
    static unsigned char pixels[atlas_size * atlas_size * 4];
    memset(pixels, 0, sizeof pixels);
    fill(pixels, 1, 1, 22, 14, 1);
    fill(pixels, 25, 1, 18, 18, 2);
    fill(pixels, 1, 21, 32, 22, 3);
    const dbx_frame_t frames[] = {
        frame("plain", 2, 2, 20, 12, 0, 0),
        frame("glass", 26, 2, 16, 16, 3, 2),
        frame("check", 2, 22, 30, 20, 1, 4),
    };
    unsigned char *png = nullptr;
    size_t png_size = 0;
    if (lodepng_encode32(&png, &png_size, pixels, atlas_size, atlas_size) == 0)
        dbx_loadframeset(nullptr, png, static_cast<int>(png_size), frames, 3);
    free(png);

    add_box(0, 10, 10, 1.0f, 0.0f);
    add_box(0, 100, 40, 3.5f, 0.0f);
    add_box(1, 120, 50, 2.0f, 0.0f);      // half transparent, over the one before
    add_box(1, 200, 100, 4.0f, 30.0f);
    add_box(2, 300, 150, 2.25f, -72.5f);
    add_box(1, 600, 300, 5.0f, 0.0f);     // cut by the right and bottom edges
    add_box(2, -20, -10, 3.0f, 10.0f);    // cut by the left and top edges
    add_box(2, 420, 20, 0.5f, 0.0f);
}

void scene_draw(void) {
    dbx_clear(60, 70, 80, 255);
    dbx_render_to_screen();
}

void scene_show(int window_width, int window_height) {
    dbx_reset();
    dbx_window_width = window_width;
    dbx_window_height = window_height;
    dbx_fixed_width = SCENE_WIDTH;
    dbx_fixed_height = SCENE_HEIGHT;
    dbx_alphamode = 1;
    dbx_init();
    scene_load();
    scene_draw();
}
