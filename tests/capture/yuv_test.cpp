// The frames go to the encoder as planar 4:2:0 YCbCr (BT.601 studio range):
// the values of flat colours, plane layout, and chroma taken from the 2x2
// pixels it covers.
#include "invitro_capture.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// A top-down RGBA picture, as the PNG frames hold it.
void rgba_to_yuv(const std::vector<unsigned char> &rgba, int w, int h, std::vector<unsigned char> &yuv) {
    output_to_yuv420({rgba.data(), static_cast<ptrdiff_t>(w) * 4, false}, w, h, yuv.data());
}

// BT.601's exact values rounded to the nearest step, but for green's luma
// (144.55), which the 8-bit coefficients put at 144.
TEST(CaptureYuv, FlatColoursGiveTheStudioRangeValues) {
    struct { unsigned char r, g, b, y, cb, cr; } cases[] = {
        {0, 0, 0, 16, 128, 128},        {255, 255, 255, 235, 128, 128}, {255, 0, 0, 82, 90, 240},
        {0, 255, 0, 144, 54, 34},       {0, 0, 255, 41, 240, 110},      {128, 128, 128, 126, 128, 128},
    };
    const int w = 6, h = 4;
    for (const auto &c : cases) {
        std::vector<unsigned char> rgba(w * h * 4), yuv(w * h * 3 / 2, 7);
        for (size_t i = 0; i < rgba.size(); i += 4) {
            rgba[i] = c.r;
            rgba[i + 1] = c.g;
            rgba[i + 2] = c.b;
            rgba[i + 3] = 255;
        }
        rgba_to_yuv(rgba, w, h, yuv);
        for (int i = 0; i < w * h; i++) ASSERT_EQ(yuv[i], c.y) << int(c.r) << "," << int(c.g) << "," << int(c.b);
        for (int i = 0; i < w * h / 4; i++) {
            ASSERT_EQ(yuv[w * h + i], c.cb) << int(c.r) << "," << int(c.g) << "," << int(c.b);
            ASSERT_EQ(yuv[w * h * 5 / 4 + i], c.cr) << int(c.r) << "," << int(c.g) << "," << int(c.b);
        }
    }
}

TEST(CaptureYuv, EachChromaSampleCoversItsOwnTwoByTwoPixels) {
    // 4x4 pixels: the bottom-right 2x2 block is white, one pixel of the
    // top-left block is white, the rest black.
    const int w = 4, h = 4;
    std::vector<unsigned char> rgba(w * h * 4, 0), yuv(w * h * 3 / 2, 7);
    auto white = [&](int x, int y) {
        for (int k = 0; k < 3; k++) rgba[(y * w + x) * 4 + k] = 255;
    };
    white(1, 0);
    for (int y = 2; y < 4; y++)
        for (int x = 2; x < 4; x++) white(x, y);
    rgba_to_yuv(rgba, w, h, yuv);
    const std::vector<unsigned char> luma = {16, 235, 16, 16, 16, 16, 16, 16, 16, 16, 235, 235, 16, 16, 235, 235};
    EXPECT_EQ(std::vector<unsigned char>(yuv.begin(), yuv.begin() + 16), luma) << "rows stay top first";
    // Grey chroma everywhere: white and black pixels only.
    for (int i = 16; i < 24; i++) EXPECT_EQ(yuv[i], 128) << i;
    // A colour in one block only: the blue pixel's chroma lands in its own sample.
    rgba.assign(rgba.size(), 0);
    rgba[(3 * w + 0) * 4 + 2] = 255;  // bottom-left block
    rgba_to_yuv(rgba, w, h, yuv);
    EXPECT_EQ((std::vector<unsigned char>(yuv.begin() + 16, yuv.begin() + 20)),
              (std::vector<unsigned char>{128, 128, 156, 128})) << "Cb plane";
    EXPECT_EQ((std::vector<unsigned char>(yuv.begin() + 20, yuv.begin() + 24)),
              (std::vector<unsigned char>{128, 128, 124, 128})) << "Cr plane";
}

// The encoder is handed GL's own pixels: rows bottom first, BGRA on Mesa.
// Every layout of one picture gives the same planes, whatever its alpha.
TEST(CaptureYuv, EveryLayoutOfAPictureGivesTheSamePlanes) {
    const int w = 6, h = 4;
    std::vector<unsigned char> rgba(w * h * 4);
    for (size_t i = 0; i < rgba.size(); i++) rgba[i] = static_cast<unsigned char>(i * 37 + i / 5);
    std::vector<unsigned char> want(w * h * 3 / 2), got(want.size());
    rgba_to_yuv(rgba, w, h, want);
    const ptrdiff_t row = w * 4;
    for (bool bgra : {false, true})
        for (bool bottom_first : {false, true}) {
            std::vector<unsigned char> stored(rgba.size());
            for (int y = 0; y < h; y++)
                for (int x = 0; x < w; x++) {
                    const unsigned char *from = &rgba[(y * w + x) * 4];
                    unsigned char *to = &stored[((bottom_first ? h - 1 - y : y) * w + x) * 4];
                    to[0] = from[bgra ? 2 : 0];
                    to[1] = from[1];
                    to[2] = from[bgra ? 0 : 2];
                    to[3] = static_cast<unsigned char>(x * 50);  // alpha left as drawn
                }
            const output_picture picture = bottom_first ? output_picture{&stored[(h - 1) * row], -row, bgra}
                                                        : output_picture{stored.data(), row, bgra};
            got.assign(got.size(), 7);
            output_to_yuv420(picture, w, h, got.data());
            EXPECT_EQ(got, want) << (bgra ? "BGRA" : "RGBA") << (bottom_first ? ", bottom row first" : "");
        }
}

}  // namespace
