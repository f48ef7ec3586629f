// What the editor draws over the scene with the engine's own boxes: a status
// line in a tiny font of its own, and the box that stands for a frame the
// atlas lacks. Their texels go into a free strip of the atlas texture, below
// every frame of it, so the one texture the renderer binds holds them. The
// glyph frames and the status boxes are in the pools only while a frame is
// drawn: between frames the pools hold the scene alone.
#include "editor.h"

#include <GLES/gl.h>

#include <cstring>

namespace {

// 3 x 5 glyphs for ' ' to '_' (lower case is shown as upper case), row by
// row, '#' lit.
constexpr int GLYPH_W = 3, GLYPH_H = 5, FIRST_CHAR = 32, GLYPHS = 64;
constexpr char font[GLYPHS][GLYPH_W * GLYPH_H + 1] = {
    "...............", ".#..#..#.....#.", "#.##.#.........", "#.#####.#####.#", ".####..#..####.",
    "#....#.#.#....#", ".#.#.#.#.#.#.##", ".#..#..........", "..#.#..#..#...#", "#...#..#..#.#..",
    "...#.#.#.#.#...", "....#.###.#....", "..........#.#..", "......###......", ".............#.",
    "..#..#.#.#..#..", "####.##.##.####", ".#.##..#..#.###", "##...#.#.#..###", "##...#.#...###.",
    "#.##.####..#..#", "####..##...###.", ".###..####.####", "###..#.#..#..#.", "####.#####.####",
    "####.####..###.", "....#.....#....", "....#.....#.#..", "..#.#.#...#...#", "...###...###...",
    "#...#...#.#.#..", "##...#.#.....#.", "####.##.##...##", ".#.#.#####.##.#", "##.#.###.#.###.",
    ".###..#..#...##", "##.#.##.##.###.", "####..##.#..###", "####..##.#..#..", ".###..#.##.#.##",
    "#.##.#####.##.#", "###.#..#..#.###", "..#..#..##.#.#.", "#.##.###.#.##.#", "#..#..#..#..###",
    "#.########.##.#", "##.#.##.##.##.#", ".#.#.##.##.#.#.", "##.#.###.#..#..", ".#.#.##.###..##",
    "##.#.###.#.##.#", ".###...#...###.", "###.#..#..#..#.", "#.##.##.##.####", "#.##.##.##.#.#.",
    "#.##.########.#", "#.##.#.#.#.##.#", "#.##.#.#..#..#.", "###..#.#.#..###", "##.#..#..#..##.",
    "#..#...#...#..#", ".##..#..#..#.##", ".#.#.#.........", "............###",
};

static_assert(sizeof font[0] == GLYPH_W * GLYPH_H + 1, "every glyph has all its texels");
constexpr int CELL_W = GLYPH_W + 2;          // a clear texel round every frame of the strip
constexpr int BACK = GLYPHS;                 // the backing of a line: dark, half seen through
constexpr int BACK_W = 28, BACK_H = GLYPH_H + 2;
constexpr int MISSING_SIDE = 16;             // the stand-in of a frame the atlas lacks
constexpr int BACK_X = GLYPHS * CELL_W + 2, MISSING_X = BACK_X + BACK_W + 3;
constexpr int STRIP_W = MISSING_X + MISSING_SIDE + 1, STRIP_H = MISSING_SIDE + 2;

dbx_frame_t glyph[GLYPHS + 1];  // the glyph frames and the backing, as they enter the frame table
dbx_frame_t missing;            // the stand-in's frame, named for each frame it stands in for
bool ready;


// Where the strip goes: below the lowest frame of the atlas, when it fits.
bool strip_place(uint32_t set, uint32_t *x, uint32_t *y) {
    uint32_t bottom = 0;
    for (uint32_t i = 0; i < dbx_frames; i++)
        if (dbx_frame[i].frameset == set && dbx_frame[i].y1 + dbx_frame[i].height + 1 > bottom)
            bottom = dbx_frame[i].y1 + dbx_frame[i].height + 1;
    const uint32_t size = dbx_frameset[set].size;
    if (size < STRIP_W || bottom + STRIP_H > size) return false;
    *x = 0;
    *y = bottom;
    return true;
}

}  // namespace

