// The boxart command: turns box art files into text and back.
#include "boxart_cli.h"

#include "boxart_text.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "file_io.h"

namespace {

const char usage[] =
    "usage: boxart dump FILE.dat          print one line per item of a box art file\n"
    "       boxart build TEXT -o FILE.dat make a box art file from such text\n"
    "       boxart --help\n"
    "\n"
    "Lines of the text ('#' starts a comment, blank lines are ignored):\n"
    "  frame \"NAME\"   selects the frame of the boxes below it; escapes \\\" \\\\ \\xHH,\n"
    "                 trailing NUL bytes of the 32-byte name are implied\n"
    "  box X Y SCALE ROT DELTA_ROT MODE EXTRA1 EXTRA2 HOME_X HOME_Y SCALE1 TIMING\n"
    "                 one box: position, scale, rotation (degrees), then its\n"
    "                 animation: spin per tick, mode (1 jitter, 2 pulse), two\n"
    "                 spare ints, jitter home, pulse base scale, pulse phase\n"
    "  item TYPE HEX  any other item: its type byte and 96 hex digits (a box\n"
    "                 holding a NaN is dumped this way to keep its bits)\n"
    "  tail HEX       bytes after the last whole item (readers ignore them)\n"
    "dump and build round-trip every file byte for byte.\n";

// Reads or writes a whole file; a failure is reported on one line.
bool read_whole(const char *name, std::vector<unsigned char> &data, FILE *err) {
    std::string error;
    if (tool_read_file(name, data, error)) return true;
    fprintf(err, "boxart: %s\n", error.c_str());
    return false;
}

bool write_whole(const char *name, const std::vector<unsigned char> &bytes, const char *input, FILE *err) {
    std::string error;
    if (tool_write_file(name, bytes.data(), bytes.size(), error, {input})) return true;
    fprintf(err, "boxart: %s\n", error.c_str());
    return false;
}

int dump(const char *name, FILE *out, FILE *err) {
    std::vector<unsigned char> data;
    if (!read_whole(name, data, err)) return 1;
    std::string text = boxart_dump_text(data.data(), data.size());
    if (fwrite(text.data(), 1, text.size(), out) != text.size() || fflush(out) != 0) {
        fprintf(err, "boxart: cannot write the dump: %s\n", strerror(errno));
        return 1;
    }
    return 0;
}

int build(const char *textname, const char *outname, FILE *err) {
    std::vector<unsigned char> raw;
    if (!read_whole(textname, raw, err)) return 1;
    std::string text(raw.begin(), raw.end());
    std::vector<unsigned char> bytes;
    std::string error;
    if (!boxart_build_text(text, bytes, error)) {
        fprintf(err, "boxart: %s: %s\n", textname, error.c_str());
        return 1;
    }
    return write_whole(outname, bytes, textname, err) ? 0 : 1;
}

}  // namespace

int boxart_main(int argc, char **argv, FILE *out, FILE *err) {
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0) {
            fputs(usage, out);
            return 0;
        }
    }
    if (argc == 3 && strcmp(argv[1], "dump") == 0) return dump(argv[2], out, err);
    if (argc == 5 && strcmp(argv[1], "build") == 0) {
        if (strcmp(argv[3], "-o") == 0) return build(argv[2], argv[4], err);
        if (strcmp(argv[2], "-o") == 0) return build(argv[4], argv[3], err);
    }
    fputs("boxart: expected \"dump FILE.dat\" or \"build TEXT -o FILE.dat\"\n", err);
    fputs(usage, err);
    return 2;
}
