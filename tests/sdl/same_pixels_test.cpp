// The SDL layer draws exactly what the Pi layer draws: the same scene at the
// same logical resolution and window size gives the same pixels inside the
// viewport. The Pi layer runs in a child process (sdl_pi_reference, on the
// emulated VideoCore display) and hands its viewport over as a PNG.
#include "scene.h"
#include "test_app.h"
#include "tests/common/emulator.h"

#include <GLES/gl.h>
#include <gtest/gtest.h>
#include <lodepng.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct image {
    unsigned width = 0, height = 0;
    std::vector<unsigned char> pixels;  // RGBA, rows top-down
};

image pi_layer_viewport(int w, int h) {
    char dir[] = "/tmp/sdl_same_pixels_XXXXXX";
    image result;
    if (!mkdtemp(dir)) {
        ADD_FAILURE() << "no temporary folder";
        return result;
    }
    std::string png = std::string(dir) + "/pi.png";
    std::string command = emulated_command(PI_REFERENCE) + " " + png + " " + std::to_string(w) + "x" + std::to_string(h);
    int status = system(command.c_str());
    EXPECT_EQ(status, 0) << command;
    unsigned char *pixels = nullptr;
    if (status == 0 && lodepng_decode32_file(&pixels, &result.width, &result.height, png.c_str()) == 0) {
        result.pixels.assign(pixels, pixels + static_cast<size_t>(result.width) * result.height * 4);
    } else {
        ADD_FAILURE() << "no picture from the Pi layer at " << png;
    }
    free(pixels);
    remove(png.c_str());
    rmdir(dir);
    return result;
}

image sdl_layer_viewport(int w, int h) {
    sdl_test_reset();
    scene_show(w, h);
    image result;
    result.width = static_cast<unsigned>(dbx_viewport_width);
    result.height = static_cast<unsigned>(dbx_viewport_height);
    result.pixels.resize(static_cast<size_t>(result.width) * result.height * 4);
    for (unsigned row = 0; row < result.height; row++) {
        rgba *out = reinterpret_cast<rgba *>(&result.pixels[static_cast<size_t>(row) * result.width * 4]);
        glReadPixels(dbx_viewport_left, h - 1 - (dbx_viewport_top + static_cast<int>(row)),
                     static_cast<GLsizei>(result.width), 1, GL_RGBA, GL_UNSIGNED_BYTE, out);
    }
    return result;
}

class SameScene : public ::testing::TestWithParam<std::pair<int, int>> {};

TEST_P(SameScene, SdlAndPiLayerGiveTheSamePixelsInsideTheViewport) {
    auto [w, h] = GetParam();
    image pi = pi_layer_viewport(w, h);
    image sdl = sdl_layer_viewport(w, h);
    ASSERT_EQ(sdl.width, pi.width);
    ASSERT_EQ(sdl.height, pi.height);
    ASSERT_FALSE(pi.pixels.empty());

    // The scene is more than a flat colour, or the comparison would prove little.
    std::set<uint32_t> colours;
    for (size_t i = 0; i < pi.pixels.size(); i += 4)
        colours.insert(static_cast<uint32_t>(pi.pixels[i]) << 16 | pi.pixels[i + 1] << 8 | pi.pixels[i + 2]);
    EXPECT_GT(colours.size(), 50u);

    size_t differing = 0, first = pi.pixels.size();
    for (size_t i = 0; i < pi.pixels.size(); i += 4) {
        // Alpha is not compared: the Pi shows the layer opaque whatever it holds.
        if (pi.pixels[i] != sdl.pixels[i] || pi.pixels[i + 1] != sdl.pixels[i + 1] ||
            pi.pixels[i + 2] != sdl.pixels[i + 2]) {
            if (!differing) first = i / 4;
            differing++;
        }
    }
    EXPECT_EQ(differing, 0u) << "first at (" << first % pi.width << ", " << first / pi.width << "): Pi "
                             << int(pi.pixels[first * 4]) << " " << int(pi.pixels[first * 4 + 1]) << " "
                             << int(pi.pixels[first * 4 + 2]) << ", SDL " << int(sdl.pixels[first * 4]) << " "
                             << int(sdl.pixels[first * 4 + 1]) << " " << int(sdl.pixels[first * 4 + 2]);
}

// Bars above and below, bars left and right, and none.
INSTANTIATE_TEST_SUITE_P(WindowSizes, SameScene,
                         ::testing::Values(std::make_pair(800, 600), std::make_pair(1000, 450),
                                           std::make_pair(1280, 720)));

}  // namespace
