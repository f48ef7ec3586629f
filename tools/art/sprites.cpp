// Every picture is drawn in its own design coordinates (roughly the pixels of
// its ink rectangle) and then fitted onto that rectangle exactly: a first
// pass measures the outline shapes, the fit maps their extents (plus half an
// outline and the drop shadow) a little past the rectangle's edges, and the
// clip cuts them there. So trimming the result gives the rectangle back, and
// each of its four edges touches ink.
#include "sprites.h"

#include <cairo-ft.h>
#include <cairo.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <cmath>
#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace {

// ---------------------------------------------------------------- colours

struct rgba {
    double r, g, b, a;
};

constexpr rgba hex(unsigned v, double a = 1.0) {
    return {((v >> 16) & 255) / 255.0, ((v >> 8) & 255) / 255.0, (v & 255) / 255.0, a};
}

constexpr rgba ink_dark = hex(0x140c28);    // outlines: dark enough to read on white
constexpr rgba shadow_dark = hex(0x05030c);

// A fill: a flat colour or a linear/radial gradient in design coordinates.
struct paint {
    enum kind_t { solid, linear, radial } kind = solid;
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0, r1 = 0;  // a radial gradient starts at a point
    std::vector<std::pair<double, rgba>> stops;
};

paint flat(rgba c) {
    paint p;
    p.stops = {{0.0, c}};
    return p;
}

paint vgrad(double y0, double y1, std::vector<std::pair<double, rgba>> stops) {
    paint p;
    p.kind = paint::linear;
    p.y0 = y0;
    p.y1 = y1;
    p.stops = std::move(stops);
    return p;
}

paint hgrad(double x0, double x1, std::vector<std::pair<double, rgba>> stops) {
    paint p;
    p.kind = paint::linear;
    p.x0 = x0;
    p.x1 = x1;
    p.stops = std::move(stops);
    return p;
}

paint rgrad(double cx, double cy, double r, std::vector<std::pair<double, rgba>> stops) {
    paint p;
    p.kind = paint::radial;
    p.x0 = p.x1 = cx;
    p.y0 = p.y1 = cy;
    p.r1 = r;
    p.stops = std::move(stops);
    return p;
}

void set_paint(cairo_t *cr, const paint &p) {
    if (p.kind == paint::solid) {
        const rgba &c = p.stops[0].second;
        cairo_set_source_rgba(cr, c.r, c.g, c.b, c.a);
        return;
    }
    cairo_pattern_t *pat = p.kind == paint::linear
                               ? cairo_pattern_create_linear(p.x0, p.y0, p.x1, p.y1)
                               : cairo_pattern_create_radial(p.x0, p.y0, 0, p.x1, p.y1, p.r1);
    for (auto &s : p.stops) cairo_pattern_add_color_stop_rgba(pat, s.first, s.second.r, s.second.g, s.second.b, s.second.a);
    cairo_set_source(cr, pat);
    cairo_pattern_destroy(pat);
}

// ---------------------------------------------------------------- fonts

// Loaded once and kept for the whole run: cairo caches faces beyond our own
// references, so the FreeType library must outlive every one of them.
struct font_set {
    FT_Library lib = nullptr;
    std::map<std::string, cairo_font_face_t *> faces;
};

font_set &fonts() {
    static font_set *fs = new font_set;
    return *fs;
}

const cairo_user_data_key_t ft_face_key{};

cairo_font_face_t *load_face(font_set &fs, const std::string &path, std::string &err) {
    auto it = fs.faces.find(path);
    if (it != fs.faces.end()) return it->second;
    if (!fs.lib && FT_Init_FreeType(&fs.lib)) {
        err = "cannot start FreeType";
        return nullptr;
    }
    FT_Face face;
    if (FT_New_Face(fs.lib, path.c_str(), 0, &face)) {
        err = "cannot load font " + path;
        return nullptr;
    }
    cairo_font_face_t *cf = cairo_ft_font_face_create_for_ft_face(face, 0);
    // The FreeType face lives as long as the cairo face.
    cairo_font_face_set_user_data(cf, &ft_face_key, face, [](void *f) { FT_Done_Face(static_cast<FT_Face>(f)); });
    fs.faces[path] = cf;
    return cf;
}

// Extents of the current path, from its flattened form: tight to within the
// flattening tolerance. 
void flat_extents(cairo_t *cr, double &x0, double &y0, double &x1, double &y1) {
    cairo_path_t *flat = cairo_copy_path_flat(cr);
    bool first = true;
    double mx = 0, my = 0;
    auto add = [&](double x, double y) {
        if (first) {
            x0 = x1 = x, y0 = y1 = y;
            first = false;
        }
        x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x), y1 = std::max(y1, y);
    };
    // A move counts only once a line is drawn from it: text paths end with a
    // move to the pen position after the last glyph.
    for (int i = 0; i < flat->num_data; i += flat->data[i].header.length) {
        const cairo_path_data_t *d = &flat->data[i];
        if (d->header.type == CAIRO_PATH_MOVE_TO) {
            mx = d[1].point.x, my = d[1].point.y;
        } else if (d->header.type == CAIRO_PATH_LINE_TO) {
            add(mx, my);
            add(d[1].point.x, d[1].point.y);
        }
    }
    if (first) x0 = y0 = x1 = y1 = 0;
    cairo_path_destroy(flat);
}

