// A real module played through libmikmod without a sound device: the song
// clock must follow the module's own tempo.
#include "drawboxlib/drawboxlib.h"
#include "playxm.h"
#include "pulse_server.h"
#include "sound/xmout.h"
#include "xmwriter.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace {

uint64_t fake_now;
uint64_t fake_clock() { return fake_now; }

// 64-row patterns at speed 6, 125 BPM: a row lasts 120 ms. A song that
// jumps back ends its last pattern with a jump to position 0.
std::vector<uint8_t> tiny_module_bytes(int positions = 3, bool jumps_back = false) {
    XmModule song;
    song.name = "clock test";
    song.channels = 2;
    for (int p = 0; p < positions; p++) {
        XmPattern pattern = xm_pattern(64, 2);
        xm_cell(pattern, 2, 0, 0) = XmCell{xm_note(4, 0), 1, xm_vol(40), 0, 0};
        if (jumps_back && p == positions - 1) xm_cell(pattern, 2, 63, 1) = XmCell{0, 0, 0, 0x0B, 0};
        song.patterns.push_back(pattern);
        song.order.push_back(static_cast<uint8_t>(p));
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
    xm_reset();
    dbx_platform_clock = fake_clock;
    xm_clock = fake_clock;
    fake_now = 5000000;
    xm_filename = path.c_str();
    // No output: the silent clock, the same on every machine.
    const xm_output *const saved[4] = {xm_outputs[0], xm_outputs[1], xm_outputs[2], xm_outputs[3]};
    for (const xm_output *&o : xm_outputs) o = nullptr;

    testing::internal::CaptureStderr();
    EXPECT_EQ(playxm(), -1);
    testing::internal::GetCapturedStderr();
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(xmplaying, 1);
    EXPECT_EQ(xm_mode, XM_SILENT);
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
    dbx_platform_clock = dbx_monotonic_ms;
    xm_clock = dbx_monotonic_ms;
    for (int i = 0; i < 4; i++) xm_outputs[i] = saved[i];
}

}  // namespace

