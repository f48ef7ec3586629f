// Saving (byte-identical when unchanged, comments kept, both files or
// neither), the frame palette, playing to the song clock, and the ways out.
#include "editor_fixture.h"

#include "boxart.h"
#include "boxart_text.h"
#include "intro.h"
#include "playxm.h"
#include "tests/common/emulator.h"

#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <string>

namespace {

using Saving = EditorTest;

// Every comment line of `text`, in order.
std::vector<std::string> comments(const std::string &text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        if (text[start] == '#') lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

TEST_F(Saving, AnUnchangedSceneSavesTheSameBytes) {
    start("knock2");
    for (int scene = 0; scene < scene_count; scene++) {  // every file of the show's table
        const char *name = show[scene].file;
        if (!name[0]) continue;
        SCOPED_TRACE(name);
        ASSERT_TRUE(ed_open(name));
        const std::string dat = std::string("data/") + name + ".dat", txt = std::string("assets/scenes/") + name + ".txt";
        const std::vector<unsigned char> dat_before = file_bytes(dat), txt_before = file_bytes(txt);
        key(SDLK_s, KMOD_LCTRL);
        EXPECT_FALSE(ed_dirty);
        EXPECT_EQ(file_bytes(dat), dat_before);
        EXPECT_EQ(file_bytes(txt), txt_before);
    }
}

// The number of box lines of a text.
size_t box_lines(const std::string &text) {
    size_t n = text.compare(0, 4, "box ") == 0 ? 1 : 0;
    for (size_t at = 0; (at = text.find("\nbox ", at)) != std::string::npos; at++) n++;
    return n;
}

// A box's line as the text writer makes it for a changed box.
std::string line_of(const ed_box_t &b) {
    char line[160];
    snprintf(line, sizeof line, "box %d %d %g %g %d %d %d %d %d %d %g %d\n", b.x1, b.y1, static_cast<double>(b.scale),
             static_cast<double>(b.rotation), b.e.delta_rot, b.e.animationmode, b.e.extra1, b.e.extra2, b.e.x1, b.e.y1,
             static_cast<double>(b.e.scale1), b.e.timing);
    return line;
}

TEST_F(Saving, EditsReachBothFilesAndCommentsStayAboveTheirBoxes) {
    start("knock2");
    const std::string old_text = text_of("assets/scenes/knock2.txt");
    ASSERT_EQ(box_lines(old_text), 16u);
    key(SDLK_TAB);  // box 0, the first line after the column comment
    key(SDLK_RIGHT, KMOD_LSHIFT);
    const ed_box_t moved = ed_boxes[0];
    // Box 11, under "# revealed on the beat", goes one down the drawing order.
    key(SDLK_TAB, KMOD_NONE, 11);
    ASSERT_EQ(ed_selected, 11);
    key(SDLK_LEFTBRACKET);
    // Box 5 is removed: its line goes, its neighbours' stay.
    key(SDLK_TAB, KMOD_NONE, 11);
    ASSERT_EQ(ed_selected, 5);
    const ed_box_t removed = ed_boxes[5];
    key(SDLK_DELETE);
    key(SDLK_s, KMOD_LCTRL);
    ASSERT_FALSE(ed_dirty);

    const std::string text = text_of("assets/scenes/knock2.txt");
    std::vector<unsigned char> built;
    std::string error;
    ASSERT_TRUE(boxart_build_text(text, built, error)) << error;
    EXPECT_EQ(built, file_bytes("data/knock2.dat"));
    EXPECT_EQ(comments(text), comments(old_text));
    EXPECT_EQ(box_lines(text), 15u);
    EXPECT_NE(text.find("\n" + line_of(moved)), std::string::npos) << line_of(moved) << text;
    EXPECT_EQ(text.find("\n" + line_of(removed)), std::string::npos) << text;
    // The comment stands above the box it stood above, now box 10.
    const size_t comment = text.find("# revealed on the beat\n");
    ASSERT_NE(comment, std::string::npos);
    const std::string below = "frame \"2 test_002.png\"\nbox 51 18 0.75";
    EXPECT_EQ(text.compare(comment + 23, below.size(), below), 0) << text;

    // An undo after the save still reaches back: the removed box returns,
    // and a second save keeps the comments.
    key(SDLK_z, KMOD_LCTRL);
    EXPECT_TRUE(ed_dirty);
    key(SDLK_s, KMOD_LCTRL);
    const std::string again = text_of("assets/scenes/knock2.txt");
    EXPECT_EQ(box_lines(again), 16u);
    EXPECT_NE(again.find("\n" + line_of(removed)), std::string::npos) << line_of(removed) << again << ed_status;
    EXPECT_EQ(comments(again), comments(old_text));

    // The files load back as the editor held them.
    const std::vector<ed_box_t> saved = model();
    ASSERT_TRUE(ed_open("knock2"));
    EXPECT_TRUE(same_boxes(model(), saved));
}

TEST_F(Saving, AFailedWriteLeavesBothOldFiles) {
    start("knock2");
    key(SDLK_TAB);
    key(SDLK_RIGHT);
    const std::vector<unsigned char> dat_before = file_bytes("data/knock2.dat");
    std::filesystem::remove("assets/scenes/knock2.txt");
    std::filesystem::create_directory("assets/scenes/knock2.txt");  // cannot be replaced by a file
    key(SDLK_s, KMOD_LCTRL);
    EXPECT_TRUE(ed_dirty);
    EXPECT_EQ(file_bytes("data/knock2.dat"), dat_before);
    EXPECT_NE(strstr(ed_status, "not saved"), nullptr) << ed_status;
    EXPECT_EQ(scratch_dir::entries("data").size(), 14u);  // no temporary file left
}

TEST_F(Saving, TheFramePalettePicksAFrameByClicking) {
    start("knock2");
    key(SDLK_TAB);
    key(SDLK_f);
    ASSERT_TRUE(ed_palette);
    ASSERT_EQ(dbx_drawboxes, dbx_frames + ED_MARKERS);  // every frame, the current one marked
    const uint32_t pick = 7;
    float x, y, s;
    ed_palette_cell(pick, &x, &y, &s);
    const dbx_frame_t &f = dbx_frame[pick];
    click(x + static_cast<float>(f.source_width) * s * 0.5f, y + static_cast<float>(f.source_height) * s * 0.5f);
    EXPECT_FALSE(ed_palette);
    EXPECT_EQ(ed_boxes[0].frame, pick);
    EXPECT_EQ(dbx_drawboxes, 16u + ED_MARKERS);
    key(SDLK_z, KMOD_LCTRL);
    EXPECT_NE(ed_boxes[0].frame, pick);
}

TEST_F(Saving, SpacePlaysTheEditedSceneFromItsSongPositionAndBack) {
    start("knock2");
    key(SDLK_TAB);
    key(SDLK_DOWN, KMOD_LSHIFT);
    const std::vector<ed_box_t> edited = model();
    key(SDLK_SPACE);
    ASSERT_TRUE(ed_playing);
    // The scene comes when the song reaches knock's position, with the
    // edited boxes and the beat reveal that "fade" set up before it.
    for (int i = 0; i < 10 && currentscene < 0; i++) run(1);
    ASSERT_GE(currentscene, 0);
    EXPECT_STREQ(scenes[currentscene].name, "knock");
    EXPECT_EQ(xmtrack, 5);
    EXPECT_EQ(ev_first, 11);
    EXPECT_EQ(dbx_drawboxes, 16u);
    EXPECT_EQ(dbx_drawbox[0].y1, edited[0].y1);
    run(200);  // the song moves on, boxes come one every four beats
    EXPECT_GT(beatnow(), 5u * 64u);
    key(SDLK_RIGHT);  // no editing while playing
    key(SDLK_SPACE);
    EXPECT_FALSE(ed_playing);
    EXPECT_TRUE(same_boxes(model(), edited));
    EXPECT_EQ(dbx_drawboxes, 16u + ED_MARKERS);
    for (int i = 0; i < ed_count; i++) EXPECT_EQ(dbx_drawbox[i].visible, 1u);
}

class Leaving : public EditorTest {
protected:
    void SetUp() override {
        EditorTest::SetUp();
        GTEST_FLAG_SET(death_test_style, emulated_death_test_style());
    }
};

TEST_F(Leaving, EscapeQuitsAtOnceWithoutChanges) {
    EXPECT_EXIT(
        {
            start("knock2");
            key(SDLK_ESCAPE);
            exit(7);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(Leaving, UnsavedChangesAskOnceMoreForEscapeAndTheWindow) {
    EXPECT_EXIT(
        {
            start("knock2");
            key(SDLK_TAB);
            key(SDLK_RIGHT);
            key(SDLK_ESCAPE);
            if (!ed_quit_asked) exit(8);
            key(SDLK_LEFT);  // any other key takes the question back
            if (ed_quit_asked || ed_status[0]) exit(10);
            SDL_Event close{};
            close.type = SDL_QUIT;
            SDL_PushEvent(&close);
            run();
            if (!ed_quit_asked) exit(9);
            SDL_PushEvent(&close);
            run();
            exit(7);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
