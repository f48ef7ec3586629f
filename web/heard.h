// Which song position and row is being heard: a history of the sample frame
// at which each position and row began, kept as the mixer runs ahead of the
// audio output, and looked up at the sample the output is playing.
#ifndef WEB_HEARD_H
#define WEB_HEARD_H

#include <cstdint>

enum {
    HEARD_HISTORY = 1024,  // changes kept: several seconds of the song at any tempo it uses
    HEARD_POSITIONS = 256, // song positions whose first sample is remembered
};

// Forgets everything (the song starts again).
void heard_reset(void);

// The mixer has reached TRACK, ROW at sample frame SAMPLE (samples only grow).
// A repeat of the newest position and row records nothing.
void heard_note(int64_t sample, int32_t track, int32_t row);

// The position and row that began last at or before SAMPLE; false when that
// is before the first recorded change or older than the history reaches.
bool heard_at(int64_t sample, int32_t *track, int32_t *row);

// The first sample frame of song position TRACK, or -1 when not reached.
int64_t heard_position_start(int32_t track);

#endif
