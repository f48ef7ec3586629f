#include "playxm.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>

namespace {

TEST(SongClock, BeatNumberIsRowPlus64TimesPositionWithWrapAround) {
    xmtrack = 0;
    xmrow = 0;
    EXPECT_EQ(beatnow(), 0u);
    xmtrack = 3;
    xmrow = 5;
    EXPECT_EQ(beatnow(), 197u);
    xmtrack = -1;
    xmrow = 128;
    EXPECT_EQ(beatnow(), 64u);
    xmtrack = -1;
    xmrow = 0;
    EXPECT_EQ(beatnow(), 0xffffffc0u);
}

TEST(SongClock, FallbackPositionLasts129Frames) {
    xmtrack = -1;
    xmrow = 128;
    xm_fallback_step();
    EXPECT_EQ(xmtrack, 0);
    EXPECT_EQ(xmrow, 0);
    for (int i = 0; i < 128; i++) xm_fallback_step();
    EXPECT_EQ(xmtrack, 0);
    EXPECT_EQ(xmrow, 128);
    EXPECT_EQ(beatnow(), 128u);
    xm_fallback_step();
    EXPECT_EQ(xmtrack, 1);
    EXPECT_EQ(xmrow, 0);
    EXPECT_EQ(beatnow(), 64u);  // the beat number drops at every change
}

}  // namespace

namespace {

// Whatever sound driver libmikmod ends up with, the intro can still be
// stopped from outside.
TEST(SongClockDeathTest, StartingTheMusicKeepsSigtermFatal) {
    EXPECT_EXIT(
        {
            xm_filename = "/nonexistent/omber.xm";
            playxm();
            raise(SIGTERM);
            exit(3);
        },
        ::testing::KilledBySignal(SIGTERM), "");
}

}  // namespace
