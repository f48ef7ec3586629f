#include "drawboxlib/drawboxlib.h"

#include <gtest/gtest.h>

namespace {

uint64_t fake_now;
uint64_t fake_clock() { return fake_now; }

class TickClock : public ::testing::Test {
protected:
    void SetUp() override {
        saved = dbx_platform_clock;
        dbx_platform_clock = fake_clock;
        dbx_ticsize = 25;
        fake_now = 1000000;
        dbx_platform_ticready(1);
    }
    void TearDown() override { dbx_platform_clock = saved; }
    uint64_t (*saved)(void);
};

TEST_F(TickClock, RestartZeroesTheCountAndEqualTimeIsNotDue) {
    EXPECT_EQ(dbx_tics, 0);
    EXPECT_EQ(dbx_platform_ticready(0), 0);  // same millisecond
    fake_now++;
    EXPECT_EQ(dbx_platform_ticready(0), 1);
    EXPECT_EQ(dbx_tics, 1);
    EXPECT_EQ(dbx_platform_ticready(0), 0);
    fake_now += 500;
    EXPECT_EQ(dbx_platform_ticready(1), 1);
    EXPECT_EQ(dbx_tics, 0);
}

TEST_F(TickClock, BoundariesAreFixedByTheRestart) {
    // Tick k is due once the time passes restart + (k-1) * 25.
    fake_now += 1;
    ASSERT_EQ(dbx_platform_ticready(0), 1);
    fake_now = 1000000 + 25;
    EXPECT_EQ(dbx_platform_ticready(0), 0);
    fake_now = 1000000 + 26;
    EXPECT_EQ(dbx_platform_ticready(0), 1);
    EXPECT_EQ(dbx_tics, 2);
    // Running late does not move the next boundary.
    fake_now = 1000000 + 60;
    EXPECT_EQ(dbx_platform_ticready(0), 1);
    EXPECT_EQ(dbx_platform_ticready(0), 0);
    fake_now = 1000000 + 76;
    EXPECT_EQ(dbx_platform_ticready(0), 1);
    EXPECT_EQ(dbx_tics, 4);
}

TEST_F(TickClock, BehindTheClockItCatchesUpOneTickPerCall) {
    fake_now += 100;  // one slow pass of 100 ms
    int ticks = 0;
    while (dbx_platform_ticready(0)) ticks++;
    // Boundaries at +0, +25, +50, +75 lie in the past; +100 does not.
    EXPECT_EQ(ticks, 4);
    EXPECT_EQ(dbx_tics, 4);
}

TEST_F(TickClock, ClockJumpingBackPausesAndForwardCatchesUp) {
    fake_now += 1;
    ASSERT_EQ(dbx_platform_ticready(0), 1);
    fake_now -= 10000;
    for (int i = 0; i < 5; i++) EXPECT_EQ(dbx_platform_ticready(0), 0);
    fake_now = 1000000 + 10 * 25 + 1;
    int ticks = 0;
    while (dbx_platform_ticready(0)) ticks++;
    EXPECT_EQ(ticks, 10);
    EXPECT_EQ(dbx_tics, 11);
}

TEST_F(TickClock, TickSizeIsReadAfreshEachTick) {
    fake_now += 1;
    ASSERT_EQ(dbx_platform_ticready(0), 1);  // next boundary +25
    dbx_ticsize = 100;
    fake_now = 1000000 + 26;
    ASSERT_EQ(dbx_platform_ticready(0), 1);  // next boundary +125
    fake_now = 1000000 + 125;
    EXPECT_EQ(dbx_platform_ticready(0), 0);
    fake_now = 1000000 + 126;
    EXPECT_EQ(dbx_platform_ticready(0), 1);
    dbx_ticsize = 25;
}

}  // namespace