// A path kept as plain points, so it can be moved into place and replayed.
struct vpath {
    std::vector<int> ops;  // CAIRO_PATH_MOVE_TO, _LINE_TO, _CURVE_TO, _CLOSE_PATH
    std::vector<double> pts;
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // extents
};

void replay(cairo_t *cr, const vpath &p) {
    size_t k = 0;
    for (int op : p.ops) {
        switch (op) {
        case CAIRO_PATH_MOVE_TO: cairo_move_to(cr, p.pts[k], p.pts[k + 1]); k += 2; break;
        case CAIRO_PATH_LINE_TO: cairo_line_to(cr, p.pts[k], p.pts[k + 1]); k += 2; break;
        case CAIRO_PATH_CURVE_TO:
            cairo_curve_to(cr, p.pts[k], p.pts[k + 1], p.pts[k + 2], p.pts[k + 3], p.pts[k + 4], p.pts[k + 5]);
            k += 6;
            break;
        default: cairo_close_path(cr); break;
        }
    }
}

// The outline of `text` in the font, at 100 units, without hinting. Cairo
// drops glyphs that lie far outside the target surface, even from a path, so
// the scratch surface is as wide as any line we set.
bool text_outline(cairo_font_face_t *face, const char *text, vpath &out) {
    cairo_surface_t *s = cairo_image_surface_create(CAIRO_FORMAT_A8, 8192, 1);
    cairo_t *cr = cairo_create(s);
    cairo_font_options_t *fo = cairo_font_options_create();
    cairo_font_options_set_hint_style(fo, CAIRO_HINT_STYLE_NONE);
    cairo_font_options_set_hint_metrics(fo, CAIRO_HINT_METRICS_OFF);
    cairo_set_font_options(cr, fo);
    cairo_font_options_destroy(fo);
    cairo_set_font_face(cr, face);
    cairo_set_font_size(cr, 100);
    cairo_move_to(cr, 0, 0);
    cairo_text_path(cr, text);
    cairo_set_tolerance(cr, 0.01);
    flat_extents(cr, out.x0, out.y0, out.x1, out.y1);
    cairo_path_t *path = cairo_copy_path(cr);
    bool ok = path->status == CAIRO_STATUS_SUCCESS;
    for (int i = 0; ok && i < path->num_data; i += path->data[i].header.length) {
        const cairo_path_data_t *d = &path->data[i];
        out.ops.push_back(d->header.type);
        int npts = d->header.type == CAIRO_PATH_CURVE_TO ? 3 : d->header.type == CAIRO_PATH_CLOSE_PATH ? 0 : 1;
        for (int j = 1; j <= npts; j++) {
            out.pts.push_back(d[j].point.x);
            out.pts.push_back(d[j].point.y);
        }
    }
    cairo_path_destroy(path);
    cairo_destroy(cr);
    cairo_surface_destroy(s);
    return ok && out.x1 > out.x0 && out.y1 > out.y0;
}

// Stretches a path so that its extents fill the box (x, y, w, h).
void place(vpath &p, double x, double y, double w, double h) {
    double sx = w / (p.x1 - p.x0), sy = h / (p.y1 - p.y0);
    for (size_t k = 0; k < p.pts.size(); k += 2) {
        p.pts[k] = x + (p.pts[k] - p.x0) * sx;
        p.pts[k + 1] = y + (p.pts[k + 1] - p.y0) * sy;
    }
    p.x0 = x;
    p.y0 = y;
    p.x1 = x + w;
    p.y1 = y + h;
}

// ---------------------------------------------------------------- canvas

enum pass_t { pass_measure, pass_shadow, pass_paint };

enum : unsigned {
    bounds = 1,   // an outer shape: it defines the extents and casts the shadow
    outline = 2,  // stroked with the dark outline before it is filled
    gloss = 4,    // a light sheen over its upper half
    cut = 8,      // punched out of what lies below (no fill, no outline)
};

struct canvas {
    cairo_t *cr = nullptr;
    pass_t pass = pass_measure;
    cairo_matrix_t base{};  // pixels of the ink rectangle
    cairo_matrix_t fit{};   // design coordinates onto those pixels
    double lw = 3;          // outline width of the outer shapes, in pixels
    double shadow = 0;      // drop shadow offset, in pixels
    bool any = false;
    double ex0 = 0, ey0 = 0, ex1 = 0, ey1 = 0;  // extents of the outer shapes
    std::string fontdir;
    std::string err;
};

using path_fn = std::function<void(cairo_t *)>;

