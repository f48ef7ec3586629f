// The synthesised instruments: in tune, looping without clicks, using the
// module's envelopes, and the same on every run.
#include "synth.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

namespace {

// Playback rate of a sample for a note under the linear frequency table.
double rate_for(const XmSample& s, int note) {
    return 8363.0 * std::pow(2.0, (note - 49 + s.relative_note + s.finetune / 128.0) / 12.0);
}

double note_hz(int note) { return 440.0 * std::pow(2.0, (note - 58) / 12.0); }  // 58 = A-4

TEST(Synth, RandomNumbersAreFixedAndSpread) {
    SynthRng a, b;
    for (int i = 0; i < 100; ++i) EXPECT_EQ(synth_next(a), synth_next(b));
    SynthRng c;
    double sum = 0, lo = 1, hi = -1;
    for (int i = 0; i < 20000; ++i) {
        const double x = synth_noise(c);
        ASSERT_GE(x, -1.0);
        ASSERT_LT(x, 1.0);
        sum += x;
        lo = std::min(lo, x);
        hi = std::max(hi, x);
    }
    EXPECT_NEAR(sum / 20000, 0.0, 0.02);
    EXPECT_LT(lo, -0.99);
    EXPECT_GT(hi, 0.99);
}

TEST(Synth, TuneHitsTheRateWithinACent) {
    for (double rate : {8363.0, 22050.0, 33488.0, 44100.0, 4000.0})
        for (int note : {1, 25, 49, 61, 96}) {
            XmSample s;
            synth_tune(s, rate, note);
            const double cents = 1200.0 * std::log2(rate_for(s, note) / rate);
            EXPECT_NEAR(cents, 0.0, 0.5) << rate << " Hz at note " << note;
            EXPECT_GE(s.finetune, 0);
        }
}

TEST(Synth, TonalInstrumentsPlayTheirNotesInTune) {
    // Measures the loop's cycle: a loop of whole cycles of `cycles` per
    // loop at the note's playback rate must give the note's frequency.
    struct Case { XmInstrument ins; int cycles_in_loop; };
    const Case cases[] = {{synth_bass(), 1}, {synth_pad(), 128}, {synth_lead(), 1}, {synth_arp(), 1}};
    for (const Case& c : cases) {
        ASSERT_EQ(c.ins.samples.size(), 1u) << c.ins.name;
        const XmSample& s = c.ins.samples[0];
        for (int note : {25, 46, 58, 70}) {
            const double hz = rate_for(s, note) * c.cycles_in_loop / s.loop_length;
            EXPECT_NEAR(1200.0 * std::log2(hz / note_hz(note)), 0.0, 2.0) << c.ins.name << " note " << note;
        }
    }
}

TEST(Synth, LoopsJoinWithoutAClick) {
    for (const XmInstrument& ins : synth_instruments())
        for (const XmSample& s : ins.samples) {
            if (s.loop == XmLoop::none) continue;
            ASSERT_LE(s.loop_start + s.loop_length, s.data.size()) << ins.name;
            int largest_step = 0;
            for (size_t i = s.loop_start + 1; i < s.loop_start + s.loop_length; ++i)
                largest_step = std::max(largest_step, std::abs(s.data[i] - s.data[i - 1]));
            const int wrap_step = std::abs(s.data[s.loop_start] - s.data[s.loop_start + s.loop_length - 1]);
            EXPECT_LE(wrap_step, largest_step) << ins.name << ": the jump back to the loop start clicks";
        }
}

TEST(Synth, InstrumentsAreNeitherSilentNorClippedAndEndQuietly) {
    const std::vector<XmInstrument> all = synth_instruments();
    ASSERT_EQ(all.size(), static_cast<size_t>(ins_count));
    for (const XmInstrument& ins : all)
        for (const XmSample& s : ins.samples) {
            ASSERT_FALSE(s.data.empty()) << ins.name;
            int peak = 0;
            for (int16_t v : s.data) peak = std::max(peak, std::abs(static_cast<int>(v)));
            EXPECT_GT(peak, 26000) << ins.name << " is normalised";
            EXPECT_LT(peak, 32767) << ins.name << " leaves a little headroom";
            if (s.loop == XmLoop::none) {
                EXPECT_LT(std::abs(s.data.back()), 64) << ins.name << ": a one-shot must end on silence";
            }
        }
}

TEST(Synth, ShapeComesFromEnvelopesAndTheNoteMap) {
    // The sustained voices use volume envelopes with a sustain point and a
    // fadeout, so a key off releases them.
    for (const XmInstrument& ins : {synth_bass(), synth_pad(), synth_lead(), synth_arp()}) {
        EXPECT_TRUE(ins.volume_envelope.on) << ins.name;
        EXPECT_GE(ins.volume_envelope.sustain, 0) << ins.name;
        EXPECT_GT(ins.fadeout, 0) << ins.name;
    }
    EXPECT_GT(synth_lead().vibrato_depth, 0) << "the lead has its own vibrato";
    EXPECT_EQ(synth_pad().volume_envelope.points.front().value, 0) << "the pad swells in";
    // Hats: closed below the open-hat note, open from it, the crash from its own note.
    const XmInstrument hats = synth_hats();
    ASSERT_EQ(hats.samples.size(), 3u);
    EXPECT_EQ(hats.sample_for_note[synth_drum_note - 1], 0);
    EXPECT_EQ(hats.sample_for_note[synth_open_hat_note - 2], 0);
    EXPECT_EQ(hats.sample_for_note[synth_open_hat_note - 1], 1);
    EXPECT_EQ(hats.sample_for_note[synth_crash_note - 2], 1);
    EXPECT_EQ(hats.sample_for_note[synth_crash_note - 1], 2);
    EXPECT_EQ(hats.sample_for_note[95], 2);
    EXPECT_GT(hats.samples[1].data.size(), hats.samples[0].data.size() * 3) << "the open hat rings longer";
    // Every instrument can be written.
    XmModule m;
    m.channels = 1;
    m.order = {0};
    m.patterns = {xm_pattern(1, 1)};
    m.instruments = synth_instruments();
    EXPECT_EQ(xm_check(m), "");
}

TEST(Synth, SameBytesEveryTime) {
    const std::vector<XmInstrument> a = synth_instruments();
    const std::vector<XmInstrument> b = synth_instruments();
    for (size_t i = 0; i < a.size(); ++i)
        for (size_t s = 0; s < a[i].samples.size(); ++s) EXPECT_EQ(a[i].samples[s].data, b[i].samples[s].data) << a[i].name;
}

}  // namespace
