// Sound outputs that can say how far behind the speaker is: the music is
// mixed by libmikmod into our own buffers and handed to one of these, and
// the song clock follows what the output reports as heard.
#ifndef XMOUT_H
#define XMOUT_H

#include <cstdint>

struct xm_output {
    // Opens the default device for 16-bit stereo at about `*rate` Hz and
    // sets `*rate` to the rate it plays at. 0 on success; nothing is
    // printed on failure. Called on a thread of its own, which then hands
    // the output over; it may block as long as a hung server makes it.
    int (*open)(unsigned *rate);
    // Sample frames it takes now without waiting (it also does the
    // output's housekeeping, so it is called first every frame).
    uint32_t (*room)(void);
    // Queues `frames` interleaved stereo frames; they fit in room().
    void (*write)(const int16_t *pcm, uint32_t frames);
    // Sample frames between the last one written and the one heard now, or
    // -1 while the output cannot tell yet. Asked once before anything is
    // written, it is how long the first sample written takes to be heard.
    int64_t (*delay)(void);
    // Non-zero once the output has stopped playing for good: its server
    // went away, its device was unplugged or switched off, or (in a
    // browser) it never started. Asked after room() every frame.
    int (*failed)(void);
    // Lets go of everything the output holds, so that open() can be tried
    // again later.
    void (*close)(void);
};

// The outputs tried in order (null entries, outputs this build lacks, are
// passed over): PulseAudio (also PipeWire's pulse server) where a server
// runs, else ALSA's default device; Web Audio in a browser.
extern const xm_output *xm_outputs[4];

// Each output. Null where a library was not found at build time.
extern const xm_output *const xm_pulse_output;
extern const xm_output *const xm_alsa_output;
// Web Audio in a web browser (the web build only).
extern const xm_output *const xm_web_output;

// How much music is kept queued ahead of the speaker, in milliseconds: a
// frame may come this late (a scene load, a busy machine: on a loaded
// two-core machine the loop was seen to stall for over half a second)
// without the sound running dry. The song clock takes the whole delay into
// account, so queueing more never moves the picture against the sound.
enum { XM_OUTPUT_AHEAD_MS = 1000 };

// An output whose heard sample has not moved for this long has stalled
// (a server that hangs, a device that takes nothing) and counts as failed.
enum { XM_OUTPUT_STALL_MS = 2000 };
// The first frame waits this long at most for the outputs to open.
enum { XM_OUTPUT_OPEN_WAIT_MS = 1000 };
// Without sound, an output is tried again this often.
enum { XM_OUTPUT_RETRY_MS = 3000 };

#endif
