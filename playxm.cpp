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
#include "xmheard.h"
#include "xmout.h"

#include <cstdio>
#include <ctime>

int xmplaying;
MODULE *module;
int xmtrack;
int xmrow;
int xm_silent;
int xm_offline;
void (*xm_advance)(void);
const char *xm_filename = "omber.xm";
uint64_t (*xm_clock)(void) = xm_monotonic_ms;
#ifdef DBX_NO_PULSE
const xm_output *const xm_pulse_output = nullptr;
#endif
#ifdef DBX_NO_ALSA
const xm_output *const xm_alsa_output = nullptr;
#endif
#ifndef DBX_WEB_AUDIO
const xm_output *const xm_web_output = nullptr;
#endif
const xm_output *xm_outputs[4] = {xm_pulse_output, xm_alsa_output, xm_web_output, nullptr};
const xm_output *xm_live;
uint64_t xm_mixed;
int64_t xm_clock_sample;

static uint64_t silent_last_ms;  // the silent clock's last reading
static uint64_t silent_ms;       // song time it has counted since the start

uint64_t xm_monotonic_ms(void) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}
static uint64_t fallback_start_ms;  // offline without a song: when the fallback clock began
static uint64_t fallback_steps;     // and how often it has stepped since

static unsigned int bytes_per_sample_frame(void) {
    unsigned int bytes = (md_mode & DMODE_FLOAT) ? 4 : (md_mode & DMODE_16BITS) ? 2 : 1;
    return (md_mode & DMODE_STEREO) ? bytes * 2 : bytes;
}

// No sound device: mix as many samples as time has passed and throw them
// away. The player advances inside the mixer, so positions and rows change
// at the module's own tempo. A clock that goes back counts as no time, and
// a jump forwards as one slow frame: neither makes the mixer run away.
static void silent_advance(void) {
    static SBYTE scratch[16384];
    uint64_t now = xm_clock();
    uint64_t step = now > silent_last_ms ? now - silent_last_ms : 0;
    if (step > XM_SILENT_MAX_STEP_MS) step = XM_SILENT_MAX_STEP_MS;
    silent_last_ms = now;
    silent_ms += step;
    uint64_t due = silent_ms * md_mixfreq / 1000;
    unsigned int frame_bytes = bytes_per_sample_frame();
    while (xm_mixed < due) {
        uint64_t frames = due - xm_mixed;
        uint64_t room = sizeof scratch / frame_bytes;
        if (frames > room) frames = room;
        VC_WriteBytes(scratch, static_cast<ULONG>(frames * frame_bytes));
        xm_mixed += frames;
    }
}

// Live: mixes in small steps and marks where each row begins, so the clock
// knows the row of every sample to within a step (64 frames, about 1.3 ms).
void xm_mix(int16_t *pcm, uint32_t frames) {
    while (frames > 0) {
        uint32_t n = frames < 64 ? frames : 64;
        VC_WriteBytes(reinterpret_cast<SBYTE *>(pcm), n * 4u);
        xm_heard_mark(xm_mixed, static_cast<int16_t>(module->sngpos), static_cast<uint16_t>(module->patpos));
        xm_mixed += n;
        pcm += n * 2;
        frames -= n;
    }
}

// The time of the last song clock reading, and of the swap after it.
static uint64_t read_ms, shown_ms;

