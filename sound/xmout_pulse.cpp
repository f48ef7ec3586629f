// PulseAudio playback: opened on a thread of its own, then played on the
// frame loop's thread: the client's main loop is run without blocking once
// per frame, the stream is topped up with
// whatever it has room for, and its latency says what is being heard.
#include "sound/xmout.h"

#include <pulse/pulseaudio.h>

#include <ctime>

static pa_mainloop *loop;
static pa_context *context;
static pa_stream *stream;
static pa_operation *timing;  // the request for fresh timing, while it runs
static unsigned stream_rate;
static uint64_t written;  // frames handed to the server
// When the last timing report was asked for, in microseconds on the
// monotonic clock (0: none yet): a local server answers at once, and the
// answer is only seen at the next frame, so the asking is the closer moment.
// The report's own stamp is on the wall clock, which NTP or a user may step
// by hours while the show runs.
static int64_t report_us, asked_us;

static void run_pending(void) {
    while (pa_mainloop_iterate(loop, 0, nullptr) > 0) {
    }
}

static int64_t monotonic_us(void) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

static void report_arrived(pa_stream *, int success, void *) {
    if (success) report_us = asked_us;
}

// Asks the server where playback is, sending the question at once (the
// main loop would send it only at the next frame); the answer comes with a
// later iteration of the main loop.
static void ask_for_timing(void) {
    if (timing) pa_operation_unref(timing);
    asked_us = monotonic_us();
    timing = pa_stream_update_timing_info(stream, report_arrived, nullptr);
    run_pending();
}

static void close_all(void) {
    if (timing) pa_operation_unref(timing);
    timing = nullptr;
    if (stream) pa_stream_unref(stream);
    if (context) {
        pa_context_disconnect(context);
        pa_context_unref(context);
    }
    if (loop) pa_mainloop_free(loop);
    stream = nullptr;
    context = nullptr;
    loop = nullptr;
    report_us = 0;
}

// Runs the main loop until `ready` says yes or no, for two seconds at most.
template <typename F> static bool wait_until(F ready) {
    for (int i = 0; i < 2000; i++) {
        run_pending();
        int state = ready();
        if (state != 0) return state > 0;
        struct timespec ms = {0, 1000000};
        nanosleep(&ms, nullptr);
    }
    return false;
}

static int pulse_open(unsigned *rate) {
    loop = pa_mainloop_new();
    if (!loop) return -1;
    context = pa_context_new(pa_mainloop_get_api(loop), "Fennick 2019 Invitro");
    // Only a server that is already running: starting one is the desktop's job.
    if (!context || pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
        !wait_until([] {
            pa_context_state_t s = pa_context_get_state(context);
            return s == PA_CONTEXT_READY ? 1 : PA_CONTEXT_IS_GOOD(s) ? 0 : -1;
        })) {
        close_all();
        return -1;
    }
    const pa_sample_spec spec = {PA_SAMPLE_S16LE, *rate, 2};
    stream = pa_stream_new(context, "music", &spec, nullptr);
    if (!stream) {
        close_all();
        return -1;
    }
    // The server's buffer holds XM_OUTPUT_AHEAD_MS; the device plays from
    // small pieces of it (early requests: the device's own buffer is about
    // minreq, 10 ms), so the whole delay stays near XM_OUTPUT_AHEAD_MS.
    pa_buffer_attr attr;
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.tlength = static_cast<uint32_t>(pa_usec_to_bytes(XM_OUTPUT_AHEAD_MS * 1000ull, &spec));
    attr.prebuf = static_cast<uint32_t>(-1);
    attr.minreq = static_cast<uint32_t>(pa_usec_to_bytes(10000, &spec));
    attr.fragsize = static_cast<uint32_t>(-1);
    const pa_stream_flags_t flags = PA_STREAM_EARLY_REQUESTS;
    if (pa_stream_connect_playback(stream, nullptr, &attr, flags, nullptr, nullptr) < 0 ||
        !wait_until([] {
            pa_stream_state_t s = pa_stream_get_state(stream);
            return s == PA_STREAM_READY ? 1 : PA_STREAM_IS_GOOD(s) ? 0 : -1;
        })) {
        close_all();
        return -1;
    }
    stream_rate = *rate;
    written = 0;
    report_us = 0;
    // The first report says how far behind the server plays (its sink's
    // latency), which is how long the first sample written takes to be
    // heard. Without one the delay is not known yet.
    ask_for_timing();
    wait_until([] { return report_us != 0 ? 1 : !timing || pa_operation_get_state(timing) != PA_OPERATION_RUNNING ? -1 : 0; });
    return 0;
}

// Every frame asks the server where playback is (the answer comes by the
// next frame), so the delay is never more than a frame or two old.
static uint32_t pulse_room(void) {
    if (!stream) return 0;
    run_pending();
    if (pa_stream_get_state(stream) != PA_STREAM_READY) return 0;
    if (!timing || pa_operation_get_state(timing) != PA_OPERATION_RUNNING) ask_for_timing();
    size_t bytes = pa_stream_writable_size(stream);
    return bytes == static_cast<size_t>(-1) ? 0 : static_cast<uint32_t>(bytes / 4);
}

static void pulse_write(const int16_t *pcm, uint32_t frames) {
    if (pa_stream_write(stream, pcm, frames * 4u, nullptr, 0, PA_SEEK_RELATIVE) == 0) written += frames;
}

// Heard now: what the device had taken from the stream when the server last
// reported, less what the device still held then, plus the time since the
// report was asked for, on the monotonic clock. The report is at most a
// frame or two old; one that seems older than the output's whole queue (the
// server stopped answering) counts as that old at most.
static int64_t pulse_delay(void) {
    if (!stream || pa_stream_get_state(stream) != PA_STREAM_READY || report_us == 0) return -1;
    const pa_timing_info *t = pa_stream_get_timing_info(stream);
    if (!t || t->read_index_corrupt || t->read_index < 0) return -1;
    const int64_t rate = stream_rate;
    int64_t heard = t->read_index / 4 - static_cast<int64_t>(t->sink_usec) * rate / 1000000;
    if (t->playing) {
        int64_t age = monotonic_us() - report_us;
        if (age < 0) age = 0;
        if (age > XM_OUTPUT_AHEAD_MS * 1000) age = XM_OUTPUT_AHEAD_MS * 1000;
        heard += age * rate / 1000000;
    }
    int64_t delay = static_cast<int64_t>(written) - heard;
    return delay < 0 ? 0 : delay;
}

// The server went away (killed, restarted) or dropped the stream, or has
// left a question about the timing unanswered for the stall limit (stopped
// with SIGSTOP, hung). room() has just handed over every answer that came,
// so a show that was itself stopped for a while does not count.
static int pulse_failed(void) {
    if (!context || !stream) return 1;
    if (timing && pa_operation_get_state(timing) == PA_OPERATION_RUNNING &&
        monotonic_us() - asked_us > int64_t{XM_OUTPUT_STALL_MS} * 1000)
        return 1;
    return !PA_CONTEXT_IS_GOOD(pa_context_get_state(context)) || !PA_STREAM_IS_GOOD(pa_stream_get_state(stream));
}

static const xm_output pulse = {pulse_open, pulse_room, pulse_write, pulse_delay, pulse_failed, close_all};
const xm_output *const xm_pulse_output = &pulse;