void shape(canvas &c, const path_fn &build, const paint &fill, unsigned flags, double lw = -1) {
    cairo_t *cr = c.cr;
    if (lw < 0) lw = c.lw;
    cairo_new_path(cr);
    if (c.pass == pass_measure) {
        if (!(flags & bounds)) return;
        cairo_identity_matrix(cr);
        build(cr);
        double x0, y0, x1, y1;
        flat_extents(cr, x0, y0, x1, y1);
        cairo_new_path(cr);
        if (!c.any) {
            c.ex0 = x0, c.ey0 = y0, c.ex1 = x1, c.ey1 = y1;
            c.any = true;
        } else {
            c.ex0 = std::min(c.ex0, x0), c.ey0 = std::min(c.ey0, y0);
            c.ex1 = std::max(c.ex1, x1), c.ey1 = std::max(c.ey1, y1);
        }
        return;
    }
    if (c.pass == pass_shadow) {
        if (!(flags & bounds) || (flags & cut)) return;
        cairo_matrix_t shifted, shift;
        cairo_matrix_init_translate(&shift, c.shadow, c.shadow);
        cairo_matrix_multiply(&shifted, &c.fit, &shift);
        cairo_set_matrix(cr, &shifted);
        build(cr);
        cairo_set_matrix(cr, &c.base);
        cairo_set_source_rgba(cr, shadow_dark.r, shadow_dark.g, shadow_dark.b, shadow_dark.a);
        cairo_set_line_width(cr, lw);
        cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
        cairo_fill_preserve(cr);
        if (flags & outline) cairo_stroke(cr);
        cairo_new_path(cr);
        return;
    }
    cairo_set_matrix(cr, &c.fit);
    build(cr);
    if (flags & cut) {
        cairo_save(cr);
        cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
        cairo_fill(cr);
        cairo_restore(cr);
        return;
    }
    if (flags & outline) {
        cairo_set_matrix(cr, &c.base);
        cairo_set_line_width(cr, lw);
        cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
        cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
        cairo_set_source_rgba(cr, ink_dark.r, ink_dark.g, ink_dark.b, ink_dark.a);
        cairo_stroke_preserve(cr);
        cairo_set_matrix(cr, &c.fit);
    }
    set_paint(cr, fill);
    if (flags & gloss) {
        cairo_fill_preserve(cr);
        double x0, y0, x1, y1;
        flat_extents(cr, x0, y0, x1, y1);
        cairo_save(cr);
        cairo_clip(cr);
        cairo_pattern_t *sheen = cairo_pattern_create_linear(0, y0, 0, y0 + (y1 - y0) * 0.55);
        cairo_pattern_add_color_stop_rgba(sheen, 0, 1, 1, 1, 0.55);
        cairo_pattern_add_color_stop_rgba(sheen, 0.9, 1, 1, 1, 0.12);
        cairo_pattern_add_color_stop_rgba(sheen, 1, 1, 1, 1, 0);
        cairo_set_source(cr, sheen);
        cairo_rectangle(cr, x0, y0, x1 - x0, (y1 - y0) * 0.55);
        cairo_fill(cr);
        cairo_pattern_destroy(sheen);
        cairo_restore(cr);
    } else {
        cairo_fill(cr);
    }
    cairo_new_path(cr);
}

// Builds the text's outline stretched into the box.
path_fn text_path(canvas &c, const char *font, const char *text, double x, double y, double w, double h) {
    auto p = std::make_shared<vpath>();
    cairo_font_face_t *face = load_face(fonts(), c.fontdir + "/" + font, c.err);
    if (!face || !text_outline(face, text, *p)) {
        if (c.err.empty()) c.err = std::string("cannot outline \"") + text + "\"";
        return [](cairo_t *) {};
    }
    place(*p, x, y, w, h);
    return [p](cairo_t *cr) { replay(cr, *p); };
}

// ---------------------------------------------------------------- shapes

path_fn rect(double x, double y, double w, double h) {
    return [=](cairo_t *cr) { cairo_rectangle(cr, x, y, w, h); };
}

path_fn rounded(double x, double y, double w, double h, double r) {
    return [=](cairo_t *cr) {
        cairo_new_sub_path(cr);
        cairo_arc(cr, x + w - r, y + r, r, -M_PI / 2, 0);
        cairo_arc(cr, x + w - r, y + h - r, r, 0, M_PI / 2);
        cairo_arc(cr, x + r, y + h - r, r, M_PI / 2, M_PI);
        cairo_arc(cr, x + r, y + r, r, M_PI, 3 * M_PI / 2);
        cairo_close_path(cr);
    };
}

// An ellipse around (cx, cy), turned by `turn` radians.
path_fn ellipse(double cx, double cy, double rx, double ry, double turn = 0) {
    return [=](cairo_t *cr) {
        cairo_matrix_t m;
        cairo_get_matrix(cr, &m);
        cairo_translate(cr, cx, cy);
        cairo_rotate(cr, turn);
        cairo_scale(cr, rx, ry);
        cairo_new_sub_path(cr);
        cairo_arc(cr, 0, 0, 1, 0, 2 * M_PI);
        cairo_close_path(cr);
        cairo_set_matrix(cr, &m);
    };
}

path_fn polygon(std::vector<double> xy) {
    return [xy](cairo_t *cr) {
        cairo_move_to(cr, xy[0], xy[1]);
        for (size_t k = 2; k + 1 < xy.size(); k += 2) cairo_line_to(cr, xy[k], xy[k + 1]);
        cairo_close_path(cr);
    };
}

// A star with n points, the first one straight up.
path_fn star(double cx, double cy, double outer, double inner, int n) {
    std::vector<double> xy;
    for (int k = 0; k < 2 * n; k++) {
        double a = -M_PI / 2 + k * M_PI / n, r = (k % 2) ? inner : outer;
        xy.push_back(cx + r * cos(a));
        xy.push_back(cy + r * sin(a));
    }
    return polygon(xy);
}

