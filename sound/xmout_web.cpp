// The intro's music in a web browser: Web Audio as one more sound output.
// playxm mixes the song with libmikmod and hands it here like to PulseAudio
// or ALSA; the page schedules each buffer on its audio context right after
// the one before, a little ahead of the speakers. The delay this output
// reports comes from the context's output timestamp (which context time the
// speakers played at which moment), so the song clock shows the heard row
// and scenes switch on the heard beat.
#include "sound/xmout.h"

#include <emscripten.h>

#include <cstdint>
#include <cstdio>

enum { WEB_CHUNK = 2048 };  // sample frames per scheduled buffer, at most
static constexpr double web_lead_seconds = 0.2;  // queued ahead of the output

// ---------------------------------------------------------------- the page's side

// The page makes the audio context before the program starts (suspended
// until the first click) and routes Module.audioOut to the speakers.
EM_JS(int, web_audio_rate, (), {
    Module.webAudio = null;
    return Module.audio ? Module.audio.sampleRate : 0;
});

// Sample frames to queue now to stay the lead ahead of the context's time,
// in whole buffers.
EM_JS(uint32_t, web_audio_room, (double lead, int chunk), {
    var a = Module.audio;
    var w = Module.webAudio;
    var ahead = w ? w.next - a.currentTime : 0;
    if (ahead >= lead) return 0;
    return Math.ceil((lead - ahead) * a.sampleRate / chunk) * chunk;
});

// Schedules FRAMES sample frames right after the ones before. A late main
// thread (a hidden tab) lets the output run dry: the sound then resumes a
// little ahead of now; the delay below follows.
EM_JS(void, web_audio_queue, (const float *l, const float *r, int frames), {
    var a = Module.audio;
    var w = Module.webAudio;
    var soonest = a.currentTime + 0.05;
    if (!w) {
        w = Module.webAudio = { next: soonest };
    } else if (w.next < soonest) {
        w.next = soonest;
    }
    var buffer = a.createBuffer(2, frames, a.sampleRate);
    buffer.copyToChannel(HEAPF32.subarray(l >> 2, (l >> 2) + frames), 0);
    buffer.copyToChannel(HEAPF32.subarray(r >> 2, (r >> 2) + frames), 1);
    var source = a.createBufferSource();
    source.buffer = buffer;
    source.connect(Module.audioOut || a.destination);
    source.start(w.next);
    w.next += frames / a.sampleRate;
});

// Sample frames between the end of what is queued and what the speakers
// play now: by the output timestamp, or without one the current time less
// the context's latencies. -1 until the context runs and has played.
EM_JS(double, web_audio_delay, (), {
    var a = Module.audio;
    var w = Module.webAudio;
    if (!w || a.state !== 'running') return -1;
    var t;
    var stamp = a.getOutputTimestamp ? a.getOutputTimestamp() : null;
    if (stamp && stamp.performanceTime > 0)
        t = stamp.contextTime + (performance.now() - stamp.performanceTime) / 1000;
    else if (a.currentTime > 0)
        t = a.currentTime - (a.outputLatency || 0) - (a.baseLatency || 0);
    else
        return -1;
    return Math.max(0, Math.round((w.next - t) * a.sampleRate));
});

// Whether the context plays: it must be running and its time must move. A
// browser without a sound device may leave it suspended, or running with a
// clock that stands still; a second after the start the page gets its
// "no sound" note and the show goes on silently. A page cannot get another
// device, so a failed output does not open again.
EM_JS(int, web_audio_failed, (), {
    var a = Module.audio;
    if (!a || Module.webAudioFailed) return 1;
    var now = performance.now();
    var watch = Module.webAudioWatch;
    if (!watch) watch = Module.webAudioWatch = { since: now, time: a.currentTime };
    if (a.state === 'running' && a.currentTime !== watch.time) {
        watch.since = now;
        watch.time = a.currentTime;
        return 0;
    }
    if (now - watch.since <= 1000) return 0;
    Module.webAudioFailed = true;
    if (Module.webNoSound) Module.webNoSound();
    return 1;
});

EM_JS(void, web_audio_close, (), {
    Module.webAudio = null;
    Module.webAudioWatch = null;
});

// ---------------------------------------------------------------- the output

static int web_open(unsigned *rate) {
    if (EM_ASM_INT({ return Module.webAudioFailed ? 1 : 0; })) return -1;
    const int r = web_audio_rate();
    if (r <= 0 || r > 65535) return -1;  // no Web Audio, or more than the mixer's rate holds
    *rate = static_cast<unsigned>(r);
    return 0;
}

static uint32_t web_room(void) { return web_audio_room(web_lead_seconds, WEB_CHUNK); }

// Web Audio takes one float array per channel.
static void web_write(const int16_t *pcm, uint32_t frames) {
    static float left[WEB_CHUNK], right[WEB_CHUNK];
    while (frames > 0) {
        const uint32_t n = frames < WEB_CHUNK ? frames : WEB_CHUNK;
        for (uint32_t i = 0; i < n; i++) {
            left[i] = static_cast<float>(pcm[2 * i]) / 32768.0f;
            right[i] = static_cast<float>(pcm[2 * i + 1]) / 32768.0f;
        }
        web_audio_queue(left, right, static_cast<int>(n));
        pcm += 2 * n;
        frames -= n;
    }
}

static int64_t web_delay(void) { return static_cast<int64_t>(web_audio_delay()); }

static const xm_output web_output = {web_open, web_room, web_write, web_delay, web_audio_failed, web_audio_close};
const xm_output *const xm_web_output = &web_output;
