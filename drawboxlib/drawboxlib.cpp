// drawboxlib: pools, atlas loading, configuration, viewport and renderer.
#include "drawboxlib.h"

#include <GLES/gl.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// ---------------------------------------------------------------- pools

dbx_drawbox_t dbx_drawbox[DBX_MAX_DRAWBOXES];
uint32_t dbx_drawboxes;
dbx_frame_t dbx_frame[DBX_MAX_FRAMES];
uint32_t dbx_frames;
dbx_frameset_t dbx_frameset[DBX_MAX_FRAMESETS];
uint32_t dbx_framesets;
dbx_event_t dbx_event[DBX_MAX_EVENTS];
uint32_t dbx_events;
int32_t dbx_reuse_drawboxes;
static uint32_t dbx_nextevent;

int dbx_drawbox_remove(unsigned int i) {
    // An index outside the pool is ignored rather than written past the table.
    if (i < DBX_MAX_DRAWBOXES) dbx_drawbox[i].used = 0;
    return 0;
}

// Takes the first hole (when asked to look for one), else appends; -1 when
// the pool is full. Frames and frame sets always look for a hole, drawboxes
// only while dbx_reuse_drawboxes is set.
template <typename T, uint32_t N>
static int pool_take(T (&pool)[N], uint32_t &count, bool fill_holes) {
    uint32_t slot = count;
    for (uint32_t i = 0; fill_holes && i < count; i++) {
        if (!pool[i].used) {
            slot = i;
            break;
        }
    }
    if (slot == count) {
        if (count >= N) return -1;
        count++;
    }
    pool[slot].used = 1;
    return static_cast<int>(slot);
}

dbx_drawbox_t *dbx_drawbox_create(void) {
    int slot = pool_take(dbx_drawbox, dbx_drawboxes, dbx_reuse_drawboxes != 0);
    return slot < 0 ? nullptr : &dbx_drawbox[slot];
}

int dbx_frame_create(void) { return pool_take(dbx_frame, dbx_frames, true); }
int dbx_frameset_create(void) { return pool_take(dbx_frameset, dbx_framesets, true); }

dbx_event_t *dbx_event_add(void) {
    if (dbx_events >= DBX_MAX_EVENTS) return nullptr;
    return &dbx_event[dbx_events++];
}

dbx_event_t *dbx_event_get(void) {
    if (dbx_nextevent < dbx_events) return &dbx_event[dbx_nextevent++];
    dbx_events = 0;
    dbx_nextevent = 0;
    return nullptr;
}

int dbx_findframe(const char *name) {
    for (uint32_t i = 0; i < dbx_frames && i < DBX_MAX_FRAMES; i++) {
        if (strncmp(name, dbx_frame[i].source_name, sizeof dbx_frame[i].source_name) == 0)
            return static_cast<int>(i);
    }
    return -1;
}

// ---------------------------------------------------------------- configuration and viewport

int32_t dbx_screen_width, dbx_screen_height, dbx_screen_pixelscale;
int32_t dbx_screen_overscan, dbx_screen_overscanx, dbx_screen_overscany;
int32_t dbx_window_width, dbx_window_height;
int32_t dbx_fixed_width, dbx_fixed_height;
int32_t dbx_viewport_left, dbx_viewport_right, dbx_viewport_top, dbx_viewport_bottom;
int32_t dbx_viewport_width, dbx_viewport_height;
int32_t dbx_viewport_originx, dbx_viewport_originy;
int dbx_alphamode;
int32_t dbx_av_offset_ms;
int32_t dbx_platform_unpaced;

// The settings are read by the one settings reader (settings.cpp); a layer
// the display cannot show ends the program (check_layer).
// A layer the display cannot show ends the program before any display work:
// a margin below 0, or of half the display or more per side, and a window
// side below 1 or beyond DBX_MAX_LAYER_SIDE, which is more than any display
// or GL surface takes (and beyond 32767 its 16.16 fixed-point size overflows).
[[noreturn]] static void bad_layer(const char *name, int32_t value, const char *why) {
    const char *text = getenv(name);
    if (text) dbx_fail("%s=%s: %s\n", name, text, why);
    dbx_fail("%s=%d: %s\n", name, static_cast<int>(value), why);
}

