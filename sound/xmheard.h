// Which song position and row each stretch of mixed sound belongs to.
//
// A sound output plays what was mixed some time ago. While mixing, the
// player marks the sample at which each position and row begins; the song
// clock then asks which row the sample being heard now belongs to. Nothing
// here knows about libmikmod or a sound device, so any output that can say
// how many samples it still holds (PulseAudio, ALSA, Web Audio) can use it.
#ifndef XMHEARD_H
#define XMHEARD_H

#include <cstdint>

enum { XM_HEARD_MARKS = 256 };  // rows kept: about half a minute of the song

// Forgets every mark (a new song starts at sample 0).
void xm_heard_reset(void);

// From `sample` on (counted in sample frames since the song started) the
// music is at position `track`, row `row`. Samples only move forwards; a
// mark that repeats the last position and row, or lies before the last
// mark, is ignored.
void xm_heard_mark(uint64_t sample, int track, int row);

// The position and row that `sample` belongs to: the latest mark at or
// before it. A sample older than the oldest mark kept gets the oldest one.
// Returns 0, or -1 (nothing changed) when nothing has been marked yet.
int xm_heard_at(int64_t sample, int *track, int *row);

// The sample at which the oldest mark kept for position `track` begins
// (where a song comes back to a position, its first visit while kept), or
// -1 when no mark kept is at that position.
int64_t xm_heard_first(int track);

#endif
