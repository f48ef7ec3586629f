#include "render.h"

#include "xmwriter.h"

#include <cmath>
#include <cstdlib>

namespace {
unsigned open_rate = 0;
}

std::string render_open(unsigned rate) {
    if (open_rate == rate) return {};
    if (open_rate != 0) {
        MikMod_Exit();
        open_rate = 0;
    } else {
        MikMod_RegisterDriver(&drv_nos);
        MikMod_RegisterAllLoaders();
    }
    md_mode |= DMODE_SOFT_MUSIC | DMODE_16BITS | DMODE_STEREO;
    md_mixfreq = static_cast<UWORD>(rate);
    if (MikMod_Init("") != 0) return std::string("MikMod_Init failed: ") + MikMod_strerror(MikMod_errno);
    open_rate = rate;
    return {};
}

MODULE* render_load(const std::vector<uint8_t>& bytes) {
    return Player_LoadMem(reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()), 64, 0);
}

RenderResult render_play(MODULE* module, unsigned chunk_frames, double max_seconds) {
    RenderResult r;
    const uint64_t max_frames = static_cast<uint64_t>(max_seconds * md_mixfreq);
    std::vector<int16_t> chunk(static_cast<size_t>(chunk_frames) * 2);
    Player_Start(module);
    uint64_t frames = 0;
    int last = -1;
    while (frames < max_frames) {
        if (!Player_Active()) {
            r.ended = true;
            r.end_frame = frames;
            break;
        }
        VC_WriteBytes(reinterpret_cast<SBYTE*>(chunk.data()), static_cast<ULONG>(chunk.size() * sizeof(int16_t)));
        frames += chunk_frames;
        r.pcm.insert(r.pcm.end(), chunk.begin(), chunk.end());
        const int pos = module->sngpos;
        if (pos != last && Player_Active()) {
            r.positions.push_back(pos);
            r.position_frame.push_back(frames);
            last = pos;
        }
    }
    Player_Stop();
    return r;
}

PcmLevels pcm_levels(const std::vector<int16_t>& pcm) {
    PcmLevels l;
    double sum = 0;
    for (int16_t s : pcm) {
        const int a = std::abs(static_cast<int>(s));
        if (a > l.peak) l.peak = a;
        if (a >= 32767) ++l.clipped;
        sum += static_cast<double>(s) * s;
    }
    if (!pcm.empty() && sum > 0) l.rms_dbfs = 20.0 * std::log10(std::sqrt(sum / pcm.size()) / 32768.0);
    if (l.peak > 0) l.peak_dbfs = 20.0 * std::log10(l.peak / 32768.0);
    return l;
}

std::string write_wav(const std::string& path, const std::vector<int16_t>& pcm, unsigned rate,
                      const std::vector<std::string>& inputs) {
    std::vector<uint8_t> b;
    b.reserve(44 + pcm.size() * 2);
    const auto u16 = [&](uint32_t v) { b.push_back(v & 0xff); b.push_back((v >> 8) & 0xff); };
    const auto u32 = [&](uint32_t v) { u16(v & 0xffff); u16(v >> 16); };
    const auto tag = [&](const char* t) { for (int k = 0; k < 4; k++) b.push_back(static_cast<uint8_t>(t[k])); };
    const uint32_t data_bytes = static_cast<uint32_t>(pcm.size() * 2);
    tag("RIFF"); u32(36 + data_bytes); tag("WAVE");
    tag("fmt "); u32(16); u16(1); u16(2); u32(rate); u32(rate * 4); u16(4); u16(16);
    tag("data"); u32(data_bytes);
    for (int16_t s : pcm) u16(static_cast<uint16_t>(s));
    return xm_save_file(path, b, inputs);
}
