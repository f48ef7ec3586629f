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
// The player and the song clock as a fresh program has them: the song
// stopped and let go, no output, every clock and count at its start. The
// outputs tried (xm_outputs), xm_clock and xm_filename are left alone.
void xm_reset(void);

// What the song clock runs on. Before the start, nothing; without a usable
// song, the silent clock at the song's nominal pace (XM_NONE); live, the
// sample an output says is being heard (XM_LIVE); without an output, the
// silent clock: the player is advanced by mixing into a scratch buffer as
// time passes, so the clock keeps the song's own timing (XM_SILENT);
// offline, the renderer's xm_advance each frame (XM_OFFLINE). An output that fails turns live into silent, and one that
// opens later turns silent into live.
enum xm_mode_t { XM_NONE, XM_LIVE, XM_SILENT, XM_OFFLINE };
extern xm_mode_t xm_mode;

// The song clock's own time source in milliseconds (the silent clock, and
// the frame timing of the live one): the engine's monotonic clock, so a
// change of the wall clock neither stops the song nor skips it ahead. Tests
// point it at a clock of their own. A frame never counts for more than
// XM_SILENT_MAX_STEP_MS of silent song.
extern uint64_t (*xm_clock)(void);
enum { XM_SILENT_MAX_STEP_MS = 1000 };

// Sample frames mixed since the song started.
extern uint64_t xm_mixed;

// Live sound: the output playing, one of xm_outputs (sound/xmout.h); null
// when silent or offline. An output that fails is closed and the show goes
// on silently (XM_SILENT) from the sample it had reached; every
// XM_OUTPUT_RETRY_MS the outputs are tried again. Outputs are opened on a
// thread of their own, never on the show's: the first frame waits
// XM_OUTPUT_OPEN_WAIT_MS at most for them, a retry xm_open_wait_ms (0: a
// show never waits; a test that wants the open in the same frame sets more).
// An output that opens later takes over then.
struct xm_output;
extern const xm_output *xm_live;
extern uint32_t xm_open_wait_ms;

// Live, the clock never steps back: where the speaker is behind where the
// clock stood (an output that came back with more delay than it said), the
// clock runs at this share of real time until it meets the speaker again.
enum { XM_EASE_PERCENT = 90 };

// Without a usable module (missing, unreadable, or without positions) the
// silent clock runs the song's nominal pace, 6 ticks a row at 125 BPM and 64
// rows a position, and the song is over after this many positions (0: it
// never ends). The application sets it from its schedule.
extern int xm_nominal_positions;

// Mixes the next `frames` stereo frames (16-bit) into `pcm`, marking in the
// heard history (sound/xmheard.h) where each row begins and noting where the song
// ends (silence after that, unless xm_loop starts it again).
void xm_mix(int16_t *pcm, uint32_t frames);

// Set before the first frame by an offline renderer: no output is opened,
// and xm_advance advances the player each frame (XM_OFFLINE).
extern void (*xm_advance)(void);

// Live: the sample the song clock last showed the row of (the one it
// expects heard while the picture drawn from that reading is on screen).
extern int64_t xm_clock_sample;

// Jumps the playing song to the start of a song position, its voices
// silenced; with `paused` it then stays there, silent, until the next jump.
// The song clock follows as the jump is heard. Nothing without a module.
void xm_seek(int position, int paused);

// The module's file name, found through the data folder (dbx_data_file).
extern const char *xm_filename;

#endif
