// The intro application: scene table, director and scene scripts.
#ifndef INTRO_H
#define INTRO_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

typedef struct {
    char name[20];
    void (*f_create)(void);
    void (*f_update)(void);  // never null: the update pass calls it untested
    void (*f_destroy)(void);
} scene_t;

// The show's table (assets/show.txt, compiled in; docs/making-scenes.md):
// one row a scene, with what its generic create and update functions do.
enum { SCENE_MAX = 64, SCHEDULE_MAX = 128, SHOW_FILE_MAX = 32, SHOW_STEPS_MAX = 2 };

// One end of the reveal range as a row gives it.
enum show_end_kind : unsigned char {
    SHOW_KEEP,         // as the scene before left it
    SHOW_NUMBER,       // value
    SHOW_COUNT_MINUS,  // the box count N less value (N itself: value 0)
};
struct show_end {
    show_end_kind kind;
    int value;
};
enum show_step : unsigned char { SHOW_REVEAL, SHOW_ANIMATE };
struct show_steps {
    int count;
    show_step step[SHOW_STEPS_MAX];
};
struct show_scene_t {
    char file[SHOW_FILE_MAX];  // box art "data/FILE.dat"; "" loads nothing
    int bg;                    // -1: left as it was
    show_end first, last;
    int pace;                  // -1: left as it was
    bool anchor;               // the reveal counts beats from the scene's start
    bool on_tick;              // bg and reveal set on every tick, not once
    show_steps enter, tick;
};

extern scene_t scenes[SCENE_MAX];
extern show_scene_t show[SCENE_MAX];
extern int scene_count;

// The schedule: the scene made current when the song reaches a position,
// by position, every position once. The scene of position 0, the song's
// start, is `start`: the director's start-up branch shows it, not a row.
struct schedule_row {
    int position;
    const char *scene;
};
struct schedule_table {
    schedule_row row[SCHEDULE_MAX];
    int count;
    const char *start;
    const schedule_row *begin() const { return row; }
    const schedule_row *end() const { return row + count; }
};
extern schedule_table schedule;

// The table compiled in (assets/show.txt as it was built).
extern const char intro_show_text[];
// Makes `text` the show: true, or false with "line N: why" in `err` and the
// show as it was. `text` is NUL-terminated.
bool intro_show_parse(const char *text, char *err, size_t errsize);
// The show from the file at `path`; false with the file's name and the
// reason on `out` (the show then stays as it was).
bool intro_show_read(const char *path, FILE *out);
// The show of the data folder's "assets/show.txt" (DBX_DATA, the working
// folder, the package's) where there is one, else the one compiled in, also
// when that file is not a show (said on stderr). intro_open calls it.
void intro_show_load(void);
// The scene that loads "data/FILE.dat" and that the song shows first; -1
// when no scene the song brings loads it.
int intro_scene_of_file(const char *file);

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
// the song's start); -1 when it never does.
int intro_scene_position(const char *name);

// The display in the intro's logical 640 x 360 with its atlas loaded
// (dbx_init included); without the atlas the program ends. Then the show
// is loaded (intro_show_load).
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
