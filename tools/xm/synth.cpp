#include "synth.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double pi = 3.14159265358979323846;
constexpr double c4_hz = 261.6255653005986;
// Every tonal sample holds its root note at this many frames per second:
// 128 frames per cycle of C-4.
constexpr double tonal_rate = c4_hz * 128.0;

// One cycle of a sine in `size` steps, so every harmonic of a whole-cycle
// waveform is read from the same table and loops exactly.
std::vector<double> sine_table(int size) {
    std::vector<double> t(static_cast<size_t>(size));
    for (int i = 0; i < size; ++i) t[static_cast<size_t>(i)] = std::sin(2.0 * pi * i / size);
    return t;
}

// A tonal wave of `cycles` cycles of `period` frames. Harmonic n has the
// amplitude amp(n, c) at cycle c; c stops advancing where the last cycle
// begins, so the looped tail is one steady timbre.
template <class Amplitude>
std::vector<double> additive(int period, int cycles, int harmonics, Amplitude amp) {
    const std::vector<double> table = sine_table(period);
    const int settle = cycles - 1;
    std::vector<double> wave(static_cast<size_t>(period) * static_cast<size_t>(cycles));
    for (size_t i = 0; i < wave.size(); ++i) {
        const double c = std::min(static_cast<double>(i) / period, static_cast<double>(settle));
        double x = 0;
        for (int n = 1; n <= harmonics && n < period / 2; ++n)
            x += amp(n, c) * table[(static_cast<size_t>(n) * i) % static_cast<size_t>(period)];
        wave[i] = x;
    }
    return wave;
}

XmSample drum_sample(const char* name, const std::vector<double>& wave, double rate, int note, double peak) {
    XmSample s;
    s.name = name;
    s.data = synth_to_16bit(wave, peak);
    synth_tune(s, rate, note);
    return s;
}

XmSample tonal_sample(const char* name, const std::vector<double>& wave, int loop_frames, int root_note, double peak) {
    // The wave's cycle is `period` frames at the root note; with a period of
    // 128 >> octaves-above-C-4 every tonal sample plays at the same rate.
    XmSample s = drum_sample(name, wave, tonal_rate, root_note, peak);
    s.loop = XmLoop::forward;
    s.loop_length = static_cast<uint32_t>(loop_frames);
    s.loop_start = static_cast<uint32_t>(s.data.size()) - s.loop_length;
    return s;
}

XmInstrument one_sample_instrument(const char* name, XmSample sample) {
    XmInstrument ins;
    ins.name = name;
    ins.samples.push_back(std::move(sample));
    return ins;
}

void set_envelope(XmEnvelope& e, std::vector<XmEnvelopePoint> points, int sustain) {
    e.on = true;
    e.points = std::move(points);
    e.sustain = sustain;
}

// A linear fade over the last `frames` frames, so the sample stops on silence.
void fade_tail(std::vector<double>& w, size_t frames) {
    const size_t n = w.size();
    for (size_t i = n - frames; i < n; ++i) w[i] *= static_cast<double>(n - i) / static_cast<double>(frames);
}

// First-order filters over a whole buffer.
struct OnePole {
    double a = 0, y = 0;
    double low(double x) { return y += a * (x - y); }
    double high(double x) { return x - low(x); }
};
double one_pole_coefficient(double cutoff_hz, double rate) { return 1.0 - std::exp(-2.0 * pi * cutoff_hz / rate); }

}  // namespace

uint32_t synth_next(SynthRng& rng) {
    uint32_t x = rng.state;
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    rng.state = x;
    return x;
}

double synth_noise(SynthRng& rng) { return static_cast<double>(synth_next(rng)) / 2147483648.0 - 1.0; }

void synth_tune(XmSample& sample, double rate, int note) {
    const double semitones = 12.0 * std::log2(rate / 8363.0) - (note - 49);
    const long units = std::lround(semitones * 128.0);
    long relative = units >= 0 ? units / 128 : -((-units + 127) / 128);
    long fine = units - relative * 128;  // 0..127
    sample.relative_note = static_cast<int8_t>(relative);
    sample.finetune = static_cast<int8_t>(fine);
}