bool ed_overlay_load(void) {
    ready = false;
    if (dbx_frames == 0 || dbx_frame[0].frameset >= DBX_MAX_FRAMESETS) return false;
    const uint32_t set = dbx_frame[0].frameset;
    uint32_t x0, y0;
    if (!strip_place(set, &x0, &y0)) return false;
    static unsigned char texels[STRIP_H][STRIP_W][4];
    memset(texels, 0, sizeof texels);
    auto frame = [&](dbx_frame_t &f, int x, int y, int w, int h) {
        f = dbx_frame_t{};
        f.used = 1;
        f.frameset = set;
        f.x1 = x0 + static_cast<uint32_t>(x);
        f.y1 = y0 + static_cast<uint32_t>(y);
        f.width = f.source_width = static_cast<uint32_t>(w);
        f.height = f.source_height = static_cast<uint32_t>(h);
    };
    for (int g = 0; g < GLYPHS; g++) {
        for (int r = 0; r < GLYPH_H; r++)
            for (int c = 0; c < GLYPH_W; c++)
                if (font[g][r * GLYPH_W + c] == '#') memset(texels[1 + r][g * CELL_W + 1 + c], 255, 4);
        frame(glyph[g], g * CELL_W + 1, 1, GLYPH_W, GLYPH_H);
    }
    // The backing is dark two texels beyond its sides, where filtering
    // reaches: its tiles meet without a seam.
    for (int r = 1; r <= BACK_H; r++)
        for (int c = -2; c < BACK_W + 2; c++) texels[r][BACK_X + c][3] = 200;
    frame(glyph[BACK], BACK_X, 1, BACK_W, BACK_H);
    for (int g = 0; g <= GLYPHS; g++)
        snprintf(glyph[g].source_name, sizeof glyph[g].source_name, "invitro-edit overlay %d", g);
    // The stand-in: a magenta outline crossed corner to corner.
    const int mx = MISSING_X;
    for (int r = 0; r < MISSING_SIDE; r++)
        for (int c = 0; c < MISSING_SIDE; c++) {
            unsigned char *t = texels[1 + r][mx + c];
            const bool edge = r == 0 || c == 0 || r == MISSING_SIDE - 1 || c == MISSING_SIDE - 1;
            const bool cross = r == c || r == MISSING_SIDE - 1 - c;
            t[0] = t[2] = 255;
            t[3] = edge || cross ? 255 : 60;
        }
    frame(missing, mx, 1, MISSING_SIDE, MISSING_SIDE);
    glBindTexture(GL_TEXTURE_2D, dbx_frameset[set].textureid);
    glTexSubImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(x0), static_cast<GLint>(y0), STRIP_W, STRIP_H, GL_RGBA,
                    GL_UNSIGNED_BYTE, texels);
    ready = true;
    return true;
}

int ed_missing_frame(const char *name) {
    int found = dbx_findframe(name);
    if (found >= 0) return found;
    if (!ready) return -1;
    const int f = dbx_frame_create();
    if (f < 0) return -1;
    dbx_frame[f] = missing;
    snprintf(dbx_frame[f].source_name, sizeof dbx_frame[f].source_name, "%s", name);
    return f;
}

// ---------------------------------------------------------------- the status line

namespace {

uint32_t scene_boxes, scene_frames;  // the pools' counts without the status line
void (*next_shown)(void);

// Once the frame is on the screen the pools hold the scene alone again.
void status_shown(void) {
    dbx_drawboxes = scene_boxes;
    dbx_frames = scene_frames;
    dbx_frame_shown = next_shown;
    if (next_shown) next_shown();
}

}  // namespace

void ed_overlay_draw(const char *const lines[], int count) {
    if (!ready || dbx_frame_shown == status_shown) return;
    const uint32_t first_frame = dbx_frames;
    if (first_frame + GLYPHS + 1 > DBX_MAX_FRAMES) return;
    scene_boxes = dbx_drawboxes;
    scene_frames = dbx_frames;
    memcpy(&dbx_frame[first_frame], glyph, sizeof glyph);
    dbx_frames += GLYPHS + 1;
    const float scale = 2.0f, advance = (GLYPH_W + 1) * scale, line_h = (GLYPH_H + 2) * scale;
    auto put = [&](uint32_t frame, float x, float y, float sx) {
        if (dbx_drawboxes >= DBX_MAX_DRAWBOXES) return;
        dbx_drawbox_t &d = dbx_drawbox[dbx_drawboxes++];
        d = dbx_drawbox_t{};
        d.used = d.visible = 1;
        d.frame = frame;
        d.x1 = static_cast<int32_t>(x);
        d.y1 = static_cast<int32_t>(y);
        d.scale = sx;
    };
    // At the foot of the picture, the last line lowest; the backing first.
    const float height = dbx_fixed_height > 0 ? static_cast<float>(dbx_fixed_height) : 360.0f;
    const float top = height - line_h * static_cast<float>(count);
    for (int l = 0; l < count; l++) {
        const size_t n = strlen(lines[l]);
        if (n == 0) continue;
        const float y = top + line_h * static_cast<float>(l);
        // The backing in tiles, as far as the text goes.
        const float tile = BACK_W * scale, wide = static_cast<float>(n) * advance + 4.0f;
        for (float x = 0.0f; x < wide; x += tile) put(first_frame + BACK, x, y - 2.0f, scale);
        for (size_t i = 0; i < n; i++) {
            int ch = static_cast<unsigned char>(lines[l][i]);
            if (ch >= 'a' && ch <= 'z') ch -= 'a' - 'A';
            if (ch < FIRST_CHAR || ch >= FIRST_CHAR + GLYPHS) ch = '?';
            if (ch == ' ') continue;
            put(first_frame + static_cast<uint32_t>(ch - FIRST_CHAR), 2.0f + static_cast<float>(i) * advance, y,
                scale);
        }
    }
    next_shown = dbx_frame_shown;
    dbx_frame_shown = status_shown;
}
