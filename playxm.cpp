// Music playback through libmikmod and the song clock that drives the show.
//
// libmikmod plays the module and mixes it with its software mixer into our
// own buffers (its no-sound driver and VC_WriteBytes). Live, the mixed sound
// goes to an output that can say how much it still holds before the
// speaker, and the song clock shows the row being heard, not the row being
// mixed. Without an output the clock runs on a monotonic clock; offline the
// renderer advances the player itself.
#include "playxm.h"

#include "drawboxlib/drawboxlib.h"
#include "sound/xmheard.h"
#include "sound/xmout.h"

#include <time.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#ifndef __EMSCRIPTEN__
#include <system_error>
#include <thread>
#endif

int xmplaying;
MODULE *module;
int xmtrack;
int xmrow;
xm_mode_t xm_mode;
void (*xm_advance)(void);
const char *xm_filename = "omber.xm";
uint64_t (*xm_clock)(void) = dbx_monotonic_ms;
const xm_output *xm_live;
uint64_t xm_mixed;
int64_t xm_clock_sample;
int xm_nominal_positions;
uint32_t xm_open_wait_ms;

int xm_loop;
int xm_song_ends;

// The end of the song, as the mixer meets it: the sample where the song
// ran out or came back to its first position, until that sample is heard
// (-1: none pending). Without the loop the mixer then gives silence.
static int64_t end_sample = -1;
static int song_over;
static int last_sngpos, last_patpos;  // where the mixer was at its last step

// The silent clock: the song runs on xm_clock from the sample `silent_from`.
static int64_t silent_from;
static uint64_t silent_last_ms;  // its last reading of xm_clock
static uint64_t silent_ms;       // song time it has counted since silent_from
static uint64_t retry_ms;        // when an output is tried again

static int nominal_ended;  // without a module: the nominal song has been counted as over

// Loads the song file. Only a regular file is handed to the loader: a FIFO
// would block it, and a song without positions would be over before it
// began. Null on failure, with *kind saying what the path is when it is
// there but not a regular file, and *empty set for a song without positions.
static MODULE *load_song(const char **kind, bool *empty) {
    *kind = nullptr;
    *empty = false;
    FILE *song = dbx_open_regular(dbx_data_file(xm_filename).text, kind);
    if (!song) MikMod_errno = MMERR_OPENING_FILE;
    MODULE *loaded = song ? Player_LoadFP(song, 64, 0) : nullptr;
    if (song) fclose(song);
    if (loaded && loaded->numpos == 0) {
        Player_Free(loaded);
        loaded = nullptr;
        *empty = true;
    }
    return loaded;
}

// The song from the top, loaded afresh so that its tempo and volume start
// as the song says. The song playing now stays if the file cannot be read.
static int start_song_again(void) {
    const char *kind;
    bool empty;
    MODULE *fresh = load_song(&kind, &empty);
    if (!fresh) return -1;
    Player_Stop();
    Player_Free(module);
    module = fresh;
    Player_Start(module);
    last_sngpos = last_patpos = 0;
    song_over = 0;
    return 0;
}

void xm_restart(void) {
    if (!module || xm_mode == XM_OFFLINE) return;
    end_sample = -1;
    start_song_again();
}

// After each step of the mixer: the song has ended when the player stops,
// or when it comes back to its first row by itself (libmikmod may show the
// new position already during the row that jumps). With the loop it goes on
// from the top; without, everything mixed afterwards is silence.
static void watch_for_the_end(void) {
    if (song_over) return;
    const int pos = module->sngpos, row = module->patpos;
    const bool back = pos == 0 && row == 0 && (last_sngpos != 0 || last_patpos != 0);
    if (end_sample < 0 && (!Player_Active() || back)) {
        end_sample = static_cast<int64_t>(xm_mixed);
        if (!xm_loop || (!Player_Active() && start_song_again() != 0)) song_over = 1;
    }
    last_sngpos = module->sngpos;
    last_patpos = module->patpos;
}

// The listener has heard up to `sample`: the end is counted once it is heard.
static void heard_up_to(int64_t sample) {
    if (end_sample >= 0 && sample >= end_sample) {
        end_sample = -1;
        xm_song_ends++;
    }
}

static void silent_start(int64_t from_sample, uint64_t now) {
    silent_from = from_sample;
    silent_ms = 0;
    silent_last_ms = now;
    retry_ms = now + XM_OUTPUT_RETRY_MS;
}

