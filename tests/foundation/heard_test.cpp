// The history of row starts that the live song clock reads.
#include "xmheard.h"

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

}  // namespace