namespace {

// Starts the tiny song afresh: the player is started once per run, so the
// tests below undo the start of the one before.
void start_tiny_song(const std::string &name, const std::vector<uint8_t> &bytes = tiny_module_bytes()) {
    xm_reset();
    static std::string path;
    path = testing::TempDir() + name;
    ASSERT_EQ(xm_save_file(path, bytes), "");
    xm_filename = path.c_str();
}

struct clock_steps : testing::Test {
    void SetUp() override {
        xm_clock = fake_clock;
        xm_open_wait_ms = 1000;  // an output that opens at once takes over in the same frame
    }
    void TearDown() override {
        xm_open_wait_ms = 0;
        xm_clock = dbx_monotonic_ms;
        xm_outputs[0] = xm_pulse_output;
        xm_outputs[1] = xm_alsa_output;
    }
};

// The silent clock neither hangs nor floods when its clock jumps: a jump
// back counts as no time, a jump forwards as one frame of at most
// XM_SILENT_MAX_STEP_MS; afterwards the song goes on at its own tempo.
TEST_F(clock_steps, SilentClockRidesOutJumpsOfAnHour) {
    start_tiny_song("steps.xm");
    xm_outputs[0] = xm_outputs[1] = nullptr;
    fake_now = 1000000000;
    testing::internal::CaptureStderr();
    ASSERT_EQ(playxm(), -1);
    testing::internal::GetCapturedStderr();
    const uint64_t hour = 3600000;
    struct {
        int64_t jump_ms;   // the clock jumps by this before the frame
        int64_t most_ms;   // song time the frame may add at most
    } cases[] = {{0, 0}, {-static_cast<int64_t>(hour), 0}, {static_cast<int64_t>(hour), XM_SILENT_MAX_STEP_MS},
                 {-static_cast<int64_t>(hour) * 2, 0}};
    for (const auto &c : cases) {
        // Half a second of 16 ms frames: 4 rows of 120 ms at the song's tempo.
        unsigned before = beatnow();
        for (int i = 0; i < 31; i++) {
            fake_now += 16;
            xmupdate();
        }
        EXPECT_EQ(beatnow() - before, 4u) << "before a jump of " << c.jump_ms << " ms";
        const uint64_t mixed = xm_mixed;
        fake_now = static_cast<uint64_t>(static_cast<int64_t>(fake_now) + c.jump_ms);
        xmupdate();
        EXPECT_LE(xm_mixed - mixed, static_cast<uint64_t>(c.most_ms) * md_mixfreq / 1000 + 1)
            << "jump of " << c.jump_ms << " ms";
    }
}

// A sound output under the test's control: it plays 48 frames per ms of
// fake time from a queue of `capacity`, and its device holds `device`
// frames more. It can be made to fail, or to stall (take and play nothing).
struct fake_out {
    uint64_t played, queued, written, last_ms;
    int64_t device, capacity;
    bool opens, knows_delay, broken, stalled, fresh;
    int closes;
    uint64_t mixed_at_open, played_at_open;  // the first sample it was given, and how much it had played then
    uint64_t loud_after;  // the last frame written that was not silent, counted from the first
} out;

fake_out make_out(int64_t device_ms, int64_t queue_ms, bool opens = true, bool knows_delay = true) {
    fake_out o{};
    o.device = device_ms * 48;
    o.capacity = queue_ms * 48;
    o.opens = opens;
    o.knows_delay = knows_delay;
    return o;
}

int fake_open(unsigned *rate) {
    *rate = 48000;
    out.last_ms = fake_now;
    out.queued = 0;
    out.fresh = true;
    return out.opens && !out.broken ? 0 : -1;
}
uint32_t fake_room(void) {
    if (out.stalled) return 0;
    uint64_t due = (fake_now - out.last_ms) * 48;
    out.last_ms = fake_now;
    if (due > out.queued) due = out.queued;
    out.queued -= due;
    out.played += due;
    return static_cast<uint32_t>(out.capacity - static_cast<int64_t>(out.queued));
}
void fake_write(const int16_t *pcm, uint32_t frames) {
    if (out.fresh) {
        out.mixed_at_open = xm_mixed - frames;
        out.played_at_open = out.played;
        out.fresh = false;
    }
    for (uint32_t i = 0; i < 2 * frames; i++)
        if (pcm[i] != 0) out.loud_after = out.written + i / 2;
    out.queued += frames;
    out.written += frames;
}
int64_t fake_delay(void) { return out.knows_delay ? static_cast<int64_t>(out.queued) + out.device : -1; }
int fake_failed(void) { return out.broken; }
void fake_close(void) { out.closes++; }
const xm_output fake = {fake_open, fake_room, fake_write, fake_delay, fake_failed, fake_close};

// Live, the clock shows the row being heard (what the output has played,
// less what its device still holds) a little ahead for the picture's own
// way to the screen: with 16 ms frames and 25 ms ticks, 29 ms, and as long
// again as the swap comes after the reading; then the display's delay
// DBX_AV_OFFSET_MS.
TEST_F(clock_steps, LiveClockShowsTheRowBeingHeardNotTheRowBeingMixed) {
    const struct {
        int64_t queue_ms, device_ms;
        int32_t offset_ms;
        uint64_t swap_ms;  // from the reading to the swap
        int64_t ahead_ms;
    } cases[] = {{300, 10, 0, 0, 29}, {300, 10, 100, 0, 129}, {300, 10, -50, 0, -21}, {40, 200, 0, 0, 29},
                 {300, 10, 0, 5, 34}};
    for (const auto &c : cases) {
        start_tiny_song("live.xm");
        out = make_out(c.device_ms, c.queue_ms);
        xm_outputs[0] = &fake;
        xm_outputs[1] = nullptr;
        dbx_av_offset_ms = c.offset_ms;
        fake_now = 2000000000;
        ASSERT_EQ(playxm(), 0);
        ASSERT_EQ(xm_live, &fake);
        int checked = 0;
        for (int frame = 0; frame < 600; frame++) {
            fake_now += 16 - c.swap_ms;
            xmupdate();
            ASSERT_EQ(xm_mixed, out.written);
            fake_now += c.swap_ms;
            dbx_frame_shown();
            if (frame < 100) continue;  // the swap time is learnt over a few frames
            int64_t seen = static_cast<int64_t>(out.played) - c.device_ms * 48 + c.ahead_ms * 48;
            const int64_t row_frames = 5760;  // 120 ms at 48 kHz
            if (seen < 0 || seen % row_frames < 128 || seen % row_frames > row_frames - 128) continue;
            ASSERT_EQ(beatnow(), static_cast<unsigned>(seen / row_frames))
                << "frame " << frame << ", queue " << c.queue_ms << " ms, offset " << c.offset_ms << " ms";
            checked++;
        }
        EXPECT_GT(checked, 300);
        // The mixer runs the queue and the device ahead of the clock.
        const int64_t mixer_beat = static_cast<int64_t>(module->sngpos) * 64 + module->patpos;
        if (c.queue_ms + c.device_ms - c.ahead_ms >= 240) {
            EXPECT_GE(mixer_beat, beatnow() + 1);
        }
    }
    dbx_av_offset_ms = 0;
    dbx_frame_shown = nullptr;
}

TEST_F(clock_steps, LiveClockWaitsWhileTheOutputCannotTellItsDelay) {
    start_tiny_song("nodelay.xm");
    out = make_out(0, 300, true, false);
    xm_outputs[0] = &fake;
    xm_outputs[1] = nullptr;
    xmtrack = 0;
    xmrow = 0;
    fake_now = 3000000000;
    ASSERT_EQ(playxm(), 0);
    for (int frame = 0; frame < 100; frame++) {
        fake_now += 16;
        xmupdate();
    }
    EXPECT_GT(out.played, 48000u);  // the sound goes on ...
    EXPECT_EQ(beatnow(), 0u);       // ... but the clock does not guess
}

// An output this build lacks is a null entry: the next one is tried.
TEST_F(clock_steps, OutputsTheBuildLacksArePassedOver) {
    start_tiny_song("lacks.xm");
    out = make_out(0, 300);
    xm_outputs[0] = nullptr;
    xm_outputs[1] = &fake;
    fake_now = 3500000000;
    ASSERT_EQ(playxm(), 0);
    EXPECT_EQ(xm_live, &fake);
    EXPECT_EQ(xm_mode, XM_LIVE);
}

TEST_F(clock_steps, WithoutAnOutputTheShowFollowsTheSilentClock) {
    start_tiny_song("nooutput.xm");
    out = make_out(0, 0, false);
    xm_outputs[0] = &fake;
    xm_outputs[1] = nullptr;
    fake_now = 4000000000;
    testing::internal::CaptureStderr();
    EXPECT_EQ(playxm(), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Failed to load mikmod drivers.\n");
    EXPECT_EQ(xm_live, nullptr);
    EXPECT_EQ(xm_mode, XM_SILENT);
    ASSERT_NE(module, nullptr);
    for (int i = 0; i < 63; i++) {  // a second of frames: 8 rows
        fake_now += 16;
        xmupdate();
    }
    EXPECT_EQ(beatnow(), 8u);
    EXPECT_EQ(out.written, 0u);
}

// Plays the current song through the fake output (or silently, when the
// output does not open) in 16 ms frames for `ms` milliseconds, calling
// `each` after every frame.
template <typename F> void play_for(uint64_t ms, F each) {
    for (uint64_t t = 0; t < ms; t += 16) {
        fake_now += 16;
        xmupdate();
        if (dbx_frame_shown) dbx_frame_shown();
        each();
    }
}
void play_for(uint64_t ms) {
    play_for(ms, [] {});
}

// The output fails or stalls mid-song: the show goes on from where the
// clock stood, in time, with one line said; when an output opens again the
// music comes back from where the show is, and the clock follows it again.
TEST_F(clock_steps, ALostOutputLeavesTheShowInTimeAndTheMusicComesBackInStep) {
    const struct {
        const char *how;
        bool stalls;
    } cases[] = {{"fails", false}, {"stalls", true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.how);
        start_tiny_song("lost.xm", tiny_module_bytes(20));
        out = make_out(10, 300);
        xm_outputs[0] = &fake;
        xm_outputs[1] = nullptr;
        fake_now = 5000000000;
        ASSERT_EQ(playxm(), 0);
        play_for(3000);
        ASSERT_EQ(xm_live, &fake);

        testing::internal::CaptureStderr();
        (c.stalls ? out.stalled : out.broken) = true;
        int64_t before = xm_clock_sample;
        uint64_t lost_at = 0;
        play_for(XM_OUTPUT_STALL_MS + 100, [&] {
            // The clock never jumps: at most a frame and a bit per frame.
            EXPECT_LE(xm_clock_sample - before, 17 * 48);
            EXPECT_GE(xm_clock_sample, before);
            before = xm_clock_sample;
            if (!lost_at && !xm_live) lost_at = fake_now;
        });
        ASSERT_NE(lost_at, 0u);
        EXPECT_EQ(xm_mode, XM_SILENT);
        EXPECT_EQ(out.closes, 1);
        // From then on it runs on the clock, row for row with the song.
        const int64_t from = xm_clock_sample;
        const uint64_t from_ms = fake_now;
        play_for(1000, [&] {
            EXPECT_NEAR(static_cast<double>(xm_clock_sample - from), static_cast<double>(fake_now - from_ms) * 48, 48);
            if (xm_clock_sample % 5760 > 128 && xm_clock_sample % 5760 < 5760 - 128) {
                EXPECT_EQ(beatnow(), static_cast<unsigned>(xm_clock_sample / 5760));
            }
        });
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "The sound output stopped; the show goes on silently, and the music comes back when an output "
                  "opens.\n");

        // The output comes back: it is opened again within a retry period,
        // and plays from the sample the show has reached.
        out.broken = out.stalled = false;
        testing::internal::CaptureStderr();
        int64_t show_at_open = -1;
        play_for(XM_OUTPUT_RETRY_MS + 100, [&] {
            if (show_at_open < 0 && xm_live) show_at_open = xm_clock_sample;
        });
        ASSERT_EQ(xm_live, &fake);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "The sound is back.\n");
        EXPECT_NEAR(static_cast<double>(out.mixed_at_open), static_cast<double>(show_at_open), 17 * 48);
        // The clock shows the row being heard again.
        int checked = 0;
        play_for(1000, [&] {
            const int64_t seen = static_cast<int64_t>(out.mixed_at_open + out.played - out.played_at_open) -
                                 out.device + 29 * 48;
            if (seen % 5760 < 256 || seen % 5760 > 5760 - 256) return;
            EXPECT_EQ(beatnow(), static_cast<unsigned>(seen / 5760));
            checked++;
        });
        EXPECT_GT(checked, 20);
    }
}

