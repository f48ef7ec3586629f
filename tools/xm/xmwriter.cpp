// Serialises an XmModule into an extended module file (version 0x0104):
// a 336-byte header with the order table, the packed patterns, then each
// instrument with its sample headers followed by its delta-coded samples.
#include "xmwriter.h"

#include "file_io.h"

#include <stdexcept>

namespace {

constexpr uint32_t header_size = 276;             // from the size field to the end of the order table
constexpr uint32_t pattern_header_size = 9;
constexpr uint32_t instrument_header_size = 263;  // with samples
constexpr uint32_t instrument_header_size_empty = 29;
constexpr uint32_t sample_header_size = 40;

struct Out {
    std::vector<uint8_t> bytes;
    void u8(uint32_t v) { bytes.push_back(static_cast<uint8_t>(v)); }
    void u16(uint32_t v) { u8(v & 0xff); u8((v >> 8) & 0xff); }
    void u32(uint32_t v) { u16(v & 0xffff); u16(v >> 16); }
    void text(const std::string& s, size_t width, char pad) {
        for (size_t i = 0; i < width; ++i) u8(i < s.size() ? static_cast<uint8_t>(s[i]) : static_cast<uint8_t>(pad));
    }
    void zeros(size_t n) { bytes.insert(bytes.end(), n, 0); }
    void put_u16_at(size_t at, uint32_t v) {
        bytes[at] = static_cast<uint8_t>(v & 0xff);
        bytes[at + 1] = static_cast<uint8_t>((v >> 8) & 0xff);
    }
};

std::string check_envelope(const XmEnvelope& e, const std::string& where) {
    if (e.points.size() > static_cast<size_t>(XM_MAX_ENVELOPE_POINTS)) return where + ": more than 12 envelope points";
    if (e.on && e.points.empty()) return where + ": envelope switched on without points";
    const int n = static_cast<int>(e.points.size());
    for (int i = 0; i < n; ++i) {
        if (e.points[i].value > 64) return where + ": envelope value above 64";
        if (i > 0 && e.points[i].tick <= e.points[i - 1].tick) return where + ": envelope ticks must increase";
    }
    if (e.sustain >= n) return where + ": sustain point out of range";
    if ((e.loop_start >= 0) != (e.loop_end >= 0)) return where + ": loop needs both start and end";
    if (e.loop_start >= 0 && (e.loop_end >= n || e.loop_start > e.loop_end)) return where + ": loop points out of range";
    return {};
}

std::string check_sample(const XmSample& s, const std::string& where) {
    if (s.name.size() > 22) return where + ": name longer than 22 characters";
    if (s.volume > 64) return where + ": volume above 64";
    if (!s.sixteen_bit) {
        for (int16_t v : s.data)
            if (v < -128 || v > 127) return where + ": 8-bit sample value outside -128..127";
    }
    if (s.loop != XmLoop::none) {
        if (s.loop_length == 0) return where + ": loop of length 0";
        if (static_cast<uint64_t>(s.loop_start) + s.loop_length > s.data.size()) return where + ": loop runs past the end of the data";
    }
    const uint64_t bytes = s.data.size() * (s.sixteen_bit ? 2u : 1u);
    if (bytes > 0xffffffffu) return where + ": sample too long";
    return {};
}

void write_envelope_points(Out& out, const XmEnvelope& e) {
    for (int i = 0; i < XM_MAX_ENVELOPE_POINTS; ++i) {
        if (i < static_cast<int>(e.points.size())) {
            out.u16(e.points[i].tick);
            out.u16(e.points[i].value);
        } else {
            out.u32(0);
        }
    }
}

uint8_t envelope_type(const XmEnvelope& e) {
    uint8_t t = 0;
    if (e.on) t |= 1;
    if (e.sustain >= 0) t |= 2;
    if (e.loop_start >= 0) t |= 4;
    return t;
}

void write_pattern(Out& out, const XmPattern& p) {
    out.u32(pattern_header_size);
    out.u8(0);  // packing type
    out.u16(p.rows);
    const size_t size_at = out.bytes.size();
    out.u16(0);  // packed size, filled in below
    const size_t start = out.bytes.size();
    for (const XmCell& c : p.cells) {
        uint8_t mask = 0;
        if (c.note) mask |= 1;
        if (c.instrument) mask |= 2;
        if (c.volume) mask |= 4;
        if (c.effect) mask |= 8;
        if (c.param) mask |= 16;
        if (mask == 31) {
            // All five fields: the unpacked form is one byte shorter.
            out.u8(c.note);
            out.u8(c.instrument);
            out.u8(c.volume);
            out.u8(c.effect);
            out.u8(c.param);
            continue;
        }
        out.u8(0x80 | mask);
        if (mask & 1) out.u8(c.note);
        if (mask & 2) out.u8(c.instrument);
        if (mask & 4) out.u8(c.volume);
        if (mask & 8) out.u8(c.effect);
        if (mask & 16) out.u8(c.param);
    }
    const size_t packed = out.bytes.size() - start;
    out.put_u16_at(size_at, static_cast<uint32_t>(packed));
}

void write_instrument(Out& out, const XmInstrument& ins) {
    const bool has_samples = !ins.samples.empty();
    out.u32(has_samples ? instrument_header_size : instrument_header_size_empty);
    out.text(ins.name, 22, '\0');
    out.u8(0);  // type
    out.u16(static_cast<uint32_t>(ins.samples.size()));
    if (!has_samples) return;

    out.u32(sample_header_size);
    for (uint8_t s : ins.sample_for_note) out.u8(s);
    write_envelope_points(out, ins.volume_envelope);
    write_envelope_points(out, ins.panning_envelope);
    out.u8(static_cast<uint32_t>(ins.volume_envelope.points.size()));
    out.u8(static_cast<uint32_t>(ins.panning_envelope.points.size()));
    for (const XmEnvelope* e : {&ins.volume_envelope, &ins.panning_envelope}) {
        out.u8(e->sustain >= 0 ? static_cast<uint32_t>(e->sustain) : 0);
        out.u8(e->loop_start >= 0 ? static_cast<uint32_t>(e->loop_start) : 0);
        out.u8(e->loop_end >= 0 ? static_cast<uint32_t>(e->loop_end) : 0);
    }
    out.u8(envelope_type(ins.volume_envelope));
    out.u8(envelope_type(ins.panning_envelope));
    out.u8(ins.vibrato_type);
    out.u8(ins.vibrato_sweep);
    out.u8(ins.vibrato_depth);
    out.u8(ins.vibrato_rate);
    out.u16(ins.fadeout);
    out.zeros(instrument_header_size - 241);  // reserved up to the declared header size

    for (const XmSample& s : ins.samples) {
        const uint32_t width = s.sixteen_bit ? 2 : 1;
        const bool looped = s.loop != XmLoop::none;
        out.u32(static_cast<uint32_t>(s.data.size()) * width);
        out.u32(looped ? s.loop_start * width : 0);
        out.u32(looped ? s.loop_length * width : 0);
        out.u8(s.volume);
        out.u8(static_cast<uint8_t>(s.finetune));
        out.u8(static_cast<uint32_t>(s.loop) | (s.sixteen_bit ? 0x10 : 0));
        out.u8(s.panning);
        out.u8(static_cast<uint8_t>(s.relative_note));
        out.u8(0);  // plain delta coding
        out.text(s.name, 22, '\0');
    }
    for (const XmSample& s : ins.samples) {
        int32_t previous = 0;
        for (int16_t v : s.data) {
            const int32_t delta = v - previous;
            previous = v;
            if (s.sixteen_bit)
                out.u16(static_cast<uint16_t>(delta));
            else
                out.u8(static_cast<uint8_t>(delta));
        }
    }
}

}  // namespace

