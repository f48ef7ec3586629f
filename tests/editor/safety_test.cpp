// The editor under a hostile user and a failing machine: saves that fail or
// die midway, texts that disagree or change under it, frames the atlas lacks,
// bursts of keys, closing the window, and what it shows on screen.
#include "editor_fixture.h"

#include "boxart_text.h"
#include "file_io.h"
#include "tests/common/emulator.h"

#include <GLES/gl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <string>

namespace {

using Safety = EditorTest;
namespace fs = std::filesystem;

const char dat[] = "data/knock2.dat", txt[] = "assets/scenes/knock2.txt";

void write_text(const std::string &path, const std::string &text) { std::ofstream(path, std::ios::binary) << text; }

// Entries of a folder a save may have left: anything but the scene files.
size_t part_files(void) {
    size_t n = 0;
    for (const char *folder : {"data", "assets/scenes"})
        for (const std::string &e : scratch_dir::entries(folder)) n += e.find(ED_PART_TAG) != std::string::npos;
    return n;
}

// The writer's rename: call `die_at` ends the process, `fail_at` fails.
int renames, fail_at, die_at;
int hostile_rename(const char *from, const char *to) {
    ++renames;
    if (renames == die_at) _exit(9);
    if (renames == fail_at) {
        errno = EPERM;
        return -1;
    }
    return rename(from, to);
}

TEST_F(Safety, ASaveThatFailsOrDiesLeavesBothOldOrBothNewFiles) {
    const struct {
        const char *what;
        int fail_at, die_at;
        bool new_pair;  // after the next start
    } cases[] = {
        {"the text cannot be replaced", 2, 0, false},
        {"the scene file cannot be replaced", 1, 0, false},
        {"killed before the first replacement", 0, 1, false},
        {"killed between the two replacements", 0, 2, true},
    };
    start("knock2");
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(ed_open("knock2"));
        const std::string old_dat = text_of(dat), old_txt = text_of(txt);
        key(SDLK_TAB);
        key(SDLK_RIGHT, KMOD_LSHIFT, 3);
        renames = 0;
        fail_at = c.fail_at;
        die_at = c.die_at;
        tool_rename = hostile_rename;
        if (c.die_at) {
            const pid_t child = fork();
            if (child == 0) {
                ed_save();
                _exit(0);
            }
            int status = 0;
            ASSERT_EQ(waitpid(child, &status, 0), child);
            EXPECT_EQ(WEXITSTATUS(status), 9);
        } else {
            key(SDLK_s, KMOD_LCTRL);
            EXPECT_TRUE(ed_dirty);
            EXPECT_NE(strstr(ed_status, "not saved"), nullptr) << ed_status;
            EXPECT_EQ(part_files(), 0u);
        }
        tool_rename = rename;
        const std::vector<ed_box_t> edited = model();
        ASSERT_TRUE(ed_open("knock2"));  // the next start
        EXPECT_EQ(part_files(), 0u);
        EXPECT_EQ(ed_conflict, ED_AGREE) << ed_status;
        if (c.new_pair) {
            EXPECT_TRUE(same_boxes(model(), edited));
            EXPECT_NE(text_of(txt), old_txt);
        } else {
            EXPECT_EQ(text_of(dat), old_dat);
            EXPECT_EQ(text_of(txt), old_txt);
        }
    }
}

TEST_F(Safety, ATextThatDisagreesIsNeverOverwrittenUnasked) {
    // The text gains a box (and a comment) the scene file lacks, before the
    // start or while the editor is open; T takes it, R replaces it.
    const std::string extra = "# added by hand\nbox 5 5 1 0 0 0 0 0 5 5 1 0\n";
    const struct {
        const char *what;
        bool while_open;
        SDL_Keycode choice;
        int boxes_saved;
    } cases[] = {
        {"differs at the start, taken", false, SDLK_t, 17},
        {"differs at the start, replaced", false, SDLK_r, 16},
        {"changed while open, taken", true, SDLK_t, 17},
        {"changed while open, replaced", true, SDLK_r, 16},
    };
    start("knock2");
    const std::string original = text_of(txt), original_dat = text_of(dat);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        write_text(txt, original);
        write_text(dat, original_dat);
        if (!c.while_open) write_text(txt, original + extra);
        ASSERT_TRUE(ed_open("knock2"));
        key(SDLK_TAB);
        key(SDLK_DOWN);
        if (c.while_open) write_text(txt, original + extra);
        key(SDLK_s, KMOD_LCTRL);
        EXPECT_NE(strstr(ed_status, "not saved"), nullptr) << ed_status;
        EXPECT_EQ(text_of(txt), original + extra);
        EXPECT_EQ(text_of(dat), original_dat);
        key(c.choice);
        EXPECT_EQ(ed_conflict, ED_AGREE);
        key(SDLK_s, KMOD_LCTRL);
        ASSERT_FALSE(ed_dirty) << ed_status;
        std::vector<unsigned char> built;
        std::string error;
        ASSERT_TRUE(boxart_build_text(text_of(txt), built, error)) << error;
        EXPECT_EQ(built, file_bytes(dat));
        EXPECT_EQ(ed_count, c.boxes_saved);
        EXPECT_EQ(text_of(txt).find("# added by hand") != std::string::npos, c.choice == SDLK_t);
    }
}