// The end of a song cut to two positions (15.36 s): counted once its last
// sample is heard, live or silent, whether the player runs out or the song
// jumps back to its start; afterwards silence, or with the loop the song
// again from the top. libmikmod shows a jump back at the start of the row
// that makes it, so such a song's end is seen a row (120 ms) early.
TEST_F(clock_steps, TheSongsEndIsCountedWhenHeardAndTheLoopStartsItAgain) {
    const struct {
        bool live, jumps_back, loop;
    } cases[] = {{false, false, false}, {false, true, false}, {true, false, false},
                 {true, true, false},   {true, false, true},  {true, true, true}};
    const int64_t length = 2 * 64 * 5760;
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << (c.live ? "live" : "silent") << (c.jumps_back ? ", jumps back" : ", runs out")
                                        << (c.loop ? ", loop" : ""));
        start_tiny_song("end.xm", tiny_module_bytes(2, c.jumps_back));
        xm_loop = c.loop;
        out = make_out(10, 300, c.live);
        xm_outputs[0] = &fake;
        xm_outputs[1] = nullptr;
        fake_now = 6000000000;
        testing::internal::CaptureStderr();
        playxm();
        testing::internal::GetCapturedStderr();
        int64_t heard_at_first_end = -1, heard_at_second_end = -1;
        int back_to_start = 0, last_track = 0;
        play_for(33000, [&] {
            const int64_t heard = c.live ? static_cast<int64_t>(out.played) - out.device : xm_clock_sample;
            if (xm_song_ends == 1 && heard_at_first_end < 0) heard_at_first_end = heard;
            if (xm_song_ends == 2 && heard_at_second_end < 0) heard_at_second_end = heard;
            if (xmtrack == 0 && last_track > 0) back_to_start++;
            last_track = xmtrack;
        });
        const int64_t early = c.jumps_back ? 5760 : 0;
        ASSERT_GE(heard_at_first_end, length - early);
        EXPECT_LT(heard_at_first_end, length - early + 17 * 48);
        if (c.loop) {
            EXPECT_EQ(xm_song_ends, 2);
            EXPECT_GE(heard_at_second_end, 2 * length - early);
            EXPECT_LT(heard_at_second_end, 2 * length - early + 17 * 48);
            EXPECT_EQ(back_to_start, 2);
            EXPECT_GT(out.loud_after, static_cast<uint64_t>(2 * length));
        } else {
            EXPECT_EQ(xm_song_ends, 1);
            if (c.live) {
                EXPECT_LT(out.loud_after, static_cast<uint64_t>(length + 64));
            }
        }
    }
}

}  // namespace

