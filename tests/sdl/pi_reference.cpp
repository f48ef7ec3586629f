// The scene drawn by the Raspberry Pi layer on the emulated VideoCore
// display: writes the pixels inside the viewport to a PNG, for the SDL layer
// tests to compare with.
//   sdl_pi_reference OUT.png WIDTHxHEIGHT
#include "drawboxlib/drawboxlib.h"
#include "scene.h"
#include "standin.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

const char *dbx_application_title = "Pi layer reference";
int dbx_application_init(void) { return 0; }
int dbx_application_update(void) { return 0; }
int dbx_application_drawframe(void) { return 0; }

int main(int argc, char **argv) {
    int w = 0, h = 0;
    if (argc != 3 || sscanf(argv[2], "%dx%d", &w, &h) != 2 || w <= 0 || h <= 0) {
        fprintf(stderr, "usage: sdl_pi_reference OUT.png WIDTHxHEIGHT\n");
        return 2;
    }
    standin_set_display_size(1920, 1080);
    scene_show(w, h);

    // The layer lies where its element was added; the viewport inside it.
    const standin_element_t *layer = standin_last_element();
    uint32_t sw = 0, sh = 0;
    const unsigned char *screen = standin_screen(&sw, &sh);
    if (!layer || !screen) return 1;
    int x0 = layer->dest.x + dbx_viewport_left, y0 = layer->dest.y + dbx_viewport_top;
    std::vector<unsigned char> out(static_cast<size_t>(dbx_viewport_width) * dbx_viewport_height * 4);
    for (int row = 0; row < dbx_viewport_height; row++)
        memcpy(&out[static_cast<size_t>(row) * dbx_viewport_width * 4],
               &screen[(static_cast<size_t>(y0 + row) * sw + x0) * 4], static_cast<size_t>(dbx_viewport_width) * 4);
    return standin_save_png(argv[1], out.data(), static_cast<uint32_t>(dbx_viewport_width),
                            static_cast<uint32_t>(dbx_viewport_height)) == 0 ? 0 : 1;
}
