// The score of "omber", in A minor.
//
// Each 64-row pattern is four bars of 16 rows (a row is a sixteenth note),
// one chord a bar. The layers are written by small functions (a drum groove,
// a bass line, pad chords, arpeggios) over a chord progression; melodies are
// written out as text, one token a row:
//   "."   nothing new on this row
//   "C-5" a note (name, '-' or '#', octave)
//   "=="  key off
// Bars may be separated by '|' for reading; it is ignored.
#include "song.h"

#include "synth.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>

const char* const song_scene_names[song_positions] = {
    "hello", "fade",  "zuzu",  "zuzu",  "zuzu",  "knock", "beat1", "beat2", "beat3", "lead2", "lead2",
    "heart", "cred1", "cred3", "cred2", "lead1", "beat2", "hal1",  "hal1",  "hal1",  "hal2"};

namespace {

enum Channel { ch_kick, ch_snare, ch_hats, ch_bass, ch_pad1, ch_pad2, ch_pad3, ch_lead, ch_arp, ch_echo, ch_crash, ch_harmony };
static_assert(ch_harmony + 1 == song_channels, "one channel per layer (an even count, as trackers expect)");

// Effects used by the score.
constexpr uint8_t fx_arpeggio = 0x0;
constexpr uint8_t fx_porta_up = 0x1;
constexpr uint8_t fx_porta_down = 0x2;
constexpr uint8_t fx_tone_porta = 0x3;
constexpr uint8_t fx_vibrato = 0x4;
constexpr uint8_t fx_panning = 0x8;
constexpr uint8_t fx_volume_slide = 0xA;
constexpr uint8_t fx_extended = 0xE;  // E9x retrigger, ECx note cut

constexpr int bar = 16;
constexpr int master_level_percent = 85;

uint8_t note(const std::string& name) {
    static const char* const names = "C-C#D-D#E-F-F#G-G#A-A#B-";
    if (name.size() != 3 || name[2] < '0' || name[2] > '7') throw std::invalid_argument("bad note '" + name + "'");
    for (int s = 0; s < 12; ++s)
        if (name[0] == names[2 * s] && name[1] == names[2 * s + 1]) return xm_note(name[2] - '0', s);
    throw std::invalid_argument("bad note '" + name + "'");
}

struct Chord {
    uint8_t bass;
    std::array<uint8_t, 3> tones;  // pad voicing around C-4
    uint8_t arp;                   // 0xy for the chip arpeggio: 0x37 minor, 0x47 major
};

Chord chord(const char* bass, const char* a, const char* b, const char* c, uint8_t arp) {
    return {note(bass), {note(a), note(b), note(c)}, arp};
}

using Progression = std::array<Chord, 4>;

// The chords more than one progression shares.
const Chord am = chord("A-1", "A-3", "C-4", "E-4", 0x37);
const Chord f = chord("F-1", "A-3", "C-4", "F-4", 0x47);
const Chord g = chord("G-1", "G-3", "B-3", "D-4", 0x47);

// Am F C G: the song's main progression.
const Progression& main_progression() {
    static const Progression p = {am, f, chord("C-2", "G-3", "C-4", "E-4", 0x47), g};
    return p;
}
// Dm7 G Cmaj7 Am7: the warmer turn for "heart".
const Progression& heart_progression() {
    static const Progression p = {chord("D-2", "A-3", "C-4", "F-4", 0x37), g, chord("C-2", "G-3", "B-3", "E-4", 0x47),
                                  chord("A-1", "G-3", "C-4", "E-4", 0x37)};
    return p;
}
// F G Em Am: the credits.
const Progression& credits_progression() {
    static const Progression p = {f, g, chord("E-1", "G-3", "B-3", "E-4", 0x37), am};
    return p;
}
// F G Am Am: the ending comes home and stays.
const Progression& ending_progression() {
    static const Progression p = {f, g, am, am};
    return p;
}

// The melodies. "A" is the song's theme; it is heard softly in "hello",
// carried by the lead in "lead2", "lead1" and the climax.
const char* const theme_a =
    "A-4 . . . C-5 . E-5 . . . . . D-5 . C-5 . | C-5 . . . . . A-4 . G-4 . A-4 . . . . . |"
    "E-5 . . . G-5 . E-5 . D-5 . . . C-5 . D-5 . | D-5 . . . . . . . . . . . B-4 . D-5 .";
const char* const theme_b =
    "A-4 . . . C-5 . E-5 . . . . . G-5 . E-5 . | F-5 . . . . . E-5 . C-5 . . . A-4 . . . |"
    "G-4 . . . C-5 . E-5 . G-5 . . . E-5 . C-5 . | D-5 . . . . . . . B-4 . . . C-5 . D-5 .";
const char* const heart_tune =
    "F-5 . . . . . . . E-5 . . . D-5 . . . | D-5 . . . . . . . B-4 . . . G-4 . . . |"
    "C-5 . . . E-5 . . . G-5 . . . . . . . | E-5 . . . . . . . . . . . . . . .";
const char* const credits_tune =
    "C-5 . . . A-4 . . . C-5 . . . F-5 . . . | D-5 . . . . . . . B-4 . . . D-5 . . . |"
    "E-5 . . . . . . . G-5 . . . E-5 . . . | A-4 . . . . . . . . . . . == . . .";
const char* const ending_tune =
    "C-5 . . . A-4 . . . C-5 . . . F-5 . . . | D-5 . . . . . . . B-4 . . . D-5 . . . |"
    "E-5 . . . . . . . . . . . . . . . | . . . . . . . . . . . . == . . .";

struct Score {
    XmModule module;