TEST_F(Safety, AFrameTheAtlasLacksIsKeptDrawnAndPicked) {
    start("knock2");
    std::string text = text_of(txt);
    const size_t at = text.find("frame \"doorknob.png\"");
    ASSERT_NE(at, std::string::npos);
    text.replace(at, 20, "frame \"gone.png\"");
    std::vector<unsigned char> built;
    std::string error;
    ASSERT_TRUE(boxart_build_text(text, built, error)) << error;
    write_text(txt, text);
    write_text(dat, std::string(built.begin(), built.end()));
    ASSERT_TRUE(ed_open("knock2"));
    const int stand_in = dbx_findframe("gone.png");
    ASSERT_GE(stand_in, 0);
    EXPECT_EQ(ed_boxes[2].frame, static_cast<uint32_t>(stand_in));
    float x, y;
    centre(2, &x, &y);
    click(x, y);
    EXPECT_EQ(ed_selected, 2);
    key(SDLK_s, KMOD_LCTRL);  // unchanged: the same bytes
    EXPECT_EQ(file_bytes(dat), built);
    key(SDLK_RIGHT);  // an edit of that very box keeps its name
    key(SDLK_s, KMOD_LCTRL);
    EXPECT_NE(text_of(txt).find("frame \"gone.png\""), std::string::npos);
    EXPECT_EQ(text_of(txt).find("frame \"\""), std::string::npos);
}

TEST_F(Safety, ABurstOfKeysIsAppliedInFull) {
    start("knock2");
    key(SDLK_TAB);
    const int32_t x = ed_boxes[0].x1;
    for (int i = 0; i < 500; i++) {
        SDL_Event e{};
        e.type = SDL_KEYDOWN;
        e.key.windowID = SDL_GetWindowID(SDL_GL_GetCurrentWindow());
        e.key.keysym.sym = SDLK_RIGHT;
        SDL_PushEvent(&e);
    }
    run(20);
    EXPECT_EQ(ed_boxes[0].x1, x + 500);
}

TEST_F(Safety, UndoAndRedoKeepTheSelectionOnTheBoxTheyChanged) {
    const struct {
        const char *what;
        SDL_Keycode sym;
        Uint16 mod;
        int after;  // the selection after the step (5 before it)
    } cases[] = {
        {"change", SDLK_RIGHT, KMOD_NONE, 5}, {"down the order", SDLK_LEFTBRACKET, KMOD_NONE, 4},
        {"up the order", SDLK_RIGHTBRACKET, KMOD_NONE, 6}, {"duplicate", SDLK_d, KMOD_LCTRL, 6},
        {"remove", SDLK_DELETE, KMOD_NONE, 5},
    };
    start("knock2");
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(ed_open("knock2"));
        key(SDLK_TAB, KMOD_NONE, 6);
        ASSERT_EQ(ed_selected, 5);
        const ed_box_t box = ed_boxes[5];
        key(c.sym, c.mod);
        EXPECT_EQ(ed_selected, c.after);
        key(SDLK_z, KMOD_LCTRL);
        EXPECT_EQ(ed_selected, 5);
        EXPECT_EQ(memcmp(&ed_boxes[5], &box, sizeof box), 0);
        key(SDLK_z, KMOD_LCTRL | KMOD_LSHIFT);
        EXPECT_EQ(ed_selected, c.after);
    }
}

class Closing : public EditorTest {
protected:
    void SetUp() override {
        EditorTest::SetUp();
        GTEST_FLAG_SET(death_test_style, emulated_death_test_style());
    }
};