static void frame_shown(void) { shown_ms = xm_clock(); }

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
    static int32_t frame_ms16 = 16 * 16;  // the frame interval, smoothed, in 1/16 ms
    static int32_t swap_ms16 = 0;         // from a reading to its pass's swap, the same
    for (uint32_t room = xm_live->room(); room > 0;) {
        uint32_t n = room < 4096 ? room : 4096;
        xm_mix(pcm, n);
        xm_live->write(pcm, n);
        room -= n;
    }
    uint64_t now = xm_clock();
    if (read_ms != 0 && now > read_ms && now - read_ms <= 100)
        frame_ms16 += (static_cast<int32_t>(now - read_ms) * 16 - frame_ms16) / 8;
    if (read_ms != 0 && shown_ms >= read_ms && shown_ms <= now && shown_ms - read_ms <= 100)
        swap_ms16 += (static_cast<int32_t>(shown_ms - read_ms) * 16 - swap_ms16) / 8;
    read_ms = now;
    int64_t delay = xm_live->delay();
    if (delay < 0) return;  // not known yet: the clock waits
    int32_t tick16 = dbx_ticsize * 16, tick_wait16 = 0;  // a pass without a tick waits a frame more
    if (tick16 > frame_ms16) tick_wait16 = frame_ms16 * (tick16 - frame_ms16) / tick16;
    int64_t ahead_ms = (frame_ms16 * 3 / 2 + tick_wait16 + swap_ms16) / 16 + dbx_av_offset_ms;
    int64_t heard = static_cast<int64_t>(xm_mixed) - delay + ahead_ms * md_mixfreq / 1000;
    xm_clock_sample = heard;
    xm_heard_at(heard, &xmtrack, &xmrow);
}

static int init_nosound(void) {
    md_device = static_cast<UWORD>(MikMod_DriverFromAlias(const_cast<CHAR *>("nosound")));
    if (md_device == 0 || MikMod_Init(const_cast<CHAR *>(""))) return -1;
    return 0;
}

// The first output that opens plays the music, at its rate.
static const xm_output *open_output(void) {
    for (const xm_output *out : xm_outputs) {
        unsigned rate = 48000;
        if (!out) continue;
        if (out->open(&rate) != 0) continue;
        md_mixfreq = static_cast<UWORD>(rate);
        md_mode = static_cast<UWORD>((md_mode | DMODE_STEREO | DMODE_16BITS) & ~DMODE_FLOAT);
        return out;
    }
    return nullptr;
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
    if (!xm_offline) {
        xm_live = open_output();
        if (xm_live) {
            read_ms = shown_ms = 0;
            dbx_frame_shown = frame_shown;
        } else {
            fputs("Failed to load mikmod drivers.\n", stderr);
            // Keep the show in time without a sound device.
            xm_silent = 1;
            result = -1;
        }
    }
    if (init_nosound()) return -1;
    module = Player_Load(const_cast<CHAR *>(xm_filename), 64, 0);
    if (module) {
        Player_Start(module);
        silent_last_ms = xm_clock();
        silent_ms = 0;
        xm_mixed = 0;
        xm_clock_sample = 0;
        xm_heard_reset();
    } else {
        fprintf(stderr, "Cannot load the music module \"%s\" (%s); the scenes follow the silent clock.\n",
                xm_filename, MikMod_strerror(MikMod_errno));
        fallback_start_ms = dbx_platform_clock();
        fallback_steps = 0;
    }
    return result;
}

int xmupdate(void) {
    if (!module) {
        // Without a song the scenes keep coming on the fallback clock, one
        // step a frame. Offline, where frames come at any rate, it steps as
        // often as a 60 Hz display would have shown a frame by now.
        if (xmplaying && xm_offline) {
            const uint64_t due = ((dbx_platform_clock() - fallback_start_ms) * 60 + 999) / 1000 + 1;
            for (; fallback_steps < due; fallback_steps++) xm_fallback_step();
        } else if (xmplaying) {
            xm_fallback_step();
        }
        return 0;
    }
    if (xm_live) {
        // The output is fed to the end and beyond (silence once the song
        // has stopped), so it never runs dry.
        live_update();
        return 0;
    }
    if (Player_Active()) {
        if (xm_advance)
            xm_advance();
        else
            silent_advance();
    }
    xmrow = static_cast<int>(static_cast<uint16_t>(module->patpos));
    xmtrack = static_cast<int>(static_cast<int16_t>(module->sngpos));
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
    if ((Player_Paused() != 0) != (paused != 0)) Player_TogglePause();
}