    XmPattern& add_pattern() {
        module.patterns.push_back(xm_pattern(song_rows, song_channels));
        return module.patterns.back();
    }
};

XmCell& cell(XmPattern& p, int ch, int row) { return xm_cell(p, song_channels, row, ch); }

void put(XmPattern& p, int ch, int row, uint8_t n, uint8_t ins, int vol) {
    XmCell& c = cell(p, ch, row);
    c.note = n;
    c.instrument = ins;
    c.volume = xm_vol(std::clamp(vol, 0, 64));
}

void effect(XmPattern& p, int ch, int row, uint8_t fx, uint8_t param) {
    XmCell& c = cell(p, ch, row);
    c.effect = fx;
    c.param = param;
}

void key_off(XmPattern& p, int ch, int row) { cell(p, ch, row).note = XM_NOTE_OFF; }

// Writes a melody in the text notation on a channel from the first row.
void melody(XmPattern& p, int ch, uint8_t ins, int vol, const char* text, int transpose = 0) {
    std::string bars = text;
    for (char& c : bars)
        if (c == '|') c = ' ';
    std::istringstream in(bars);
    std::string token;
    int row = 0;
    while (in >> token) {
        if (row >= song_rows) throw std::invalid_argument("melody longer than a pattern");
        if (token == "==") {
            key_off(p, ch, row);
        } else if (token != ".") {
            put(p, ch, row, static_cast<uint8_t>(note(token) + transpose), ins, vol);
        }
        ++row;
    }
}

// Vibrato on every note of a melody channel that is held for at least
// `min_rows` rows, starting on the note's second row.
void vibrato_on_long_notes(XmPattern& p, int ch, uint8_t param, int min_rows) {
    int start = -1;
    for (int row = 0; row <= song_rows; ++row) {
        const bool new_note = row == song_rows || cell(p, ch, row).note != 0;
        if (!new_note) continue;
        if (start >= 0 && row - start >= min_rows)
            for (int r = start + 2; r < row; ++r)
                if (cell(p, ch, r).effect == 0 && cell(p, ch, r).param == 0) effect(p, ch, r, fx_vibrato, param);
        start = row;
    }
}

// Copies a channel's notes to another channel `delay` rows later at a lower
// volume: a tracker echo.
void echo(XmPattern& p, int from, int to, int delay, int vol) {
    for (int row = song_rows - 1 - delay; row >= 0; --row) {
        const XmCell c = cell(p, from, row);
        if (c.note && c.note != XM_NOTE_OFF) {
            put(p, to, row + delay, c.note, c.instrument, vol);
            effect(p, to, row + delay, fx_panning, 0xC8);  // the echo answers from the right
        }
    }
}

// The note a diatonic third below `n` in A minor (natural), for a second voice.
uint8_t third_below(uint8_t n) {
    static const int scale[7] = {0, 2, 4, 5, 7, 9, 11};  // C D E F G A B: A minor's notes from C
    const int pc = (n - 1) % 12;
    for (int i = 0; i < 7; ++i)
        if (scale[i] == pc) return static_cast<uint8_t>(n - ((pc - scale[(i + 5) % 7] + 12) % 12));
    return static_cast<uint8_t>(n - 3);
}

// A second voice a third under a melody channel, on the same rows.
void harmony(XmPattern& p, int from, int to, uint8_t ins, int vol, uint8_t pan) {
    for (int row = 0; row < song_rows; ++row) {
        const XmCell c = cell(p, from, row);
        if (c.note == XM_NOTE_OFF) {
            key_off(p, to, row);
        } else if (c.note) {
            put(p, to, row, third_below(c.note), ins, vol);
            effect(p, to, row, fx_panning, pan);
        } else if (c.effect == fx_vibrato) {
            effect(p, to, row, c.effect, c.param);
        }
    }
}

// ---- drums ----

void kick(XmPattern& p, int row, int vol) { put(p, ch_kick, row, synth_drum_note, ins_kick, vol); }
void snare(XmPattern& p, int row, int vol) { put(p, ch_snare, row, synth_drum_note, ins_snare, vol); }
void closed_hat(XmPattern& p, int row, int vol) { put(p, ch_hats, row, synth_drum_note, ins_hats, vol); }
void open_hat(XmPattern& p, int row, int vol) { put(p, ch_hats, row, synth_open_hat_note, ins_hats, vol); }

void kick_four(XmPattern& p, int vol, int from_bar = 0, int to_bar = 4) {
    for (int row = from_bar * bar; row < to_bar * bar; row += 4) kick(p, row, vol);
}

void snare_backbeat(XmPattern& p, int vol) {
    for (int b = 0; b < 4; ++b) {
        snare(p, b * bar + 4, vol);
        snare(p, b * bar + 12, vol);
    }
}

// The "zuzu" groove: kick on 1, the "and" of 2 and 3, snare on 2 and 4, a
// ghost snare before the last beat.
void zuzu_drums(XmPattern& p, int vol) {
    for (int b = 0; b < 4; ++b) {
        const int r = b * bar;
        kick(p, r + 0, vol);
        kick(p, r + 6, vol - 10);
        kick(p, r + 10, vol - 4);
        snare(p, r + 4, vol - 4);
        snare(p, r + 12, vol - 4);
        snare(p, r + 15, 18);
    }
}

// Hats on every eighth, the offbeats louder; an open hat on the last offbeat of each bar.
void hats_eighths(XmPattern& p, int vol, bool open_on_last = true) {
    for (int row = 0; row < song_rows; row += 2) {
        const bool offbeat = row % 4 == 2;
        if (open_on_last && row % bar == 14)
            open_hat(p, row, vol - 10);
        else
            closed_hat(p, row, offbeat ? vol : vol - 14);
    }
}

// Sixteenth hats with an accent pattern that gives the beat its swing.
void hats_sixteenths(XmPattern& p, int vol) {
    static const int accent[4] = {-16, -22, 0, -20};
    for (int row = 0; row < song_rows; ++row) {
        if (row % 4 == 2 && row % 8 == 6)
            open_hat(p, row, vol - 12);
        else
            closed_hat(p, row, vol + accent[row % 4]);
    }
}

// A crash on the first beat marks the start of a new part.
void crash(XmPattern& p, int vol) { put(p, ch_crash, 0, synth_crash_note, ins_hats, vol); }

void offbeat_open_hats(XmPattern& p, int vol) {
    for (int row = 2; row < song_rows; row += 4) open_hat(p, row, vol);
}

// A snare fill over the last `rows` rows that grows louder, the last beat in sixteenths.
void snare_fill(XmPattern& p, int rows, int from_vol, int to_vol) {
    const int start = song_rows - rows;
    for (int row = start; row < song_rows; ++row) {
        const bool sixteenth = row >= song_rows - 4;
        if (!sixteenth && (row - start) % 2 != 0) continue;
        const int vol = from_vol + (to_vol - from_vol) * (row - start) / (rows - 1);
        snare(p, row, vol);
    }
}

// ---- bass ----

// One long note a bar.
void bass_long(XmPattern& p, const Progression& prog, int vol) {
    for (int b = 0; b < 4; ++b) {
        put(p, ch_bass, b * bar, prog[b].bass, ins_bass, vol);
        key_off(p, ch_bass, b * bar + 14);
    }
}

// The groove line: root, root, octave, root, octave, root, fifth; short notes are cut.
void bass_groove(XmPattern& p, const Progression& prog, int vol) {
    struct Step { int row, interval, cut_tick; };
    static const Step steps[] = {{0, 0, 0}, {3, 0, 3}, {6, 12, 5}, {8, 0, 0}, {10, 12, 3}, {11, 0, 0}, {14, 7, 0}};
    for (int b = 0; b < 4; ++b)
        for (const Step& s : steps) {
            const int row = b * bar + s.row;
            put(p, ch_bass, row, static_cast<uint8_t>(prog[b].bass + s.interval), ins_bass, s.interval == 12 ? vol - 8 : vol);
            if (s.cut_tick) effect(p, ch_bass, row, fx_extended, static_cast<uint8_t>(0xC0 | s.cut_tick));
        }
}

// The driving line: the root on every offbeat eighth, a short octave jump at the end of the bar.
void bass_offbeat(XmPattern& p, const Progression& prog, int vol) {
    for (int b = 0; b < 4; ++b)
        for (int r = 2; r < bar; r += 4) {
            const int row = b * bar + r;
            const int interval = r == 14 && b % 2 == 1 ? 12 : 0;
            put(p, ch_bass, row, static_cast<uint8_t>(prog[b].bass + interval), ins_bass, vol);
            if (row + 2 < song_rows) key_off(p, ch_bass, row + 2);
        }
}

// ---- pads and arpeggios ----

// The pad's three voices spread from left to right.
constexpr uint8_t pad_panning[3] = {0x58, 0x80, 0xA8};

// Sustained chords; each voice moves only when its note changes.
void pad_chords(XmPattern& p, const Progression& prog, int vol) {
    for (int b = 0; b < 4; ++b)
        for (int v = 0; v < 3; ++v) {
            const int ch = ch_pad1 + v;
            if (b > 0 && prog[b].tones[v] == prog[b - 1].tones[v]) continue;
            put(p, ch, b * bar, prog[b].tones[v], ins_pad, vol);
            effect(p, ch, b * bar, fx_panning, pad_panning[v]);
        }
}

// Short chord stabs on the "and" of 1 and on 3.
void pad_stabs(XmPattern& p, const Progression& prog, int vol) {
    for (int b = 0; b < 4; ++b)
        for (int v = 0; v < 3; ++v) {
            const int ch = ch_pad1 + v;
            for (int r : {2, 8}) {
                put(p, ch, b * bar + r, static_cast<uint8_t>(prog[b].tones[v] + 12), ins_pad, vol);
                effect(p, ch, b * bar + r, fx_panning, pad_panning[v]);
                key_off(p, ch, b * bar + r + 3);
            }
        }
}

// Sixteenth arpeggio up through the chord tones an octave above the pad.
void arp_run(XmPattern& p, const Progression& prog, int vol) {
    static const int shape[8] = {0, 1, 2, 1, 0, 1, 2, 3};
    for (int row = 0; row < song_rows; ++row) {
        const Chord& c = prog[row / bar];
        const int step = shape[row % 8];
        const int n = step < 3 ? c.tones[step] + 12 : c.tones[0] + 24;
        put(p, ch_arp, row, static_cast<uint8_t>(n), ins_arp, row % 4 == 0 ? vol : vol - 12);
    }
}

// The chip arpeggio: one held note a beat, its chord played by effect 0xy.
void chip_arp(XmPattern& p, const Progression& prog, int vol) {
    for (int row = 0; row < song_rows; ++row) {
        const Chord& c = prog[row / bar];
        if (row % 4 == 0) put(p, ch_arp, row, static_cast<uint8_t>(c.bass + 36), ins_arp, row % 8 == 0 ? vol : vol - 8);
        effect(p, ch_arp, row, fx_arpeggio, c.arp);
    }
}

// Fades every channel out from `from_row` to silence on the last row by
// setting its volume on every row. (Per-channel volumes, not the global
// volume: players disagree on how the global volume effect scales.)
void fade_out(XmPattern& p, int from_row) {
    const int span = song_rows - 1 - from_row;
    for (int ch = 0; ch < song_channels; ++ch) {
        int base = -1;  // the volume of the channel's current note
        for (int row = 0; row < song_rows; ++row) {
            XmCell& c = cell(p, ch, row);
            if (c.note && c.note != XM_NOTE_OFF) {
                const int level = xm_vol_level(c.volume);
                base = level >= 0 ? level : 64;
            }
            if (row < from_row || base < 0) continue;
            const int left = song_rows - 1 - row;
            c.volume = xm_vol((base * left * left + span * span / 2) / (span * span));  // square law: even in loudness
        }
    }
}

// ---- the patterns ----

// 0 "hello": the pad rises out of silence; the arp voice hints at the theme,
// with an echo; the bass joins for the second half.
void hello(XmPattern& p) {
    pad_chords(p, main_progression(), 0);
    // Later chords keep the volume the fade has reached: no instrument, no volume.
    for (int v = 0; v < 3; ++v)
        for (int row = bar; row < song_rows; ++row) {
            XmCell& c = cell(p, ch_pad1 + v, row);
            c.instrument = 0;
            c.volume = 0;
        }
    for (int v = 0; v < 3; ++v)
        for (int row = 1; row < 44; row += 7) effect(p, ch_pad1 + v, row, fx_volume_slide, 0x10);
    put(p, ch_bass, 32, main_progression()[2].bass, ins_bass, 22);
    put(p, ch_bass, 48, main_progression()[3].bass, ins_bass, 32);
    melody(p, ch_arp, ins_arp, 28, theme_a, 12);
    echo(p, ch_arp, ch_echo, 3, 14);
}

// 1 "fade": the build-up. Kick and hats come in, the bass slides into place,
// a snare roll lifts into the groove.
void fade(XmPattern& p) {
    pad_chords(p, main_progression(), 40);
    bass_long(p, main_progression(), 38);
    // The bass glides down into each new root.
    for (int b = 1; b < 4; ++b) {
        cell(p, ch_bass, b * bar - 2).note = 0;  // held through, no key off
        effect(p, ch_bass, b * bar, fx_tone_porta, 0x20);
    }
    kick_four(p, 40, 1, 4);
    for (int row = 32; row < song_rows; row += 2) closed_hat(p, row, row % 4 == 2 ? 30 : 18);
    snare_fill(p, 16, 12, 52);
    melody(p, ch_arp, ins_arp, 26, theme_b, 12);
    echo(p, ch_arp, ch_echo, 3, 10);
}

// 2-4 "zuzu": the groove arrives, a layer more each time.
void zuzu(XmPattern& p, int part) {
    if (part == 0) crash(p, 44);
    zuzu_drums(p, 56);
    hats_eighths(p, 34);
    bass_groove(p, main_progression(), 46);
    pad_chords(p, main_progression(), 26);
    if (part >= 1) arp_run(p, main_progression(), 24);
    if (part >= 2) {
        for (int b = 0; b < 4; ++b) put(p, ch_echo, b * bar + 7, note("G-4"), ins_knock, 30);
        snare_fill(p, 8, 24, 50);
        // The bass drops away at the end: the break is next.
        put(p, ch_bass, 62, main_progression()[3].bass, ins_bass, 50);
        effect(p, ch_bass, 62, fx_porta_down, 0x10);
        effect(p, ch_bass, 63, fx_porta_down, 0x10);
    }
}

// 5 "knock": the break. Knocks at several pitches, a low drone, little else;
// a riser in the last bar.
void knock(XmPattern& p) {
    struct Hit { int row; const char* n; int vol; };
    static const Hit hits[] = {{0, "C-4", 60}, {3, "C-4", 40}, {6, "G-4", 50}, {10, "C-4", 54},
                               {12, "D#4", 44}, {14, "G-4", 36}, {15, "A#4", 30}};
    for (int b = 0; b < 4; ++b)
        for (const Hit& h : hits) {
            if (b == 3 && h.row >= 12) continue;
            const int ch = h.row % 2 == 0 ? ch_snare : ch_echo;
            // The third bar moves up a fourth: from A minor to D minor and back.
            put(p, ch, b * bar + h.row, static_cast<uint8_t>(note(h.n) + (b == 2 ? 5 : 0)), ins_knock, h.vol);
        }
    // A knock roll into the next part.
    put(p, ch_echo, 60, note("C-5"), ins_knock, 40);
    effect(p, ch_echo, 60, fx_extended, 0x92);
    put(p, ch_bass, 0, note("A-1"), ins_bass, 40);
    put(p, ch_bass, 32, note("A-1"), ins_bass, 36);
    effect(p, ch_bass, 32, fx_porta_down, 0x01);
    key_off(p, ch_bass, 56);
    put(p, ch_pad1, 0, note("E-4"), ins_pad, 20);
    key_off(p, ch_pad1, 40);
    // The riser: a lead note climbing on portamento, louder as it goes.
    put(p, ch_lead, 48, note("A-3"), ins_lead, 12);
    for (int row = 49; row < 63; ++row) {
        effect(p, ch_lead, row, fx_porta_up, 0x0C);
        if (row % 2 == 0) cell(p, ch_lead, row).volume = xm_vol(12 + (row - 48) * 2);
    }
    key_off(p, ch_lead, 63);
    kick(p, 60, 40);
    kick(p, 62, 48);
}

// 6-8 "beat1", "beat2", "beat3": the full beat, one layer more each time.
void beat(XmPattern& p, int part) {
    crash(p, part == 0 ? 48 : 40);
    kick_four(p, 62);
    bass_offbeat(p, main_progression(), 48);
    if (part == 0) hats_eighths(p, 34, false);
    if (part == 1) {
        snare_backbeat(p, 50);
        pad_stabs(p, main_progression(), 26);
        offbeat_open_hats(p, 28);
    }
    if (part == 2) {
        snare_backbeat(p, 50);
        hats_sixteenths(p, 38);
        arp_run(p, main_progression(), 22);
        pad_chords(p, main_progression(), 20);
        snare_fill(p, 4, 30, 46);
    }
}

// 9-10 "lead2" and 15 "lead1": the theme over the beat.
void lead(XmPattern& p, const char* tune, bool with_arp) {
    if (tune == theme_a) crash(p, 44);
    kick_four(p, 60);
    snare_backbeat(p, 46);
    hats_eighths(p, 32);
    bass_offbeat(p, main_progression(), 46);
    pad_chords(p, main_progression(), 20);
    if (with_arp) arp_run(p, main_progression(), 16);
    melody(p, ch_lead, ins_lead, 56, tune);
    vibrato_on_long_notes(p, ch_lead, 0x34, 6);
    echo(p, ch_lead, ch_echo, 3, 14);
}

// 11 "heart": softer and warmer, no kick, the tune on long notes.
void heart(XmPattern& p) {
    pad_chords(p, heart_progression(), 26);
    bass_long(p, heart_progression(), 36);
    for (int row = 2; row < song_rows; row += 4) closed_hat(p, row, 18);
    for (int b = 0; b < 4; ++b) put(p, ch_snare, b * bar + 12, note("G-4"), ins_knock, 20);
    melody(p, ch_lead, ins_lead, 38, heart_tune);
    // A slide up into the last note and a long fade on it.
    effect(p, ch_lead, 49, fx_vibrato, 0x24);
    for (int row = 52; row < song_rows; ++row) effect(p, ch_lead, row, fx_volume_slide, 0x02);
    vibrato_on_long_notes(p, ch_lead, 0x23, 8);
    echo(p, ch_lead, ch_echo, 6, 12);
    arp_run(p, heart_progression(), 10);
}

// 12-14 "cred1", "cred3", "cred2": the credits; the chip arpeggio and a new
// tune over F G Em Am.
void credits(XmPattern& p, int part) {
    if (part == 0) crash(p, 36);
    const Progression& prog = credits_progression();
    for (int b = 0; b < 4; ++b) {
        kick(p, b * bar + 0, 56);
        kick(p, b * bar + 8, 52);
        if (part >= 1) kick(p, b * bar + 10, 40);
    }
    hats_eighths(p, 30);
    bass_groove(p, prog, 44);
    chip_arp(p, prog, 30);
    if (part >= 1) {
        snare_backbeat(p, 44);
        pad_chords(p, prog, 22);
    }
    if (part >= 2) {
        melody(p, ch_lead, ins_lead, 36, credits_tune);
        vibrato_on_long_notes(p, ch_lead, 0x24, 6);
        echo(p, ch_lead, ch_echo, 3, 12);
        snare_fill(p, 8, 20, 48);
    }
}

// 17-19 "hal1": the climax. Everything at once, the theme with a harmony.
void climax(XmPattern& p, const char* tune, int part) {
    crash(p, part == 0 ? 54 : 46);
    kick_four(p, 64);
    snare_backbeat(p, 52);
    hats_sixteenths(p, 40);
    bass_offbeat(p, main_progression(), 50);
    pad_chords(p, main_progression(), 24);
    arp_run(p, main_progression(), 18);
    melody(p, ch_lead, ins_lead, 56, tune, part == 1 ? 12 : 0);
    vibrato_on_long_notes(p, ch_lead, 0x44, 6);
    // The tune doubled an octave below on the arp voice.
    melody(p, ch_echo, ins_arp, 18, tune, -12);
    // The last two parts add a second voice a third below.
    if (part >= 1) harmony(p, ch_lead, ch_harmony, ins_lead, 28, 0x60);
    if (part == 2) snare_fill(p, 16, 20, 56);
}

// 20 "hal2": the ending. The beat leaves after the first bar, the pad comes
// home to A minor and the whole song fades out.
void ending(XmPattern& p) {
    crash(p, 50);
    kick_four(p, 60, 0, 1);
    kick(p, 16, 50);
    snare(p, 4, 44);
    snare(p, 12, 44);
    open_hat(p, 0, 40);
    pad_chords(p, ending_progression(), 34);
    bass_long(p, ending_progression(), 40);
    melody(p, ch_lead, ins_lead, 40, ending_tune);
    vibrato_on_long_notes(p, ch_lead, 0x34, 6);
    echo(p, ch_lead, ch_echo, 3, 12);
    arp_run(p, ending_progression(), 12);
    for (int row = 48; row < song_rows; ++row) cell(p, ch_arp, row) = XmCell{};
    fade_out(p, 32);
    for (int ch = ch_bass; ch <= ch_harmony; ++ch) key_off(p, ch, 63);
}

}  // namespace

