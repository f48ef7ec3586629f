// The song clock: where the music is, which the director and the beat
// reveal follow. Set by the player (playxm.h) or by the fallback clock.
#ifndef SONGCLOCK_H
#define SONGCLOCK_H

extern int xmplaying;
extern int xmtrack;  // song position
extern int xmrow;    // row in the pattern at that position

unsigned int beatnow(void);

// One step of the fallback clock (the silent configuration, or no module).
void xm_fallback_step(void);

#endif