// Every way out asks once more with unsaved edits, and the second request
// quits: the window's close button (a close and a quit together, one
// request), and SIGTERM and SIGINT (SDL makes them a quit).
TEST_F(Closing, EveryWayOutAsksOnceMoreAndTheSecondQuits) {
    const std::function<void()> ways[] = {
        [] {
            SDL_Event close{};
            close.type = SDL_WINDOWEVENT;
            close.window.event = SDL_WINDOWEVENT_CLOSE;
            close.window.windowID = SDL_GetWindowID(SDL_GL_GetCurrentWindow());
            SDL_PushEvent(&close);
            SDL_Event quit{};
            quit.type = SDL_QUIT;
            SDL_PushEvent(&quit);
        },
        [] { raise(SIGTERM); },
        [] { raise(SIGINT); },
    };
    for (const auto &way : ways)
        EXPECT_EXIT(
            {
                start("knock2");
                key(SDLK_TAB);
                key(SDLK_RIGHT);
                for (int request = 1; request <= 2; request++) {
                    way();
                    run();
                    if (!ed_quit_asked || !strstr(ed_status, "unsaved edits: Escape again quits")) exit(8);
                }
                exit(7);
            },
            ::testing::ExitedWithCode(0), "");
}

// A window the user resizes: the picture follows it, and so does picking.
TEST_F(Safety, PickingFollowsAResizedWindow) {
    start("knock2");
    SDL_SetWindowSize(SDL_GL_GetCurrentWindow(), 1000, 400);
    run();
    EXPECT_EQ(dbx_screen_width, 1000);
    EXPECT_EQ(dbx_viewport_height, 400);
    float x, y;
    centre(15, &x, &y);
    click(x, y);
    EXPECT_EQ(ed_selected, 15);
}

// The status line is drawn by the engine into the picture itself, on its
// dark backing at the foot of the picture, with light glyphs on it; between
// frames the pools hold the scene alone.
TEST_F(Safety, TheStatusLineIsInThePicture) {
    start("knock2");
    key(SDLK_TAB);
    EXPECT_EQ(dbx_drawboxes, 16u + ED_MARKERS);
    EXPECT_EQ(dbx_frames, ed_atlas_frames);
    EXPECT_NE(strstr(ed_fields_line, "box 1/16"), nullptr);
    // The status line's three lines, over a third of the picture's width.
    int x0, y0, x1, y1;
    to_window(0, 320, &x0, &y0);
    to_window(213, 358, &x1, &y1);
    int h = 0;
    SDL_GL_GetDrawableSize(SDL_GL_GetCurrentWindow(), nullptr, &h);
    std::vector<unsigned char> rows(static_cast<size_t>((x1 - x0) * (y1 - y0)) * 4);
    glReadPixels(x0, h - y1, x1 - x0, y1 - y0, GL_RGBA, GL_UNSIGNED_BYTE, rows.data());
    size_t dark = 0, light = 0;
    for (size_t i = 0; i < rows.size(); i += 4) {
        dark += rows[i] < 40 && rows[i + 1] < 40 && rows[i + 2] < 40;
        light += rows[i] > 200 && rows[i + 1] > 200 && rows[i + 2] > 200;
    }
    EXPECT_GT(dark, rows.size() / 4 / 3);
    EXPECT_GT(light, 50u);
}

TEST_F(Safety, BadNamesSayWhy) {
    const char *const cases[][2] = {{"../../etc/passwd", "no folders"}, {"a\\b", "no folders"}, {"", "empty"},
                                    {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", "at most 63"}};
    for (const auto &c : cases) EXPECT_NE(strstr(ed_bad_name(c[0]) ? ed_bad_name(c[0]) : "", c[1]), nullptr) << c[0];
    EXPECT_EQ(ed_bad_name("knock2"), nullptr);
}

TEST_F(Safety, TheSceneIsReadFromDbxDataAndNeverFromAFifo) {
    start("knock2");
    fs::create_directories("elsewhere");
    fs::rename("data", "elsewhere/data");
    fs::create_directories("elsewhere/assets");
    fs::rename("assets/scenes", "elsewhere/assets/scenes");
    setenv("DBX_DATA", "elsewhere", 1);
    const bool opened = ed_open("knock2");
    key(SDLK_TAB);
    key(SDLK_RIGHT);
    key(SDLK_s, KMOD_LCTRL);
    EXPECT_FALSE(ed_dirty) << ed_status;
    mkfifo("elsewhere/data/fifo.dat", 0600);
    const bool fifo_opened = ed_open("fifo");
    unsetenv("DBX_DATA");
    EXPECT_TRUE(opened);
    EXPECT_STREQ(ed_dat_path(), "elsewhere/data/fifo.dat");
    EXPECT_FALSE(fifo_opened);
    EXPECT_NE(text_of("elsewhere/assets/scenes/knock2.txt").find("box "), std::string::npos);
}

}  // namespace
