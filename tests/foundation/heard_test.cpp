// The history of row starts that the live song clock reads.
#include "sound/xmheard.h"

#include <gtest/gtest.h>

namespace {

TEST(HeardHistory, NothingMarkedLeavesTheClockAlone) {
    xm_heard_reset();
    int track = 7, row = 9;
    EXPECT_EQ(xm_heard_at(1000, &track, &row), -1);
    EXPECT_EQ(track, 7);
    EXPECT_EQ(row, 9);
}

TEST(HeardHistory, EachSampleBelongsToTheLatestRowStartedAtOrBeforeIt) {
    xm_heard_reset();
    xm_heard_mark(0, 0, 0);
    xm_heard_mark(5760, 0, 1);
    xm_heard_mark(5760 + 64, 0, 1);  // the same row again: no new mark
    xm_heard_mark(11520, 0, 2);
    xm_heard_mark(11000, 5, 5);      // before the last mark: ignored
    xm_heard_mark(368640, 1, 0);
    struct {
        int64_t sample;
        int track, row;
    } cases[] = {
        {-4800, 0, 0},  // not heard yet: the song's start
        {0, 0, 0},         {5759, 0, 0},   {5760, 0, 1},      {11519, 0, 1},
        {11520, 0, 2},     {368639, 0, 2}, {368640, 1, 0},    {1 << 30, 1, 0},
    };
    for (const auto &c : cases) {
        int track = -9, row = -9;
        ASSERT_EQ(xm_heard_at(c.sample, &track, &row), 0);
        EXPECT_EQ(track, c.track) << "sample " << c.sample;
        EXPECT_EQ(row, c.row) << "sample " << c.sample;
    }
}

TEST(HeardHistory, KeepsTheLatestMarksWhenTheRingIsFull) {
    xm_heard_reset();
    const int rows = XM_HEARD_MARKS + 10;
    for (int r = 0; r < rows; r++) xm_heard_mark(static_cast<uint64_t>(r) * 100, r / 64, r % 64);
    int track = -1, row = -1;
    xm_heard_at(0, &track, &row);  // older than anything kept: the oldest kept
    EXPECT_EQ(track * 64 + row, 10);
    xm_heard_at(static_cast<int64_t>(rows - 1) * 100 + 50, &track, &row);
    EXPECT_EQ(track * 64 + row, rows - 1);
    xm_heard_at(static_cast<int64_t>(rows - 2) * 100 + 99, &track, &row);
    EXPECT_EQ(track * 64 + row, rows - 2);
}

// Where each song position was first heard: the first mark at it, also when
// the song comes back to it later, and -1 for positions not reached or no
// longer kept.
TEST(HeardHistory, GivesTheFirstSampleKeptOfEachPosition) {
    xm_heard_reset();
    EXPECT_EQ(xm_heard_first(0), -1);
    xm_heard_mark(0, 0, 0);
    xm_heard_mark(100, 0, 0);  // a repeat: row 0 of position 0 still began at 0
    xm_heard_mark(6000, 0, 1);
    xm_heard_mark(12000, 1, 0);
    xm_heard_mark(18000, 1, 1);
    xm_heard_mark(24000, 0, 0);  // back to position 0
    const struct {
        int track;
        int64_t first;
    } cases[] = {{0, 0}, {1, 12000}, {2, -1}, {-1, -1}};
    for (const auto &c : cases) EXPECT_EQ(xm_heard_first(c.track), c.first) << "position " << c.track;

    // Once the ring has dropped a position's first marks, its oldest kept
    // mark is its first; a position dropped entirely is unknown again.
    xm_heard_reset();
    const int rows = XM_HEARD_MARKS + 10;
    for (int r = 0; r < rows; r++) xm_heard_mark(static_cast<uint64_t>(r) * 100, r / 8, r % 8);
    EXPECT_EQ(xm_heard_first(0), -1);
    EXPECT_EQ(xm_heard_first(1), 1000);  // rows 8..15: row 10 is the oldest kept
    EXPECT_EQ(xm_heard_first(2), 1600);
}

}  // namespace