namespace {

// An output whose open blocks until the test lets it go (a server stopped
// with SIGSTOP): the show's thread keeps making its passes, silently and in
// time, whether the block comes at the start or on a retry; once the open
// returns, the output takes over.
std::atomic<bool> open_released, open_returned;
int blocking_open(unsigned *rate) {
    while (!open_released) usleep(1000);
    const int result = fake_open(rate);
    open_returned = true;
    return result;
}
const xm_output blocking = {blocking_open, fake_room, fake_write, fake_delay, fake_failed, fake_close};

TEST_F(clock_steps, AnOpenThatBlocksNeverHoldsUpTheShow) {
    for (bool at_start : {true, false}) {
        SCOPED_TRACE(at_start ? "at the start" : "on a retry");
        start_tiny_song("blocks.xm", tiny_module_bytes(8));
        xm_open_wait_ms = 0;
        out = make_out(10, 300, at_start);
        open_released = open_returned = false;
        xm_outputs[0] = at_start ? &blocking : &fake;
        xm_outputs[1] = nullptr;
        fake_now = 7000000000;
        testing::internal::CaptureStderr();
        const uint64_t started = dbx_monotonic_ms();
        playxm();
        EXPECT_LE(dbx_monotonic_ms() - started, XM_OUTPUT_OPEN_WAIT_MS + 200u);
        if (!at_start) {
            out.opens = true;
            xm_outputs[0] = &blocking;
        }
        ASSERT_EQ(xm_live, nullptr);
        // Ten seconds of show, through several retries: every pass is quick
        // and the clock keeps the song's time.
        play_for(10000);
        uint64_t longest_pass = 0;
        for (int i = 0; i < 50; i++) {
            const uint64_t before = dbx_monotonic_ms();
            fake_now += 16;
            xmupdate();
            longest_pass = std::max(longest_pass, dbx_monotonic_ms() - before);
        }
        EXPECT_LT(longest_pass, 50u);
        EXPECT_NEAR(static_cast<double>(xm_clock_sample), (10000 + 50 * 16) * 48.0, 48 * 20.0);
        EXPECT_EQ(xm_live, nullptr);
        // The server answers: the output takes over at a later pass.
        open_released = true;
        while (!open_returned) usleep(1000);
        play_for(100);
        EXPECT_EQ(xm_live, &blocking);
        EXPECT_EQ(xm_mode, XM_LIVE);
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_NE(said.find("The sound is back."), std::string::npos) << said;
    }
}

// An output that opens while the show runs silently (the first time, or
// again) and turns out to hold more than it said before the first write:
// the picture never steps back, eases toward the speaker at no more than
// the ease share of real time, and then follows it.
TEST_F(clock_steps, AReturningOutputNeverTakesTheClockBack) {
    const struct {
        int64_t hidden_ms;  // delay it did not tell before the first write
    } cases[] = {{0}, {300}, {900}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.hidden_ms);
        start_tiny_song("return.xm", tiny_module_bytes(20));
        out = make_out(40, 300, false);
        xm_outputs[0] = &fake;
        xm_outputs[1] = nullptr;
        fake_now = 8000000000;
        testing::internal::CaptureStderr();
        playxm();
        play_for(2000);
        out.opens = true;
        bool hidden = false;
        int64_t before = xm_clock_sample;
        uint64_t live_for = 0;
        play_for(XM_OUTPUT_RETRY_MS + 10000, [&] {
            if (xm_live && !hidden && out.written > 0) {
                out.device += c.hidden_ms * 48;  // its device holds more than it said
                hidden = true;
            }
            const int64_t step = xm_clock_sample - before;
            EXPECT_GE(step, 16 * 48 * XM_EASE_PERCENT / 100 - 48);
            EXPECT_LE(step, 16 * 48 + 60 * 48);  // a forward step of the look-ahead at most
            before = xm_clock_sample;
            if (xm_live) live_for += 16;
        });
        testing::internal::GetCapturedStderr();
        ASSERT_GT(live_for, 9000u);
        // Caught up: the clock shows the sample heard, 29 ms ahead.
        const int64_t heard = static_cast<int64_t>(out.mixed_at_open + out.played - out.played_at_open) - out.device;
        EXPECT_NEAR(static_cast<double>(xm_clock_sample), static_cast<double>(heard + 29 * 48), 48.0 * 2);
    }
}