// A thick open stroke turned into a closed shape: a line of width w with
// round ends from (x0, y0) to (x1, y1).
path_fn bar(double x0, double y0, double x1, double y1, double w) {
    return [=](cairo_t *cr) {
        double a = atan2(y1 - y0, x1 - x0);
        cairo_new_sub_path(cr);
        cairo_arc(cr, x1, y1, w / 2, a - M_PI / 2, a + M_PI / 2);
        cairo_arc(cr, x0, y0, w / 2, a + M_PI / 2, a + 3 * M_PI / 2);
        cairo_close_path(cr);
    };
}

// ---------------------------------------------------------------- palettes

using stops_t = std::vector<std::pair<double, rgba>>;
const stops_t fire = {{0, hex(0xfff7a0)}, {0.45, hex(0xffc21a)}, {1, hex(0xf0361b)}};
const stops_t sky = {{0, hex(0xe8fbff)}, {0.45, hex(0x4fd8ff)}, {1, hex(0x1d4fd8)}};
const stops_t lime = {{0, hex(0xf4ffb0)}, {0.5, hex(0x8ee630)}, {1, hex(0x1d9a3a)}};
const stops_t candy = {{0, hex(0xffffff)}, {0.5, hex(0xffa6e4)}, {1, hex(0xd4168f)}};
const stops_t chrome = {{0, hex(0xffffff)}, {0.48, hex(0x9fd6ff)}, {0.52, hex(0x1f3c9c)}, {1, hex(0x8fe8ff)}};
const stops_t mint = {{0, hex(0xe6fff6)}, {0.5, hex(0x3fe0c0)}, {1, hex(0x0b7f8a)}};
const stops_t sunset = {{0, hex(0xfff1c4)}, {0.5, hex(0xff8a3d)}, {1, hex(0xb3135f)}};
const stops_t rainbow = {{0, hex(0xff2e88)}, {0.2, hex(0xff8a1f)}, {0.4, hex(0xffe02a)},
                         {0.6, hex(0x4fe04a)}, {0.8, hex(0x27c6ff)}, {1, hex(0x9b5cff)}};

const char *const bold = "DejaVuSans-Bold.ttf";
const char *const cond = "DejaVuSansCondensed-Bold.ttf";

// One line of lettering that fills the box, with outline and sheen.
void lettering(canvas &c, const char *font, const char *text, double x, double y, double w, double h,
               const paint &fill, unsigned extra = 0) {
    shape(c, text_path(c, font, text, x, y, w, h), fill, bounds | outline | gloss | extra);
}

// ---------------------------------------------------------------- pictures
// Each picture draws in design coordinates close to its ink rectangle's
// pixels; the fit takes care of the last fractions.

void draw_hello(canvas &c) {  // 264 x 89
    lettering(c, cond, "HELLO", 0, 0, 264, 89, vgrad(0, 89, fire));
}

void draw_knock(canvas &c) {  // 717 x 90
    lettering(c, cond, "KNOCK KNOCK", 0, 0, 717, 90, vgrad(0, 90, lime));
}

void draw_see_you(canvas &c) {  // 856 x 91
    lettering(c, cond, "SEE YOU THERE!", 0, 0, 856, 91, vgrad(0, 91, sky));
}

void draw_invites(canvas &c) {  // 432 x 98
    lettering(c, cond, "INVITES YOU", 0, 0, 432, 46, vgrad(0, 46, candy));
    lettering(c, cond, "TO THE PARTY", 20, 52, 392, 46, vgrad(52, 98, candy));
}

void draw_dates(canvas &c) {  // 637 x 94
    lettering(c, bold, "AUGUST 16-18", 0, 0, 637, 56, vgrad(0, 56, fire));
    lettering(c, bold, "2019", 228, 60, 181, 34, vgrad(60, 94, sunset));
    shape(c, star(196, 77, 17, 7, 5), vgrad(60, 94, sunset), outline | gloss, 2.5);
    shape(c, star(441, 77, 17, 7, 5), vgrad(60, 94, sunset), outline | gloss, 2.5);
}

void draw_qarnul(canvas &c) {  // 794 x 93
    lettering(c, bold, "QARNUL", 0, 0, 794, 93, hgrad(0, 794, rainbow));
}

void draw_mossby(canvas &c) {  // 364 x 93
    lettering(c, cond, "MOSSBY", 0, 0, 364, 93, vgrad(0, 93, mint));
}

void draw_fennick(canvas &c) {  // 783 x 92
    lettering(c, bold, "FENNICK", 0, 0, 783, 92, vgrad(0, 92, chrome));
}

void draw_toskel(canvas &c) {  // 236 x 100
    lettering(c, cond, "TOSKEL", 0, 0, 236, 100, vgrad(0, 100, sunset));
}

void draw_greets(canvas &c) {  // 720 x 45
    lettering(c, cond, "GREETINGS TO TOLMEN AND", 0, 0, 720, 45, vgrad(0, 45, lime));
}

void draw_bang(canvas &c) {  // 76 x 98: a fat exclamation mark
    shape(c, polygon({4, 6, 14, 0, 62, 0, 72, 6, 50, 68, 26, 68}), vgrad(0, 68, fire), bounds | outline | gloss);
    shape(c, ellipse(38, 86, 13, 12), vgrad(74, 98, fire), bounds | outline | gloss);
}

