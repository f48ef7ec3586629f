// libFuzzer target for the box art reader and its report: any bytes must load without
// reading or writing outside the data and the pools, leave every box on a
// loaded frame or on no frame, and dump/build back to the same bytes.
#include "boxart.h"
#include "boxart_text.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

static void check(bool ok, const char *what) {
    if (!ok) {
        fprintf(stderr, "box art fuzz: %s\n", what);
        abort();
    }
}

// Boxes from slot `first` on were loaded by this input.
static void check_pool(uint32_t first) {
    check(dbx_drawboxes <= DBX_MAX_DRAWBOXES, "pool count past the pool");
    for (uint32_t i = first; i < dbx_drawboxes; i++) {
        check(dbx_drawbox[i].frame < dbx_frames || dbx_drawbox[i].frame == BOXART_NO_FRAME,
              "a box shows a frame that is not loaded");
        check(dbx_drawbox[i].visible == 1, "a loaded box is hidden");
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (dbx_frames == 0) {
        const char *names[] = {"bird.png", "Toskel.png", "2 test.png", "abcdefghijklmnopqrstuvwxyz01234"};
        for (const char *name : names) strncpy(dbx_frame[dbx_frame_create()].source_name, name, 32);
    }
    int datasize = size > BOXART_FILE_MAX ? BOXART_FILE_MAX : static_cast<int>(size);
    const char *bytes = reinterpret_cast<const char *>(data);

    // From an empty pool, then appended until the pool is full.
    dbx_drawboxes = 0;
    memset(extra, 0, sizeof extra);
    boxart_load(bytes, datasize);
    check_pool(0);
    // The report: a line for an empty file, one for a file cut short, and
    // at most four problems, since of the five kinds an empty file excludes
    // the other four.
    static FILE *nowhere = fopen("/dev/null", "w");
    const bool cut = size > BOXART_FILE_MAX;
    const int problems = boxart_check("fuzz.dat", bytes, datasize, cut, nowhere);
    check(size > 0 || problems == 1, "an empty file is one problem");
    check(!cut || problems >= 1, "a file cut short went unreported");
    check(problems <= 4, "more problems than a file can have");
    spinboxes();
    dbx_drawboxes = DBX_MAX_DRAWBOXES - 3;
    for (int n = 0; n < 3; n++) boxart_load(bytes, datasize);
    check_pool(DBX_MAX_DRAWBOXES - 3);
    dbx_tics = static_cast<int32_t>(size * 977u);
    spinboxes();

    // The text form brings back every byte.
    std::string text = boxart_dump_text(data, size);
    std::vector<unsigned char> back;
    std::string error;
    check(boxart_build_text(text, back, error), error.c_str());
    check(back.size() == size && (size == 0 || memcmp(back.data(), data, size) == 0), "dump/build changed the bytes");
    return 0;
}
