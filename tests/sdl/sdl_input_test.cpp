// Input through SDL events: the ways out end the process with status 0, and
// pointer events reach the dtmp_ globals in drawing-area pixels.
#include "test_app.h"
#include "tests/common/emulator.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

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

// An application that reads the event queue gets every input as an event,
// and no key or close request ends the program.
class SdlEvents : public SdlPointer {
protected:
    void SetUp() override {
        SdlPointer::SetUp();
        dbx_window_width = 800;
        dbx_window_height = 600;
        dbx_platform_init_window();
        dbx_platform_events = 1;
    }
    static std::vector<dbx_event_t> drain(void) {
        std::vector<dbx_event_t> got;
        while (dbx_event_t *e = dbx_event_get()) got.push_back(*e);
        return got;
    }
};

TEST_F(SdlEvents, KeysComeWithTheirModifiersAndNeverEndTheProgram) {
    const struct {
        SDL_Keycode sym;
        Uint16 mod;
        uint32_t code, mods;
    } cases[] = {
        {SDLK_q, KMOD_NONE, 'q', 0},
        {SDLK_ESCAPE, KMOD_NONE, 27, 0},
        {SDLK_z, KMOD_LCTRL | KMOD_RSHIFT, 'z', DBX_MOD_CTRL | DBX_MOD_SHIFT},
        {SDLK_TAB, KMOD_LSHIFT, 9, DBX_MOD_SHIFT},
        {SDLK_LEFTBRACKET, KMOD_NONE, '[', 0},
        {SDLK_DELETE, KMOD_NONE, 127, 0},
        {SDLK_LEFT, KMOD_NONE, DBX_KEY_LEFT, 0},
        {SDLK_DOWN, KMOD_RCTRL, DBX_KEY_DOWN, DBX_MOD_CTRL},
        {SDLK_PAGEUP, KMOD_NONE, DBX_KEY_PAGEUP, 0},
        {SDLK_PAGEDOWN, KMOD_NONE, DBX_KEY_PAGEDOWN, 0},
        {SDLK_BACKSPACE, KMOD_NONE, DBX_KEY_BACKSPACE, 0},
    };
    for (const auto &c : cases) {
        SDL_Event e = key_event(c.sym, SDL_GetScancodeFromKey(c.sym));
        e.key.keysym.mod = c.mod;
        SDL_PushEvent(&e);
    }
    SDL_Event f1 = key_event(SDLK_F1, SDL_SCANCODE_F1);  // a key without a code: nothing
    SDL_PushEvent(&f1);
    SDL_Event quit{};
    quit.type = SDL_QUIT;
    SDL_PushEvent(&quit);
    dbx_platform_poll_input();
    std::vector<dbx_event_t> got = drain();
    ASSERT_EQ(got.size(), sizeof cases / sizeof cases[0] + 1);
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; i++) {
        EXPECT_EQ(got[i].type, uint32_t{DBX_EVENT_KEY}) << i;
        EXPECT_EQ(got[i].buttoncode, cases[i].code) << i;
        EXPECT_EQ(got[i].deviceid, cases[i].mods) << i;
    }
    EXPECT_EQ(got.back().type, uint32_t{DBX_EVENT_QUIT});
}

TEST_F(SdlEvents, PointerEventsCarryTheirPositionAndMotionIsMerged) {
    motion(10, 20);
    motion(11, 21);  // merged with the one before
    button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT, 12, 22);
    motion(13, 23);
    motion(14, 24);
    button(SDL_MOUSEBUTTONUP, SDL_BUTTON_LEFT, 15, 25);
    button(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_X1, 15, 25);  // no code: nothing
    SDL_Event w{};
    w.type = SDL_MOUSEWHEEL;
    w.wheel.windowID = SDL_GetWindowID(SDL_GL_GetCurrentWindow());
    w.wheel.y = -2;
    w.wheel.direction = SDL_MOUSEWHEEL_FLIPPED;
    SDL_PushEvent(&w);
    dbx_platform_poll_input();
    const struct {
        uint32_t type, code;
        int32_t x, y;
    } expected[] = {
        {DBX_EVENT_MOTION, 0, 11, 21},     {DBX_EVENT_BUTTONDOWN, 1, 12, 22}, {DBX_EVENT_MOTION, 0, 14, 24},
        {DBX_EVENT_BUTTONUP, 1, 15, 25},   {DBX_EVENT_WHEEL, 2, 15, 25},
    };
    std::vector<dbx_event_t> got = drain();
    ASSERT_EQ(got.size(), sizeof expected / sizeof expected[0]);
    for (size_t i = 0; i < got.size(); i++) {
        EXPECT_EQ(got[i].type, expected[i].type) << i;
        EXPECT_EQ(got[i].buttoncode, expected[i].code) << i;
        EXPECT_EQ(static_cast<int32_t>(got[i].x), expected[i].x) << i;
        EXPECT_EQ(static_cast<int32_t>(got[i].y), expected[i].y) << i;
    }
}

TEST_F(SdlEvents, AFullQueueDropsTheRestAndTheTitleFollowsTheApplication) {
    for (int i = 0; i < DBX_MAX_EVENTS + 10; i++) {
        SDL_Event e = key_event(SDLK_a, SDL_SCANCODE_A);
        SDL_PushEvent(&e);
    }
    dbx_platform_poll_input();
    EXPECT_EQ(drain().size(), size_t{DBX_MAX_EVENTS});
    const char *before = dbx_application_title;
    static char title[32] = "changed title";
    dbx_application_title = title;
    dbx_platform_poll_input();
    EXPECT_STREQ(SDL_GetWindowTitle(SDL_GL_GetCurrentWindow()), "changed title");
    dbx_application_title = before;
}

}  // namespace