void draw_bird(canvas &c) {  // 100 x 105
    const paint blue = rgrad(44, 58, 44, {{0, hex(0x8fe9ff)}, {1, hex(0x1f63d6)}});
    shape(c, polygon({24, 62, 2, 48, 10, 68, 0, 84, 28, 78}), vgrad(48, 84, {{0, hex(0x3aa0ff)}, {1, hex(0x1234a0)}}),
          bounds | outline);
    shape(c, bar(44, 90, 40, 102, 5), flat(hex(0xff9a1f)), bounds | outline);
    shape(c, bar(60, 90, 64, 102, 5), flat(hex(0xff9a1f)), bounds | outline);
    shape(c, polygon({54, 16, 56, 0, 63, 12}), flat(hex(0xff4fa0)), bounds | outline);
    shape(c, polygon({61, 12, 70, 1, 71, 13}), flat(hex(0xff4fa0)), bounds | outline);
    shape(c, ellipse(50, 64, 34, 30), blue, bounds | outline);
    shape(c, ellipse(57, 74, 19, 17), flat(hex(0xfff3b0)), outline, 2);
    shape(c, ellipse(38, 66, 18, 10, -0.35), vgrad(56, 76, {{0, hex(0x48b4ff)}, {1, hex(0x10309a)}}), outline, 2);
    shape(c, ellipse(64, 34, 24, 24), blue, bounds | outline | gloss);
    shape(c, polygon({84, 27, 100, 37, 84, 46}), vgrad(27, 46, fire), bounds | outline);
    shape(c, ellipse(71, 30, 8, 9), flat(hex(0xffffff)), outline, 2);
    shape(c, ellipse(74, 31, 4, 4.5), flat(hex(0x10081e)), 0);
    shape(c, ellipse(75.5, 29, 1.5, 1.5), flat(hex(0xffffff)), 0);
    shape(c, ellipse(79, 45, 4.5, 3), flat(hex(0xff6fae, 0.8)), 0);
}

void draw_face(canvas &c) {  // 89 x 90: a happy yellow face
    shape(c, ellipse(44.5, 45, 44.5, 45), rgrad(38, 34, 56, {{0, hex(0xfff9b0)}, {0.6, hex(0xffd21f)}, {1, hex(0xff8c12)}}),
          bounds | outline);
    shape(c, ellipse(30, 35, 9, 11.5), flat(hex(0xffffff)), outline, 2);
    shape(c, ellipse(59, 35, 9, 11.5), flat(hex(0xffffff)), outline, 2);
    shape(c, ellipse(32, 37, 4.5, 5.5), flat(hex(0x10081e)), 0);
    shape(c, ellipse(61, 37, 4.5, 5.5), flat(hex(0x10081e)), 0);
    shape(c, ellipse(18, 56, 7, 4.5), flat(hex(0xff6f8e, 0.7)), 0);
    shape(c, ellipse(71, 56, 7, 4.5), flat(hex(0xff6f8e, 0.7)), 0);
    shape(c, [](cairo_t *cr) {
              cairo_new_sub_path(cr);
              cairo_arc(cr, 44.5, 52, 23, 0.15, M_PI - 0.15);
              cairo_close_path(cr);
          },
          vgrad(52, 75, {{0, hex(0x8a1030)}, {1, hex(0xd8324a)}}), outline, 2.5);
    shape(c, ellipse(44.5, 69, 10, 5), flat(hex(0xff7a8a)), 0);
}

void draw_face2(canvas &c) {  // 88 x 84: a cool pink face with sunglasses
    shape(c, ellipse(44, 42, 44, 42), rgrad(36, 30, 58, {{0, hex(0xffe0f0)}, {0.6, hex(0xff8ccf)}, {1, hex(0xd6247e)}}),
          bounds | outline);
    shape(c, rounded(10, 24, 30, 18, 6), vgrad(24, 42, {{0, hex(0x3a3a6a)}, {1, hex(0x05030c)}}), outline, 2);
    shape(c, rounded(48, 24, 30, 18, 6), vgrad(24, 42, {{0, hex(0x3a3a6a)}, {1, hex(0x05030c)}}), outline, 2);
    shape(c, rect(38, 28, 12, 4), flat(hex(0x05030c)), 0);
    shape(c, polygon({14, 28, 22, 28, 16, 36}), flat(hex(0xffffff, 0.7)), 0);
    shape(c, polygon({52, 28, 60, 28, 54, 36}), flat(hex(0xffffff, 0.7)), 0);
    shape(c, [](cairo_t *cr) {
              cairo_move_to(cr, 22, 54);
              cairo_curve_to(cr, 34, 70, 56, 70, 68, 52);
              cairo_curve_to(cr, 56, 60, 34, 61, 22, 54);
              cairo_close_path(cr);
          },
          flat(hex(0xffffff)), outline, 2.5);
}

void draw_pirrel(canvas &c) {  // 100 x 100: a round purple badge
    shape(c, ellipse(50, 50, 50, 50), rgrad(40, 36, 64, {{0, hex(0xd9a8ff)}, {1, hex(0x5a1aa8)}}), bounds | outline);
    shape(c, ellipse(50, 50, 39, 39), rgrad(50, 40, 44, {{0, hex(0x7a3ad0)}, {1, hex(0x2c0a60)}}), outline, 2);
    for (int k = 0; k < 8; k++) {
        double a = k * M_PI / 4 + M_PI / 8;
        shape(c, star(50 + 44.5 * cos(a), 50 + 44.5 * sin(a), 4.5, 2, 5), flat(hex(0xfff27a)), 0);
    }
    shape(c, text_path(c, cond, "PIRREL", 14, 38, 72, 24), vgrad(38, 62, fire), outline | gloss, 2);
}

