// Picking: the top-most box whose drawn quadrilateral holds a logical point,
// and display pixels mapped through the letterboxed viewport.
#include "drawboxlib/drawboxlib.h"
#include "tests/common/pools.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

class Pick : public ::testing::Test {
protected:
    void SetUp() override {
        dbx_reset();
        // A trimmed frame: 40 x 20 texels, 2 and 3 in from its 44 x 26 source.
        dbx_frames = 1;
        dbx_frame[0] = dbx_frame_t{1, 0, 1, 1, 2, 3, 40, 20, "f", 44, 26};
    }
    void TearDown() override { dbx_reset(); }
};

// Points on either side of each edge of the drawn rectangle, a tenth of a
// unit away, for the renderer's three cases: small, magnified (one texel
// more on every side) and rotated (about the trimmed rectangle's centre).
TEST_F(Pick, PointsJustInsideAndOutsideTheDrawnRectangle) {
    const double r45 = std::sqrt(0.5);
    const struct {
        float scale, rotation;
        double cx, cy;  // a point inside, and two unit axes of the drawn rectangle
        double ax, ay, bx, by;
        double half_a, half_b;
    } cases[] = {
        // 0.5: left 100 + 2 * 0.5, top 50 + 3 * 0.5, 20 x 10 units.
        {0.5f, 0.0f, 111.0, 56.5, 1, 0, 0, 1, 10.0, 5.0},
        // 2: one texel more each side: left 100 + 1 * 2, top 50 + 2 * 2, 84 x 44.
        {2.0f, 0.0f, 144.0, 76.0, 1, 0, 0, 1, 42.0, 22.0},
        // 90 degrees clockwise at scale 1: centre (100 + 21, 50 + 12), 20 wide, 40 high.
        {1.0f, 90.0f, 121.0, 62.0, 0, 1, -1, 0, 20.0, 10.0},
        // 45 degrees at scale 2: centre (100 + 42, 50 + 24), half extents 40 and 20.
        {2.0f, 45.0f, 142.0, 74.0, r45, r45, -r45, r45, 40.0, 20.0},
        // -30 degrees at scale 0.75.
        {0.75f, -30.0f, 100.0 + 21 * 0.75, 50.0 + 12 * 0.75, std::cos(-M_PI / 6), std::sin(-M_PI / 6),
         -std::sin(-M_PI / 6), std::cos(-M_PI / 6), 15.0, 7.5},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "scale " << c.scale << " rotation " << c.rotation);
        dbx_drawboxes = 0;
        add_box(0, 100, 50, c.scale, c.rotation);
        auto at = [&](double along_a, double along_b) {
            return dbx_pick(static_cast<float>(c.cx + along_a * c.ax + along_b * c.bx),
                            static_cast<float>(c.cy + along_a * c.ay + along_b * c.by), 0, 1);
        };
        EXPECT_EQ(at(0, 0), 0);
        for (int sign : {-1, 1}) {
            EXPECT_EQ(at(sign * (c.half_a - 0.1), 0), 0);
            EXPECT_EQ(at(sign * (c.half_a + 0.1), 0), -1);
            EXPECT_EQ(at(0, sign * (c.half_b - 0.1)), 0);
            EXPECT_EQ(at(0, sign * (c.half_b + 0.1)), -1);
            // Just inside a corner, and just outside it along the diagonal.
            EXPECT_EQ(at(sign * (c.half_a - 0.2), sign * (c.half_b - 0.2)), 0);
            EXPECT_EQ(at(sign * (c.half_a + 0.2), sign * (c.half_b + 0.2)), -1);
        }
    }
}

TEST_F(Pick, TheTopMostDrawnBoxInTheRangeWins) {
    add_box(0, 0, 0, 1.0f, 0.0f);   // 0
    add_box(0, 10, 0, 1.0f, 0.0f);  // 1: overlaps 0 from x 12
    add_box(0, 10, 0, 1.0f, 0.0f);  // 2: hidden
    dbx_drawbox[2].visible = 0;
    add_box(0, 10, 0, 1.0f, 0.0f);  // 3: released
    dbx_drawbox_remove(3);
    add_box(5, 10, 0, 1.0f, 0.0f);  // 4: a frame never loaded
    add_box(0, 10, 0, 1.0f, 0.0f);  // 5: outside the range asked for
    EXPECT_EQ(dbx_pick(20, 10, 0, 5), 1);
    EXPECT_EQ(dbx_pick(5, 10, 0, 5), 0);
    EXPECT_EQ(dbx_pick(20, 10, 0, 1), 0);
    EXPECT_EQ(dbx_pick(20, 10, 0, 6), 5);
    EXPECT_EQ(dbx_pick(20, 10, 2, 5), -1);
    EXPECT_EQ(dbx_pick(20, 10, 0, 100000), 5);  // the range ends at the pool
    EXPECT_EQ(dbx_pick(-1, 10, 0, 6), -1);
}

TEST(ScreenToLogical, ThroughTheLetterboxBars) {
    dbx_reset();
    const struct {
        int32_t fixed_w, fixed_h, left, top, width, height;
        int32_t x, y;
        float lx, ly;
    } cases[] = {
        {640, 360, 0, 75, 800, 450, 0, 75, 0.0f, 0.0f},       // bars above and below
        {640, 360, 0, 75, 800, 450, 800, 525, 640.0f, 360.0f},
        {640, 360, 0, 75, 800, 450, 400, 10, 320.0f, -52.0f},  // in a bar: outside the logical screen
        {640, 360, 160, 0, 1280, 720, 480, 360, 160.0f, 180.0f},  // bars left and right
        {0, 0, 0, 0, 0, 0, 17, 23, 17.0f, 23.0f},             // no logical size: pixels
    };
    for (const auto &c : cases) {
        dbx_fixed_width = c.fixed_w;
        dbx_fixed_height = c.fixed_h;
        dbx_viewport_left = c.left;
        dbx_viewport_top = c.top;
        dbx_viewport_width = c.width;
        dbx_viewport_height = c.height;
        float lx, ly;
        dbx_screen_to_logical(c.x, c.y, &lx, &ly);
        EXPECT_FLOAT_EQ(lx, c.lx) << c.x << "," << c.y;
        EXPECT_FLOAT_EQ(ly, c.ly) << c.x << "," << c.y;
    }
    dbx_reset();
}

}  // namespace
