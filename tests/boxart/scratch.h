// Helpers shared by the box art tests: a scratch folder that the test runs
// in, a fresh start with named frames, and item bytes.
#ifndef BOXART_TESTS_SCRATCH_H
#define BOXART_TESTS_SCRATCH_H

#include "boxart.h"
#include "drawboxlib/drawboxlib.h"
#include "intro.h"
#include "tests/common/scratch_dir.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

inline std::vector<unsigned char> read_bytes(const char *name) {
    std::vector<unsigned char> bytes;
    if (FILE *f = fopen(name, "rb")) {
        int c;
        while ((c = fgetc(f)) != EOF) bytes.push_back(static_cast<unsigned char>(c));
        fclose(f);
    }
    return bytes;
}

inline bool write_bytes(const char *name, const std::vector<unsigned char> &bytes) {
    FILE *f = fopen(name, "wb");
    if (!f) return false;
    bool ok = bytes.empty() || fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}

// Loads bytes from a buffer of exactly their size, so that the sanitizer
// sees any read past the data.
inline void load_exact(const std::vector<unsigned char> &bytes) {
    std::vector<char> copy(bytes.begin(), bytes.end());
    boxart_load(copy.data(), static_cast<int>(copy.size()));
}

// A fresh program's engine and intro, with a frame pool holding the given
// names.
inline void start_with_frames(const std::vector<std::string> &frame_names) {
    dbx_reset();
    intro_reset();
    for (const std::string &name : frame_names) {
        int f = dbx_frame_create();
        strncpy(dbx_frame[f].source_name, name.c_str(), sizeof dbx_frame[f].source_name);
    }
}

// Item bytes built with the shared encoders.
inline void append_frame_item(std::vector<unsigned char> &bytes, const char *name) {
    // A name of 32 characters fills the field without a NUL.
    char padded[BOXART_NAME_SIZE] = {};
    memcpy(padded, name, std::min(strlen(name), sizeof padded));
    unsigned char item[BOXART_FRAME_ITEM];
    boxart_encode_frame(padded, item);
    bytes.insert(bytes.end(), item, item + sizeof item);
}

inline void append_box_item(std::vector<unsigned char> &bytes, const boxart_box_t &box) {
    unsigned char item[BOXART_BOX_ITEM];
    boxart_encode_box(&box, item);
    bytes.insert(bytes.end(), item, item + sizeof item);
}

// A box item whose every field differs from that of box `n`.
inline boxart_box_t numbered_box(int n) {
    boxart_box_t b;
    b.x1 = 100 + n;
    b.y1 = -50 - n;
    b.scale = 0.5f + n;
    b.rotation = 10.25f * n;
    b.myextra = {n + 1, n % 3, 1000 + n, -1000 - n, 300 + n, 200 - n, 1.5f + n, 7 * n};
    return b;
}

#endif