void draw_cratery(canvas &c) {  // 81 x 83: a cratered moon with a banner
    shape(c, ellipse(40.5, 41.5, 40.5, 41.5), rgrad(32, 30, 52, {{0, hex(0xf0f0f6)}, {1, hex(0x6a6a86)}}), bounds | outline);
    shape(c, ellipse(24, 20, 9, 7), flat(hex(0x8a8aa6)), outline, 1.5);
    shape(c, ellipse(56, 16, 6, 5), flat(hex(0x8a8aa6)), outline, 1.5);
    shape(c, ellipse(58, 64, 10, 8), flat(hex(0x8a8aa6)), outline, 1.5);
    shape(c, ellipse(22, 64, 6, 5), flat(hex(0x8a8aa6)), outline, 1.5);
    shape(c, rounded(3, 31, 75, 22, 5), vgrad(31, 53, {{0, hex(0xff5a5a)}, {1, hex(0xa0102a)}}), outline, 2);
    shape(c, text_path(c, cond, "CRATERY", 8, 35, 65, 14), flat(hex(0xffffff)), outline, 1.5);
}

void draw_zuzu(canvas &c) {  // 92 x 74: a pink tag
    shape(c, rounded(0, 0, 92, 74, 16), vgrad(0, 74, candy), bounds | outline);
    shape(c, text_path(c, bold, "ZUZU", 10, 18, 72, 36), vgrad(18, 54, sky), outline | gloss, 2.5);
    shape(c, star(12, 12, 6, 2.5, 5), flat(hex(0xfff27a)), outline, 1);
    shape(c, star(80, 62, 6, 2.5, 5), flat(hex(0xfff27a)), outline, 1);
}

void draw_pellow(canvas &c) {  // 93 x 70: a yellow speech bubble
    shape(c, polygon({18, 50, 8, 70, 36, 56}), flat(hex(0xffe34a)), bounds | outline);
    shape(c, ellipse(46.5, 30, 46.5, 30), vgrad(0, 60, {{0, hex(0xfffbd0)}, {1, hex(0xffc81a)}}), bounds | outline);
    shape(c, polygon({18, 50, 8, 70, 36, 56}), flat(hex(0xffd92a)), 0);
    shape(c, text_path(c, cond, "PELLOW", 10, 17, 73, 26), vgrad(17, 43, {{0, hex(0x6ad0ff)}, {1, hex(0x1a2aa8)}}),
          outline | gloss, 2);
}

void draw_gerrow(canvas &c) {  // 73 x 61: a green hexagon
    shape(c, polygon({0, 30.5, 18, 0, 55, 0, 73, 30.5, 55, 61, 18, 61}), vgrad(0, 61, lime), bounds | outline);
    shape(c, text_path(c, bold, "GER", 17, 8, 39, 20), flat(hex(0xffffff)), outline, 2);
    shape(c, text_path(c, bold, "ROW", 15, 33, 43, 20), flat(hex(0xffffff)), outline, 2);
}

void draw_halp(canvas &c) {  // 72 x 60: an orange burst
    shape(c, [](cairo_t *cr) {
              for (int k = 0; k < 28; k++) {
                  double a = k * M_PI / 14, rx = (k % 2) ? 28 : 36, ry = (k % 2) ? 23 : 30;
                  double x = 36 + rx * cos(a), y = 30 + ry * sin(a);
                  if (k == 0) cairo_move_to(cr, x, y);
                  else cairo_line_to(cr, x, y);
              }
              cairo_close_path(cr);
          },
          rgrad(36, 30, 36, {{0, hex(0xfff2a0)}, {0.6, hex(0xff9a1f)}, {1, hex(0xe8401a)}}), bounds | outline);
    shape(c, text_path(c, bold, "HALP", 13, 21, 46, 18), flat(hex(0xffffff)), outline, 2);
}

void draw_whitesquare(canvas &c) {  // 40 x 40
    shape(c, rect(0, 0, 40, 40), flat(hex(0xffffff)), bounds);
}

void draw_clownhand(canvas &c) {  // 33 x 30: a white glove pointing right
    shape(c, rounded(0, 9, 9, 18, 2.5), vgrad(9, 27, {{0, hex(0xff5a5a)}, {1, hex(0xb01030)}}), bounds | outline);
    shape(c, ellipse(14, 6.5, 4, 6.5, 0.3), flat(hex(0xffffff)), bounds | outline);
    shape(c, rounded(15, 9, 18, 6.5, 3.2), flat(hex(0xffffff)), bounds | outline);
    shape(c, ellipse(23, 19, 5, 3.2), flat(hex(0xffffff)), bounds | outline);
    shape(c, ellipse(22, 23.5, 5, 3.2), flat(hex(0xffffff)), bounds | outline);
    shape(c, ellipse(20, 26.8, 4.5, 3.2), flat(hex(0xffffff)), bounds | outline);
    shape(c, ellipse(15, 18, 8, 8.5), flat(hex(0xffffff)), bounds | outline);
    shape(c, rect(2, 12, 5, 3), flat(hex(0xffe34a)), 0);
    shape(c, rect(2, 20, 5, 3), flat(hex(0xffe34a)), 0);
}

