// The history of heard positions: a ring of the newest changes, searched
// from the newest back (the output trails the mixer by a few changes only).
#include "web/heard.h"

namespace {
struct change {
    int64_t sample;
    int32_t track;
    int32_t row;
};
change history[HEARD_HISTORY];
uint64_t changes;  // ever recorded; the newest is history[(changes - 1) % HEARD_HISTORY]
int64_t position_start[HEARD_POSITIONS];
}  // namespace

void heard_reset(void) {
    changes = 0;
    for (int64_t &start : position_start) start = -1;
}

void heard_note(int64_t sample, int32_t track, int32_t row) {
    if (changes > 0) {
        const change &last = history[(changes - 1) % HEARD_HISTORY];
        if (last.track == track && last.row == row) return;
    }
    history[changes % HEARD_HISTORY] = {sample, track, row};
    changes++;
    if (track >= 0 && track < HEARD_POSITIONS && position_start[track] < 0) position_start[track] = sample;
}

bool heard_at(int64_t sample, int32_t *track, int32_t *row) {
    const uint64_t oldest = changes > HEARD_HISTORY ? changes - HEARD_HISTORY : 0;
    for (uint64_t i = changes; i > oldest; i--) {
        const change &c = history[(i - 1) % HEARD_HISTORY];
        if (c.sample <= sample) {
            *track = c.track;
            *row = c.row;
            return true;
        }
    }
    return false;
}

int64_t heard_position_start(int32_t track) {
    return track >= 0 && track < HEARD_POSITIONS ? position_start[track] : -1;
}
