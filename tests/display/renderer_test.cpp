// The frame renderer on real GL: the arrays handed to GL, the GL state it
// sets, and the picture that reaches the screen.
#include "display_fixture.h"
#include "tests/common/pools.h"

#include <cmath>
#include <vector>

namespace {

struct vec2 {
    float x, y;
};

class Renderer : public ::testing::Test {
protected:
    GLuint texture = 0;

    void SetUp() override {
        reset_engine();
        open_display(320, 180);
        // The atlas of the worked examples: 1024 texels square, one frame
        // of 100 x 105 at (1, 1).
        glGenTextures(1, &texture);
        dbx_framesets = 1;
        dbx_frameset[0] = dbx_frameset_t{1, texture, 1024, 0};
        dbx_frames = 1;
        dbx_frame[0] = make_frame("bird.png", 1, 1, 0, 0, 100, 105);
        dbx_frame[0].frameset = 0;
    }

    dbx_drawbox_t *box(int32_t x, int32_t y, float scale, float rotation, uint32_t frame = 0) {
        return add_box(frame, x, y, scale, rotation);
    }

    // The arrays that the last dbx_render_to_screen handed to GL.
    static const float *vertex_array(void) {
        void *p = nullptr;
        glGetPointerv(GL_VERTEX_ARRAY_POINTER, &p);
        return static_cast<const float *>(p);
    }
    static const float *texel_array(void) {
        void *p = nullptr;
        glGetPointerv(GL_TEXTURE_COORD_ARRAY_POINTER, &p);
        return static_cast<const float *>(p);
    }

