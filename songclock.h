// The song clock: where the music is, which the director and the beat
// reveal follow. Set by the player (playxm.h) or by the fallback clock.
#ifndef SONGCLOCK_H
#define SONGCLOCK_H

extern int xmplaying;
extern int xmtrack;  // song position
extern int xmrow;    // row in the pattern at that position

unsigned int beatnow(void);

// The end of the song. xm_song_ends counts how often the song has been
// heard to its end (the player ran out, or the song came back to its first
// position by itself): live, when its last sample left the speaker; without
// sound, when the silent clock passed it. With xm_loop set (DBX_LOOP=1) the
// song goes on from the top at its end instead of falling silent. Offline
// rendering counts no end.
extern int xm_loop;
extern int xm_song_ends;
// The song from the top, at once (after its end, to play it again).
void xm_restart(void);

// One step of the frame-counting clock of the silent build setting (no
// music at all). Without a usable module the song clock keeps the song's
// nominal pace instead (playxm.h).
void xm_fallback_step(void);

#endif
