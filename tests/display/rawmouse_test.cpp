// The raw mouse poll on a byte stream fed through a pipe, as the Pi layer
// runs it once per pass.
#include "display_fixture.h"
#include "drawboxlib/platforms/rawmouse.h"

#include <fcntl.h>
#include <unistd.h>

#include <initializer_list>
#include <vector>

namespace {

enum { START = 0x08, XSIGN = 0x10, YSIGN = 0x20 };

class RawMouse : public ::testing::Test {
protected:
    int fds[2] = {-1, -1};

    void SetUp() override {
        reset_engine();
        ASSERT_EQ(pipe2(fds, O_NONBLOCK), 0);
        dbx_rawmouse_reset(fds[0]);
        dbx_screen_width = 1000;
        dbx_screen_height = 800;
    }
    void TearDown() override {
        dbx_rawmouse_reset(-1);
        dbx_rawmouse_device = "/dev/input/mouse0";
        close(fds[0]);
        close(fds[1]);
    }
    void send(std::initializer_list<int> bytes) {
        std::vector<unsigned char> b(bytes.begin(), bytes.end());
        ASSERT_EQ(write(fds[1], b.data(), b.size()), static_cast<ssize_t>(b.size()));
    }
    // A movement packet for a signed 9-bit step on each axis.
    void move(int dx, int dy) {
        send({START | (dx < 0 ? XSIGN : 0) | (dy < 0 ? YSIGN : 0), dx & 0xff, dy & 0xff});
    }
    void poll(void) { dbx_platform_poll_input(); }
    void expect_at(int x, int y) {
        EXPECT_EQ(dtmp_mousex, x);
        EXPECT_EQ(dtmp_mousey, y);
    }
};

TEST_F(RawMouse, WithoutADeviceThePointerStaysAtItsStart) {
    dbx_rawmouse_device = "/nonexistent/mouse0";
    dbx_rawmouse_reset(-1);
    for (int pass = 0; pass < 3; pass++) {
        poll();
        expect_at(640, 800 - 400);
        EXPECT_EQ(dtmp_mousedown, 0);
    }
}

TEST_F(RawMouse, MovementAccumulatesUpwardAndIsPublishedDownward) {
    poll();
    expect_at(640, 400);  // nothing waiting: the position is published as it is
    move(10, 5);
    poll();
    expect_at(650, 800 - 405);
    move(-20, -30);
    poll();
    expect_at(630, 800 - 375);
    move(-256, 0);  // the largest step back
    poll();
    expect_at(374, 800 - 375);
}

TEST_F(RawMouse, OnePacketPerPollInOrder) {
    move(1, 0);
    move(2, 0);
    move(4, 0);
    poll();
    expect_at(641, 400);
    poll();
    expect_at(643, 400);
    poll();
    expect_at(647, 400);
    poll();
    expect_at(647, 400);
}

TEST_F(RawMouse, ButtonPacketsSetTheCodeAndLeaveThePosition) {
    struct {
        int buttons, code;
    } cases[] = {{1, 1}, {2, 2}, {4, 3}};
    for (auto c : cases) {
        SCOPED_TRACE(c.buttons);
        dtmp_mousedown = 0;
        dtmp_mousex = -5;  // not rewritten in the pass that takes a button
        dtmp_mousey = -6;
        send({START | c.buttons, 50, 50});
        poll();
        EXPECT_EQ(dtmp_mousedown, c.code);
        expect_at(-5, -6);
    }
    // The movement of a button packet is not applied either.
    send({START, 0, 0});
    poll();
    expect_at(640, 400);
}

TEST_F(RawMouse, SeveralButtonsAtOnceKeepTheLastCode) {
    send({START | 1, 0, 0});
    poll();
    EXPECT_EQ(dtmp_mousedown, 1);
    for (int buttons : {3, 5, 6, 7}) {
        send({START | buttons, 0, 0});
        poll();
        EXPECT_EQ(dtmp_mousedown, 1) << buttons;
    }
}

TEST_F(RawMouse, ReleasePacketRepublishes) {
    dtmp_mousex = dtmp_mousey = 77;
    send({START, 0, 0});
    poll();
    expect_at(640, 400);
    EXPECT_EQ(dtmp_mousedown, 0);
}

TEST_F(RawMouse, ClampingSnapsBeyondTheMargins) {
    // x: 640 - 740 = -100 is still allowed ...
    move(-256, 0);
    move(-256, 0);
    move(-228, 0);
    for (int i = 0; i < 3; i++) poll();
    expect_at(-100, 400);
    // ... one more snaps to the edge.
    move(-1, 0);
    poll();
    expect_at(0, 400);
    // width + 101 snaps to width.
    move(255, 0);
    move(255, 0);
    move(255, 0);
    move(255, 0);
    move(81, 0);  // 1101
    for (int i = 0; i < 5; i++) poll();
    expect_at(1000, 400);
    // y above height + 600 snaps to the top edge.
    move(0, 255);
    move(0, 255);
    move(0, 255);
    move(0, 236);  // 400 + 1001 = 1401 = 800 + 601
    for (int i = 0; i < 4; i++) poll();
    expect_at(1000, 0);
}

TEST_F(RawMouse, BottomAndTopMarginsDiffer) {
    move(0, -256);
    move(0, -244);  // 400 - 500 = -100: kept
    poll();
    poll();
    expect_at(640, 900);
    move(0, -1);  // -101: snaps to 0
    poll();
    expect_at(640, 800);
    for (int i = 0; i < 5; i++) move(0, 255);
    move(0, 125);  // 1400 = height + 600: kept
    for (int i = 0; i < 6; i++) poll();
    expect_at(640, -600);
}

TEST_F(RawMouse, OutOfStepStreamResynchronises) {
    // The stream starts two bytes into a packet. Each failed try eats the
    // three bytes it read and one more, so the tries start at bytes 0, 4
    // and 8, and the packet at byte 8 is the first one taken.
    send({0x05, 0x06, START, 1, 0, START, 2, 0, START, 4, 0});
    poll();
    expect_at(644, 400);
    poll();
    expect_at(644, 400);  // nothing left
}

TEST_F(RawMouse, ShortReadIsLost) {
    send({START, 9});
    poll();
    expect_at(640, 400);
    move(3, 0);
    poll();
    expect_at(643, 400);
}

}  // namespace
