// xmsong: writes the intro's song, "omber", as an XM module.
#include "song.h"
#include "xmwriter.h"

#include <cstdio>
#include <exception>
#include <string>

namespace {

void usage(std::FILE* to) {
    std::fprintf(to,
                 "usage: xmsong -o FILE\n"
                 "\n"
                 "Writes the intro's song \"omber\" as an extended module (XM) to FILE.\n"
                 "The instruments are synthesised and the score is compiled in, so the\n"
                 "output is the same, byte for byte, on every run.\n"
                 "\n"
                 "  -o FILE    where to write the module (written to a temporary file\n"
                 "             beside it, then renamed over it)\n"
                 "  -h, --help show this text\n");
}

}  // namespace

int main(int argc, char** argv) {
    std::string output;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            usage(stdout);
            return 0;
        }
        if (arg == "-o" && i + 1 < argc) {
            output = argv[++i];
            continue;
        }
        std::fprintf(stderr, "xmsong: %s '%s'\n", arg == "-o" ? "missing file name after" : "unknown argument", arg.c_str());
        usage(stderr);
        return 2;
    }
    if (output.empty()) {
        std::fprintf(stderr, "xmsong: no output file given (use -o FILE)\n");
        usage(stderr);
        return 2;
    }
    try {
        const std::vector<uint8_t> bytes = xm_write(song_module());
        const std::string error = xm_save_file(output, bytes);
        if (!error.empty()) {
            std::fprintf(stderr, "xmsong: %s\n", error.c_str());
            return 1;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "xmsong: %s\n", e.what());
        return 1;
    }
    return 0;
}