XmModule song_module() {
    Score s;
    XmModule& m = s.module;
    m.name = "omber";
    m.channels = song_channels;
    m.speed = song_speed;
    m.bpm = song_bpm;
    m.instruments = synth_instruments();

    hello(s.add_pattern());            // 0
    fade(s.add_pattern());             // 1
    zuzu(s.add_pattern(), 0);          // 2
    zuzu(s.add_pattern(), 1);          // 3
    zuzu(s.add_pattern(), 2);          // 4
    knock(s.add_pattern());            // 5
    beat(s.add_pattern(), 0);          // 6
    beat(s.add_pattern(), 1);          // 7
    beat(s.add_pattern(), 2);          // 8
    lead(s.add_pattern(), theme_a, true);   // 9
    lead(s.add_pattern(), theme_b, true);   // 10
    heart(s.add_pattern());            // 11
    credits(s.add_pattern(), 0);       // 12
    credits(s.add_pattern(), 1);       // 13
    credits(s.add_pattern(), 2);       // 14
    lead(s.add_pattern(), theme_a, false);  // 15
    climax(s.add_pattern(), theme_a, 0);    // 16
    climax(s.add_pattern(), theme_b, 1);    // 17
    climax(s.add_pattern(), theme_a, 2);    // 18
    ending(s.add_pattern());           // 19

    // A part starts clean: a tonal channel that has nothing new on the first
    // row lets the previous part's note go.
    for (XmPattern& p : m.patterns)
        for (int ch = ch_bass; ch <= ch_harmony; ++ch)
            if (ch != ch_crash && cell(p, ch, 0).note == 0) cell(p, ch, 0).note = XM_NOTE_OFF;

    // The master level: every note's volume scaled so that libmikmod's mixer
    // keeps about 3 dB of headroom at its default volumes.
    for (XmPattern& p : m.patterns)
        for (XmCell& c : p.cells) {
            const int level = xm_vol_level(c.volume);
            if (level >= 0) c.volume = xm_vol((level * master_level_percent + 50) / 100);
        }

    // Position 16 is "beat2" again: the same pattern as position 7.
    static constexpr uint8_t order[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 7, 16, 17, 18, 19};
    static_assert(std::size(order) == song_positions, "the order table has one entry a position");
    m.order.assign(std::begin(order), std::end(order));
    return m;
}
