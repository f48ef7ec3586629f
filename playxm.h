// Music playback through libmikmod. Code that only follows the music
// needs songclock.h alone.
#ifndef PLAYXM_H
#define PLAYXM_H

#include "songclock.h"

#include <mikmod.h>

extern MODULE *module;

int playxm(void);
int xmupdate(void);

// Without a sound device the player is still advanced by mixing into a
// scratch buffer, so the song clock keeps the song's own timing.
extern int xm_silent;

// Set before the first frame by an offline renderer: only the no-sound
// driver is used, and xm_advance (if set) advances the player each frame
// instead of the sound driver's update.
extern int xm_offline;
extern void (*xm_advance)(void);

// The module file, relative to the working directory.
extern const char *xm_filename;

#endif
