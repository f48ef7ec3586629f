// The machine's wall clock is set while the show runs (a Pi without a
// real-time clock boots with a stale time that NTP corrects later): the
// tick clock must not notice. This program stands in for the C library's
// clocks, so the engine's own time source is what is tested.
#include "drawboxlib/drawboxlib.h"

#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <ctime>

namespace {
bool faking;
int64_t mono_ms;          // the machine's monotonic time
int64_t wall_offset_ms;   // the wall clock, less the monotonic one
timespec at_ms(int64_t ms) { return timespec{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000}; }
}  // namespace

extern "C" int clock_gettime(clockid_t id, struct timespec *ts) {
    if (!faking) return static_cast<int>(syscall(SYS_clock_gettime, id, ts));
    const bool wall = id == CLOCK_REALTIME || id == CLOCK_REALTIME_COARSE || id == CLOCK_TAI;
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

}  // namespace
