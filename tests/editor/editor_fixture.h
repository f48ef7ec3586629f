// The editor as a user runs it, on SDL's offscreen driver in an 800 x 600
// window (the 640 x 360 scene between bars above and below), in a scratch
// folder holding the intro's files. Input goes in as SDL events, through
// the layer's queue, as from a mouse and a keyboard.
#ifndef EDITOR_TESTS_FIXTURE_H
#define EDITOR_TESTS_FIXTURE_H

#include "editor.h"
#include "tests/common/scratch_dir.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

class EditorTest : public ::testing::Test {
protected:
    scratch_dir dir;

    void SetUp() override;
    void TearDown() override;

    // Copies the intro's files, resets the engine, the intro and the editor,
    // and starts the editor on the scene.
    void start(const char *scene);

    // Passes of the main loop, each with an update.
    static void run(int passes = 2);

    // A key pressed `times` times, then a pass.
    static void key(SDL_Keycode sym, Uint16 mod = KMOD_NONE, int times = 1);
    // A logical point as window pixels.
    static void to_window(float lx, float ly, int *x, int *y);
    static void move_to(float lx, float ly);
    static void button(bool down, float lx, float ly);
    static void click(float lx, float ly);
    static void drag(float from_x, float from_y, float to_x, float to_y);
    static void wheel(int steps);

    // The middle of a box's drawn rectangle.
    static void centre(int box, float *x, float *y);

    static std::vector<ed_box_t> model(void) { return std::vector<ed_box_t>(ed_boxes, ed_boxes + ed_count); }
};

std::vector<unsigned char> file_bytes(const std::string &path);
std::string text_of(const std::string &path);
bool same_boxes(const std::vector<ed_box_t> &a, const std::vector<ed_box_t> &b);

#endif
