// contactsheet: plays the intro off screen, with its music driving the
// schedule as always, and keeps one frame of every scene at a telling moment:
// the first frame, at least a second and a half into the scene's first visit,
// that shows the most boxes of that visit. A frame of every scene of the
// show's table goes into one labelled PNG.
#include <cairo.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "invitro_capture.h"
#include "drawboxlib/drawboxlib.h"
#include "drawboxlib/platforms/capture_layer.h"
#include "intro.h"
#include "songclock.h"
#include "file_io.h"

namespace {

constexpr int frame_w = 640, frame_h = 360;  // the intro's logical screen, 1:1
constexpr int tile_w = 320, tile_h = 180;    // half size on the sheet
constexpr int label_h = 24, gap = 8, columns = 4;
constexpr double settle_s = 1.5;             // let the animation get going first
constexpr double longest_s = 900;            // a song that never ends stops here

struct grab {
    bool visited = false, done = false;  // done: its first visit is over
    uint64_t start = 0;
    int shown = -1;
    int position = 0;
    std::vector<unsigned char> rgba;
};

// The scenes in the order a viewer meets them, then those the song never
// brings in the table's order.
int viewing_order(int *order) {
    int n = 0;
    auto add = [&](const char *name) {
        for (int i = 0; i < scene_count; i++) {
            if (strcmp(scenes[i].name, name) != 0) continue;
            for (int j = 0; j < n; j++)
                if (order[j] == i) return;
            order[n++] = i;
        }
    };
    if (schedule.start) add(schedule.start);
    for (const schedule_row &row : schedule) add(row.scene);
    for (int i = 0; i < scene_count; i++)
        if (intro_scene_position(scenes[i].name) < 0) order[n++] = i;
    return n;
}

int boxes_shown() {
    int n = 0;
    for (uint32_t i = 0; i < dbx_drawboxes; i++) n += dbx_drawbox[i].used && dbx_drawbox[i].visible;
    return n;
}

cairo_status_t append_bytes(void *closure, const unsigned char *data, unsigned int length) {
    auto *v = static_cast<std::vector<unsigned char> *>(closure);
    v->insert(v->end(), data, data + length);
    return CAIRO_STATUS_SUCCESS;
}

void usage(FILE *to) {
    fprintf(to,
            "usage: contactsheet [-o FILE] [--fps N]\n"
            "Plays the intro off screen (Mesa's surfaceless EGL) at 640x360 and writes\n"
            "one PNG with a frame of each scene of its show, labelled, in the order\n"
            "they play; scenes the song never brings come last. Run it in the folder\n"
            "that holds out.png, omber.xm and data/ (and assets/show.txt, if any).\n"
            "  -o FILE    the sheet to write (default contact-sheet.png)\n"
            "  --fps N    frames per second of the run (default 25)\n");
}

}  // namespace

