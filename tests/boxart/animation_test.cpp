// Box animation: the generator, spin, jitter and pulse.
#include "scratch.h"

#include <gtest/gtest.h>

namespace {

class BoxAnimation : public ::testing::Test {
protected:
    void SetUp() override {
        start_with_frames({});
    }
    void TearDown() override { dbx_tics = 0; }
    // A box in the next slot with these animation parameters.
    int add_box(int mode, int delta_rot = 0) {
        int i = static_cast<int>(dbx_drawboxes);
        dbx_drawbox_t *db = dbx_drawbox_create();
        db->visible = 1;
        db->scale = 1.0f;
        extra[i].animationmode = mode;
        extra[i].delta_rot = delta_rot;
        return i;
    }
};

TEST_F(BoxAnimation, GeneratorSequenceFrom12345) {
    EXPECT_EQ(randomint(), 1543125u);
    EXPECT_EQ(randomint(), 2748821u);
    EXPECT_EQ(randomint(), 2465859u);
    EXPECT_EQ(rseed, 2465859u);
    for (int i = 0; i < 100000; i++) ASSERT_LT(randomint(), 2796203u);
}

TEST_F(BoxAnimation, EmptyPoolDoesNothing) {
    extra[0].delta_rot = 5;
    extra[0].animationmode = 1;
    spinboxes();
    EXPECT_EQ(rseed, 12345u);
    EXPECT_EQ(dbx_drawbox[0].rotation, 0.0f);
}

TEST_F(BoxAnimation, SpinAccumulatesOnEveryBoxWhateverItsModeOrVisibility) {
    int still = add_box(0);
    int hidden = add_box(0, -3);
    dbx_drawbox[hidden].visible = 0;
    int jitter = add_box(1, 7);
    int pulse = add_box(2, 1);
    int other = add_box(9, 2);
    dbx_drawbox[still].x1 = 10;
    for (int t = 0; t < 4; t++) spinboxes();
    EXPECT_EQ(dbx_drawbox[still].rotation, 0.0f);
    EXPECT_EQ(dbx_drawbox[still].x1, 10);
    EXPECT_EQ(dbx_drawbox[still].scale, 1.0f);
    EXPECT_EQ(dbx_drawbox[hidden].rotation, -12.0f);
    EXPECT_EQ(dbx_drawbox[jitter].rotation, 28.0f);
    EXPECT_EQ(dbx_drawbox[pulse].rotation, 4.0f);
    EXPECT_EQ(dbx_drawbox[other].rotation, 8.0f);
    EXPECT_EQ(dbx_drawbox[other].scale, 1.0f);
    // Only the jitter box draws: two numbers a tick.
    uint32_t after = rseed;
    rseed = 12345;
    for (int n = 0; n < 8; n++) randomint();
    EXPECT_EQ(after, rseed);
}

TEST_F(BoxAnimation, JitterDrawsXThenYAroundHomeWithoutAccumulating) {
    int a = add_box(1);
    int b = add_box(1);
    extra[a].x1 = 100;
    extra[a].y1 = 50;
    extra[b].x1 = -20;
    extra[b].y1 = 0;
    spinboxes();
    // 1543125, 2748821 for box a; 2465859 and the next for box b.
    EXPECT_EQ(dbx_drawbox[a].x1, 100 + 5 - 4);
    EXPECT_EQ(dbx_drawbox[a].y1, 50 + 1 - 4);
    EXPECT_EQ(dbx_drawbox[b].x1, -20 + 9 - 4);
    EXPECT_EQ(dbx_drawbox[a].scale, 1.0f);

    bool low_x = false, high_x = false, low_y = false, high_y = false;
    for (int t = 0; t < 2000; t++) {
        spinboxes();
        int x = dbx_drawbox[a].x1, y = dbx_drawbox[a].y1;
        ASSERT_GE(x, 96);
        ASSERT_LE(x, 105);
        ASSERT_GE(y, 46);
        ASSERT_LE(y, 55);
        low_x |= x == 96;
        high_x |= x == 105;
        low_y |= y == 46;
        high_y |= y == 55;
    }
    EXPECT_TRUE(low_x && high_x && low_y && high_y);
}

TEST_F(BoxAnimation, PulseIsATriangleOverFiftyTicks) {
    int i = add_box(2);
    extra[i].scale1 = 1.0f;
    const struct {
        int tics, timing;
        float scale;
    } cases[] = {
        {0, 0, 1.5f},
        {50, 0, 1.5f},
        {25, 0, 1.0f},
        {75, 0, 1.0f},
        {49, 0, static_cast<float>(1.0 + 24 * 0.02)},
        {1, 0, static_cast<float>(1.0 + 24 * 0.02)},
        {20, 5, 1.0f},
        // Negative sums keep the remainder's sign: k from -49 to 0.
        {0, -1, static_cast<float>(1.0 + 26 * 0.02)},
        {0, -49, static_cast<float>(1.0 + 74 * 0.02)},
        {10, -61, static_cast<float>(1.0 + 26 * 0.02)},
        {0, -50, 1.5f},
    };
    for (const auto &c : cases) {
        dbx_tics = c.tics;
        extra[i].timing = c.timing;
        spinboxes();
        EXPECT_EQ(dbx_drawbox[i].scale, c.scale) << "tics " << c.tics << " timing " << c.timing;
    }
    EXPECT_EQ(rseed, 12345u);
    EXPECT_EQ(dbx_drawbox[i].x1, 0);

    // The sum wraps instead of overflowing.
    dbx_tics = 1;
    extra[i].timing = INT32_MAX;
    spinboxes();
    EXPECT_EQ(dbx_drawbox[i].scale, static_cast<float>(1.0 + 73 * 0.02));  // INT32_MIN % 50 = -48
}

TEST_F(BoxAnimation, LastSlotSpinsButNeverJittersOrPulses) {
    EXPECT_EQ(cursordb, &dbx_drawbox[DBX_MAX_DRAWBOXES - 1]);
    const int last = DBX_MAX_DRAWBOXES - 1;
    dbx_drawboxes = DBX_MAX_DRAWBOXES;
    for (int mode : {1, 2}) {
        dbx_drawbox[last] = {};
        dbx_drawbox[last].used = 1;
        dbx_drawbox[last].x1 = 3;
        dbx_drawbox[last].scale = 2.0f;
        extra[last] = {};
        extra[last].animationmode = mode;
        extra[last].delta_rot = 2;
        extra[last].x1 = 500;
        extra[last].scale1 = 9.0f;
        spinboxes();
        spinboxes();
        EXPECT_EQ(dbx_drawbox[last].rotation, 4.0f) << "mode " << mode;
        EXPECT_EQ(dbx_drawbox[last].x1, 3) << "mode " << mode;
        EXPECT_EQ(dbx_drawbox[last].scale, 2.0f) << "mode " << mode;
        EXPECT_EQ(rseed, 12345u) << "mode " << mode;
    }
    // The slot before it does jitter.
    extra[last - 1].animationmode = 1;
    spinboxes();
    EXPECT_NE(rseed, 12345u);
}

}  // namespace