// Without a usable module (an empty file, garbage, a song of no positions)
// the module is named with the reason, and the scenes come at the song's
// nominal pace, 120 ms a row, until the song's nominal length is over; with
// the loop the song starts again from the top.
TEST_F(clock_steps, WithoutAUsableModuleTheShowKeepsTheSongsPaceAndEnds) {
    std::vector<uint8_t> no_positions = tiny_module_bytes(1);
    no_positions[64] = no_positions[65] = 0;  // the song's length
    const struct {
        const char *what;
        std::vector<uint8_t> bytes;
        bool loop;
    } cases[] = {{"empty", {}, false},
                 {"garbage", std::vector<uint8_t>(5000, 0x5a), false},
                 {"no positions", no_positions, false},
                 {"empty, loop", {}, true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        xm_reset();
        const std::string path = testing::TempDir() + "unusable.xm";
        FILE *f = fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        if (!c.bytes.empty()) fwrite(c.bytes.data(), 1, c.bytes.size(), f);
        fclose(f);
        xm_filename = path.c_str();
        xm_outputs[0] = xm_outputs[1] = nullptr;
        xm_loop = c.loop;
        xm_nominal_positions = 3;
        fake_now = 9000000000;
        testing::internal::CaptureStderr();
        playxm();
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(module, nullptr);
        EXPECT_NE(said.find("Cannot load the music module \"" + path + "\""), std::string::npos) << said;
        if (c.what == std::string("no positions")) {
            EXPECT_NE(said.find("(it has no song positions)"), std::string::npos) << said;
        }
        const uint64_t start = fake_now;
        int ended_at_ms = -1;
        play_for(3 * 64 * 120 + 4000, [&] {
            const uint64_t t = fake_now - start;
            if (xm_song_ends > 0 && ended_at_ms < 0) ended_at_ms = static_cast<int>(t);
            const uint64_t song_ms = 3 * 64 * 120;
            const uint64_t in_song = c.loop ? t % song_ms : std::min(t, song_ms);
            if (in_song % 120 >= 20 && in_song % 120 <= 100 && t < song_ms + 3000) {
                ASSERT_EQ(beatnow(), in_song / 120) << "at " << t << " ms";
            }
        });
        EXPECT_NEAR(ended_at_ms, 3 * 64 * 120, 16);
        EXPECT_EQ(xm_song_ends, 1);
    }
    xm_nominal_positions = 0;
}

}  // namespace