static void check_layer(bool window_given, bool x_inherited, bool y_inherited) {
    const auto side_ok = [](int32_t side) { return side >= 1 && side <= DBX_MAX_LAYER_SIDE; };
    const bool window = dbx_window_width > 0 && dbx_window_height > 0;
    if ((window_given || window) && !(side_ok(dbx_window_width) && side_ok(dbx_window_height)))
        bad_layer("DBX_WINDOWSIZE", dbx_window_width, "a window side must be 1 to 16384 pixels");
    if (window) return;  // the margins are not used
    const char *why = "a margin must be 0 to 499 thousandths of the display (500 or more leave no pixel)";
    if (dbx_screen_overscan < 0) bad_layer("DBX_OVERSCAN", dbx_screen_overscan, why);
    if (dbx_screen_overscanx < 0 || dbx_screen_overscanx >= 500)
        bad_layer(x_inherited ? "DBX_OVERSCAN" : "DBX_OVERSCANX", dbx_screen_overscanx, why);
    if (dbx_screen_overscany < 0 || dbx_screen_overscany >= 500)
        bad_layer(y_inherited ? "DBX_OVERSCAN" : "DBX_OVERSCANY", dbx_screen_overscany, why);
}

void dbx_init(void) {
    dbx_env_number("DBX_OVERSCAN", &dbx_screen_overscan);
    dbx_env_number("DBX_OVERSCANX", &dbx_screen_overscanx);
    dbx_env_number("DBX_OVERSCANY", &dbx_screen_overscany);
    const bool window_given = dbx_env_size("DBX_WINDOWSIZE", INT32_MIN, INT32_MAX, nullptr, &dbx_window_width,
                                           &dbx_window_height);
    // A logical resolution must be drawable: with a side below 1 there is
    // nothing to fit into the window, and a side beyond DBX_MAX_LAYER_SIDE
    // has more units than any layer has pixels.
    int32_t w, h;
    if (dbx_env_size("DBX_RESOLUTION", 1, DBX_MAX_LAYER_SIDE, "each side must be 1 to 16384", &w, &h)) {
        dbx_fixed_width = w;
        dbx_fixed_height = h;
    }
    dbx_env_range("DBX_AV_OFFSET_MS", -DBX_AV_OFFSET_MAX_MS, DBX_AV_OFFSET_MAX_MS,
                  "the offset must be -1000 to 1000 milliseconds", &dbx_av_offset_ms);
    // An axis without its own overscan (0) takes the common one, if positive.
    const bool x_inherited = dbx_screen_overscanx == 0 && dbx_screen_overscan > 0;
    const bool y_inherited = dbx_screen_overscany == 0 && dbx_screen_overscan > 0;
    if (x_inherited) dbx_screen_overscanx = dbx_screen_overscan;
    if (y_inherited) dbx_screen_overscany = dbx_screen_overscan;
    check_layer(window_given, x_inherited, y_inherited);
    dbx_platform_init_window();
    dbx_setviewport();
}

// The logical resolution fits the window with equal bars on two sides; the
// scissor keeps clears and drawing off the bars. A logical width without a
// positive height counts as no logical resolution: drawing is then in
// window pixels.
void dbx_setviewport(void) {
    bool fixed = dbx_fixed_width > 0 && dbx_fixed_height > 0;
    if (!fixed) {
        glViewport(dbx_viewport_originx, dbx_viewport_originy, dbx_screen_width, dbx_screen_height);
    } else {
        float sx = static_cast<float>(dbx_screen_width) / static_cast<float>(dbx_fixed_width);
        float sy = static_cast<float>(dbx_screen_height) / static_cast<float>(dbx_fixed_height);
        int32_t left = 0, top = 0;
        if (sx > sy)
            left = static_cast<int32_t>(
                (static_cast<float>(dbx_screen_width) - static_cast<float>(dbx_fixed_width) * sy) * 0.5f);
        if (sx < sy)
            top = static_cast<int32_t>(
                (static_cast<float>(dbx_screen_height) - sx * static_cast<float>(dbx_fixed_height)) * 0.5f);
        dbx_viewport_left = left;
        dbx_viewport_right = dbx_screen_width - left;
        dbx_viewport_top = top;
        dbx_viewport_bottom = dbx_screen_height - top;
        dbx_viewport_width = dbx_screen_width - 2 * left;
        dbx_viewport_height = dbx_screen_height - 2 * top;
        glViewport(dbx_viewport_originx + left, dbx_viewport_originy + top, dbx_viewport_width,
                   dbx_viewport_height);
        glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
        glEnable(GL_SCISSOR_TEST);
        glScissor(dbx_viewport_originx + dbx_screen_width - dbx_viewport_right,
                  dbx_viewport_originy + dbx_screen_height - dbx_viewport_bottom,
                  dbx_viewport_right - dbx_viewport_left, dbx_viewport_bottom - dbx_viewport_top);
    }
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    if (fixed)
        glOrthof(0.0f, static_cast<float>(dbx_fixed_width), static_cast<float>(dbx_fixed_height), 0.0f, -1.0f, 1.0f);
    else
        glOrthof(0.0f, static_cast<float>(dbx_screen_width), static_cast<float>(dbx_screen_height), 0.0f, -1.0f,
                 1.0f);
}