    // Six vertices (x, y, 0) of box k, compared exactly.
    static void expect_vertices(int k, const std::vector<vec2> &expected) {
        const float *v = vertex_array() + 18 * k;
        ASSERT_NE(vertex_array(), nullptr);
        for (int i = 0; i < 6; i++) {
            EXPECT_EQ(v[3 * i], expected[i].x) << "vertex " << i << " x";
            EXPECT_EQ(v[3 * i + 1], expected[i].y) << "vertex " << i << " y";
            EXPECT_EQ(v[3 * i + 2], 0.0f) << "vertex " << i << " z";
        }
    }
    static void expect_texels(int k, float uL, float vT, float uR, float vB) {
        const float *t = texel_array() + 12 * k;
        ASSERT_NE(texel_array(), nullptr);
        const float expected[12] = {uL, vT, uR, vT, uL, vB, uR, vT, uL, vB, uR, vB};
        for (int i = 0; i < 12; i++) EXPECT_EQ(t[i], expected[i]) << "texel float " << i;
    }
    static std::vector<vec2> rect(float L, float T, float R, float B) {
        return {{L, T}, {R, T}, {L, B}, {R, T}, {L, B}, {R, B}};
    }
};

// Texture rectangles of the worked examples: plain and enlarged by a texel.
constexpr float plain_uL = 0.0009765625f, plain_uR = 0.0986328125f, plain_vB = 0.103515625f;
constexpr float big_uR = 0.099609375f, big_vB = 0.1044921875f;

TEST_F(Renderer, AxisAlignedWorkedExamples) {
    box(10, 20, 1.0f, 0.0f);
    box(10, 20, 0.5f, 0.0f);
    box(10, 20, 2.0f, 0.0f);
    dbx_render_to_screen();
    expect_vertices(0, rect(10, 20, 110, 125));
    expect_texels(0, plain_uL, plain_uL, plain_uR, plain_vB);
    expect_vertices(1, rect(10, 20, 60, 72.5f));
    expect_texels(1, plain_uL, plain_uL, plain_uR, plain_vB);
    // Enlarged by one texel on every side for a magnified box.
    expect_vertices(2, rect(8, 18, 212, 232));
    expect_texels(2, 0.0f, 0.0f, big_uR, big_vB);
}

TEST_F(Renderer, RotatedWorkedExamples) {
    box(10, 20, 1.0f, 90.0f);
    box(10, 20, 1.0f, 180.0f);
    dbx_render_to_screen();
    expect_vertices(0, {{111, 21}, {111, 121}, {7, 21}, {111, 121}, {7, 21}, {7, 121}});
    expect_texels(0, 0.0f, 0.0f, big_uR, big_vB);
    expect_vertices(1, {{109, 123}, {9, 123}, {109, 19}, {9, 123}, {109, 19}, {9, 19}});
    expect_texels(1, 0.0f, 0.0f, big_uR, big_vB);
}

TEST_F(Renderer, NegativeZeroRotationIsAxisAligned) {
    box(10, 20, 1.0f, -0.0f);
    dbx_render_to_screen();
    expect_vertices(0, rect(10, 20, 110, 125));
    expect_texels(0, plain_uL, plain_uL, plain_uR, plain_vB);
}

TEST_F(Renderer, FullTurnTakesTheRotatedPath) {
    // Half extents 50 and 52 (105 halved in integers) about a centre one
    // texel up and left: a smaller rectangle than the axis-aligned one, with
    // the enlarged texture all the same.
    box(10, 20, 1.0f, 360.0f);
    dbx_render_to_screen();
    const float *v = vertex_array();
    const vec2 expected[6] = {{9, 19}, {109, 19}, {9, 123}, {109, 19}, {9, 123}, {109, 123}};
    for (int i = 0; i < 6; i++) {
        EXPECT_NEAR(v[3 * i], expected[i].x, 1e-4) << "vertex " << i;
        EXPECT_NEAR(v[3 * i + 1], expected[i].y, 1e-4) << "vertex " << i;
    }
    expect_texels(0, 0.0f, 0.0f, big_uR, big_vB);
}

TEST_F(Renderer, OnlyScalesAboveOneAreEnlarged) {
    box(10, 20, 1.0f, 0.0f);
    box(10, 20, 1.0000001f, 0.0f);
    dbx_render_to_screen();
    expect_texels(0, plain_uL, plain_uL, plain_uR, plain_vB);
    expect_texels(1, 0.0f, 0.0f, big_uR, big_vB);
    const float *v = vertex_array() + 18;
    EXPECT_FLOAT_EQ(v[0], 9.0f);     // left, one texel out
    EXPECT_FLOAT_EQ(v[3], 111.0f);   // right: 102 texels wide
    EXPECT_FLOAT_EQ(v[7], 126.0f);   // bottom: 107 texels high
}

TEST_F(Renderer, SkippedBoxesLeaveNoGap) {
    box(1, 1, 1.0f, 0.0f)->visible = 0;       // hidden
    box(2, 2, 1.0f, 0.0f);
    dbx_drawbox_remove(1);                    // removed, still below the count
    box(3, 3, 1.0f, 0.0f, 7);                 // names a frame that was never loaded
    box(10, 20, 1.0f, 0.0f);
    EXPECT_EQ(dbx_render_build(1024.0f), 6u);
    dbx_render_to_screen();
    expect_vertices(0, rect(10, 20, 110, 125));
}

TEST_F(Renderer, EmptyPoolStillDrawsAndPresents) {
    unsigned long swaps = standin_swaps();
    EXPECT_EQ(dbx_render_build(1024.0f), 0u);
    dbx_render_to_screen();
    EXPECT_EQ(standin_swaps(), swaps + 1);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(Renderer, FullPoolFillsBothArraysExactly) {
    for (int i = 0; i < DBX_MAX_DRAWBOXES; i++) box(i % 600, i % 300, 1.0f, i % 2 ? 45.0f : 0.0f);
    EXPECT_EQ(dbx_render_build(1024.0f), 30000u);
    dbx_render_to_screen();
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    // The last box (4999, rotated) fills the arrays to their last float.
    const float *v = vertex_array();
    const float *t = texel_array();
    EXPECT_EQ(v[89999], 0.0f);
    EXPECT_GT(v[89998], 0.0f);
    EXPECT_EQ(t[59999], big_vB);
    EXPECT_EQ(t[59998], big_uR);
    // Box 4998 is axis-aligned at (4998 % 600, 4998 % 300).
    EXPECT_EQ(v[4998 * 18], static_cast<float>(4998 % 600));
    EXPECT_EQ(v[4998 * 18 + 1], static_cast<float>(4998 % 300));
}

TEST_F(Renderer, DrawsWithTheAtlasOfFrameZerosSet) {
    GLuint other = 0;
    glGenTextures(1, &other);
    dbx_framesets = 2;
    dbx_frameset[1] = dbx_frameset_t{1, other, 512, 0};
    dbx_frame[0].frameset = 1;
    box(10, 20, 1.0f, 0.0f);
    dbx_render_to_screen();
    GLint bound = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(static_cast<GLuint>(bound), other);
    expect_texels(0, 1.0f / 512, 1.0f / 512, 100.0f / 512 + 1.0f / 512, 105.0f / 512 + 1.0f / 512);
}

struct blend_state {
    GLboolean enabled;
    GLint src, dst;
};
blend_state blending(void) {
    blend_state s{glIsEnabled(GL_BLEND), 0, 0};
    glGetIntegerv(GL_BLEND_SRC, &s.src);
    glGetIntegerv(GL_BLEND_DST, &s.dst);
    return s;
}

TEST_F(Renderer, BlendingFollowsTheAlphaMode) {
    dbx_alphamode = 0;
    dbx_render_to_screen();
    EXPECT_FALSE(blending().enabled);  // off at start, and not touched

    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ZERO);
    dbx_render_to_screen();
    EXPECT_TRUE(blending().enabled);
    EXPECT_EQ(blending().src, GL_ONE);
    EXPECT_EQ(blending().dst, GL_ZERO);

    for (int mode : {1, 2, -1}) {
        dbx_alphamode = mode;
        glDisable(GL_BLEND);
        dbx_render_to_screen();
        EXPECT_TRUE(blending().enabled) << mode;
        EXPECT_EQ(blending().src, GL_SRC_ALPHA) << mode;
        EXPECT_EQ(blending().dst, GL_ONE_MINUS_SRC_ALPHA) << mode;
    }

    dbx_alphamode = 1234;
    dbx_render_to_screen();
    EXPECT_EQ(blending().src, GL_SRC_ALPHA);
    EXPECT_EQ(blending().dst, GL_SRC_ALPHA);

    // Once on, blending stays on when the mode goes back to 0.
    dbx_alphamode = 0;
    dbx_render_to_screen();
    EXPECT_TRUE(blending().enabled);
}

TEST_F(Renderer, ClearColourOnTheByteScale) {
    GLfloat c[4];
    dbx_clear(255, 255, 255, 255);
    glGetFloatv(GL_COLOR_CLEAR_VALUE, c);
    for (float channel : c) EXPECT_EQ(channel, 1.0f);
    dbx_clear(128, 128, 128, 255);
    glGetFloatv(GL_COLOR_CLEAR_VALUE, c);
    EXPECT_EQ(c[0], 128.0f / 255.0f);
    EXPECT_FLOAT_EQ(c[0], 0.50196081f);
    EXPECT_EQ(c[1], c[0]);
    EXPECT_EQ(c[2], c[0]);
    EXPECT_EQ(c[3], 1.0f);
}

// A whole frame through the Pi layer onto the emulated screen: a 1280 x 1024
// window centred on a 1400 x 1100 display, 640 x 360 letterboxed into it at
// twice the size (bars of 152 rows above and below).
TEST(RenderedFrame, ABoxLandsWhereItShould) {
    reset_engine();
    standin_set_display_size(1400, 1100);
    standin_fill_screen(200, 0, 200);  // what the screen showed before
    dbx_window_width = 1280;
    dbx_window_height = 1024;
    dbx_fixed_width = 640;
    dbx_fixed_height = 360;
    dbx_alphamode = 1;
    dbx_init();
    ASSERT_EQ(dbx_viewport_top, 152);

    // A 20 x 10 frame, red above and blue below, in a 64-texel atlas.
    rgba_image atlas(64, 64);
    atlas.fill(1, 1, 20, 5, 255, 0, 0);
    atlas.fill(1, 6, 20, 5, 0, 0, 255);
    std::vector<unsigned char> png = atlas.png();
    const dbx_frame_t table[1] = {make_frame("flag.png", 1, 1, 0, 0, 20, 10)};
    int set = dbx_loadframeset("", png.data(), static_cast<int>(png.size()), table, 1);
    dbx_frame[0].frameset = static_cast<uint32_t>(set);
    add_box(0, 10, 20, 1.0f, 0.0f);

    dbx_clear(100, 100, 100, 255);
    dbx_render_to_screen();

    // Layer at (60, 38); the box covers logical (10..30, 20..30), that is
    // layer pixels (20..60, 192..212), screen pixels (80..120, 230..250).
    auto expect = [](uint32_t x, uint32_t y, unsigned char r, unsigned char g, unsigned char bl) {
        screen_pixel p = screen_at(x, y);
        EXPECT_NEAR(p.r, r, 1) << "at " << x << "," << y;
        EXPECT_NEAR(p.g, g, 1) << "at " << x << "," << y;
        EXPECT_NEAR(p.b, bl, 1) << "at " << x << "," << y;
    };
    for (uint32_t y = 232; y < 238; y++)
        for (uint32_t x = 82; x < 118; x++) expect(x, y, 255, 0, 0);
    for (uint32_t y = 242; y < 248; y++)
        for (uint32_t x = 82; x < 118; x++) expect(x, y, 0, 0, 255);
    expect(78, 240, 100, 100, 100);   // left of the box
    expect(122, 240, 100, 100, 100);  // right of it
    expect(100, 228, 100, 100, 100);  // above
    expect(100, 252, 100, 100, 100);  // below
    expect(60, 190, 100, 100, 100);   // the viewport's top-left corner
    expect(1339, 909, 100, 100, 100); // and its bottom-right one
    // The bars keep the layer's first clear; the margins what the screen showed.
    expect(700, 38, 38, 64, 89);
    expect(700, 189, 38, 64, 89);
    expect(700, 910, 38, 64, 89);
    expect(700, 1061, 38, 64, 89);
    expect(59, 500, 200, 0, 200);
    expect(1340, 500, 200, 0, 200);
    expect(700, 37, 200, 0, 200);
    expect(700, 1062, 200, 0, 200);
}

}  // namespace
