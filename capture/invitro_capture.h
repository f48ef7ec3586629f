// invitro-capture: the intro rendered offline, frame by frame, with its music
// mixed to match. Frame n happens at exactly n / fps seconds of a virtual
// clock; picture and sound come from the same pass of the main loop.
#ifndef INVITRO_CAPTURE_H
#define INVITRO_CAPTURE_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum { CAPTURE_MIXFREQ = 48000, CAPTURE_CHANNELS = 2 };

// ---------------------------------------------------------------- the run (session.cpp)

extern int capture_fps;
extern uint64_t capture_frame;            // frames made so far = the next frame's number
extern int16_t *capture_audio;            // the last frame's sound, interleaved stereo
extern uint32_t capture_audio_frames;     // sample frames in it

// Sample frames that belong to frame n: the sound of frames 0..n-1 always
// adds up to floor(n * 48000 / fps), so it never drifts from the picture.
uint32_t capture_samples_for_frame(uint64_t n, int fps);

// The virtual time of the next frame in milliseconds, as the tick clock reads it.
uint64_t capture_clock(void);

// Starts the intro off screen at this size and rate (display, atlas, and the
// offline mixer set up for the music). Call once.
void capture_start(int width, int height, int fps);

// Makes one frame: one pass of the intro's main loop. Afterwards the picture
// is the capture layer's last frame and its sound is in capture_audio.
void capture_step(void);

int capture_music_loaded(void);  // after the first frame: did the module load?
int capture_song_ended(void);    // the player has stopped at the song's end
double capture_song_progress(void);  // 0..1 through the order list

// The files the intro reads from its folder: its atlas, its module and the
// scene files under data/. No output of a run may be one of them.
std::vector<std::string> capture_inputs(void);

// One line of the timeline for the last frame: frame, time in ms, song
// position, row, beat number, scene name (128 bytes are always enough).
void capture_timeline_row(char *line, size_t size);
extern const char capture_timeline_header[];

// ---------------------------------------------------------------- output (output.cpp)

// Set by a signal that ends the capture (SIGINT, SIGTERM, SIGHUP, SIGQUIT):
// every wait on ffmpeg stops within 100 ms, and the output fails. Atomic:
// the writer thread reads it too (lock-free, so a signal handler may set it).
extern std::atomic<int> capture_interrupted;
static_assert(std::atomic<int>::is_always_lock_free, "set from a signal handler");

// Is there an executable "ffmpeg" in a directory of PATH?
bool output_ffmpeg_on_path(void);

// Where the frames go: an MP4 through ffmpeg, or (no ffmpeg) a folder of PNG
// frames and a WAV file named after the output. Every file is written under a
// temporary name and renamed into place by output_finish.
struct output_names {
    std::string video;       // the MP4 (ffmpeg) ...
    std::string frames_dir;  // ... or the PNG folder
    std::string wav;         // and the WAV file (fallback only)
};
output_names output_names_for(const std::string &path);

// A frame's pixels where they lie: the top row, then each next row stride
// bytes on (negative for rows stored bottom first), four bytes a pixel in
// RGBA or BGRA order. Alpha is never read.
struct output_picture {
    const unsigned char *top_row;
    ptrdiff_t stride;
    bool bgra;
};

int output_open(const std::string &path, int width, int height, int fps, bool use_ffmpeg);
// One frame and its sound. same_picture: the pixels are the last frame's
// again (a kept frame), which are not converted or encoded again. Without
// ffmpeg the picture must be opaque RGBA rows, top first, back to back (the
// PNG files are made from it as it is). With ffmpeg the picture is converted
// on another thread: it must stay as it is until the next call with a new
// picture has returned.
int output_frame(const output_picture &picture, bool same_picture, const int16_t *audio, uint32_t sample_frames);
int output_finish(void);  // 0: everything is in place under its final name
void output_abort(void);  // removes every temporary file
void output_unfinish(void);  // removes what output_finish put in place
const std::string &output_error(void);

// A picture (even width and height) as planar 4:2:0 YCbCr, the encoder's
// input: w*h luma bytes, then each chroma plane at half the width and
// height, each chroma sample from 2x2 pixels.
void output_to_yuv420(const output_picture &picture, int w, int h, unsigned char *out);

#endif