void draw_stamp(canvas &c) {  // 16 x 21: a tiny postage stamp
    shape(c, rect(0, 0, 16, 21), flat(hex(0xfff6e0)), bounds);
    for (int k = 1; k < 5; k++) {
        shape(c, ellipse(0, k * 4.2, 1.1, 1.1), flat(hex(0)), cut);
        shape(c, ellipse(16, k * 4.2, 1.1, 1.1), flat(hex(0)), cut);
    }
    for (int k = 1; k < 4; k++) {
        shape(c, ellipse(k * 4.0, 0, 1.1, 1.1), flat(hex(0)), cut);
        shape(c, ellipse(k * 4.0, 21, 1.1, 1.1), flat(hex(0)), cut);
    }
    shape(c, rect(2.5, 2.5, 11, 16), vgrad(2.5, 18.5, {{0, hex(0x4fd8ff)}, {1, hex(0x1d3fb8)}}), outline, 0.8);
    shape(c, star(8, 10.5, 5, 2.2, 5), flat(hex(0xff3a3a)), 0);
}

void draw_redstar(canvas &c) {  // 17 x 16
    shape(c, star(0, 0, 10, 4, 5), vgrad(-10, 8, {{0, hex(0xffd0a0)}, {0.5, hex(0xff3a2a)}, {1, hex(0xa00818)}}),
          bounds | outline | gloss);
}

void draw_cyanstar(canvas &c) {  // 17 x 16
    shape(c, star(0, 0, 10, 4, 5), vgrad(-10, 8, {{0, hex(0xe8ffff)}, {0.5, hex(0x2ae0ff)}, {1, hex(0x0a6aa8)}}),
          bounds | outline | gloss);
}

void draw_doorpanel(canvas &c) {  // 40 x 40: a wooden panel, dark edge, raised middle
    shape(c, rect(0, 0, 40, 40), flat(hex(0x4a2a12)), bounds);
    shape(c, rect(2, 2, 36, 36), vgrad(2, 38, {{0, hex(0xa8723c)}, {1, hex(0x7a4a20)}}), 0);
    shape(c, rect(7, 7, 26, 26), flat(hex(0x5e3618)), 0);
    shape(c, rect(8, 8, 24, 24), vgrad(8, 32, {{0, hex(0xc08548)}, {1, hex(0x8c5628)}}), 0);
}

void draw_doorknob(canvas &c) {  // 16 x 16: a brass knob
    shape(c, ellipse(0, 0, 8, 8), rgrad(-2.5, -2.5, 10, {{0, hex(0xfff4c0)}, {0.45, hex(0xe0b040)}, {1, hex(0x7a5410)}}),
          bounds | outline | gloss);
}

// ---------------------------------------------------------------- the table

struct sprite_art {
    sprite_spec spec;
    double lw, shadow;
    void (*draw)(canvas &);
};

// In the order the atlas lists them.
const sprite_art sprites[] = {
    {{"bird.png", 100, 105, {0, 0, 100, 105}}, 3, 0, draw_bird},
    {{"Toskel.png", 236, 100, {0, 0, 236, 100}}, 4, 4, draw_toskel},
    {{"pirrel.png", 100, 100, {0, 0, 100, 100}}, 3, 0, draw_pirrel},
    {{"3_002.png", 433, 100, {0, 2, 432, 98}}, 3.5, 3, draw_invites},
    {{"1.png", 100, 100, {10, 2, 76, 98}}, 4, 4, draw_bang},
    {{"dates.png", 639, 100, {1, 6, 637, 94}}, 4, 4, draw_dates},
    {{"QARNUL.png", 796, 100, {1, 5, 794, 93}}, 5, 5, draw_qarnul},
    {{"mossby.png", 372, 100, {5, 7, 364, 93}}, 4, 4, draw_mossby},
    {{"fennick_total.png", 783, 100, {0, 3, 783, 92}}, 5, 5, draw_fennick},
    {{"2 test.png", 858, 91, {0, 0, 856, 91}}, 4, 4, draw_see_you},
    {{"2 test_002.png", 719, 92, {0, 0, 717, 90}}, 4, 4, draw_knock},
    {{"face.png", 89, 90, {0, 0, 89, 90}}, 3, 0, draw_face},
    {{"2 test_001.png", 268, 90, {0, 1, 264, 89}}, 4, 4, draw_hello},
    {{"face_2.png", 88, 84, {0, 0, 88, 84}}, 3, 0, draw_face2},
    {{"cratery.png", 100, 100, {5, 4, 81, 83}}, 2.5, 0, draw_cratery},
    {{"zuzu.png", 100, 100, {4, 0, 92, 74}}, 3, 0, draw_zuzu},
    {{"pellow.png", 100, 100, {1, 2, 93, 70}}, 2.5, 0, draw_pellow},
    {{"Gerrow.png", 100, 100, {4, 5, 73, 61}}, 2.5, 0, draw_gerrow},
    {{"halp.png", 100, 100, {8, 4, 72, 60}}, 2.5, 0, draw_halp},
    {{"greets.png", 728, 48, {3, 1, 720, 45}}, 3, 3, draw_greets},
    {{"whitesquare1.png", 40, 40, {0, 0, 40, 40}}, 0, 0, draw_whitesquare},
    {{"clownhand0.png", 40, 40, {6, 5, 33, 30}}, 1.3, 0, draw_clownhand},
    {{"smallstamp3.png", 40, 40, {13, 9, 16, 21}}, 0, 0, draw_stamp},
    {{"redstart0.png", 40, 40, {11, 11, 17, 16}}, 1.3, 0, draw_redstar},
    {{"cyanstar0.png", 40, 40, {11, 11, 17, 16}}, 1.3, 0, draw_cyanstar},
    {{"doorpanel.png", 40, 40, {0, 0, 40, 40}}, 0, 0, draw_doorpanel},
    {{"doorknob.png", 40, 40, {12, 12, 16, 16}}, 1.3, 0, draw_doorknob},
};
constexpr int nsprites = int(sizeof sprites / sizeof sprites[0]);

