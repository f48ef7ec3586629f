// The intro application: scene table, director and scene scripts.
#ifndef INTRO_H
#define INTRO_H

#include <cstdint>

typedef struct {
    char name[20];
    void (*f_create)(void);
    void (*f_update)(void);  // never null: the update pass calls it untested
    void (*f_destroy)(void);
} scene_t;

enum { SCENE_COUNT = 16 };
extern const scene_t scenes[SCENE_COUNT];

// The schedule: the scene made current when the song reaches a position.
struct schedule_row {
    int position;
    const char *scene;
};
enum { SCHEDULE_ROWS = 15 };
extern const schedule_row schedule[SCHEDULE_ROWS];

extern int currentscene;
extern int lasttrack;
extern int quit;
// The song's ends the director has dealt with (against xm_song_ends), and a
// new start of the schedule waiting for the song to come back to its first
// position (the loop, or the web page's "play again").
extern int ends_seen;
extern int restart_pending;
extern int skip_scene_create;
extern unsigned char bg;
extern int sound;

void extrareset(void);
void switchscene(const char *name);
// The name of the scene showing, or "" before the first.
const char *intro_scene_name(void);

// The first song position at which the schedule shows the scene (0 for
// "hello", which the song's start shows); -1 when it never does.
int intro_scene_position(const char *name);

// The display in the intro's logical 640 x 360 with its atlas loaded
// (dbx_init included); without the atlas the program ends.
void intro_open(void);
// The music's part of a frame: the player started and fed and the song
// clock read, or without sound the fallback clock stepped.
void intro_music_frame(void);

// The intro's state as the program starts: no current scene, the director,
// beat reveal and song position at their start values, the animation table
// zeroed, the animation's random seed and cursor box back. The engine's own
// state is dbx_reset's; the music player's is left alone.
void intro_reset(void);

// After the song's end: the song and the schedule from the top again.
void intro_play_again(void);

// Beat reveal: within boxes ev_first..ev_max-1 one more box shows every
// ev_pace beats, counted from the beat ev_beat1; then the cycle restarts.
extern int ev_first, ev_max, ev_pace, ev_beat1;
void evolve(void);

#endif