void dbx_screen_to_logical(int32_t x, int32_t y, float *lx, float *ly) {
    if (dbx_fixed_width <= 0 || dbx_fixed_height <= 0 || dbx_viewport_width <= 0 || dbx_viewport_height <= 0) {
        *lx = static_cast<float>(x);
        *ly = static_cast<float>(y);
        return;
    }
    *lx = static_cast<float>(static_cast<double>(x - dbx_viewport_left) * dbx_fixed_width / dbx_viewport_width);
    *ly = static_cast<float>(static_cast<double>(y - dbx_viewport_top) * dbx_fixed_height / dbx_viewport_height);
}

// ---------------------------------------------------------------- atlas loading

// The layer's place on the display: the window size where one is given,
// else the display less the overscan margins.
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

void dbx_printable(char *text) {
    for (char *c = text; *c; c++)
        if (static_cast<unsigned char>(*c) < 32 || static_cast<unsigned char>(*c) > 126) *c = '?';
}

const char *dbx_atlas_problem(const char *name, uint32_t width, uint32_t height, const void *framesetdata,
                              int frames, int32_t max_texture) {
    static char text[256];
    if (max_texture > 0 && (width > static_cast<uint32_t>(max_texture) || height > static_cast<uint32_t>(max_texture))) {
        snprintf(text, sizeof text, "%s is %ux%u texels, more than the largest texture here (%dx%d)", name, width,
                 height, static_cast<int>(max_texture), static_cast<int>(max_texture));
        return text;
    }
    const unsigned char *rows = static_cast<const unsigned char *>(framesetdata);
    for (int i = 0; i < frames; i++) {
        dbx_frame_t f;
        memcpy(&f, rows + static_cast<size_t>(i) * sizeof f, sizeof f);
        if (uint64_t{f.x1} + f.width > width || uint64_t{f.y1} + f.height > height) {
            char frame[sizeof f.source_name + 1] = {};
            memcpy(frame, f.source_name, sizeof f.source_name);
            dbx_printable(frame);
            snprintf(text, sizeof text, "%s is %ux%u texels, too small for the frame \"%s\" (%ux%u at %u,%u)", name,
                     width, height, frame, f.width, f.height, f.x1, f.y1);
            return text;
        }
    }
    return nullptr;
}

int dbx_loadframeset(const char *pngfilename, const unsigned char *pngdata, int pngsize,
                     const void *framesetdata, int frames) {
    dbx_image_t *image = dbx_loadpng(pngfilename, pngdata, pngsize);
    if (!image) return 0;
    // A table that does not fit the frame pool is refused whole, and so is
    // any table once the frame set pool is full: nothing is created then.
    uint32_t first = dbx_frames;
    if (frames < 0 || static_cast<uint32_t>(frames) > DBX_MAX_FRAMES - first) {
        free(image);
        return -1;
    }
    GLint most = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &most);
    const char *name = pngsize != 0 || !pngfilename ? "the atlas" : pngfilename;
    if (const char *problem = dbx_atlas_problem(name, image->width, image->height, framesetdata, frames, most)) {
        dbx_platform_fatal("atlas", problem);
        free(image);
        return 0;
    }
    int set = dbx_frameset_create();
    if (set < 0) {
        free(image);
        return -1;
    }
    dbx_frameset_t &fs = dbx_frameset[set];
    glGenTextures(1, &fs.textureid);
    glBindTexture(GL_TEXTURE_2D, fs.textureid);
    fs.size = image->width;
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, static_cast<GLsizei>(image->width), static_cast<GLsizei>(image->height),
                 0, GL_RGBA, GL_UNSIGNED_BYTE, dbx_image_pixels(image));
    free(image);
    if (frames > 0) memcpy(&dbx_frame[first], framesetdata, static_cast<size_t>(frames) * sizeof(dbx_frame_t));
    for (uint32_t i = first; i < first + static_cast<uint32_t>(frames); i++)
        dbx_frame[i].frameset = static_cast<uint32_t>(set);
    dbx_frames = first + static_cast<uint32_t>(frames);
    return set;
}