XmPattern xm_pattern(int rows, int channels) {
    XmPattern p;
    p.rows = static_cast<uint16_t>(rows);
    p.cells.assign(static_cast<size_t>(rows) * static_cast<size_t>(channels), XmCell{});
    return p;
}

XmCell& xm_cell(XmPattern& pattern, int channels, int row, int channel) {
    const size_t index = static_cast<size_t>(row) * static_cast<size_t>(channels) + static_cast<size_t>(channel);
    if (row < 0 || channel < 0 || channel >= channels || index >= pattern.cells.size())
        throw std::out_of_range("xm_cell: row " + std::to_string(row) + ", channel " + std::to_string(channel) +
                                " outside the pattern");
    return pattern.cells[index];
}

std::string xm_check(const XmModule& m) {
    if (m.name.size() > 20) return "module name longer than 20 characters";
    if (m.tracker.size() > 20) return "tracker name longer than 20 characters";
    if (m.channels < 1 || m.channels > XM_MAX_CHANNELS) return "channel count must be 1..32";
    if (m.speed < 1 || m.speed > 31) return "speed must be 1..31";
    if (m.bpm < 32 || m.bpm > 255) return "bpm must be 32..255";
    if (m.order.empty() || m.order.size() > 256) return "order table must have 1..256 entries";
    if (m.restart >= m.order.size()) return "restart position beyond the order table";
    if (m.patterns.empty() || m.patterns.size() > XM_MAX_PATTERNS) return "pattern count must be 1..256";
    if (m.instruments.size() > XM_MAX_INSTRUMENTS) return "more than 128 instruments";
    for (size_t i = 0; i < m.order.size(); ++i)
        if (m.order[i] >= m.patterns.size())
            return "order entry " + std::to_string(i) + " names pattern " + std::to_string(m.order[i]) + ", which does not exist";
    for (size_t i = 0; i < m.patterns.size(); ++i) {
        const XmPattern& p = m.patterns[i];
        const std::string where = "pattern " + std::to_string(i);
        if (p.rows < 1 || p.rows > 256) return where + ": rows must be 1..256";
        if (p.cells.size() != static_cast<size_t>(p.rows) * m.channels) return where + ": cell count is not rows x channels";
        for (const XmCell& c : p.cells) {
            if (c.note > XM_NOTE_OFF) return where + ": note above key off (97)";
            if (c.instrument > m.instruments.size()) return where + ": cell names a missing instrument";
            if (c.effect > 35) return where + ": effect number above 35";
        }
        // 256 rows x 32 channels x at most 5 bytes a cell always fits the 16-bit packed size.
    }
    for (size_t i = 0; i < m.instruments.size(); ++i) {
        const XmInstrument& ins = m.instruments[i];
        const std::string where = "instrument " + std::to_string(i + 1);
        if (ins.name.size() > 22) return where + ": name longer than 22 characters";
        if (ins.samples.size() > 16) return where + ": more than 16 samples";
        if (ins.fadeout > 0xfff) return where + ": fadeout above 0xfff";
        if (ins.vibrato_type > 3) return where + ": vibrato type must be 0..3";
        for (uint8_t s : ins.sample_for_note)
            if (!ins.samples.empty() && s >= ins.samples.size()) return where + ": note map names a missing sample";
        std::string e = check_envelope(ins.volume_envelope, where + " volume");
        if (!e.empty()) return e;
        e = check_envelope(ins.panning_envelope, where + " panning");
        if (!e.empty()) return e;
        for (size_t s = 0; s < ins.samples.size(); ++s) {
            e = check_sample(ins.samples[s], where + " sample " + std::to_string(s));
            if (!e.empty()) return e;
        }
    }
    return {};
}

