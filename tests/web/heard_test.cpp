// The history of heard positions: lookups between, on and outside the
// recorded changes, repeats, the ring's reach and the positions' first samples.
#include "web/heard.h"

#include <gtest/gtest.h>

namespace {

struct lookup_case {
    int64_t sample;
    bool found;
    int32_t track, row;
};

TEST(HeardHistory, GivesThePositionThatBeganLastAtOrBeforeTheSample) {
    heard_reset();
    heard_note(0, 0, 0);
    heard_note(100, 0, 0);  // a repeat: still row 0 from sample 0
    heard_note(6000, 0, 1);
    heard_note(12000, 1, 0);
    const lookup_case cases[] = {
        {-1, false, 0, 0},     {0, true, 0, 0},      {5999, true, 0, 0},
        {6000, true, 0, 1},    {11999, true, 0, 1},  {12000, true, 1, 0},
        {1 << 30, true, 1, 0},
    };
    for (const lookup_case &c : cases) {
        int32_t track = -7, row = -7;
        EXPECT_EQ(heard_at(c.sample, &track, &row), c.found) << "sample " << c.sample;
        if (!c.found) {
            EXPECT_EQ(track, -7) << "nothing is written when nothing is found";
            continue;
        }
        EXPECT_EQ(track, c.track) << "sample " << c.sample;
        EXPECT_EQ(row, c.row) << "sample " << c.sample;
    }
    EXPECT_EQ(heard_position_start(0), 0);
    EXPECT_EQ(heard_position_start(1), 12000);
    EXPECT_EQ(heard_position_start(2), -1);
    EXPECT_EQ(heard_position_start(-1), -1);
    EXPECT_EQ(heard_position_start(HEARD_POSITIONS), -1);
}

TEST(HeardHistory, KeepsTheNewestChangesAndEachPositionsFirstSample) {
    heard_reset();
    // Rows 0..63 of positions 0, 1, ... every 10 samples, well past the ring's size.
    const int total = HEARD_HISTORY * 3 + 5;
    for (int i = 0; i < total; i++) heard_note(10 * int64_t{i}, i / 64, i % 64);
    int32_t track = 0, row = 0;
    const int64_t newest = 10 * int64_t{total - 1};
    ASSERT_TRUE(heard_at(newest + 5, &track, &row));
    EXPECT_EQ(track, (total - 1) / 64);
    EXPECT_EQ(row, (total - 1) % 64);
    const int64_t oldest_kept = 10 * int64_t{total - HEARD_HISTORY};
    ASSERT_TRUE(heard_at(oldest_kept, &track, &row));
    EXPECT_EQ(track * 64 + row, total - HEARD_HISTORY);
    EXPECT_FALSE(heard_at(oldest_kept - 1, &track, &row)) << "older than the ring reaches";
    EXPECT_EQ(heard_position_start(3), 10 * 3 * 64) << "a position's start outlives the ring";
    // A song that goes back to an earlier position keeps that position's first start.
    heard_note(newest + 10, 3, 0);
    EXPECT_EQ(heard_position_start(3), 10 * 3 * 64);
    ASSERT_TRUE(heard_at(newest + 10, &track, &row));
    EXPECT_EQ(track, 3);
}

}  // namespace