std::vector<int16_t> synth_to_16bit(const std::vector<double>& wave, double peak) {
    double top = 0;
    for (double x : wave) top = std::max(top, std::fabs(x));
    const double scale = top > 0 ? peak * 32767.0 / top : 0.0;
    std::vector<int16_t> out(wave.size());
    for (size_t i = 0; i < wave.size(); ++i) out[i] = static_cast<int16_t>(std::lround(wave[i] * scale));
    return out;
}

XmInstrument synth_kick() {
    const double rate = 44100;
    const size_t n = static_cast<size_t>(rate * 0.42);
    std::vector<double> w(n);
    SynthRng rng{0x51c0ffeeu};
    OnePole click{one_pole_coefficient(3000, rate)};
    double phase = 0;
    for (size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double f = 46.0 + 150.0 * std::exp(-t * 32.0) + 40.0 * std::exp(-t * 200.0);
        phase += 2.0 * pi * f / rate;
        const double body = std::sin(phase) * std::exp(-t * 6.5) * (1.0 - std::exp(-t * 3000.0));
        const double tick = click.low(synth_noise(rng)) * std::exp(-t * 400.0) * 0.8;
        w[i] = std::tanh(1.6 * (body + tick)) / std::tanh(1.6);
    }
    fade_tail(w, 400);
    return one_sample_instrument("kick", drum_sample("kick: swept sine", w, rate, synth_drum_note, 0.98));
}

XmInstrument synth_snare() {
    const double rate = 44100;
    const size_t n = static_cast<size_t>(rate * 0.32);
    std::vector<double> w(n);
    SynthRng rng{0x5a4e0001u};
    OnePole hp{one_pole_coefficient(1200, rate)};
    OnePole lp{one_pole_coefficient(9000, rate)};
    for (size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double tone = std::sin(2.0 * pi * 185.0 * t) * std::exp(-t * 28.0) +
                            0.5 * std::sin(2.0 * pi * 330.0 * t) * std::exp(-t * 40.0);
        const double noise = lp.low(hp.high(synth_noise(rng))) * (0.15 + 0.85 * std::exp(-t * 14.0)) * std::exp(-t * 6.0);
        w[i] = (0.55 * tone + 1.1 * noise) * (1.0 - std::exp(-t * 4000.0));
    }
    fade_tail(w, 400);
    return one_sample_instrument("snare", drum_sample("snare: tone and noise", w, rate, synth_drum_note, 0.95));
}

namespace {

// A crash cymbal: bright noise and high metallic squares, a long decay.
XmSample crash() {
    const double rate = 32000;
    const size_t n = static_cast<size_t>(rate * 1.6);
    const double metal[6] = {1530.0, 2223.0, 2710.0, 3357.0, 4121.0, 5307.0};
    std::vector<double> w(n);
    SynthRng rng{0xc2a5e001u};
    OnePole hp1{one_pole_coefficient(3500, rate)};
    OnePole hp2{one_pole_coefficient(3500, rate)};
    OnePole lp{one_pole_coefficient(11000, rate)};
    for (size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / rate;
        double m = 0;
        for (double f : metal) m += std::fmod(t * f, 1.0) < 0.5 ? 1.0 : -1.0;
        const double x = lp.low(hp2.high(hp1.high(0.08 * m + synth_noise(rng))));
        w[i] = x * (0.35 * std::exp(-t * 14.0) + 0.65 * std::exp(-t * 2.4)) * (1.0 - std::exp(-t * 3000.0));
    }
    fade_tail(w, 800);
    return drum_sample("crash", w, rate, synth_crash_note, 0.9);
}

}  // namespace

