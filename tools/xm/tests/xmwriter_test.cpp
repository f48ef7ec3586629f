#include "xmwriter.h"

#include "render.h"
#include "xm_reader.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <unistd.h>

namespace {

constexpr int tiny_channels = 2;

// The set-volume range of the volume column reads back what xm_vol wrote,
// and nothing either side of it counts as a volume.
static_assert(xm_vol_level(xm_vol(0)) == 0 && xm_vol_level(xm_vol(64)) == 64, "set volume round trip");
static_assert(xm_vol_level(0) == -1 && xm_vol_level(0x0F) == -1 && xm_vol_level(0x51) == -1, "not a set volume");

// Two patterns of 4 rows on 2 channels, one instrument with a 16-bit looped
// sample and one with an 8-bit sample.
XmModule tiny_module() {
    XmModule m;
    m.name = "tiny";
    m.channels = tiny_channels;
    m.speed = 5;
    m.bpm = 140;
    m.restart = 1;
    m.order = {1, 0, 1};

    XmPattern a = xm_pattern(4, tiny_channels);
    // Row 0: a full cell, and a cell with only a note and a volume.
    xm_cell(a, tiny_channels, 0, 0) = {xm_note(4, 0), 1, xm_vol(40), 0x4, 0x37};
    xm_cell(a, tiny_channels, 0, 1) = {xm_note(3, 9), 0, xm_vol(64), 0, 0};
    // Row 1 stays empty.
    // Row 2: arpeggio (effect 0 with a parameter), and an effect without parameter.
    xm_cell(a, tiny_channels, 2, 0) = {0, 0, 0, 0x0, 0x47};
    xm_cell(a, tiny_channels, 2, 1) = {0, 0, 0, 0xC, 0x00};
    // Row 3: key off with an instrument.
    xm_cell(a, tiny_channels, 3, 1) = {XM_NOTE_OFF, 2, 0, 0, 0};
    XmPattern b = xm_pattern(4, tiny_channels);
    xm_cell(b, tiny_channels, 1, 0) = {xm_note(5, 2), 2, 0, 0, 0};
    m.patterns = {a, b};

    XmInstrument wide;
    wide.name = "wide";
    wide.volume_envelope.on = true;
    wide.volume_envelope.points = {{0, 64}, {10, 32}, {40, 0}};
    wide.volume_envelope.sustain = 1;
    wide.vibrato_type = 0;
    wide.vibrato_sweep = 3;
    wide.vibrato_depth = 4;
    wide.vibrato_rate = 20;
    wide.fadeout = 0x200;
    XmSample s;
    s.name = "wide sample";
    s.volume = 48;
    s.finetune = -17;
    s.relative_note = 12;
    s.panning = 100;
    s.loop = XmLoop::forward;
    s.loop_start = 2;
    s.loop_length = 3;
    s.data = {0, 1000, -32768, 32767, -1, 5};
    wide.samples = {s};
    wide.sample_for_note.fill(0);

    XmInstrument narrow;
    narrow.name = "narrow";
    XmSample n;
    n.sixteen_bit = false;
    n.loop = XmLoop::pingpong;
    n.loop_start = 0;
    n.loop_length = 4;
    n.data = {-128, 127, 0, -1};
    narrow.samples = {n, n};
    narrow.sample_for_note.fill(0);
    narrow.sample_for_note[95] = 1;

    m.instruments = {wide, narrow};
    return m;
}

TEST(XmWriter, HeaderAndOrderTable) {
    const std::vector<uint8_t> bytes = xm_write(tiny_module());
    const ReadModule r = XmReader(bytes).read();
    EXPECT_EQ(r.id, "Extended Module: ");
    EXPECT_EQ(r.name, "tiny                ");
    EXPECT_EQ(r.marker, 0x1a);
    EXPECT_EQ(r.version, 0x0104);
    EXPECT_EQ(r.header_size, 276u);
    EXPECT_EQ(r.song_length, 3);
    EXPECT_EQ(r.restart, 1);
    EXPECT_EQ(r.channels, 2);
    EXPECT_EQ(r.pattern_count, 2);
    EXPECT_EQ(r.instrument_count, 2);
    EXPECT_EQ(r.flags, 1) << "linear frequency table";
    EXPECT_EQ(r.speed, 5);
    EXPECT_EQ(r.bpm, 140);
    ASSERT_EQ(r.order.size(), 256u);
    EXPECT_EQ(r.order[0], 1);
    EXPECT_EQ(r.order[1], 0);
    EXPECT_EQ(r.order[2], 1);
    for (size_t i = 3; i < 256; ++i) EXPECT_EQ(r.order[i], 0) << "unused order entry " << i;
    EXPECT_EQ(r.end, bytes.size()) << "no trailing or missing bytes";

    XmModule amiga = tiny_module();
    amiga.linear_frequencies = false;
    EXPECT_EQ(XmReader(xm_write(amiga)).read().flags, 0);
}

TEST(XmWriter, PatternPacking) {
    const XmModule m = tiny_module();
    const ReadModule r = XmReader(xm_write(m)).read();
    ASSERT_EQ(r.patterns.size(), 2u);
    const ReadPattern& p = r.patterns[0];
    EXPECT_EQ(p.header_size, 9u);
    EXPECT_EQ(p.packing, 0);
    EXPECT_EQ(p.rows, 4);
    const std::vector<uint8_t> expected = {
        // row 0: full cell unpacked; note + volume packed
        49, 1, 0x38, 0x04, 0x37, 0x85, 46, 0x50,
        // row 1: empty
        0x80, 0x80,
        // row 2: arpeggio keeps its parameter only; effect C with parameter 0 keeps the effect only
        0x90, 0x47, 0x88, 0x0C,
        // row 3: empty, key off with instrument
        0x80, 0x83, 97, 2};
    EXPECT_EQ(p.packed, expected);
    EXPECT_EQ(p.packed_size, expected.size());

    for (size_t pi = 0; pi < m.patterns.size(); ++pi) {
        ASSERT_EQ(r.patterns[pi].cells.size(), m.patterns[pi].cells.size());
        for (size_t i = 0; i < m.patterns[pi].cells.size(); ++i) {
            const XmCell& want = m.patterns[pi].cells[i];
            const ReadCell& got = r.patterns[pi].cells[i];
            EXPECT_EQ(got.note, want.note) << "pattern " << pi << " cell " << i;
            EXPECT_EQ(got.instrument, want.instrument) << "pattern " << pi << " cell " << i;
            EXPECT_EQ(got.volume, want.volume) << "pattern " << pi << " cell " << i;
            EXPECT_EQ(got.effect, want.effect) << "pattern " << pi << " cell " << i;
            EXPECT_EQ(got.param, want.param) << "pattern " << pi << " cell " << i;
        }
    }
}

TEST(XmWriter, InstrumentAndSampleHeaders) {
    const XmModule m = tiny_module();
    const ReadModule r = XmReader(xm_write(m)).read();
    ASSERT_EQ(r.instruments.size(), 2u);

    const ReadInstrument& wide = r.instruments[0];
    EXPECT_EQ(wide.header_size, 263u);
    EXPECT_EQ(wide.name, std::string("wide\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 22)) << "NUL padded";
    EXPECT_EQ(wide.sample_count, 1);
    EXPECT_EQ(wide.sample_header_size, 40u);
    EXPECT_EQ(wide.volume_point_count, 3);
    EXPECT_EQ(wide.volume_points[0], 0);
    EXPECT_EQ(wide.volume_points[1], 64);
    EXPECT_EQ(wide.volume_points[2], 10);
    EXPECT_EQ(wide.volume_points[3], 32);
    EXPECT_EQ(wide.volume_points[4], 40);
    EXPECT_EQ(wide.volume_points[5], 0);
    EXPECT_EQ(wide.volume_sustain, 1);
    EXPECT_EQ(wide.volume_type, 1 | 2) << "on, sustain, no loop";
    EXPECT_EQ(wide.panning_type, 0);
    EXPECT_EQ(wide.vibrato_sweep, 3);
    EXPECT_EQ(wide.vibrato_depth, 4);
    EXPECT_EQ(wide.vibrato_rate, 20);
    EXPECT_EQ(wide.fadeout, 0x200);

    const ReadSample& ws = wide.samples.at(0);
    EXPECT_EQ(ws.length_bytes, 12u) << "16-bit lengths are in bytes";
    EXPECT_EQ(ws.loop_start_bytes, 4u);
    EXPECT_EQ(ws.loop_length_bytes, 6u);
    EXPECT_EQ(ws.volume, 48);
    EXPECT_EQ(ws.finetune, -17);
    EXPECT_EQ(ws.relative_note, 12);
    EXPECT_EQ(ws.panning, 100);
    EXPECT_EQ(ws.type, 0x10 | 1);
    EXPECT_EQ(ws.reserved, 0) << "plain delta coding";
    EXPECT_EQ(ws.name.substr(0, 11), "wide sample");
    // Deltas wrap around: 1000 -> -32768 -> 32767 must come back exactly.
    EXPECT_EQ(ws.values, m.instruments[0].samples[0].data);

    const ReadInstrument& narrow = r.instruments[1];
    ASSERT_EQ(narrow.samples.size(), 2u);
    EXPECT_EQ(narrow.note_map[0], 0);
    EXPECT_EQ(narrow.note_map[95], 1);
    for (const ReadSample& ns : narrow.samples) {
        EXPECT_EQ(ns.length_bytes, 4u);
        EXPECT_EQ(ns.type, 2) << "ping-pong, 8-bit";
        EXPECT_EQ(ns.loop_length_bytes, 4u);
        EXPECT_EQ(ns.values, m.instruments[1].samples[0].data);
    }
}

TEST(XmWriter, DeltaCodingOnTheWire) {
    XmModule m = tiny_module();
    std::swap(m.instruments[0], m.instruments[1]);  // the 16-bit sample last in the file
    m.instruments[1].samples[0].data = {100, 90, 90, -10};
    m.instruments[1].samples[0].loop = XmLoop::none;
    const std::vector<uint8_t> bytes = xm_write(m);
    // The sample data is the last thing in the file: deltas 100, -10, 0, -100 as 16-bit words.
    const std::vector<uint8_t> tail(bytes.end() - 8, bytes.end());
    EXPECT_EQ(tail, (std::vector<uint8_t>{100, 0, 0xf6, 0xff, 0, 0, 0x9c, 0xff}));
    const ReadModule r = XmReader(bytes).read();
    EXPECT_EQ(r.instruments[1].samples[0].loop_length_bytes, 0u) << "no loop, no loop length";
}

TEST(XmWriter, InstrumentWithoutSamples) {
    XmModule m = tiny_module();
    m.instruments[1].samples.clear();
    for (XmPattern& p : m.patterns)
        for (XmCell& c : p.cells)
            if (c.instrument == 2) c.instrument = 1;
    const ReadModule r = XmReader(xm_write(m)).read();
    EXPECT_EQ(r.instruments[1].header_size, 29u);
    EXPECT_EQ(r.instruments[1].sample_count, 0);
}

TEST(XmWriter, RejectsModulesItCannotWrite) {
    const auto rejects = [](const char* what, auto&& spoil) {
        XmModule m = tiny_module();
        spoil(m);
        EXPECT_FALSE(xm_check(m).empty()) << what;
        EXPECT_THROW(xm_write(m), std::invalid_argument) << what;
    };
    rejects("order names a missing pattern", [](XmModule& m) { m.order.push_back(2); });
    rejects("empty order table", [](XmModule& m) { m.order.clear(); });
    rejects("restart beyond the order", [](XmModule& m) { m.restart = 3; });
    rejects("cells do not match rows x channels", [](XmModule& m) { m.patterns[0].cells.pop_back(); });
    rejects("channel count changed under the patterns", [](XmModule& m) { m.channels = 3; });
    rejects("8-bit value out of range", [](XmModule& m) { m.instruments[1].samples[0].data[0] = 128; });
    rejects("loop past the end", [](XmModule& m) { m.instruments[0].samples[0].loop_length = 5; });
    rejects("missing instrument in a cell", [](XmModule& m) { m.patterns[0].cells[0].instrument = 3; });
    rejects("note above key off", [](XmModule& m) { m.patterns[0].cells[0].note = 98; });
    rejects("envelope ticks going back", [](XmModule& m) { m.instruments[0].volume_envelope.points[2].tick = 5; });
    rejects("note map names a missing sample", [](XmModule& m) { m.instruments[0].sample_for_note[3] = 1; });
    rejects("name too long", [](XmModule& m) { m.name = "a name of more than twenty"; });
    EXPECT_EQ(xm_check(tiny_module()), "");
    EXPECT_THROW(xm_cell(tiny_module().patterns[0], tiny_channels, 4, 0), std::out_of_range);
}

TEST(XmWriter, LoadsInLibmikmodWithTheSameStructure) {
    ASSERT_EQ(render_open(48000), "");
    const XmModule m = tiny_module();
    MODULE* mod = render_load(xm_write(m));
    ASSERT_NE(mod, nullptr) << MikMod_strerror(MikMod_errno);
    EXPECT_EQ(mod->numpos, 3);
    EXPECT_EQ(mod->numpat, 2);
    EXPECT_EQ(mod->numins, 2);
    EXPECT_EQ(mod->numchn, 2);
    EXPECT_EQ(mod->initspeed, 5);
    EXPECT_EQ(mod->inittempo, 140);
    EXPECT_EQ(mod->reppos, 1);
    EXPECT_EQ(mod->positions[0], 1);
    EXPECT_EQ(mod->positions[1], 0);
    EXPECT_TRUE(mod->flags & UF_LINEAR);
    EXPECT_EQ(mod->numsmp, 3);
    EXPECT_EQ(mod->samples[0].length, 6u) << "lengths in frames once loaded";
    EXPECT_EQ(mod->samples[0].loopstart, 2u);
    EXPECT_EQ(mod->samples[0].loopend, 5u);
    EXPECT_TRUE(mod->samples[0].flags & SF_16BITS);
    EXPECT_TRUE(mod->samples[0].flags & SF_LOOP);
    EXPECT_TRUE(mod->samples[1].flags & SF_BIDI);
    Player_Free(mod);
}

TEST(XmWriter, SaveFileReplacesTheWholeFile) {
    const std::string path = ::testing::TempDir() + "xmwriter_save_test_" + std::to_string(getpid()) + ".xm";
    const std::vector<uint8_t> bytes = xm_write(tiny_module());
    ASSERT_EQ(xm_save_file(path, bytes), "");
    ASSERT_EQ(xm_save_file(path, bytes), "") << "overwrites an existing file";
    std::FILE* f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    std::vector<uint8_t> back(bytes.size() + 1);
    back.resize(std::fread(back.data(), 1, back.size(), f));
    std::fclose(f);
    EXPECT_EQ(back, bytes);
    std::remove(path.c_str());
    EXPECT_NE(xm_save_file("/nonexistent-dir/x.xm", bytes), "");
}

}  // namespace