// Counts the time the silent clock has run by `now`. A clock that goes back
// counts as no time, and a jump forwards as one slow frame: neither makes
// the mixer run away.
static void silent_count(uint64_t now) {
    uint64_t step = now > silent_last_ms ? now - silent_last_ms : 0;
    if (step > XM_SILENT_MAX_STEP_MS) step = XM_SILENT_MAX_STEP_MS;
    silent_last_ms = now;
    silent_ms += step;
}

// The sample the silent clock has reached.
static int64_t silent_now(void) {
    silent_count(xm_clock());
    return silent_from + static_cast<int64_t>(silent_ms * md_mixfreq / 1000);
}

// Without a usable module the silent clock counts the song's nominal pace:
// 6 ticks a row at 125 BPM (120 ms a row), 64 rows a position, for
// xm_nominal_positions positions; then the song is over (or, with the
// loop, starts again from the top). Offline it runs on the renderer's clock.
enum { NOMINAL_ROW_MS = 120, NOMINAL_ROWS = 64 };
static void nominal_update(void) {
    silent_count(xm_advance ? dbx_platform_clock() : xm_clock());
    const uint64_t song_ms = static_cast<uint64_t>(xm_nominal_positions) * NOMINAL_ROWS * NOMINAL_ROW_MS;
    if (xm_nominal_positions > 0 && silent_ms >= song_ms) {
        if (xm_loop && !xm_advance) {
            silent_ms -= song_ms;
            xm_song_ends++;
        } else {
            if (!nominal_ended && !xm_advance) xm_song_ends++;
            nominal_ended = 1;
            silent_ms = song_ms;
        }
    }
    const uint64_t rows = silent_ms / NOMINAL_ROW_MS;
    xmtrack = static_cast<int>(rows / NOMINAL_ROWS);
    xmrow = static_cast<int>(rows % NOMINAL_ROWS);
}

// Mixes in small steps and marks where each row begins, so the clock knows
// the row of every sample to within a step (64 frames, about 1.3 ms).
void xm_mix(int16_t *pcm, uint32_t frames) {
    while (frames > 0) {
        uint32_t n = frames < 64 ? frames : 64;
        if (song_over)
            memset(pcm, 0, n * 4u);
        else
            VC_WriteBytes(reinterpret_cast<SBYTE *>(pcm), n * 4u);
        xm_heard_mark(xm_mixed, static_cast<int16_t>(module->sngpos), static_cast<uint16_t>(module->patpos));
        watch_for_the_end();
        xm_mixed += n;
        pcm += n * 2;
        frames -= n;
    }
}

// Without sound: the mixer keeps up with the silent clock (throwing the
// sound away) and the clock shows the row of the sample it has reached.
// After a lost output the mixer is ahead of the clock by what that output
// held; the history still knows those rows.
static void silent_update(void) {
    static int16_t scratch[4096 * 2];
    const int64_t sample = silent_now();
    while (static_cast<int64_t>(xm_mixed) < sample) {
        const int64_t left = sample - static_cast<int64_t>(xm_mixed);
        const uint32_t n = left < 4096 ? static_cast<uint32_t>(left) : 4096u;
        xm_mix(scratch, n);
    }
    xm_clock_sample = sample;
    xm_heard_at(sample, &xmtrack, &xmrow);
    heard_up_to(sample);
}

// The live clock's state: the time of the last reading and of the swap
// after it, the frame interval and the time from a reading to its swap
// (both smoothed, in 1/16 ms), and how far the output had played when it
// last moved on.
static uint64_t read_ms, shown_ms;
static int32_t frame_ms16, swap_ms16;
static int64_t played_sample;
static uint64_t played_ms;
// An output that took over from the silent clock mid-show: the clock goes
// on from where the show was, also before the output can tell its delay.
static bool returned;

static void frame_shown(void) { shown_ms = xm_clock(); }

static void live_start(uint64_t now, bool returning) {
    read_ms = shown_ms = 0;
    frame_ms16 = 16 * 16;
    swap_ms16 = 0;
    played_sample = -1;
    played_ms = now;
    returned = returning;
    dbx_frame_shown = frame_shown;
}

