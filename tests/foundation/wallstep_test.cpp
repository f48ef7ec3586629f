// The machine's wall clock is set while the show runs (a Pi without a
// real-time clock boots with a stale time that NTP corrects later): the
// tick clock must not notice. This program stands in for the C library's
// clocks, so the engine's own time source is what is tested.
#include "drawboxlib/drawboxlib.h"
#include "pulse_server.h"
#include "sound/xmout.h"

#include <dlfcn.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <ctime>

#if __has_include(<pulse/pulseaudio.h>)
#include <pulse/pulseaudio.h>
#define HAVE_PULSE 1
#endif

namespace {
bool faking;
int64_t mono_ms;          // the machine's monotonic time
int64_t wall_offset_ms;   // the wall clock, less the monotonic one
bool stepping_wall;       // only the wall clock is the test's: the real one, moved by wall_step_ms
int64_t wall_step_ms;
timespec at_ms(int64_t ms) { return timespec{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000}; }
}  // namespace

extern "C" int clock_gettime(clockid_t id, struct timespec *ts) {
    const bool wall = id == CLOCK_REALTIME || id == CLOCK_REALTIME_COARSE || id == CLOCK_TAI;
    if (stepping_wall && wall) {
        const int result = static_cast<int>(syscall(SYS_clock_gettime, id, ts));
        ts->tv_sec += static_cast<time_t>(wall_step_ms / 1000);
        return result;
    }
    if (!faking) return static_cast<int>(syscall(SYS_clock_gettime, id, ts));
    *ts = at_ms(mono_ms + (wall ? wall_offset_ms : 0));
    return 0;
}
extern "C" int gettimeofday(struct timeval *tv, void *) {
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    tv->tv_sec = ts.tv_sec;
    tv->tv_usec = ts.tv_nsec / 1000;
    return 0;
}
extern "C" time_t time(time_t *t) {
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    if (t) *t = ts.tv_sec;
    return ts.tv_sec;
}

#ifdef HAVE_PULSE
// The server's last report on a playing stream, as the test makes it: a
// null sink rarely reports its stream as playing, which is when the time
// since the report counts.
namespace {
bool faking_report;
pa_timing_info report;
}  // namespace
extern "C" const pa_timing_info *pa_stream_get_timing_info(pa_stream *s) {
    using real_t = const pa_timing_info *(*)(pa_stream *);
    static const real_t real = reinterpret_cast<real_t>(dlsym(RTLD_NEXT, "pa_stream_get_timing_info"));
    if (faking_report) return &report;
    const pa_timing_info *t = real(s);
    if (t) report = *t;  // the latest real one, for the test to start from
    return t;
}
#endif

namespace {

// Ten seconds of 5 ms passes with the wall clock stepped by an hour or a
// day, back or forth, one second in: 400 updates, give or take one.
TEST(TickClockOnASteppingMachine, WallClockStepsChangeNothing) {
    const int64_t hour = 3600 * 1000, day = 24 * hour;
    for (int64_t step : {-hour, hour, -day, day}) {
        SCOPED_TRACE(step);
        dbx_reset();
        faking = true;
        mono_ms = 12345678;
        wall_offset_ms = int64_t{1700000000} * 1000;
        dbx_platform_ticready(1);
        int updates = 0;
        for (int pass = 1; pass <= 2000; pass++) {
            mono_ms += 5;
            if (pass == 200) wall_offset_ms += step;
            if (dbx_platform_ticready(0)) updates++;
        }
        faking = false;
        EXPECT_NEAR(updates, 400, 1);
    }
}

#ifdef HAVE_PULSE
// A stream playing through a real PulseAudio server while the wall clock is
// stepped by an hour or a day, back or forth: the sample heard moves on by
// the time passed, give or take less than a frame.
TEST(PulseTimingOnASteppingMachine, WallClockStepsLeaveTheHeardSampleAlone) {
    if (!xm_pulse_output) GTEST_SKIP() << "this build has no PulseAudio output";
    pulse_server server;
    if (!server.start()) GTEST_SKIP() << "no pulseaudio program to start a server with";
    const int64_t hour = 3600 * 1000, day = 24 * hour, frame = 16 * 48;
    static int16_t silence[4096 * 2];
    for (int64_t step : {-hour, hour, -day, day}) {
        SCOPED_TRACE(step);
        unsigned rate = 48000;
        ASSERT_EQ(xm_pulse_output->open(&rate), 0);
        int64_t written = 0;
        for (int pass = 0; pass < 30; pass++) {
            for (uint32_t room = xm_pulse_output->room(); room > 0;) {
                const uint32_t n = room < 4096 ? room : 4096;
                xm_pulse_output->write(silence, n);
                written += n;
                room -= n;
            }
            usleep(10000);
        }
        // The last report, as of now on both clocks, on a playing stream.
        ASSERT_GE(xm_pulse_output->delay(), 0);
        report.playing = 1;
        pa_gettimeofday(&report.timestamp);
        faking_report = stepping_wall = true;
        wall_step_ms = 0;
        const int64_t before = written - xm_pulse_output->delay();
        const uint64_t before_ms = dbx_monotonic_ms();
        wall_step_ms = step;
        usleep(20000);
        const int64_t after = written - xm_pulse_output->delay();
        EXPECT_NEAR(static_cast<double>(after - before), static_cast<double>(dbx_monotonic_ms() - before_ms) * 48,
                    frame);
        faking_report = stepping_wall = false;
        xm_pulse_output->close();
    }
}
#endif

}  // namespace
