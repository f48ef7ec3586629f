// xmrender: plays an XM module through libmikmod into a WAV file, without a
// sound device, and reports when each song position starts, when the song
// ends, and the output's peak and RMS level.
#include "render.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

namespace {
void usage(std::FILE* to) {
    std::fprintf(to,
                 "usage: xmrender [--rate HZ] [-o OUT.wav] MODULE.xm\n"
                 "\n"
                 "Plays MODULE.xm through libmikmod's software mixer (16-bit stereo, default\n"
                 "volumes) and prints each song position's start time, the end of the song\n"
                 "and the level of the output. With -o, also writes the audio as WAV.\n"
                 "\n"
                 "  --rate HZ  mixing rate (default 44100)\n"
                 "  -o FILE    write the audio to FILE\n"
                 "  -h, --help show this text\n");
}
}  // namespace

int main(int argc, char** argv) {
    unsigned rate = 44100;
    std::string in, out;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "-h" || a == "--help") {
            usage(stdout);
            return 0;
        } else if (a == "--rate" && i + 1 < argc) {
            rate = static_cast<unsigned>(std::stoul(argv[++i]));
        } else if (a == "-o" && i + 1 < argc) {
            out = argv[++i];
        } else if (!a.empty() && a[0] != '-' && in.empty()) {
            in = a;
        } else {
            std::fprintf(stderr, "xmrender: unexpected argument '%s'\n", a.c_str());
            usage(stderr);
            return 2;
        }
    }
    if (in.empty() || rate < 8000 || rate > 96000) {
        std::fprintf(stderr, "xmrender: %s\n", in.empty() ? "no module given" : "rate must be 8000..96000");
        usage(stderr);
        return 2;
    }
    std::ifstream f(in, std::ios::binary);
    if (!f) {
        std::fprintf(stderr, "xmrender: cannot open %s\n", in.c_str());
        return 1;
    }
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    const std::string err = render_open(rate);
    if (!err.empty()) {
        std::fprintf(stderr, "xmrender: %s\n", err.c_str());
        return 1;
    }
    MODULE* mod = render_load(bytes);
    if (!mod) {
        std::fprintf(stderr, "xmrender: libmikmod cannot load %s: %s\n", in.c_str(), MikMod_strerror(MikMod_errno));
        return 1;
    }
    const RenderResult r = render_play(mod, 256, 600.0);
    for (size_t i = 0; i < r.positions.size(); ++i)
        std::printf("position %2d at %8.3f s\n", r.positions[i], static_cast<double>(r.position_frame[i]) / rate);
    if (r.ended)
        std::printf("ended at %.3f s\n", static_cast<double>(r.end_frame) / rate);
    else
        std::printf("still playing after 600 s\n");
    const PcmLevels l = pcm_levels(r.pcm);
    std::printf("peak %d (%.2f dBFS), RMS %.2f dBFS, %zu clipped samples\n", l.peak, l.peak_dbfs, l.rms_dbfs, l.clipped);
    Player_Free(mod);
    MikMod_Exit();
    if (!out.empty()) {
        const std::string e = write_wav(out, r.pcm, rate, {in});
        if (!e.empty()) {
            std::fprintf(stderr, "xmrender: %s\n", e.c_str());
            return 1;
        }
    }
    return 0;
}