// The clock shows `heard` unless that would take it back: then it goes on
// from where it stood at XM_EASE_PERCENT of the time passed, so that it
// meets the speaker again without a step back (an output that came back
// with more delay than it said, a late report, a stalled output).
static void show_sample(int64_t heard, uint64_t now) {
    uint64_t passed = read_ms != 0 && now > read_ms ? now - read_ms : 0;
    if (passed > XM_SILENT_MAX_STEP_MS) passed = XM_SILENT_MAX_STEP_MS;
    const int64_t eased = xm_clock_sample + static_cast<int64_t>(passed * md_mixfreq / 1000) * XM_EASE_PERCENT / 100;
    xm_clock_sample = heard > eased ? heard : eased;
}

// The output failed: the show goes on silently from the sample the clock
// showed last, at the moment it showed it, so nothing jumps.
static void lose_output(void) {
    xm_live->close();
    xm_live = nullptr;
    xm_mode = XM_SILENT;
    dbx_frame_shown = nullptr;
    silent_start(xm_clock_sample, read_ms != 0 ? read_ms : xm_clock());
    fputs("The sound output stopped; the show goes on silently, and the music comes back when an output opens.\n",
          stderr);
}

// Once per frame: top the output up to what it takes, then show the row
// that will be heard while the picture drawn from this reading is on
// screen. That picture is drawn by the next pass that has a tick due (a
// frame from now, or two where frames come faster than ticks), reaches the
// screen when that pass's swap returns (as long after the reading as this
// pass's swap came after its reading) and stays there for a frame: the
// clock looks ahead to the middle of that frame, plus the display's own
// delay that DBX_AV_OFFSET_MS gives.
static void live_update(void) {
    static int16_t pcm[4096 * 2];
    for (uint32_t room = xm_live->room(); room > 0;) {
        uint32_t n = room < 4096 ? room : 4096;
        xm_mix(pcm, n);
        xm_live->write(pcm, n);
        room -= n;
    }
    const uint64_t now = xm_clock();
    if (xm_live->failed()) {
        lose_output();
        return;
    }
    if (read_ms != 0 && now > read_ms && now - read_ms <= 100)
        frame_ms16 += (static_cast<int32_t>(now - read_ms) * 16 - frame_ms16) / 8;
    if (read_ms != 0 && shown_ms >= read_ms && shown_ms <= now && shown_ms - read_ms <= 100)
        swap_ms16 += (static_cast<int32_t>(shown_ms - read_ms) * 16 - swap_ms16) / 8;
    const int64_t delay = xm_live->delay();
    const int64_t played = delay < 0 ? -1 : static_cast<int64_t>(xm_mixed) - delay;
    if (played > played_sample) {
        played_sample = played;
        played_ms = now;
    } else if (now > played_ms && now - played_ms > XM_OUTPUT_STALL_MS) {
        lose_output();  // read_ms is still the last reading's time
        return;
    }
    if (delay < 0) {  // not known yet: the clock waits, unless the show had come this far already
        if (returned) {
            show_sample(xm_clock_sample, now);
            xm_heard_at(xm_clock_sample, &xmtrack, &xmrow);
        }
        read_ms = now;
        return;
    }
    int32_t tick16 = dbx_ticsize * 16, tick_wait16 = 0;  // a pass without a tick waits a frame more
    if (tick16 > frame_ms16) tick_wait16 = frame_ms16 * (tick16 - frame_ms16) / tick16;
    const int64_t ahead_ms =
        static_cast<int64_t>((frame_ms16 * 3 / 2 + tick_wait16 + swap_ms16) / 16) + static_cast<int64_t>(dbx_av_offset_ms);
    show_sample(played + ahead_ms * static_cast<int64_t>(md_mixfreq) / 1000, now);
    read_ms = now;
    xm_heard_at(xm_clock_sample, &xmtrack, &xmrow);
    heard_up_to(played);
}

static int init_nosound(void) {
    md_device = static_cast<UWORD>(MikMod_DriverFromAlias(const_cast<CHAR *>("nosound")));
    if (md_device == 0 || MikMod_Init(const_cast<CHAR *>(""))) return -1;
    return 0;
}

// The first output that opens at the mixer's rate plays the music.
static const xm_output *open_output(void) {
    for (const xm_output *out : xm_outputs) {
        unsigned rate = md_mixfreq;
        if (!out) continue;
        if (out->open(&rate) != 0) continue;
        if (rate == md_mixfreq) return out;
        out->close();
    }
    return nullptr;
}

