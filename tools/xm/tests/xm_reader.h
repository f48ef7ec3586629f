// A small, independent reader of extended modules for the tests: it parses
// the bytes back into plain records so the tests can compare them with what
// went into the writer.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

struct ReadCell {
    uint8_t note = 0, instrument = 0, volume = 0, effect = 0, param = 0;
};

struct ReadSample {
    uint32_t length_bytes = 0, loop_start_bytes = 0, loop_length_bytes = 0;
    uint8_t volume = 0, type = 0, panning = 0, reserved = 0;
    int8_t finetune = 0, relative_note = 0;
    std::string name;
    std::vector<int16_t> values;  // delta decoded
};

struct ReadInstrument {
    uint32_t header_size = 0;
    std::string name;
    uint16_t sample_count = 0;
    uint32_t sample_header_size = 0;
    std::vector<uint8_t> note_map;
    std::vector<uint16_t> volume_points;  // tick, value pairs, 24 words
    uint8_t volume_point_count = 0, panning_point_count = 0;
    uint8_t volume_sustain = 0, volume_loop_start = 0, volume_loop_end = 0;
    uint8_t volume_type = 0, panning_type = 0;
    uint8_t vibrato_type = 0, vibrato_sweep = 0, vibrato_depth = 0, vibrato_rate = 0;
    uint16_t fadeout = 0;
    std::vector<ReadSample> samples;
};

struct ReadPattern {
    uint32_t header_size = 0;
    uint8_t packing = 0;
    uint16_t rows = 0;
    uint16_t packed_size = 0;
    std::vector<uint8_t> packed;
    std::vector<ReadCell> cells;
};

struct ReadModule {
    std::string id, name, tracker;
    uint8_t marker = 0;
    uint16_t version = 0;
    uint32_t header_size = 0;
    uint16_t song_length = 0, restart = 0, channels = 0, pattern_count = 0, instrument_count = 0, flags = 0, speed = 0, bpm = 0;
    std::vector<uint8_t> order;  // all 256 bytes
    std::vector<ReadPattern> patterns;
    std::vector<ReadInstrument> instruments;
    size_t end = 0;  // offset after the last byte consumed
};

class XmReader {
public:
    explicit XmReader(const std::vector<uint8_t>& b) : b_(b) {}

    ReadModule read() {
        ReadModule m;
        m.id = text(17);
        m.name = text(20);
        m.marker = u8();
        m.tracker = text(20);
        m.version = u16();
        const size_t header_start = at_;
        m.header_size = u32();
        m.song_length = u16();
        m.restart = u16();
        m.channels = u16();
        m.pattern_count = u16();
        m.instrument_count = u16();
        m.flags = u16();
        m.speed = u16();
        m.bpm = u16();
        for (int i = 0; i < 256; ++i) m.order.push_back(u8());
        at_ = header_start + m.header_size;
        for (int p = 0; p < m.pattern_count; ++p) m.patterns.push_back(pattern(m.channels));
        for (int i = 0; i < m.instrument_count; ++i) m.instruments.push_back(instrument());
        m.end = at_;
        return m;
    }

private:
    ReadPattern pattern(int channels) {
        ReadPattern p;
        const size_t start = at_;
        p.header_size = u32();
        p.packing = u8();
        p.rows = u16();
        p.packed_size = u16();
        at_ = start + p.header_size;
        const size_t data_end = at_ + p.packed_size;
        need(p.packed_size);
        p.packed.assign(b_.begin() + static_cast<long>(at_), b_.begin() + static_cast<long>(data_end));
        for (int i = 0; i < p.rows * channels; ++i) {
            ReadCell c;
            const uint8_t first = u8();
            if (first & 0x80) {
                if (first & 1) c.note = u8();
                if (first & 2) c.instrument = u8();
                if (first & 4) c.volume = u8();
                if (first & 8) c.effect = u8();
                if (first & 16) c.param = u8();
            } else {
                c.note = first;
                c.instrument = u8();
                c.volume = u8();
                c.effect = u8();
                c.param = u8();
            }
            p.cells.push_back(c);
        }
        if (at_ != data_end) throw std::runtime_error("pattern data does not match its packed size");
        return p;
    }

    ReadInstrument instrument() {
        ReadInstrument r;
        const size_t start = at_;
        r.header_size = u32();
        r.name = text(22);
        u8();  // type
        r.sample_count = u16();
        if (r.sample_count == 0) {
            at_ = start + r.header_size;
            return r;
        }
        r.sample_header_size = u32();
        for (int i = 0; i < 96; ++i) r.note_map.push_back(u8());
        for (int i = 0; i < 24; ++i) r.volume_points.push_back(u16());
        for (int i = 0; i < 24; ++i) u16();  // panning points
        r.volume_point_count = u8();
        r.panning_point_count = u8();
        r.volume_sustain = u8();
        r.volume_loop_start = u8();
        r.volume_loop_end = u8();
        u8(); u8(); u8();
        r.volume_type = u8();
        r.panning_type = u8();
        r.vibrato_type = u8();
        r.vibrato_sweep = u8();
        r.vibrato_depth = u8();
        r.vibrato_rate = u8();
        r.fadeout = u16();
        at_ = start + r.header_size;
        for (int s = 0; s < r.sample_count; ++s) {
            const size_t sample_start = at_;
            ReadSample x;
            x.length_bytes = u32();
            x.loop_start_bytes = u32();
            x.loop_length_bytes = u32();
            x.volume = u8();
            x.finetune = static_cast<int8_t>(u8());
            x.type = u8();
            x.panning = u8();
            x.relative_note = static_cast<int8_t>(u8());
            x.reserved = u8();
            x.name = text(22);
            at_ = sample_start + r.sample_header_size;
            r.samples.push_back(x);
        }
        for (ReadSample& x : r.samples) {
            const bool wide = (x.type & 0x10) != 0;
            int32_t value = 0;
            for (uint32_t i = 0; i < x.length_bytes / (wide ? 2 : 1); ++i) {
                if (wide) {
                    value = static_cast<int16_t>(static_cast<uint16_t>(value + u16()));
                } else {
                    value = static_cast<int8_t>(static_cast<uint8_t>(value + u8()));
                }
                x.values.push_back(static_cast<int16_t>(value));
            }
        }
        return r;
    }

    void need(size_t n) const {
        if (at_ + n > b_.size()) throw std::runtime_error("module ends early at offset " + std::to_string(at_));
    }
    uint8_t u8() { need(1); return b_[at_++]; }
    uint16_t u16() { const uint16_t lo = u8(); return static_cast<uint16_t>(lo | (u8() << 8)); }
    uint32_t u32() { const uint32_t lo = u16(); return lo | (static_cast<uint32_t>(u16()) << 16); }
    std::string text(size_t n) {
        std::string s;
        for (size_t i = 0; i < n; ++i) s.push_back(static_cast<char>(u8()));
        return s;
    }

    const std::vector<uint8_t>& b_;
    size_t at_ = 0;
};
