// The history of row starts: a ring of the latest marks, oldest first.
#include "sound/xmheard.h"

namespace {
struct heard_mark {
    uint64_t sample;
    int track, row;
};
heard_mark marks[XM_HEARD_MARKS];
unsigned first, count;  // the oldest mark kept, and how many there are
}  // namespace

static const heard_mark &nth(unsigned i) { return marks[(first + i) % XM_HEARD_MARKS]; }

void xm_heard_reset(void) {
    first = 0;
    count = 0;
}

void xm_heard_mark(uint64_t sample, int track, int row) {
    if (count > 0) {
        const heard_mark &last = nth(count - 1);
        if (sample < last.sample || (last.track == track && last.row == row)) return;
    }
    if (count == XM_HEARD_MARKS) {
        first = (first + 1) % XM_HEARD_MARKS;
        count--;
    }
    marks[(first + count) % XM_HEARD_MARKS] = heard_mark{sample, track, row};
    count++;
}

int xm_heard_at(int64_t sample, int *track, int *row) {
    if (count == 0) return -1;
    // Binary search for the last mark at or before the sample.
    unsigned low = 0, high = count;  // marks [0, low) start at or before it
    while (low < high) {
        unsigned mid = (low + high) / 2;
        if (sample >= 0 && nth(mid).sample <= static_cast<uint64_t>(sample))
            low = mid + 1;
        else
            high = mid;
    }
    const heard_mark &m = nth(low > 0 ? low - 1 : 0);
    *track = m.track;
    *row = m.row;
    return 0;
}

int64_t xm_heard_first(int track) {
    for (unsigned i = 0; i < count; i++)
        if (nth(i).track == track) return static_cast<int64_t>(nth(i).sample);
    return -1;
}
