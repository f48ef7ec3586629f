// xmwriter: an in-memory model of an extended module (XM, format version
// 0x0104) and a function that turns it into the bytes of a module file.
//
// The model is plain data: fill in an XmModule, call xm_write, store the
// bytes. xm_write checks the model first and throws std::invalid_argument
// with a readable message when something cannot be written (a pattern whose
// cell count does not match rows x channels, an order entry that names no
// pattern, an 8-bit sample value outside -128..127, ...).
//
// Conventions of the model:
// - Notes: 0 = no note, 1..96 = C-0..B-7 (49 is C-4), XM_NOTE_OFF = key off.
// - Instruments are numbered from 1 in pattern cells; 0 = none.
// - Volume column: 0 = nothing, 0x10..0x50 = set volume 0..64, 0x60.. = the
//   volume-column effects, written as given.
// - Effect 0 with parameter 0 is "no effect"; effect 0 with a parameter is
//   arpeggio.
// - Sample data is kept as int16_t values. An 8-bit sample keeps values in
//   -128..127; a 16-bit sample uses the full range. Loop start and length
//   are counted in sample frames (not bytes); the writer converts them.
// - Delta coding and pattern packing are done by the writer.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

constexpr uint8_t XM_NOTE_OFF = 97;
constexpr int XM_MAX_CHANNELS = 32;
constexpr int XM_MAX_PATTERNS = 256;
constexpr int XM_MAX_INSTRUMENTS = 128;
constexpr int XM_MAX_ENVELOPE_POINTS = 12;

// The pieces of a note in the XM scale: xm_note(4, 0) is C-4 = 49.
constexpr uint8_t xm_note(int octave, int semitone) {
    return static_cast<uint8_t>(octave * 12 + semitone + 1);
}
// Volume column value that sets the volume (0..64).
constexpr uint8_t xm_vol(int volume) { return static_cast<uint8_t>(0x10 + volume); }
// The volume (0..64) a volume column value sets, or -1 when it sets none.
constexpr int xm_vol_level(uint8_t column) { return column >= 0x10 && column <= 0x50 ? column - 0x10 : -1; }

struct XmCell {
    uint8_t note = 0;
    uint8_t instrument = 0;
    uint8_t volume = 0;
    uint8_t effect = 0;
    uint8_t param = 0;
};

struct XmPattern {
    uint16_t rows = 64;
    std::vector<XmCell> cells;  // rows x channels, row by row
};

struct XmEnvelopePoint {
    uint16_t tick = 0;   // ticks from the note start
    uint16_t value = 0;  // 0..64
};

struct XmEnvelope {
    bool on = false;
    std::vector<XmEnvelopePoint> points;  // at most 12, ticks increasing
    int sustain = -1;                     // point index, -1 = none
    int loop_start = -1;                  // point indices, -1 = no loop
    int loop_end = -1;
};

enum class XmLoop : uint8_t { none = 0, forward = 1, pingpong = 2 };

struct XmSample {
    std::string name;         // up to 22 characters
    uint8_t volume = 64;      // 0..64
    int8_t finetune = 0;      // -128..127, 1/128 semitone
    uint8_t panning = 128;    // 0..255
    int8_t relative_note = 0; // semitones relative to C-4 = 8363 Hz
    XmLoop loop = XmLoop::none;
    uint32_t loop_start = 0;  // frames
    uint32_t loop_length = 0; // frames
    bool sixteen_bit = true;
    std::vector<int16_t> data;
};

struct XmInstrument {
    std::string name;                         // up to 22 characters
    std::array<uint8_t, 96> sample_for_note{};  // sample index per note, 0-based
    XmEnvelope volume_envelope;
    XmEnvelope panning_envelope;
    uint8_t vibrato_type = 0;   // 0 sine, 1 square, 2 ramp down, 3 ramp up
    uint8_t vibrato_sweep = 0;
    uint8_t vibrato_depth = 0;
    uint8_t vibrato_rate = 0;
    uint16_t fadeout = 0;       // 0..0xfff
    std::vector<XmSample> samples;  // at most 16
};

struct XmModule {
    std::string name;                        // up to 20 characters
    std::string tracker = "invitro xmwriter";  // up to 20 characters
    uint16_t channels = 8;                   // 1..32
    uint16_t speed = 6;                      // ticks per row
    uint16_t bpm = 125;
    uint16_t restart = 0;                    // order index played after the end when looping
    bool linear_frequencies = true;
    std::vector<uint8_t> order;              // 1..256 pattern indices
    std::vector<XmPattern> patterns;
    std::vector<XmInstrument> instruments;
};

// An empty pattern of `rows` rows for `channels` channels.
XmPattern xm_pattern(int rows, int channels);

// The cell at (row, channel) of a pattern made for `channels` channels.
// Throws std::out_of_range outside the pattern.
XmCell& xm_cell(XmPattern& pattern, int channels, int row, int channel);

// An empty text when the module can be written, else what is wrong with it.
std::string xm_check(const XmModule& module);

// The bytes of the module file. Throws std::invalid_argument when xm_check
// finds a fault.
std::vector<uint8_t> xm_write(const XmModule& module);

// Writes bytes to `path` through a temporary file in the same directory and
// a rename, so the file is either the old one or the complete new one (a
// device or FIFO is written as a stream; nothing else that is not a regular
// file is replaced, nor any of `inputs`). Returns an empty text on success,
// else the reason it failed.
std::string xm_save_file(const std::string& path, const std::vector<uint8_t>& bytes,
                         const std::vector<std::string>& inputs = {});