std::vector<uint8_t> xm_write(const XmModule& m) {
    const std::string fault = xm_check(m);
    if (!fault.empty()) throw std::invalid_argument("xm_write: " + fault);

    Out out;
    out.text("Extended Module: ", 17, ' ');
    out.text(m.name, 20, ' ');
    out.u8(0x1a);
    out.text(m.tracker, 20, ' ');
    out.u16(0x0104);
    out.u32(header_size);
    out.u16(static_cast<uint32_t>(m.order.size()));
    out.u16(m.restart);
    out.u16(m.channels);
    out.u16(static_cast<uint32_t>(m.patterns.size()));
    out.u16(static_cast<uint32_t>(m.instruments.size()));
    out.u16(m.linear_frequencies ? 1 : 0);
    out.u16(m.speed);
    out.u16(m.bpm);
    for (size_t i = 0; i < 256; ++i) out.u8(i < m.order.size() ? m.order[i] : 0);

    for (const XmPattern& p : m.patterns) write_pattern(out, p);
    for (const XmInstrument& ins : m.instruments) write_instrument(out, ins);
    return std::move(out.bytes);
}

std::string xm_save_file(const std::string& path, const std::vector<uint8_t>& bytes,
                         const std::vector<std::string>& inputs) {
    std::string error;
    return tool_write_file(path, bytes.data(), bytes.size(), error, inputs) ? std::string() : error;
}