// ---------------------------------------------------------------- renderer

// Two triangles per box, six vertices: 5000 boxes fill both arrays exactly.
static GLfloat vertex[DBX_MAX_DRAWBOXES * 6 * 3];
static GLfloat texel[DBX_MAX_DRAWBOXES * 6 * 2];
static unsigned int vertexes, texels;
static_assert(sizeof vertex / sizeof vertex[0] == 90000, "vertex array holds the whole pool");
static_assert(sizeof texel / sizeof texel[0] == 60000, "texel array holds the whole pool");

static void put_texture_rect(float uL, float vT, float uR, float vB) {
    GLfloat *t = &texel[texels];
    t[0] = uL, t[1] = vT;
    t[2] = uR, t[3] = vT;
    t[4] = uL, t[5] = vB;
    t[6] = uR, t[7] = vT;
    t[8] = uL, t[9] = vB;
    t[10] = uR, t[11] = vB;
    texels += 12;
}

static void put_vertex(unsigned int at, float x, float y) {
    vertex[at] = x;
    vertex[at + 1] = y;
    vertex[at + 2] = 0.0f;
}

// The enlarged rectangle reaches one texel into the atlas's border around the
// frame, so magnified and rotated boxes get clean, filtered edges.
static void put_enlarged_texture(const dbx_frame_t &f, float S) {
    float uL = static_cast<float>(f.x1 - 1) / S;
    float vT = static_cast<float>(f.y1 - 1) / S;
    put_texture_rect(uL, vT, static_cast<float>(f.width + 2) / S + uL, static_cast<float>(f.height + 2) / S + vT);
}

// The corners of a box as drawn: top-left, top-right, bottom-left,
// bottom-right before rotation. Unrotated, a magnified box takes one more
// texel on every side (its enlarged texture rectangle).
int dbx_box_corners(const dbx_drawbox_t &b, const dbx_frame_t &f, float px[4], float py[4]) {
    float X = static_cast<float>(b.x1), Y = static_cast<float>(b.y1), s = b.scale;
    if (b.rotation == 0.0f) {
        bool enlarged = s > 1.0f;
        float ox = enlarged ? static_cast<float>(f.xoffset) - 1.0f : static_cast<float>(f.xoffset);
        float oy = enlarged ? static_cast<float>(f.yoffset) - 1.0f : static_cast<float>(f.yoffset);
        float w = enlarged ? static_cast<float>(f.width + 2) : static_cast<float>(f.width);
        float h = enlarged ? static_cast<float>(f.height + 2) : static_cast<float>(f.height);
        float L = X + ox * s, T = Y + oy * s;
        float R = L + w * s, B = T + h * s;
        px[0] = L, py[0] = T;
        px[1] = R, py[1] = T;
        px[2] = L, py[2] = B;
        px[3] = R, py[3] = B;
        return enlarged;
    }
    // Rotated about the centre of the trimmed rectangle (integer half
    // extents), in double precision.
    float hw = static_cast<float>(f.width / 2), hh = static_cast<float>(f.height / 2);
    float ex = s * hw, ey = s * hh;
    double theta = static_cast<double>(b.rotation) * 3.141592653589793 / 180.0;
    double sn, cs;
    sincos(theta, &sn, &cs);
    float Cx = (static_cast<float>(f.xoffset) - 1.0f + hw) * s;
    float Cy = (static_cast<float>(f.yoffset) - 1.0f + hh) * s;
    const float dx[4] = {0.0f - ex, ex + 0.0f, 0.0f - ex, ex + 0.0f};
    const float dy[4] = {0.0f - ey, 0.0f - ey, ey + 0.0f, ey + 0.0f};
    for (int c = 0; c < 4; c++) {
        float rx = static_cast<float>(static_cast<double>(dx[c]) * cs - static_cast<double>(dy[c]) * sn);
        float ry = static_cast<float>(static_cast<double>(dx[c]) * sn + static_cast<double>(dy[c]) * cs);
        px[c] = (rx + X) + Cx;
        py[c] = (ry + Y) + Cy;
    }
    return 1;
}