// Opening an output may take as long as its server wants (a server stopped
// with SIGSTOP, ALSA's default device going through that server): it is
// done on a thread of its own, which hands over what it opened and ends.
// The show's thread starts it and takes its result; one runs at a time. A
// thread that never comes back is left alone and does not keep the process
// from ending. In a browser, opening never waits and needs no thread.
namespace {
enum { OPEN_IDLE, OPEN_RUNNING, OPEN_DONE };
std::atomic<int> open_state{OPEN_IDLE};
const xm_output *opened;  // the opener's result, handed over with OPEN_DONE
}  // namespace

static void open_in_background(void) {
    opened = open_output();
    open_state.store(OPEN_DONE, std::memory_order_release);
}

static void start_opening(void) {
    if (open_state.load(std::memory_order_acquire) != OPEN_IDLE) return;
    open_state.store(OPEN_RUNNING, std::memory_order_relaxed);
#ifdef __EMSCRIPTEN__
    open_in_background();
#else
    try {
        std::thread(open_in_background).detach();
    } catch (const std::system_error &) {
        opened = nullptr;
        open_state.store(OPEN_DONE, std::memory_order_release);
    }
#endif
}

// What the opener opened, waiting for it up to `wait_ms` of real time:
// null while it still runs (*running set), or when nothing opened.
static const xm_output *take_opened(uint32_t wait_ms, bool *running) {
    const uint64_t until = dbx_monotonic_ms() + wait_ms;
    while (open_state.load(std::memory_order_acquire) == OPEN_RUNNING && dbx_monotonic_ms() < until) {
        struct timespec nap = {0, 200000};
        nanosleep(&nap, nullptr);
    }
    const int state = open_state.load(std::memory_order_acquire);
    *running = state == OPEN_RUNNING;
    if (state != OPEN_DONE) return nullptr;
    const xm_output *out = opened;
    opened = nullptr;
    open_state.store(OPEN_IDLE, std::memory_order_release);
    return out;
}

// An output takes over from the silent clock: it is fed from the sample
// the show will have reached when that sample is heard (its delay before
// anything is written, as far as it can tell), and the clock goes on from
// where it stands.
static void take_over(const xm_output *out, uint64_t now) {
    xm_live = out;
    xm_mode = XM_LIVE;
    int64_t lead = out->delay();
    const int64_t most = static_cast<int64_t>(XM_OUTPUT_AHEAD_MS) * md_mixfreq / 1000;
    if (lead < 0) lead = 0;
    if (lead > most) lead = most;
    static int16_t scratch[4096 * 2];
    const int64_t from = xm_clock_sample + lead;
    while (static_cast<int64_t>(xm_mixed) < from) {
        const int64_t left = from - static_cast<int64_t>(xm_mixed);
        xm_mix(scratch, left < 4096 ? static_cast<uint32_t>(left) : 4096u);
    }
    live_start(now, true);
    read_ms = now;
    fputs("The sound is back.\n", stderr);
}

// Without sound: an output the opener has ready takes over, with the sound
// from the sample the show has reached, and the clock follows the speaker
// again; every few seconds the outputs are tried again. The show's thread
// waits xm_open_wait_ms at most for a try.
static void retry_output(void) {
    const uint64_t now = xm_clock();
    bool running;
    const xm_output *out = take_opened(0, &running);
    if (!out && !running && now >= retry_ms &&
        static_cast<int64_t>(xm_mixed) <= xm_clock_sample) {  // the mixer must not be ahead of the show
        retry_ms = now + XM_OUTPUT_RETRY_MS;
        start_opening();
        out = take_opened(xm_open_wait_ms, &running);
    }
    if (out) take_over(out, now);
}

