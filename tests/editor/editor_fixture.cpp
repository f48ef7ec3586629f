#include "editor_fixture.h"

#include "boxart.h"
#include "intro.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <initializer_list>

namespace fs = std::filesystem;

// Every pass has a tick due: the clock moves on 30 ms at every reading.
static uint64_t fake_now;
static uint64_t fake_clock(void) { return fake_now += 30; }

void EditorTest::SetUp() { ASSERT_FALSE(dir.path.empty()); }

void EditorTest::TearDown() {
    ed_reset();
    intro_reset();
    dbx_reset();
}

void EditorTest::start(const char *scene) {
    // Over what is there: under an emulator a death test's child is forked
    // from the test, and the children of one test share its scratch folder.
    const auto over = fs::copy_options::overwrite_existing | fs::copy_options::recursive;
    fs::copy_file(fs::path(REPO_ROOT) / "out.png", "out.png", fs::copy_options::overwrite_existing);
    fs::create_directories("assets");
    fs::copy(fs::path(REPO_ROOT) / "data", "data", over);
    fs::copy(fs::path(REPO_ROOT) / "assets" / "scenes", "assets/scenes", over);
    setenv("SDL_VIDEODRIVER", "offscreen", 1);
    for (const char *name : {"DBX_OVERSCAN", "DBX_OVERSCANX", "DBX_OVERSCANY", "DBX_WINDOWSIZE", "DBX_RESOLUTION"})
        unsetenv(name);
    dbx_reset();
    intro_reset();
    ed_reset();
    sound = 0;  // the fallback clock: no sound device, no module
    dbx_window_width = 800;
    dbx_window_height = 600;
    dbx_platform_clock = fake_clock;
    ed_name = scene;
    dbx_platform_start();
}

void EditorTest::run(int passes) {
    for (int i = 0; i < passes; i++) dbx_platform_pass();
}

static Uint32 window_id(void) { return SDL_GetWindowID(SDL_GL_GetCurrentWindow()); }

void EditorTest::key(SDL_Keycode sym, Uint16 mod, int times) {
    // Up to 40 presses a pass: the engine's queue holds 50 events.
    for (int i = 0; i < times; i++) {
        SDL_Event e{};
        e.type = SDL_KEYDOWN;
        e.key.windowID = window_id();
        e.key.state = SDL_PRESSED;
        e.key.keysym.sym = sym;
        e.key.keysym.mod = mod;
        SDL_PushEvent(&e);
        if (i % 40 == 39) run(1);
    }
    run(1);
}

void EditorTest::to_window(float lx, float ly, int *x, int *y) {
    *x = dbx_viewport_left + static_cast<int>(lroundf(lx * static_cast<float>(dbx_viewport_width) / 640.0f));
    *y = dbx_viewport_top + static_cast<int>(lroundf(ly * static_cast<float>(dbx_viewport_height) / 360.0f));
}

void EditorTest::move_to(float lx, float ly) {
    SDL_Event e{};
    e.type = SDL_MOUSEMOTION;
    e.motion.windowID = window_id();
    to_window(lx, ly, &e.motion.x, &e.motion.y);
    SDL_PushEvent(&e);
}

void EditorTest::button(bool down, float lx, float ly) {
    SDL_Event e{};
    e.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
    e.button.windowID = window_id();
    e.button.button = SDL_BUTTON_LEFT;
    e.button.state = down ? SDL_PRESSED : SDL_RELEASED;
    e.button.clicks = 1;
    to_window(lx, ly, &e.button.x, &e.button.y);
    SDL_PushEvent(&e);
}

void EditorTest::click(float lx, float ly) {
    move_to(lx, ly);
    button(true, lx, ly);
    button(false, lx, ly);
    run();
}

void EditorTest::drag(float from_x, float from_y, float to_x, float to_y) {
    move_to(from_x, from_y);
    button(true, from_x, from_y);
    run();
    // The way there in steps, over several passes.
    for (int k = 1; k <= 4; k++) {
        move_to(from_x + (to_x - from_x) * static_cast<float>(k) / 4.0f,
                from_y + (to_y - from_y) * static_cast<float>(k) / 4.0f);
        run(1);
    }
    button(false, to_x, to_y);
    run();
}

void EditorTest::wheel(int steps) {
    SDL_Event e{};
    e.type = SDL_MOUSEWHEEL;
    e.wheel.windowID = window_id();
    e.wheel.y = steps;
    e.wheel.direction = SDL_MOUSEWHEEL_NORMAL;
    SDL_PushEvent(&e);
    run();
}

void EditorTest::centre(int box, float *x, float *y) {
    const dbx_drawbox_t &d = dbx_drawbox[box];
    float px[4], py[4];
    dbx_box_corners(d, dbx_frame[d.frame], px, py);
    *x = (px[0] + px[3]) * 0.5f;
    *y = (py[0] + py[3]) * 0.5f;
}

std::vector<unsigned char> file_bytes(const std::string &path) {
    std::vector<unsigned char> bytes;
    if (FILE *f = fopen(path.c_str(), "rb")) {
        int c;
        while ((c = fgetc(f)) != EOF) bytes.push_back(static_cast<unsigned char>(c));
        fclose(f);
    }
    return bytes;
}

std::string text_of(const std::string &path) {
    std::vector<unsigned char> b = file_bytes(path);
    return std::string(b.begin(), b.end());
}

bool same_boxes(const std::vector<ed_box_t> &a, const std::vector<ed_box_t> &b) {
    return a.size() == b.size() && (a.empty() || !memcmp(a.data(), b.data(), a.size() * sizeof a[0]));
}
