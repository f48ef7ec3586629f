// libFuzzer target for the raw mouse: any byte stream from the device must
// keep the pointer inside its slack around the layer, hand out only button
// codes 1 to 7, and take at most one packet per poll.
#include "drawboxlib/platforms/rawmouse.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

static void check(bool ok, const char *what) {
    if (!ok) {
        fprintf(stderr, "mouse fuzz: %s\n", what);
        abort();
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0 || size > 4096) return 0;  // the stream fits the pipe
    dbx_rawmouse_device = "/nonexistent/mouse";
    // Layers big enough to hold the start position (640, 400).
    static const int sizes[][2] = {{1280, 800}, {1920, 1080}, {741, 401}};
    const int width = sizes[data[0] % 3][0], height = sizes[data[0] % 3][1];
    int ends[2];
    check(pipe2(ends, O_NONBLOCK) == 0, "no pipe");
    check(write(ends[1], data + 1, size - 1) == static_cast<ssize_t>(size - 1), "short write to the pipe");
    close(ends[1]);
    dbx_rawmouse_reset(ends[0]);
    int32_t x = 0, y = 0;
    // Each poll takes at least three bytes unless the stream has run dry.
    for (size_t poll = 0; poll <= size / 3 + 1; poll++) {
        int buttons = dbx_rawmouse_poll(width, height, &x, &y);
        check(buttons >= 0 && buttons <= 7, "a button code outside 0..7");
        if (buttons) continue;
        check(x >= -100 && x <= width + 100, "x left its slack");
        check(y >= -600 && y <= height + 100, "y left its slack");
    }
    dbx_rawmouse_reset(-1);
    close(ends[0]);
    return 0;
}