static void put_box(const dbx_drawbox_t &b, const dbx_frame_t &f, float S) {
    float px[4], py[4];
    const bool enlarged = dbx_box_corners(b, f, px, py) != 0;
    static constexpr int order[6] = {0, 1, 2, 1, 2, 3};
    for (int k = 0; k < 6; k++) put_vertex(vertexes + 3 * static_cast<unsigned int>(k), px[order[k]], py[order[k]]);
    vertexes += 18;
    if (enlarged) {
        put_enlarged_texture(f, S);
    } else {
        float uL = static_cast<float>(f.x1) / S;
        float vT = static_cast<float>(f.y1) / S;
        put_texture_rect(uL, vT, static_cast<float>(f.width) / S + uL, static_cast<float>(f.height) / S + vT);
    }
}

unsigned int dbx_render_build(float atlas_size) {
    vertexes = 0;
    texels = 0;
    for (uint32_t i = 0; i < dbx_drawboxes && i < DBX_MAX_DRAWBOXES; i++) {
        const dbx_drawbox_t &b = dbx_drawbox[i];
        if (!b.used || !b.visible) continue;
        // A box art file may name a frame that was never loaded: such a box
        // is not drawn.
        if (b.frame >= dbx_frames) continue;
        put_box(b, dbx_frame[b.frame], atlas_size);
    }
    return vertexes / 3;
}

// Inside the quadrilateral of the corners (the two triangles the renderer
// draws): on the same side of all four edges, in the order
// top-left, top-right, bottom-right, bottom-left. Edges count as inside.
static bool inside_quad(const float px[4], const float py[4], float x, float y) {
    static constexpr int ring[4] = {0, 1, 3, 2};
    bool negative = false, positive = false;
    for (int k = 0; k < 4; k++) {
        int a = ring[k], b = ring[(k + 1) & 3];
        double cross = (static_cast<double>(px[b]) - px[a]) * (static_cast<double>(y) - py[a]) -
                       (static_cast<double>(py[b]) - py[a]) * (static_cast<double>(x) - px[a]);
        negative = negative || cross < 0.0;
        positive = positive || cross > 0.0;
    }
    return !(negative && positive);
}

int dbx_pick(float x, float y, uint32_t first, uint32_t last) {
    if (last > dbx_drawboxes) last = dbx_drawboxes;
    if (last > DBX_MAX_DRAWBOXES) last = DBX_MAX_DRAWBOXES;
    for (uint32_t i = last; i-- > first;) {
        const dbx_drawbox_t &b = dbx_drawbox[i];
        if (!b.used || !b.visible || b.frame >= dbx_frames) continue;
        float px[4], py[4];
        dbx_box_corners(b, dbx_frame[b.frame], px, py);
        if (inside_quad(px, py, x, y)) return static_cast<int>(i);
    }
    return -1;
}

void dbx_render_to_screen(void) {
    // Every box is drawn from the atlas of frame 0's frame set.
    uint32_t set = dbx_frame[0].frameset < DBX_MAX_FRAMESETS ? dbx_frame[0].frameset : 0;
    glBindTexture(GL_TEXTURE_2D, dbx_frameset[set].textureid);
    float S = static_cast<float>(dbx_frameset[set].size);
    if (dbx_alphamode) {
        glEnable(GL_BLEND);
        if (dbx_alphamode == 1234)
            glBlendFunc(GL_SRC_ALPHA, GL_SRC_ALPHA);
        else
            glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    }
    glEnable(GL_TEXTURE_2D);
    unsigned int count = dbx_render_build(S);
    glEnableClientState(GL_VERTEX_ARRAY);
    glVertexPointer(3, GL_FLOAT, 0, vertex);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glTexCoordPointer(2, GL_FLOAT, 0, texel);
    glDisableClientState(GL_COLOR_ARRAY);
    glEnable(GL_TEXTURE_2D);
    glDrawArrays(GL_TRIANGLES, 0, static_cast<GLsizei>(count));
    dbx_platform_swapbuffers();
}

void dbx_clear(unsigned int red, unsigned int green, unsigned int blue, unsigned int alpha) {
    glClearColor(static_cast<float>(red) / 255.0f, static_cast<float>(green) / 255.0f,
                 static_cast<float>(blue) / 255.0f, static_cast<float>(alpha) / 255.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glClear(GL_DEPTH_BUFFER_BIT);
}
