// The boxart command: turns box art files into text and back.
#include "boxart_text.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

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

struct file_closer {
    void operator()(FILE *f) const { fclose(f); }
};
using file_ptr = std::unique_ptr<FILE, file_closer>;

bool read_whole(const char *name, std::string &data, FILE *err) {
    file_ptr f(fopen(name, "rb"));
    if (!f) {
        fprintf(err, "boxart: cannot open \"%s\": %s\n", name, strerror(errno));
        return false;
    }
    char buffer[65536];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, f.get())) > 0) data.append(buffer, got);
    if (ferror(f.get())) {
        fprintf(err, "boxart: cannot read \"%s\": %s\n", name, strerror(errno));
        return false;
    }
    return true;
}

// Writes beside the target and renames, so the target is either the old
// file or the whole new one, never a part.
bool write_whole(const char *name, const std::vector<unsigned char> &bytes, FILE *err) {
    std::string temp = std::string(name) + ".XXXXXX";
    int fd = mkstemp(&temp[0]);
    if (fd < 0) {
        fprintf(err, "boxart: cannot create a file beside \"%s\": %s\n", name, strerror(errno));
        return false;
    }
    bool ok;
    {
        file_ptr f(fdopen(fd, "wb"));
        if (!f) {
            close(fd);
            ok = false;
        } else {
            ok = (bytes.empty() || fwrite(bytes.data(), 1, bytes.size(), f.get()) == bytes.size()) &&
                 fflush(f.get()) == 0;
            if (fclose(f.release()) != 0) ok = false;
        }
    }
    // mkstemp makes the file private; a box art file is an ordinary asset.
    if (ok) {
        mode_t mask = umask(0);
        umask(mask);
        ok = chmod(temp.c_str(), 0666 & ~mask) == 0;
    }
    if (ok) ok = rename(temp.c_str(), name) == 0;
    if (!ok) {
        fprintf(err, "boxart: cannot write \"%s\": %s\n", name, strerror(errno));
        unlink(temp.c_str());
    }
    return ok;
}

int dump(const char *name, FILE *out, FILE *err) {
    std::string data;
    if (!read_whole(name, data, err)) return 1;
    std::string text = boxart_dump_text(reinterpret_cast<const unsigned char *>(data.data()), data.size());
    if (fwrite(text.data(), 1, text.size(), out) != text.size() || fflush(out) != 0) {
        fprintf(err, "boxart: cannot write the dump: %s\n", strerror(errno));
        return 1;
    }
    return 0;
}

int build(const char *textname, const char *outname, FILE *err) {
    std::string text;
    if (!read_whole(textname, text, err)) return 1;
    std::vector<unsigned char> bytes;
    std::string error;
    if (!boxart_build_text(text, bytes, error)) {
        fprintf(err, "boxart: %s: %s\n", textname, error.c_str());
        return 1;
    }
    return write_whole(outname, bytes, err) ? 0 : 1;
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
