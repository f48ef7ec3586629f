// The live program at the end of its song: it ends with status 0, or with
// DBX_LOOP=1 plays the song again and goes on.
#include "helpers.h"
#include "tests/foundation/pulse_server.h"
#include "xmwriter.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace {

// Two positions of 6 and 7 rows at 40 ms a row: about half a second.
std::vector<uint8_t> two_position_song(void) {
    XmModule m;
    m.name = "end test";
    m.channels = 1;
    m.speed = 2;
    for (int rows : {6, 7}) {
        XmPattern p = xm_pattern(rows, 1);
        xm_cell(p, 1, 0, 0) = {xm_note(4, 0), 1, xm_vol(48), 0, 0};
        m.patterns.push_back(p);
        m.order.push_back(static_cast<uint8_t>(m.order.size()));
    }
    XmInstrument beep;
    beep.name = "beep";
    XmSample s;
    for (int i = 0; i < 64; i++) s.data.push_back(static_cast<int16_t>(i < 32 ? 9000 : -9000));
    beep.samples = {s};
    m.instruments = {beep};
    return xm_write(m);
}

TEST(LiveEnd, TheProgramEndsWithItsSongOrLoops) {
    const struct {
        const char *loop;
        bool ends;
    } cases[] = {{nullptr, true}, {"0", true}, {"1", false}, {" 1", false}, {"", true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.loop ? c.loop : "unset");
        scratch_dir dir;
        put_tiny_intro(dir.path);
        ASSERT_EQ(xm_save_file(dir / "omber.xm", two_position_song()), "");
        if (c.loop)
            setenv("DBX_LOOP", c.loop, 1);
        else
            unsetenv("DBX_LOOP");
        bool alive_after_laps = false;
        run_result r = run_program(HEADLESS_PROGRAM, dir.path, {}, "", [&](int pid) {
            // An ended song ends the program within a second or so; a loop
            // is still going after several laps and is stopped from outside.
            auto running = [pid] {
                siginfo_t info{};
                return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
                       info.si_pid == 0;
            };
            for (int i = 0; i < (c.ends ? 50 : 20) && running(); i++) usleep(100000);
            if (!c.ends) alive_after_laps = kill(pid, SIGTERM) == 0;
            if (c.ends && running()) kill(pid, SIGKILL);
        });
        unsetenv("DBX_LOOP");
        if (c.ends) {
            EXPECT_EQ(r.status, 0) << r.err;
            if (c.loop && !*c.loop) {
                EXPECT_NE(r.err.find("DBX_LOOP=: not a whole number; the setting is ignored"), std::string::npos) << r.err;
            }
        } else {
            EXPECT_TRUE(alive_after_laps);
        }
    }
}

}  // namespace

namespace {

// SIGTERM and SIGINT end the live program as its song's end does, with
// status 0, promptly: also while its sound output is being opened in a
// PulseAudio server stopped with SIGSTOP (the open hangs, on a thread that
// must not keep the process from ending).
TEST(LiveEnd, SignalsEndTheProgramCleanly) {
    const struct {
        int sig;
        bool hung_server;
    } cases[] = {{SIGTERM, false}, {SIGINT, false}, {SIGTERM, true}, {SIGINT, true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << strsignal(c.sig) << (c.hung_server ? ", hung server" : ""));
        pulse_server server;
        if (c.hung_server) {
            if (!server.start()) GTEST_SKIP() << "no pulseaudio program to start a server with";
            server.signal(SIGSTOP);
        }
        scratch_dir dir;
        put_tiny_intro(dir.path);
        ASSERT_EQ(xm_save_file(dir / "omber.xm", two_position_song()), "");
        setenv("DBX_LOOP", "1", 1);
        bool prompt = false;
        run_result r = run_program(HEADLESS_PROGRAM, dir.path, {}, "", [&](int pid) {
            usleep(2500000);
            kill(pid, c.sig);
            siginfo_t info{};
            for (int i = 0; i < 30 && !prompt; i++) {
                usleep(100000);
                prompt = waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
                         info.si_pid == pid;
            }
            if (!prompt) kill(pid, SIGKILL);
        });
        unsetenv("DBX_LOOP");
        EXPECT_TRUE(prompt);
        EXPECT_EQ(r.status, 0) << r.err;
    }
}

}  // namespace