XmInstrument synth_hats() {
    const double rate = 44100;
    // Six detuned square waves through a high-pass, plus noise: a metallic hiss.
    const double metal[6] = {410.6, 608.8, 739.2, 1045.4, 1080.0, 1600.0};
    const auto hat = [&](double seconds, double decay, uint32_t seed) {
        const size_t n = static_cast<size_t>(rate * seconds);
        std::vector<double> w(n);
        SynthRng rng{seed};
        OnePole hp1{one_pole_coefficient(6000, rate)};
        OnePole hp2{one_pole_coefficient(6000, rate)};
        for (size_t i = 0; i < n; ++i) {
            const double t = static_cast<double>(i) / rate;
            double m = 0;
            for (double f : metal) m += std::fmod(t * f, 1.0) < 0.5 ? 1.0 : -1.0;
            const double x = hp2.high(hp1.high(0.12 * m + synth_noise(rng)));
            w[i] = x * std::exp(-t * decay) * (1.0 - std::exp(-t * 8000.0));
        }
        fade_tail(w, 200);
        return w;
    };
    XmInstrument ins;
    ins.name = "hats";
    ins.samples.push_back(drum_sample("closed hat", hat(0.09, 55.0, 0x4a7c0001u), rate, synth_drum_note, 0.9));
    ins.samples.push_back(drum_sample("open hat", hat(0.5, 8.0, 0x4a7c0002u), rate, synth_open_hat_note, 0.9));
    ins.samples.push_back(crash());
    for (size_t i = 0; i < ins.sample_for_note.size(); ++i) {
        const size_t n = i + 1;
        ins.sample_for_note[i] = static_cast<uint8_t>(n >= synth_crash_note ? 2 : n >= synth_open_hat_note ? 1 : 0);
    }
    return ins;
}

XmInstrument synth_bass() {
    // Root C-2: 512 frames a cycle. A bright saw-like attack that settles
    // into a round tone with a strong fundamental.
    const int period = 512;
    const std::vector<double> w = additive(period, 36, 48, [](int n, double c) {
        const double cutoff = 3.5 + 14.0 * std::exp(-c / 5.0);
        const double k = n / cutoff;
        return (n == 1 ? 1.6 : 1.0) / n / (1.0 + k * k * k * k);
    });
    XmInstrument ins = one_sample_instrument("bass", tonal_sample("bass: saw into round", w, period, 25, 0.95));
    set_envelope(ins.volume_envelope, {{0, 64}, {3, 56}, {16, 44}, {48, 38}}, 3);
    ins.fadeout = 0x500;
    return ins;
}

XmInstrument synth_pad() {
    // Root C-4. Three band-limited saws, one in tune and two a few cents off,
    // each completing a whole number of cycles in the 16384-frame loop, so
    // the slow beating between them loops seamlessly.
    const int loop = 16384;
    const std::vector<double> table = sine_table(loop);
    const int voices[4] = {128, 127, 129, 64};  // cycles per loop; the last is an octave below
    const double gains[4] = {1.0, 0.8, 0.8, 0.35};
    SynthRng rng{0x9ad00001u};
    double phase[4][20];
    for (auto& v : phase)
        for (double& p : v) p = static_cast<double>(synth_next(rng) % static_cast<uint32_t>(loop));
    std::vector<double> w(static_cast<size_t>(loop));
    for (size_t i = 0; i < w.size(); ++i) {
        double x = 0;
        for (int v = 0; v < 4; ++v)
            for (int h = 1; h <= 20; ++h) {
                const double a = gains[v] / h * std::exp(-h / 5.0);
                const size_t idx = (static_cast<size_t>(h) * static_cast<size_t>(voices[v]) * i +
                                    static_cast<size_t>(phase[v][h - 1])) % static_cast<size_t>(loop);
                x += a * table[idx];
            }
        w[i] = x;
    }
    XmInstrument ins = one_sample_instrument("pad", tonal_sample("pad: three saws", w, loop, 49, 0.9));
    set_envelope(ins.volume_envelope, {{0, 0}, {12, 40}, {40, 58}, {90, 64}, {200, 54}}, 4);
    ins.fadeout = 0x280;
    ins.vibrato_sweep = 60;
    ins.vibrato_depth = 2;
    ins.vibrato_rate = 6;
    return ins;
}

