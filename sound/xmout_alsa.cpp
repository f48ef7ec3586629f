// ALSA playback (the Raspberry Pi console): the default device opened
// without blocking, topped up once per frame; its delay says what is being
// heard.
#include "sound/xmout.h"

#include <alsa/asoundlib.h>

static snd_pcm_t *pcm;
static bool lost;  // an error that starting again did not mend

// ALSA prints its own errors (a missing card, an unknown device) on
// standard error; an output that does not open says nothing, as the others
// do, also when it is tried again every few seconds.
static void quiet(const char *, int, const char *, int, const char *, ...) {}

static void alsa_close(void) {
    if (pcm) snd_pcm_close(pcm);
    pcm = nullptr;
}

static int alsa_open(unsigned *rate) {
    snd_lib_error_set_handler(quiet);
    if (snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) return -1;
    // On a desktop the default device is a plugin that plays to a sound
    // server (PulseAudio, PipeWire), and it waits without a limit, also
    // every frame, while that server hangs. The PulseAudio output plays to
    // such a server without ever waiting, so ALSA is left to real devices.
    if (xm_pulse_output && snd_pcm_type(pcm) == SND_PCM_TYPE_IOPLUG) {
        alsa_close();
        return -1;
    }
    // ALSA's own choice of buffer and periods for this much delay; its plug
    // layer converts the rate where the device cannot play it.
    if (snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16, SND_PCM_ACCESS_RW_INTERLEAVED, 2, *rate, 1,
                           XM_OUTPUT_AHEAD_MS * 1000u) < 0) {
        alsa_close();
        return -1;
    }
    lost = false;
    return 0;
}

// An output that ran dry is started again: the sound has a gap, the song
// clock stays right since the delay is asked for afresh. A device that has
// gone (unplugged, an HDMI screen switched off) cannot be started again.
static void recover(int error) {
    if (snd_pcm_recover(pcm, error, 1) < 0) lost = true;
}

static uint32_t alsa_room(void) {
    if (!pcm || lost) return 0;
    snd_pcm_sframes_t n = snd_pcm_avail(pcm);
    if (n < 0) {
        recover(static_cast<int>(n));
        n = snd_pcm_avail(pcm);
    }
    return n > 0 ? static_cast<uint32_t>(n) : 0;
}

static void alsa_write(const int16_t *samples, uint32_t frames) {
    while (frames > 0) {
        snd_pcm_sframes_t n = snd_pcm_writei(pcm, samples, frames);
        if (n == -EAGAIN) return;
        if (n < 0) {
            recover(static_cast<int>(n));  // the rest of this piece is lost
            return;
        }
        samples += n * 2;
        frames -= static_cast<uint32_t>(n);
    }
}

static int64_t alsa_delay(void) {
    snd_pcm_sframes_t frames = 0;
    if (!pcm || lost || snd_pcm_delay(pcm, &frames) < 0) return -1;
    return frames < 0 ? 0 : frames;
}

static int alsa_failed(void) {
    return !pcm || lost || snd_pcm_state(pcm) == SND_PCM_STATE_DISCONNECTED;
}

static const xm_output alsa = {alsa_open, alsa_room, alsa_write, alsa_delay, alsa_failed, alsa_close};
const xm_output *const xm_alsa_output = &alsa;
