// A real module played through libmikmod without a sound device: the song
// clock must follow the module's own tempo.
#include "drawboxlib/drawboxlib.h"
#include "playxm.h"
#include "xmwriter.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

uint64_t fake_now;
uint64_t fake_clock() { return fake_now; }

// Three 64-row patterns at speed 6, 125 BPM: a row lasts 120 ms.
std::vector<uint8_t> tiny_module_bytes() {
    XmModule song;
    song.name = "clock test";
    song.channels = 2;
    song.order = {0, 1, 2};
    for (int p = 0; p < 3; p++) {
        XmPattern pattern = xm_pattern(64, 2);
        xm_cell(pattern, 2, 0, 0) = XmCell{xm_note(4, 0), 1, xm_vol(40), 0, 0};
        song.patterns.push_back(pattern);
    }
    XmInstrument beep;
    beep.name = "beep";
    XmSample sample;
    sample.data.resize(256);
    for (size_t i = 0; i < sample.data.size(); i++) sample.data[i] = (i & 16) ? 4000 : -4000;
    beep.samples.push_back(sample);
    song.instruments.push_back(beep);
    return xm_write(song);
}

TEST(SongClockModule, PositionAndRowFollowTheModuleTempoWithoutASoundDevice) {
    const std::string path = testing::TempDir() + "clock-test.xm";
    ASSERT_EQ(xm_save_file(path, tiny_module_bytes()), "");
    dbx_platform_clock = fake_clock;
    fake_now = 5000000;
    xm_filename = path.c_str();
    xm_offline = 1;  // only the no-sound driver: the same on every machine

    EXPECT_EQ(playxm(), 0);
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(xmplaying, 1);
    MODULE *first = module;
    EXPECT_EQ(playxm(), 0);  // started once only
    EXPECT_EQ(module, first);

    const uint64_t start = fake_now;
    int last_row = -1, last_track = 0;
    // Frames of 16 ms: check the clock in the middle of rows.
    for (uint64_t t = 0; t <= 3 * 64 * 120 + 500; t += 16) {
        fake_now = start + t;
        xmupdate();
        ASSERT_GE(xmtrack, last_track);
        if (Player_Active()) {
            last_track = xmtrack;
            uint64_t row_in_song = t / 120;
            if (t % 120 >= 30 && t % 120 <= 90) {
                ASSERT_EQ(beatnow(), row_in_song) << "at " << t << " ms";
                ASSERT_EQ(xmrow, static_cast<int>(row_in_song % 64));
            }
            last_row = xmrow;
        }
    }
    EXPECT_EQ(last_track, 2);
    EXPECT_EQ(last_row, 63);
    // The song has run out: libmikmod leaves the position one past the last,
    // and the clock stands still.
    EXPECT_FALSE(Player_Active());
    EXPECT_EQ(xmtrack, 3);
    int track = xmtrack, row = xmrow;
    fake_now += 1000;
    xmupdate();
    EXPECT_EQ(xmtrack, track);
    EXPECT_EQ(xmrow, row);
    dbx_platform_clock = dbx_wallclock_ms;
}

}  // namespace
