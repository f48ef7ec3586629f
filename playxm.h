// Music playback through libmikmod. Code that only follows the music
// needs songclock.h alone.
#ifndef PLAYXM_H
#define PLAYXM_H

#include "songclock.h"

#include <mikmod.h>

#include <cstdint>

extern MODULE *module;

int playxm(void);
int xmupdate(void);

// Without a sound device the player is still advanced by mixing into a
// scratch buffer, so the song clock keeps the song's own timing.
extern int xm_silent;

// The song clock's own time source in milliseconds (the silent clock, and
// the frame timing of the live one): a monotonic clock, so a change of the
// wall clock neither stops the song nor skips it ahead. Tests point it at a
// clock of their own. A frame never counts for more than
// XM_SILENT_MAX_STEP_MS of silent song.
extern uint64_t (*xm_clock)(void);
uint64_t xm_monotonic_ms(void);
enum { XM_SILENT_MAX_STEP_MS = 1000 };

// Sample frames mixed since the song started.
extern uint64_t xm_mixed;

// Live sound: the outputs tried in order (null entries, outputs this build
// lacks, are passed over), and the one that opened (null when silent or
// offline).
struct xm_output;
extern const xm_output *xm_outputs[4];
extern const xm_output *xm_live;

// Mixes the next `frames` stereo frames (16-bit) into `pcm`, marking in the
// heard history (xmheard.h) where each row begins.
void xm_mix(int16_t *pcm, uint32_t frames);

// Set before the first frame by an offline renderer: only the no-sound
// driver is used, and xm_advance (if set) advances the player each frame
// instead of the sound driver's update.
extern int xm_offline;
extern void (*xm_advance)(void);

// Live: the sample the song clock last showed the row of (the one it
// expects heard while the picture drawn from that reading is on screen).
extern int64_t xm_clock_sample;

// Jumps the playing song to the start of a song position, its voices
// silenced; with `paused` it then stays there, silent, until the next jump.
// The song clock follows as the jump is heard. Nothing without a module.
void xm_seek(int position, int paused);

// The module file, relative to the working directory.
extern const char *xm_filename;

#endif