int main(int argc, char **argv) {
    std::string out = "contact-sheet.png";
    int fps = 25;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            usage(stdout);
            return 0;
        } else if ((a == "-o" || a == "--fps") && i + 1 < argc) {
            std::string v = argv[++i];
            if (a == "-o") {
                out = v;
            } else {
                char *end;
                long n = strtol(v.c_str(), &end, 10);
                if (*end || n < 1 || n > 120) {
                    fprintf(stderr, "contactsheet: --fps wants a number from 1 to 120, not \"%s\"\n", v.c_str());
                    return 2;
                }
                fps = int(n);
            }
        } else {
            fprintf(stderr, "contactsheet: unexpected \"%s\" (try --help)\n", a.c_str());
            return 2;
        }
    }
    for (const char *f : {"out.png", "omber.xm"})
        if (FILE *probe = fopen(f, "rb")) fclose(probe);
        else {
            fprintf(stderr, "contactsheet: no %s here: run it where the intro's files are\n", f);
            return 1;
        }

    grab grabs[SCENE_MAX];
    capture_start(frame_w, frame_h, fps);
    const uint64_t settle = uint64_t(settle_s * fps), most = uint64_t(longest_s * fps);
    int last = -1;
    for (;;) {
        capture_step();
        if (capture_frame == 1 && !capture_music_loaded()) {
            fprintf(stderr, "contactsheet: the music did not load, so no scene would play\n");
            return 1;
        }
        int cur = currentscene;
        if (cur != last && last >= 0) grabs[last].done = true;
        last = cur;
        if (cur >= 0) {
            grab &g = grabs[cur];
            if (!g.visited) {
                g.visited = true;
                g.start = capture_frame;
                g.position = xmtrack;
            }
            int shown = boxes_shown();
            if (!g.done && capture_frame - g.start >= settle && shown > g.shown) {
                g.shown = shown;
                g.rgba.assign(dbx_capture_frame(), dbx_capture_frame() + size_t(frame_w) * frame_h * 4);
            }
        }
        if (capture_song_ended() || capture_frame >= most) break;
    }
    // The scenes the schedule never shows, each shown here once the song is over.
    for (int s = 0; s < scene_count; s++) {
        if (intro_scene_position(scenes[s].name) >= 0 || !grabs[s].rgba.empty()) continue;
        switchscene(scenes[s].name);
        capture_step();
        grabs[s].rgba.assign(dbx_capture_frame(), dbx_capture_frame() + size_t(frame_w) * frame_h * 4);
        grabs[s].position = -1;
    }

    int order[SCENE_MAX];
    const int shown = viewing_order(order);
    const int rows = (shown + columns - 1) / columns;
    const int sheet_w = columns * tile_w + (columns + 1) * gap;
    const int sheet_h = rows * (tile_h + label_h) + (rows + 1) * gap;
    cairo_surface_t *sheet = cairo_image_surface_create(CAIRO_FORMAT_RGB24, sheet_w, sheet_h);
    cairo_t *cr = cairo_create(sheet);
    cairo_set_source_rgb(cr, 0.16, 0.16, 0.2);
    cairo_paint(cr);
    cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
    cairo_set_font_size(cr, 14);
    int missing = 0;
    for (int k = 0; k < shown; k++) {
        const int s = order[k];
        double x = gap + (k % columns) * (tile_w + gap), y = gap + (k / columns) * (tile_h + label_h + gap);
        std::string label = scenes[s].name;
        if (show[s].file[0]) label += std::string("  \xc2\xb7  ") + show[s].file + ".dat";
        if (grabs[s].rgba.empty()) {
            fprintf(stderr, "contactsheet: scene \"%s\" never played\n", scenes[s].name);
            missing++;
            continue;
        }
        const grab &g = grabs[s];
        if (g.position >= 0) label = "pos " + std::to_string(g.position) + "  " + label;
        // RGBA bytes into cairo's native-endian xRGB words.
        cairo_surface_t *frame = cairo_image_surface_create(CAIRO_FORMAT_RGB24, frame_w, frame_h);
        unsigned char *dst = cairo_image_surface_get_data(frame);
        int stride = cairo_image_surface_get_stride(frame);
        for (int py = 0; py < frame_h; py++)
            for (int px = 0; px < frame_w; px++) {
                const unsigned char *p = &g.rgba[(size_t(py) * frame_w + px) * 4];
                reinterpret_cast<uint32_t *>(dst + size_t(py) * stride)[px] =
                    uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
            }
        cairo_surface_mark_dirty(frame);
        cairo_save(cr);
        cairo_translate(cr, x, y);
        cairo_scale(cr, double(tile_w) / frame_w, double(tile_h) / frame_h);
        cairo_set_source_surface(cr, frame, 0, 0);
        cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
        cairo_paint(cr);
        cairo_restore(cr);
        cairo_surface_destroy(frame);
        cairo_set_source_rgb(cr, 0.92, 0.92, 0.96);
        cairo_move_to(cr, x + 2, y + tile_h + 17);
        cairo_show_text(cr, label.c_str());
    }
    cairo_destroy(cr);
    std::vector<unsigned char> png;
    cairo_surface_write_to_png_stream(sheet, append_bytes, &png);
    cairo_surface_destroy(sheet);
    std::string err;
    if (png.empty() || !tool_write_file(out, png.data(), png.size(), err, capture_inputs())) {
        fprintf(stderr, "contactsheet: %s\n", err.empty() ? "PNG encoding failed" : err.c_str());
        return 1;
    }
    return missing ? 1 : 0;
}
