// The intro's music in a web browser. libmikmod's software mixer runs on its
// no-sound driver and fills buffers that the page schedules back to back on
// its Web Audio context, a little ahead of the output. What is mixed is
// therefore not yet what is heard: a history of the sample at which each song
// position and row began, read at the sample the audio output is playing
// now (the context's output timestamp), gives the song clock the position
// being heard, so scenes switch on the heard beat.
#include "drawboxlib/drawboxlib.h"
#include "intro.h"
#include "playxm.h"
#include "web/heard.h"

#include <emscripten.h>
#include <mikmod.h>

#include <cstdint>
#include <cstdio>

enum {
    WEB_CHUNK = 2048,   // sample frames per scheduled buffer
    WEB_PIECE = 64,     // mixed at a time: where a row begins is known to within this
};
static_assert(WEB_CHUNK % WEB_PIECE == 0, "a buffer is whole pieces");
static constexpr double web_lead_seconds = 0.2;  // mixed ahead of the output

static int64_t mixed;  // sample frames mixed since the song started
static int64_t heard;  // the sample the song clock was last set from
static float left[WEB_CHUNK], right[WEB_CHUNK];
static int16_t piece[WEB_PIECE * 2];

// ---------------------------------------------------------------- the page's side

// The page makes the audio context before the program starts (suspended
// until the first click) and routes Module.audioOut to the speakers.
EM_JS(int, web_audio_rate, (), {
    return Module.audio ? Module.audio.sampleRate : 0;
});

// Seconds of sound scheduled beyond the context's current time.
EM_JS(double, web_audio_ahead, (), {
    var w = Module.webAudio;
    return w ? w.next - Module.audio.currentTime : 0;
});

// Schedules FRAMES sample frames right after the ones before. A late main
// thread (a hidden tab) lets the output run dry: the sound then resumes a
// little ahead of now, and the song's start moves by as much, so the heard
// position stays right.
EM_JS(void, web_audio_queue, (const float *l, const float *r, int frames), {
    var a = Module.audio;
    var w = Module.webAudio;
    var soonest = a.currentTime + 0.05;
    if (!w) {
        w = Module.webAudio = { start: soonest, next: soonest };
    } else if (w.next < soonest) {
        w.start += soonest - w.next;
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

// The sample frame of the song at the audio output now (negative before the
// first one is heard): the output timestamp says which context time the
// speakers played at which moment; without one, the current time less the
// context's latencies.
EM_JS(double, web_audio_heard, (), {
    var a = Module.audio;
    var w = Module.webAudio;
    if (!w) return -1;
    var t;
    var stamp = a.getOutputTimestamp ? a.getOutputTimestamp() : null;
    if (stamp && stamp.performanceTime > 0)
        t = stamp.contextTime + (performance.now() - stamp.performanceTime) / 1000;
    else
        t = a.currentTime - (a.outputLatency || 0) - (a.baseLatency || 0);
    return Math.floor((t - w.start) * a.sampleRate);
});

// ---------------------------------------------------------------- mixing

static void note_position(int64_t at) {
    heard_note(at, static_cast<int16_t>(module->sngpos), static_cast<uint16_t>(module->patpos));
}

// Mixes one scheduled buffer. The player moves on inside the mixer at the
// start of a tick, so a position read after a piece began at the latest at
// that piece's end: that is the sample it is credited with.
static void mix_chunk(void) {
    for (int done = 0; done < WEB_CHUNK; done += WEB_PIECE) {
        VC_WriteBytes(reinterpret_cast<SBYTE *>(piece), sizeof piece);
        for (int i = 0; i < WEB_PIECE; i++) {
            left[done + i] = static_cast<float>(piece[2 * i]) / 32768.0f;
            right[done + i] = static_cast<float>(piece[2 * i + 1]) / 32768.0f;
        }
        mixed += WEB_PIECE;
        note_position(mixed);
    }
    web_audio_queue(left, right, WEB_CHUNK);
}

// Once per frame while the song plays: keep the output fed a little ahead.
static void web_advance(void) {
    if (mixed == 0) note_position(0);
    while (web_audio_ahead() < web_lead_seconds) mix_chunk();
}

// Before the first sound the song has not started (position -1), which
// keeps the director waiting.
static void web_heard(int *track, int *row) {
    int32_t heard_track, heard_row;
    heard = static_cast<int64_t>(web_audio_heard());
    if (heard >= 0 && heard_at(heard, &heard_track, &heard_row)) {
        *track = heard_track;
        *row = heard_row;
    } else {
        *track = -1;
        *row = 0;
    }
}

// Set before the first frame: the no-sound driver only, and the song clock
// from what is heard. Without Web Audio the song still keeps its own time,
// mixed and thrown away like on a machine without a sound device.
static int hook_up(void) {
    heard_reset();
    xm_offline = 1;
    const int rate = web_audio_rate();
    if (rate <= 0 || rate > 65535) return 0;  // what the mixer's rate can hold
    md_mixfreq = static_cast<UWORD>(rate);
    md_mode = static_cast<UWORD>((md_mode | DMODE_STEREO | DMODE_16BITS | DMODE_SOFT_MUSIC) & ~DMODE_FLOAT);
    xm_advance = web_advance;
    xm_heard = web_heard;
    return 1;
}
static const int hooked = hook_up();

// ---------------------------------------------------------------- for the page and its test

// The state of the show as one line of JSON (read by the browser test).
extern "C" EMSCRIPTEN_KEEPALIVE const char *web_state(void) {
    static char line[320];
    const char *scene = currentscene >= 0 && currentscene < SCENE_COUNT ? scenes[currentscene].name : "";
    snprintf(line, sizeof line,
             "{\"audio\":%d,\"rate\":%u,\"heard\":%lld,\"mixed\":%lld,\"track\":%d,\"row\":%d,\"tics\":%d,\"screen\":[%d,%d],\"left\":%d,\"scene\":\"%.20s\"}",
             hooked, static_cast<unsigned>(md_mixfreq), static_cast<long long>(hooked ? heard : -1), static_cast<long long>(mixed), xmtrack, xmrow,
             static_cast<int>(dbx_tics), static_cast<int>(dbx_screen_width), static_cast<int>(dbx_screen_height),
             static_cast<int>(dbx_viewport_left), scene);
    return line;
}

// The sample frame at which song position TRACK began, or -1.
extern "C" EMSCRIPTEN_KEEPALIVE double web_position_start(int track) {
    return static_cast<double>(heard_position_start(track));
}
