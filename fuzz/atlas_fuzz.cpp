// libFuzzer target for the atlas path: any bytes as the atlas PNG must decode
// or be refused without reading or writing outside the data, and the frame
// table check must accept exactly the tables whose rectangles lie inside the
// decoded image.
//
// With ATLAS_FUZZ_SEEDS=DIR set it writes its seed images into DIR and exits.
#include "drawboxlib/drawboxlib.h"
#include "out.h"

#include <lodepng.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

static void check(bool ok, const char *what) {
    if (!ok) {
        fprintf(stderr, "atlas fuzz: %s\n", what);
        abort();
    }
}

static void write_seed(const std::string &dir, const char *name, unsigned w, unsigned h) {
    std::vector<unsigned char> rgba(static_cast<size_t>(w) * h * 4);
    for (size_t i = 0; i < rgba.size(); i++) rgba[i] = static_cast<unsigned char>(i % 4 == 3 ? 255 : i * 7);
    check(lodepng_encode32_file((dir + "/" + name).c_str(), rgba.data(), w, h) == 0, "cannot write a seed");
}

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    if (const char *dir = getenv("ATLAS_FUZZ_SEEDS")) {
        // Too small for the table, just big enough, and the intro's size.
        write_seed(dir, "tiny.png", 8, 8);
        write_seed(dir, "one.png", 1, 1);
        write_seed(dir, "fits.png", 953, 809);
        write_seed(dir, "short.png", 953, 808);
        write_seed(dir, "atlas.png", 1024, 1024);
        exit(0);
    }
    // The decoder's messages go to standard output; keep the log readable.
    if (!freopen("/dev/null", "w", stdout)) abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0 || size > 1 << 20) return 0;
    // Images the engine would decode but that take more memory than a fuzz
    // run has are left out; those beyond the engine's limit are kept, since
    // they must be refused before anything is allocated.
    unsigned w = 0, h = 0;
    LodePNGState state;
    lodepng_state_init(&state);
    unsigned header = lodepng_inspect(&w, &h, &state, data, size);
    lodepng_state_cleanup(&state);
    const bool refused_by_size = w > DBX_MAX_IMAGE_SIDE || h > DBX_MAX_IMAGE_SIDE;
    if (!header && !refused_by_size && static_cast<uint64_t>(w) * h > 2048u * 2048u) return 0;

    dbx_image_t *image = dbx_loadpng(nullptr, data, static_cast<int>(size));
    if (!image) return 0;
    check(!refused_by_size, "an image beyond the size limit was decoded");
    check(image->width == w && image->height == h, "the decoded size differs from the header");
    const unsigned char *pixels = dbx_image_pixels(image);
    // Every byte is there: the sum is kept, so the reads are not optimised away.
    static volatile unsigned sink;
    unsigned sum = 0;
    for (size_t i = 0; i < static_cast<size_t>(w) * h * 4; i++) sum += pixels[i];
    sink = sum;

    // The intro's table fits exactly when the image reaches its farthest edges.
    uint32_t right = 0, bottom = 0;
    for (const dbx_frame_t &f : tileset) {
        right = f.x1 + f.width > right ? f.x1 + f.width : right;
        bottom = f.y1 + f.height > bottom ? f.y1 + f.height : bottom;
    }
    const bool fits = w >= right && h >= bottom;
    check((dbx_atlas_problem("atlas", w, h, tileset, static_cast<int>(std::size(tileset)), 0) == nullptr) == fits, "the intro's table was misjudged");
    // One frame the size of the whole image fits; shifted by a texel it does not.
    dbx_frame_t whole = {1, 0, 0, 0, 0, 0, w, h, "whole", w, h};
    check(dbx_atlas_problem("atlas", w, h, &whole, 1, 0) == nullptr, "a frame as large as the image was refused");
    whole.x1 = 1;
    check(dbx_atlas_problem("atlas", w, h, &whole, 1, 0) != nullptr, "a frame past the right edge was accepted");
    check((dbx_atlas_problem("atlas", w, h, tileset, 0, 1) != nullptr) == (w > 1 || h > 1),
          "the largest texture size was misjudged");
    free(image);
    return 0;
}
