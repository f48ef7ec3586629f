// The raw mouse poll. The position is kept the mouse's way up (y grows
// upward) and published the screen's way up.
#include "rawmouse.h"

#include <fcntl.h>
#include <unistd.h>

const char *dbx_rawmouse_device = "/dev/input/mouse0";

namespace {

enum { PACKET_START = 8, XSIGN = 16, YSIGN = 32 };

int fd = -1;
int32_t x = 640, y = 400;

struct packet {
    unsigned char buttons, dx, dy;
};
static_assert(sizeof(packet) == 3, "a mouse packet is three bytes");

}  // namespace

void dbx_rawmouse_reset(int descriptor) {
    fd = descriptor;
    x = 640;
    y = 400;
}

int dbx_rawmouse_poll(int width, int height, int32_t *mousex, int32_t *mousey) {
    if (fd < 0) fd = open(dbx_rawmouse_device, O_RDONLY | O_NONBLOCK);
    if (fd >= 0) {
        packet m;
        bool got = false;
        while (read(fd, &m, 3) == 3) {
            if (m.buttons & PACKET_START) {
                got = true;
                break;
            }
            // Out of step: drop one more byte, so the next try starts one
            // byte later in the packet rhythm.
            ssize_t dropped = read(fd, &m, 1);
            (void)dropped;
        }
        if (got) {
            int buttons = m.buttons & 7;
            if (buttons) return buttons;
            x += m.dx;
            if (m.buttons & XSIGN) x -= 256;
            y += m.dy;
            if (m.buttons & YSIGN) y -= 256;
            // 100 pixels of slack past the left, right and bottom edges, 600
            // past the top; beyond that the pointer snaps onto the edge.
            if (x < -100) x = 0;
            if (y < -100) y = 0;
            if (x > width + 100) x = width;
            if (y > height + 600) y = height;
        }
    }
    *mousex = x;
    *mousey = height - y;
    return 0;
}