int playxm(void) {
    if (xmplaying) return 0;
    xmplaying = 1;
    int result = 0;
    // libmikmod only mixes; the sound goes out through our own outputs. Its
    // lists of drivers and loaders last as long as the process (registering
    // twice would link a driver to itself).
    static bool registered;
    if (!registered) {
        MikMod_RegisterDriver(&drv_nos);
        MikMod_RegisterAllLoaders();
        registered = true;
    }
    md_mode |= DMODE_SOFT_MUSIC;
    end_sample = -1;
    song_over = 0;
    last_sngpos = last_patpos = 0;
    const bool offline = xm_advance != nullptr;
    if (!offline) {
        // Mixed here, the sound is 16-bit stereo at one rate for the whole
        // run, so an output that opens later can take over.
        md_mixfreq = 48000;
        md_mode = static_cast<UWORD>((md_mode | DMODE_STEREO | DMODE_16BITS) & ~DMODE_FLOAT);
    }
    if (init_nosound()) return -1;
    const char *kind;
    bool empty;
    module = load_song(&kind, &empty);
    if (!offline && module) {
        // The first frame waits XM_OUTPUT_OPEN_WAIT_MS at most for an
        // output; one that opens later takes over then.
        start_opening();
        bool running;
        xm_live = take_opened(XM_OUTPUT_OPEN_WAIT_MS, &running);
        if (xm_live) {
            live_start(xm_clock(), false);
        } else {
            fputs("Failed to load mikmod drivers.\n", stderr);
            // Keep the show in time without a sound device.
            result = -1;
        }
    }
    xm_mixed = 0;
    xm_clock_sample = 0;
    xm_heard_reset();
    silent_start(0, offline ? dbx_platform_clock() : xm_clock());
    if (module) {
        Player_Start(module);
        xm_mode = offline ? XM_OFFLINE : xm_live ? XM_LIVE : XM_SILENT;
    } else {
        // The scenes follow the song's nominal pace on the silent clock.
        const dbx_path path = dbx_data_file(xm_filename);
        if (kind)
            fprintf(stderr, "Cannot load the music module \"%s\" (it is %s, not a regular file); the scenes follow "
                    "the silent clock.\n", path.text, kind);
        else if (empty)
            fprintf(stderr, "Cannot load the music module \"%s\" (it has no song positions); the scenes follow the "
                    "silent clock.\n", path.text);
        else
            fprintf(stderr, "Cannot load the music module \"%s\" (%s; looked in %s); the scenes follow the silent "
                    "clock.\n", path.text, MikMod_strerror(MikMod_errno), dbx_data_where().text);
    }
    return result;
}

void xm_reset(void) {
    if (module) {
        Player_Stop();
        Player_Free(module);
    }
    if (xmplaying) MikMod_Exit();
    if (xm_live) xm_live->close();
    bool running;
    if (const xm_output *late = take_opened(0, &running)) late->close();  // opened for a show that is over
    if (dbx_frame_shown == frame_shown) dbx_frame_shown = nullptr;
    module = nullptr;
    xmplaying = 0;
    xmtrack = xmrow = 0;
    xm_mode = XM_NONE;
    xm_advance = nullptr;
    xm_live = nullptr;
    xm_mixed = 0;
    xm_clock_sample = 0;
    xm_loop = xm_song_ends = 0;
    end_sample = -1;
    song_over = last_sngpos = last_patpos = 0;
    silent_from = 0;
    silent_last_ms = silent_ms = retry_ms = 0;
    nominal_ended = 0;
    returned = false;
    read_ms = shown_ms = 0;
    frame_ms16 = swap_ms16 = 0;
    played_sample = -1;
    played_ms = 0;
    xm_heard_reset();
}

int xmupdate(void) {
    switch (xm_mode) {
    case XM_NONE:
        // Without a song the scenes keep the song's nominal pace.
        if (xmplaying) nominal_update();
        return 0;
    case XM_OFFLINE:
        if (Player_Active()) xm_advance();
        xmrow = static_cast<int>(static_cast<uint16_t>(module->patpos));
        xmtrack = static_cast<int>(static_cast<int16_t>(module->sngpos));
        return 0;
    case XM_LIVE:
        // The output is fed to the end and beyond (silence once the song
        // has stopped), so it never runs dry. One that fails hands the
        // clock to the silent clock in the same frame.
        live_update();
        if (xm_mode == XM_LIVE) return 0;
        silent_update();
        return 0;
    case XM_SILENT:
        silent_update();
        retry_output();
        return 0;
    }
    return 0;
}

unsigned int beatnow(void) {
    return static_cast<unsigned int>(xmrow) + static_cast<unsigned int>(xmtrack) * 64u;
}

void xm_fallback_step(void) {
    if (xmrow <= 127) {
        xmrow++;
    } else {
        xmrow = 0;
        xmtrack++;
    }
}

void xm_seek(int position, int paused) {
    if (!module) return;
    // Setting the position stops every voice.
    Player_SetPosition(static_cast<UWORD>(position < 0 ? 0 : position));
    // A jump asked for is no end of the song.
    last_sngpos = position < 0 ? 0 : position;
    last_patpos = 0;
    end_sample = -1;
    song_over = 0;
    if ((Player_Paused() != 0) != (paused != 0)) Player_TogglePause();
}