XmInstrument synth_lead() {
    // Root C-5: 64 frames a cycle. A pulse of 30% duty whose top softens a
    // little after the attack; the instrument's own vibrato fades in.
    const int period = 64;
    const std::vector<double> w = additive(period, 40, 14, [](int n, double c) {
        const double bright = 0.55 + 0.45 * std::exp(-c / 8.0);
        return std::sin(pi * n * 0.3) / n * std::pow(bright, n - 1);
    });
    XmInstrument ins = one_sample_instrument("lead", tonal_sample("lead: pulse", w, period, 61, 0.95));
    set_envelope(ins.volume_envelope, {{0, 0}, {1, 64}, {8, 56}, {40, 52}}, 3);
    ins.fadeout = 0x700;
    ins.vibrato_sweep = 48;
    ins.vibrato_depth = 5;
    ins.vibrato_rate = 10;
    return ins;
}

XmInstrument synth_arp() {
    // Root C-5: a hollow square that plucks bright and mellows.
    const int period = 64;
    const std::vector<double> w = additive(period, 24, 13, [](int n, double c) {
        if (n % 2 == 0) return 0.08 / n;
        const double cutoff = 4.0 + 9.0 * std::exp(-c / 6.0);
        return 1.0 / n / (1.0 + (n / cutoff) * (n / cutoff));
    });
    XmInstrument ins = one_sample_instrument("arp", tonal_sample("arp: square pluck", w, period, 61, 0.95));
    set_envelope(ins.volume_envelope, {{0, 64}, {6, 42}, {24, 26}, {60, 18}}, 3);
    ins.fadeout = 0x900;
    return ins;
}

XmInstrument synth_knock() {
    // A hollow wooden knock: three inharmonic partials that die quickly,
    // and a soft click. Its lowest partial is A-3 at C-4, so the break's
    // knock pattern spells out A minor.
    const double rate = 44100;
    const size_t n = static_cast<size_t>(rate * 0.28);
    std::vector<double> w(n);
    SynthRng rng{0x6b6e0c6bu};
    OnePole click{one_pole_coefficient(2500, rate)};
    const double freq[3] = {220.0, 528.0, 967.0};
    const double decay[3] = {22.0, 38.0, 60.0};
    const double gain[3] = {1.0, 0.6, 0.35};
    for (size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / rate;
        double x = 0;
        for (int k = 0; k < 3; ++k) x += gain[k] * std::sin(2.0 * pi * freq[k] * t) * std::exp(-t * decay[k]);
        x += click.low(synth_noise(rng)) * std::exp(-t * 500.0) * 2.0;
        w[i] = x * (1.0 - std::exp(-t * 5000.0));
    }
    fade_tail(w, 300);
    return one_sample_instrument("knock", drum_sample("knock: wood", w, rate, synth_drum_note, 0.95));
}

std::vector<XmInstrument> synth_instruments() {
    std::vector<XmInstrument> all(ins_count);
    all[ins_kick - 1] = synth_kick();
    all[ins_snare - 1] = synth_snare();
    all[ins_hats - 1] = synth_hats();
    all[ins_bass - 1] = synth_bass();
    all[ins_pad - 1] = synth_pad();
    all[ins_lead - 1] = synth_lead();
    all[ins_arp - 1] = synth_arp();
    all[ins_knock - 1] = synth_knock();
    // Stereo placement: the low end and the lead in the middle, the rest around them.
    for (XmSample& s : all[ins_hats - 1].samples) s.panning = 156;
    all[ins_hats - 1].samples[2].panning = 104;  // the crash, left of the hats
    all[ins_snare - 1].samples[0].panning = 120;
    all[ins_arp - 1].samples[0].panning = 96;
    all[ins_knock - 1].samples[0].panning = 150;
    return all;
}
