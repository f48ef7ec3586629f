// Plays a module through libmikmod's software mixer into memory, without a
// sound device: the no-sound driver with VC_WriteBytes, which mixes and
// advances the player. Used by the xmrender tool to listen to the song and
// by the tests to check its timing and levels.
#pragma once

#include <mikmod.h>

#include <cstdint>
#include <string>
#include <vector>

// Starts libmikmod once per process with the no-sound driver at `rate` Hz,
// 16-bit stereo, with software music mixing and the library's other default
// mode bits (as the intro sets it up). Returns an empty text on success.
// Later calls with the same rate do nothing; a call with another rate
// restarts the library at that rate (free every loaded module first).
std::string render_open(unsigned rate);

// Loads a module held in memory (up to 64 channels, no hidden patterns).
// The caller frees it with Player_Free. Null on failure.
MODULE* render_load(const std::vector<uint8_t>& bytes);

struct RenderResult {
    std::vector<int16_t> pcm;              // interleaved stereo
    std::vector<int> positions;            // song positions in the order first reached
    std::vector<uint64_t> position_frame;  // frame count at the end of the chunk that first showed each
    uint64_t end_frame = 0;                // frame count when Player_Active() turned false
    bool ended = false;                    // it did, before max_seconds
};

// Starts `module` and mixes it in chunks of `chunk_frames` stereo frames
// until the player stops or `max_seconds` have been mixed.
RenderResult render_play(MODULE* module, unsigned chunk_frames, double max_seconds);

// Peak, RMS and clip count of 16-bit PCM.
struct PcmLevels {
    int peak = 0;
    double rms_dbfs = -200.0;
    double peak_dbfs = -200.0;
    size_t clipped = 0;  // samples with |s| >= 32767
};
PcmLevels pcm_levels(const std::vector<int16_t>& pcm);

// Writes 16-bit stereo PCM as a WAV file (temp file + rename). Empty text on success.
std::string write_wav(const std::string& path, const std::vector<int16_t>& pcm, unsigned rate,
                      const std::vector<std::string>& inputs = {});