// How far the fitted shapes reach past the ink rectangle before the clip cuts
// them, so that the rows and columns on its edges get ink.
constexpr double overreach = 0.6;

}  // namespace

int sprite_count() { return nsprites; }

const sprite_spec &sprite_at(int i) { return sprites[i].spec; }

int sprite_find(const std::string &name) {
    for (int i = 0; i < nsprites; i++)
        if (name == sprites[i].spec.name) return i;
    return -1;
}

bool sprite_render(int i, const std::string &fontdir, art_image &img, std::string &err) {
    if (i < 0 || i >= nsprites) {
        err = "no such sprite";
        return false;
    }
    const sprite_art &art = sprites[i];
    const art_rect &ink = art.spec.ink;
    cairo_surface_t *surface =
        cairo_image_surface_create(CAIRO_FORMAT_ARGB32, int(art.spec.source_width), int(art.spec.source_height));
    std::unique_ptr<cairo_surface_t, void (*)(cairo_surface_t *)> surface_guard(surface, cairo_surface_destroy);
    cairo_t *cr = cairo_create(surface);
    std::unique_ptr<cairo_t, void (*)(cairo_t *)> cr_guard(cr, cairo_destroy);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_GRAY);
    cairo_rectangle(cr, ink.x, ink.y, ink.width, ink.height);
    cairo_clip(cr);

    canvas c;
    c.cr = cr;
    c.fontdir = fontdir;
    c.lw = art.lw;
    c.shadow = art.shadow;
    cairo_matrix_init_translate(&c.base, ink.x, ink.y);

    c.pass = pass_measure;
    art.draw(c);
    if (!c.err.empty()) {
        err = std::string(art.spec.name) + ": " + c.err;
        return false;
    }
    if (!c.any || c.ex1 <= c.ex0 || c.ey1 <= c.ey0) {
        err = std::string(art.spec.name) + ": the picture has no outer shape";
        return false;
    }
    // Design extents onto the ink rectangle, less half an outline on every
    // side and the shadow on the right and at the bottom.
    double m = c.lw / 2 - overreach;
    double ix0 = m, iy0 = m, ix1 = ink.width - m - c.shadow, iy1 = ink.height - m - c.shadow;
    cairo_matrix_t design;
    cairo_matrix_init_translate(&design, ix0, iy0);
    cairo_matrix_scale(&design, (ix1 - ix0) / (c.ex1 - c.ex0), (iy1 - iy0) / (c.ey1 - c.ey0));
    cairo_matrix_translate(&design, -c.ex0, -c.ey0);
    cairo_matrix_multiply(&c.fit, &design, &c.base);

    if (c.shadow > 0) {
        c.pass = pass_shadow;
        art.draw(c);
    }
    c.pass = pass_paint;
    art.draw(c);
    cairo_surface_flush(surface);

    // Cairo keeps premultiplied native-endian ARGB words; the atlas wants
    // straight RGBA bytes.
    img.width = art.spec.source_width;
    img.height = art.spec.source_height;
    img.rgba.assign(size_t(img.width) * img.height * 4, 0);
    const unsigned char *data = cairo_image_surface_get_data(surface);
    int stride = cairo_image_surface_get_stride(surface);
    for (unsigned y = 0; y < img.height; y++) {
        const uint32_t *row = reinterpret_cast<const uint32_t *>(data + size_t(y) * stride);
        for (unsigned x = 0; x < img.width; x++) {
            uint32_t p = row[x];
            unsigned a = p >> 24, r = (p >> 16) & 255, g = (p >> 8) & 255, b = p & 255;
            unsigned char *o = &img.rgba[(size_t(y) * img.width + x) * 4];
            if (a) {
                o[0] = (unsigned char)std::min(255u, (r * 255 + a / 2) / a);
                o[1] = (unsigned char)std::min(255u, (g * 255 + a / 2) / a);
                o[2] = (unsigned char)std::min(255u, (b * 255 + a / 2) / a);
            }
            o[3] = (unsigned char)a;
        }
    }

    art_rect got = art_opaque_box(img);
    if (got.x != ink.x || got.y != ink.y || got.width != ink.width || got.height != ink.height) {
        err = std::string(art.spec.name) + ": ink lies at " + std::to_string(got.x) + "," + std::to_string(got.y) + " " +
              std::to_string(got.width) + "x" + std::to_string(got.height) + ", wanted " + std::to_string(ink.x) + "," +
              std::to_string(ink.y) + " " + std::to_string(ink.width) + "x" + std::to_string(ink.height);
        return false;
    }
    return true;
}
