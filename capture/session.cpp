// The offline run: a virtual clock for the tick clock, and the music mixed by
// libmikmod's software mixer, exactly one frame's worth of sound per frame.
#include "invitro_capture.h"

#include "drawboxlib/drawboxlib.h"
#include "drawboxlib/platforms/capture_layer.h"
#include "intro.h"
#include "playxm.h"

#include <mikmod.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

int capture_fps = 60;
uint64_t capture_frame;
int16_t *capture_audio;
uint32_t capture_audio_frames;

// The tick clock treats a time of 0 as "never started", so the virtual clock
// begins a day after its own epoch.
static constexpr uint64_t clock_origin_ms = 86400000;

uint32_t capture_samples_for_frame(uint64_t n, int fps) {
    const uint64_t f = static_cast<uint64_t>(fps);
    return static_cast<uint32_t>((n + 1) * CAPTURE_MIXFREQ / f - n * CAPTURE_MIXFREQ / f);
}

// A millisecond wall clock read at the instant n / fps would show the whole
// milliseconds that have passed, so that is what the virtual clock shows: the
// tick due 1 ms after a boundary lands on the first frame at least 1 ms past
// it, just as it would in real time.
uint64_t capture_clock(void) {
    return clock_origin_ms + capture_frame * 1000u / static_cast<uint64_t>(capture_fps);
}

// Called by the song clock once per frame while the song plays: mixing is
// what moves the player on, so the song advances by exactly this frame.
static void mix_frame(void) {
    const uint32_t want = capture_samples_for_frame(capture_frame, capture_fps);
    const ULONG bytes = want * CAPTURE_CHANNELS * sizeof(int16_t);
    VC_WriteBytes(reinterpret_cast<SBYTE *>(capture_audio), bytes);
    capture_audio_frames = want;
}

void capture_start(int width, int height, int fps) {
    // The intro from its first frame, whatever ran in this process before.
    dbx_reset();
    intro_reset();
    capture_fps = fps;
    capture_frame = 0;
    const size_t most = static_cast<size_t>(CAPTURE_MIXFREQ / fps + 1) * CAPTURE_CHANNELS;
    capture_audio = static_cast<int16_t *>(calloc(most, sizeof(int16_t)));
    if (!capture_audio) dbx_fail("invitro-capture: out of memory for the sound buffer\n");
    // The music: no sound device, 48 kHz 16-bit stereo from the software mixer.

    xm_advance = mix_frame;
    md_mixfreq = CAPTURE_MIXFREQ;
    md_mode = static_cast<UWORD>((md_mode | DMODE_STEREO | DMODE_16BITS | DMODE_SOFT_MUSIC) & ~DMODE_FLOAT);
    dbx_platform_clock = capture_clock;
    dbx_capture_width = width;
    dbx_capture_height = height;
    dbx_platform_start();
}

void capture_step(void) {
    capture_audio_frames = 0;
    // A pass without an update (at 60 fps, every third) keeps the frame
    // before rather than drawing and reading it back again.
    dbx_platform_pass();
    // Once the song has ended (or when there is none) the frame is silent,
    // so the sound always lasts exactly as long as the picture.
    const uint32_t want = capture_samples_for_frame(capture_frame, capture_fps);
    if (capture_audio_frames < want) {
        memset(capture_audio + capture_audio_frames * CAPTURE_CHANNELS, 0,
               (want - capture_audio_frames) * CAPTURE_CHANNELS * sizeof(int16_t));
        capture_audio_frames = want;
    }
    capture_frame++;
}

int capture_music_loaded(void) { return module != nullptr; }

int capture_song_ended(void) { return module != nullptr && !Player_Active(); }

double capture_song_progress(void) {
    if (!module || module->numpos == 0) return 0.0;
    if (!Player_Active()) return 1.0;
    const double rows = module->numrow > 0 ? module->numrow : 64;
    double done = (module->sngpos + module->patpos / rows) / module->numpos;
    return done < 0 ? 0 : done > 1 ? 1 : done;
}

std::vector<std::string> capture_inputs(void) {
    std::vector<std::string> files = {dbx_data_file("out.png").text, dbx_data_file(xm_filename).text};
    std::error_code ec;
    for (const auto &entry : std::filesystem::directory_iterator(dbx_data_file("data").text, ec))
        files.push_back(entry.path().string());
    return files;
}

const char capture_timeline_header[] = "frame,time_ms,position,row,beat,scene";

void capture_timeline_row(char *line, size_t size) {
    const uint64_t n = capture_frame - 1;
    const uint64_t us = n * 1000000u / static_cast<uint64_t>(capture_fps);
    const char *scene = intro_scene_name();
    snprintf(line, size, "%llu,%llu.%03llu,%d,%d,%u,%.20s", static_cast<unsigned long long>(n),
             static_cast<unsigned long long>(us / 1000), static_cast<unsigned long long>(us % 1000), xmtrack,
             xmrow, beatnow(), scene);
}
