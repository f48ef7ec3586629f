// Input through SDL events: the ways out end the process with status 0, and
// pointer events reach the dtmp_ globals in drawing-area pixels.
#include "test_app.h"
#include "tests/common/emulator.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

SDL_Event key_event(SDL_Keycode sym, SDL_Scancode scancode) {
    SDL_Event e{};
    e.type = SDL_KEYDOWN;
    e.key.windowID = SDL_GetWindowID(SDL_GL_GetCurrentWindow());
    e.key.state = SDL_PRESSED;
    e.key.keysym.sym = sym;
    e.key.keysym.scancode = scancode;
    return e;
}

// Starts the application as main() does, queues the event and runs a few
// passes of the loop; a process still alive after them exits with 7.
void run_with_event(SDL_Event (*make)(void)) {
    dbx_platform_start();
    SDL_Event e = make();
    SDL_PushEvent(&e);
    for (int i = 0; i < 3; i++) dbx_platform_pass();
    exit(7);
}

class SdlExit : public ::testing::Test {
protected:
    void SetUp() override {
        // The child process starts afresh instead of forking a process that
        // already holds GL threads.
        GTEST_FLAG_SET(death_test_style, emulated_death_test_style());
        sdl_test_reset();
        dbx_window_width = 320;
        dbx_window_height = 200;
    }
};

TEST_F(SdlExit, EscapeEndsTheLoopWithStatusZero) {
    EXPECT_EXIT(run_with_event([] { return key_event(SDLK_ESCAPE, SDL_SCANCODE_ESCAPE); }),
                ::testing::ExitedWithCode(0), "");
}

TEST_F(SdlExit, QEndsTheLoopWithStatusZero) {
    EXPECT_EXIT(run_with_event([] { return key_event(SDLK_q, SDL_SCANCODE_Q); }),
                ::testing::ExitedWithCode(0), "");
}

TEST_F(SdlExit, QuitEventEndsTheLoopWithStatusZero) {
    EXPECT_EXIT(run_with_event([] {
                    SDL_Event e{};
                    e.type = SDL_QUIT;
                    return e;
                }),
                ::testing::ExitedWithCode(0), "");
}

TEST_F(SdlExit, ClosingTheWindowEndsTheLoopWithStatusZero) {
    EXPECT_EXIT(run_with_event([] {
                    SDL_Event e{};
                    e.type = SDL_WINDOWEVENT;
                    e.window.event = SDL_WINDOWEVENT_CLOSE;
                    e.window.windowID = SDL_GetWindowID(SDL_GL_GetCurrentWindow());
                    return e;
                }),
                ::testing::ExitedWithCode(0), "");
}

TEST_F(SdlExit, OtherKeysAndEventsKeepItRunning) {
    EXPECT_EXIT(run_with_event([] {
                    SDL_Event e = key_event(SDLK_a, SDL_SCANCODE_A);
                    SDL_PushEvent(&e);
                    e = key_event(SDLK_ESCAPE, SDL_SCANCODE_ESCAPE);
                    e.type = SDL_KEYUP;  // a release alone is no way out
                    SDL_PushEvent(&e);
                    SDL_Event focus{};
                    focus.type = SDL_WINDOWEVENT;
                    focus.window.event = SDL_WINDOWEVENT_FOCUS_LOST;
                    return focus;
                }),
                ::testing::ExitedWithCode(7), "");
}

class SdlPointer : public ::testing::Test {
protected:
    void SetUp() override { sdl_test_reset(); }

    static void motion(int x, int y) {
        SDL_Event e{};
        e.type = SDL_MOUSEMOTION;
        e.motion.windowID = SDL_GetWindowID(SDL_GL_GetCurrentWindow());
        e.motion.x = x;
        e.motion.y = y;
        SDL_PushEvent(&e);
    }
    static void button(Uint32 type, Uint8 which, int x, int y) {
        SDL_Event e{};
        e.type = type;
        e.button.windowID = SDL_GetWindowID(SDL_GL_GetCurrentWindow());
        e.button.button = which;
        e.button.state = type == SDL_MOUSEBUTTONDOWN ? SDL_PRESSED : SDL_RELEASED;
        e.button.clicks = 1;
        e.button.x = x;
        e.button.y = y;
        SDL_PushEvent(&e);
    }
};

TEST_F(SdlPointer, MotionLandsInDisplayPixelsYDownwards) {
    dbx_window_width = 800;
    dbx_window_height = 600;
    dbx_platform_init_window();
    motion(100, 50);
    dbx_platform_poll_input();
    EXPECT_EQ(dtmp_mousex, 100);
    EXPECT_EQ(dtmp_mousey, 50);
    EXPECT_EQ(dtmp_mousedown, 0);
    // Everything queued is taken in one poll; the last position stands.
    motion(1, 2);
    motion(799, 599);
    dbx_platform_poll_input();
    EXPECT_EQ(dtmp_mousex, 799);
    EXPECT_EQ(dtmp_mousey, 599);
}

TEST_F(SdlPointer, ButtonsGiveTheRawMouseCodes) {
    dbx_window_width = 800;
    dbx_window_height = 600;
    dbx_platform_init_window();
    const struct { Uint8 button; int code; } cases[] = {
        {SDL_BUTTON_LEFT, 1}, {SDL_BUTTON_RIGHT, 2}, {SDL_BUTTON_MIDDLE, 3}};
    for (const auto &c : cases) {
        dtmp_mousedown = 0;
        button(SDL_MOUSEBUTTONDOWN, c.button, 30, 40);
        dbx_platform_poll_input();
        EXPECT_EQ(dtmp_mousedown, c.code) << "SDL button " << int(c.button);
        EXPECT_EQ(dtmp_mousex, 30);
        EXPECT_EQ(dtmp_mousey, 40);
        // Releasing leaves the code for the next update to see.
        button(SDL_MOUSEBUTTONUP, c.button, 30, 40);
        dbx_platform_poll_input();
        EXPECT_EQ(dtmp_mousedown, c.code);
    }
    // Side buttons have no code and leave the last one.
    button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_X1, 5, 6);
    dbx_platform_poll_input();
    EXPECT_EQ(dtmp_mousedown, 3);
}

TEST_F(SdlPointer, OverscanMarginsAreNotPartOfTheDisplay) {
    // Full screen on the offscreen driver's 1024 x 768 display with 5 % and
    // 3 % margins: the drawing area starts at (51, 23).
    dbx_screen_overscanx = 50;
    dbx_screen_overscany = 30;
    dbx_platform_init_window();
    motion(51 + 5, 23 + 7);
    dbx_platform_poll_input();
    EXPECT_EQ(dtmp_mousex, 5);
    EXPECT_EQ(dtmp_mousey, 7);
    motion(10, 10);  // in the margin: left of and above the area
    dbx_platform_poll_input();
    EXPECT_EQ(dtmp_mousex, -41);
    EXPECT_EQ(dtmp_mousey, -13);
}

}  // namespace
