// The intro's instruments, synthesised by our own code into XM instruments.
//
// Everything here is deterministic: noise comes from a fixed-seed PRNG, and
// the waveforms use plain arithmetic with sin/exp, so the same build makes
// the same bytes every time.
//
// Tonal samples are built as whole cycles of a fixed period at a playback
// rate of about 33.5 kHz for their root note, with a looped tail of whole
// cycles, so a note sounds at its pitch and loops without a click. The
// character over time (attack, decay, release, vibrato) comes from the
// module's envelopes and effects, not from long baked samples.
#pragma once

#include "xmwriter.h"

#include <cstdint>
#include <vector>

// xorshift32 with a fixed seed; never seeded from time.
struct SynthRng {
    uint32_t state = 0x9e3779b9u;
};
uint32_t synth_next(SynthRng& rng);
double synth_noise(SynthRng& rng);  // uniform in [-1, 1)

// Sets relative note and finetune so that playing `note` (XM numbering,
// 49 = C-4) plays the sample at `rate` frames per second.
void synth_tune(XmSample& sample, double rate, int note);

// Scales to a peak of `peak` (0..1) of full scale and converts to 16 bits.
std::vector<int16_t> synth_to_16bit(const std::vector<double>& wave, double peak);

// The instruments, in the order the song numbers them (1-based there).
enum SynthInstrument : uint8_t {
    ins_kick = 1,
    ins_snare,
    ins_hats,    // below D-4: closed hat, D-4 up to B-4: open hat, C-5 and up: crash
    ins_bass,
    ins_pad,
    ins_lead,
    ins_arp,
    ins_knock,
    ins_count = ins_knock
};

// Notes at which the percussion plays at its natural pitch.
constexpr uint8_t synth_drum_note = 49;        // C-4
constexpr uint8_t synth_open_hat_note = 51;    // D-4
constexpr uint8_t synth_crash_note = 61;       // C-5

XmInstrument synth_kick();
XmInstrument synth_snare();
XmInstrument synth_hats();
XmInstrument synth_bass();
XmInstrument synth_pad();
XmInstrument synth_lead();
XmInstrument synth_arp();
XmInstrument synth_knock();

// All instruments, index i holding instrument number i + 1.
std::vector<XmInstrument> synth_instruments();
