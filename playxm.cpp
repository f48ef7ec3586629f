// Music playback through libmikmod and the song clock that drives the show.
#include "playxm.h"

#include "drawboxlib/drawboxlib.h"

#include <cstdio>
#include <cstdlib>

int xmplaying;
MODULE *module;
int xmtrack;
int xmrow;
int xm_silent;
int xm_offline;
void (*xm_advance)(void);
const char *xm_filename = "omber.xm";

static uint64_t silent_start_ms;  // when silent mixing began
static uint64_t silent_mixed;     // sample frames mixed since then

static unsigned int bytes_per_sample_frame(void) {
    unsigned int bytes = (md_mode & DMODE_FLOAT) ? 4 : (md_mode & DMODE_16BITS) ? 2 : 1;
    return (md_mode & DMODE_STEREO) ? bytes * 2 : bytes;
}

// No sound device: mix as many samples as wall-clock time has passed and
// throw them away. The player advances inside the mixer, so positions and
// rows change at the module's own tempo.
static void silent_advance(void) {
    static SBYTE scratch[16384];
    uint64_t elapsed = dbx_platform_clock() - silent_start_ms;
    uint64_t due = elapsed * md_mixfreq / 1000;
    unsigned int frame_bytes = bytes_per_sample_frame();
    while (silent_mixed < due) {
        uint64_t frames = due - silent_mixed;
        uint64_t room = sizeof scratch / frame_bytes;
        if (frames > room) frames = room;
        VC_WriteBytes(scratch, static_cast<ULONG>(frames * frame_bytes));
        silent_mixed += frames;
    }
}

static int init_nosound(void) {
    md_device = static_cast<UWORD>(MikMod_DriverFromAlias(const_cast<CHAR *>("nosound")));
    if (md_device == 0 || MikMod_Init(const_cast<CHAR *>(""))) return -1;
    return 0;
}

int playxm(void) {
    if (xmplaying) return 0;
    xmplaying = 1;
    int result = 0;
    if (xm_offline)
        MikMod_RegisterDriver(&drv_nos);
    else
        MikMod_RegisterAllDrivers();
    MikMod_RegisterAllLoaders();
    md_mode |= DMODE_SOFT_MUSIC;
    // libmikmod's SDL audio driver would otherwise start SDL with its signal
    // handlers, which turn Ctrl-C and SIGTERM into events nobody reads: the
    // intro could then only be stopped with SIGKILL.
    setenv("SDL_NO_SIGNAL_HANDLERS", "1", 0);
    if (xm_offline) {
        if (init_nosound()) return -1;
    } else if (MikMod_Init(const_cast<CHAR *>(""))) {
        fputs("Failed to load mikmod drivers.\n", stderr);
        // Keep the show in time without a sound device.
        if (init_nosound()) return -1;
        xm_silent = 1;
        result = -1;
    }
    module = Player_Load(const_cast<CHAR *>(xm_filename), 64, 0);
    if (module) {
        Player_Start(module);
        silent_start_ms = dbx_platform_clock();
        silent_mixed = 0;
    } else {
        fprintf(stderr, "Cannot load the music module \"%s\" (%s); the scenes follow the silent clock.\n",
                xm_filename, MikMod_strerror(MikMod_errno));
    }
    return result;
}

int xmupdate(void) {
    if (!module) {
        // Without a song the scenes keep coming on the fallback clock.
        if (xmplaying) xm_fallback_step();
        return 0;
    }
    if (Player_Active()) {
        if (xm_advance)
            xm_advance();
        else if (xm_silent || xm_offline)
            silent_advance();
        else
            MikMod_Update();
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