namespace {

// A real PulseAudio server stopped with SIGSTOP while the song plays through
// it: the output is lost after the stall limit, the retries (PulseAudio's
// own, and ALSA's default device going through the server, which hangs in
// it) never hold up a pass, and once the server goes on the sound comes back.
TEST(StoppedServer, ThePictureNeverWaitsForIt) {
    struct {
        const char *how;
        const xm_output *retried;  // tried after PulseAudio
    } cases[] = {{"PulseAudio", nullptr}, {"PulseAudio, then ALSA's default device", xm_alsa_output}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.how);
        if (!xm_pulse_output) GTEST_SKIP() << "this build has no PulseAudio output";
        pulse_server server;
        if (!server.start()) GTEST_SKIP() << "no pulseaudio program to start a server with";
        start_tiny_song("stopped.xm", tiny_module_bytes(40));
        xm_outputs[0] = xm_pulse_output;
        xm_outputs[1] = c.retried;
        testing::internal::CaptureStderr();
        ASSERT_EQ(playxm(), 0);
        ASSERT_EQ(xm_live, xm_pulse_output);
        uint64_t longest_pass = 0;
        auto run = [&](uint64_t ms) {
            const uint64_t until = dbx_monotonic_ms() + ms;
            while (dbx_monotonic_ms() < until) {
                const uint64_t before = dbx_monotonic_ms();
                xmupdate();
                if (dbx_frame_shown) dbx_frame_shown();
                longest_pass = std::max(longest_pass, dbx_monotonic_ms() - before);
                usleep(16000);
            }
        };
        run(500);
        server.signal(SIGSTOP);
        const int64_t at_stop = xm_clock_sample;
        run(XM_OUTPUT_STALL_MS + 300);  // a hung server is lost after the stall limit
        EXPECT_EQ(xm_live, nullptr);
        run(XM_OUTPUT_RETRY_MS + 1200);  // a retry hangs in the server
        EXPECT_EQ(xm_live, nullptr);
        EXPECT_LT(longest_pass, 100u);
        // The picture kept moving all along, in time.
        EXPECT_GT(xm_clock_sample - at_stop, static_cast<int64_t>(XM_OUTPUT_STALL_MS + XM_OUTPUT_RETRY_MS) * 48);
        server.signal(SIGCONT);
        const uint64_t until = dbx_monotonic_ms() + 2 * XM_OUTPUT_RETRY_MS + 3000;
        while (!xm_live && dbx_monotonic_ms() < until) run(100);
        EXPECT_EQ(xm_live, xm_pulse_output);
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_NE(said.find("The sound is back."), std::string::npos) << said;
        xm_reset();
    }
    xm_outputs[0] = xm_pulse_output;
    xm_outputs[1] = xm_alsa_output;
}

}  // namespace
