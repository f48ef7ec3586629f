// Editing with the mouse and the keys, undo and redo, the palette, playing,
// and the ways out.
#include "editor_fixture.h"

#include "boxart.h"
#include "intro.h"
#include "tests/common/emulator.h"

#include <cmath>
#include <cstring>
#include <functional>

namespace {

using Editing = EditorTest;

TEST_F(Editing, OpensTheSceneStillWithEveryBoxShown) {
    start("knock2");
    ASSERT_EQ(ed_count, 16);
    EXPECT_STREQ(scenes[ed_scene].name, "knock");
    EXPECT_EQ(bg, 100);  // the background knock's script sets
    run(10);
    // Nothing moves and nothing is hidden, also boxes the show reveals later.
    ASSERT_EQ(dbx_drawboxes, 16u);
    for (int i = 0; i < ed_count; i++) {
        EXPECT_EQ(dbx_drawbox[i].visible, 1u) << i;
        EXPECT_EQ(dbx_drawbox[i].x1, ed_boxes[i].x1) << i;
        EXPECT_EQ(dbx_drawbox[i].rotation, ed_boxes[i].rotation) << i;
    }
    EXPECT_NE(strstr(SDL_GetWindowTitle(SDL_GL_GetCurrentWindow()), "knock2"), nullptr);
}

TEST_F(Editing, ClickPicksTheTopMostBoxAndMarksIt) {
    start("knock2");
    // The face (last box) over the door's right half; the knob star (box 2)
    // over the door's lower half (box 1); a star alone.
    const struct {
        int box, expected;
    } cases[] = {{15, 15}, {2, 2}, {3, 3}, {12, 12}};
    for (const auto &c : cases) {
        float x, y;
        centre(c.box, &x, &y);
        click(x, y);
        EXPECT_EQ(ed_selected, c.expected) << "the middle of box " << c.box;
        // Four markers after the scene's boxes, at the selection's corners.
        ASSERT_EQ(dbx_drawboxes, 16u + ED_MARKERS);
        float px[4], py[4];
        dbx_box_corners(dbx_drawbox[c.expected], dbx_frame[dbx_drawbox[c.expected].frame], px, py);
        for (int k = 0; k < ED_MARKERS; k++) {
            float mx, my;
            centre(16 + k, &mx, &my);
            EXPECT_NEAR(mx, px[k], 1.0f);
            EXPECT_NEAR(my, py[k], 1.0f);
        }
    }
    click(639, 200);  // the grey background: nothing
    EXPECT_EQ(ed_selected, -1);
    EXPECT_EQ(dbx_drawboxes, 16u);
}

TEST_F(Editing, DragMovesTheBoxAndItsHomeInOneStep) {
    start("knock2");
    const std::vector<ed_box_t> before = model();
    float x, y;
    centre(15, &x, &y);
    drag(x, y, x - 40, y + 30);
    ASSERT_EQ(ed_selected, 15);
    EXPECT_EQ(ed_boxes[15].x1, before[15].x1 - 40);
    EXPECT_EQ(ed_boxes[15].y1, before[15].y1 + 30);
    EXPECT_EQ(ed_boxes[15].e.x1, before[15].e.x1 - 40);
    EXPECT_EQ(ed_boxes[15].e.y1, before[15].e.y1 + 30);
    EXPECT_TRUE(ed_dirty);
    key(SDLK_z, KMOD_LCTRL);
    EXPECT_TRUE(same_boxes(model(), before));
    EXPECT_FALSE(ed_undo());  // the whole drag was one step
}

TEST_F(Editing, AKeyDuringADragEndsTheDragFirst) {
    start("knock2");
    const std::vector<ed_box_t> before = model();
    float x, y;
    centre(12, &x, &y);  // a box in the middle of the drawing order
    move_to(x, y);
    button(true, x, y);
    move_to(x + 20, y);
    run();
    ASSERT_EQ(ed_selected, 12);
    key(SDLK_DELETE);  // the button still held
    move_to(x + 60, y);
    button(false, x + 60, y);
    run();
    std::vector<ed_box_t> without = before;
    without.erase(without.begin() + 12);
    EXPECT_TRUE(same_boxes(model(), without));
    key(SDLK_z, KMOD_LCTRL);
    EXPECT_EQ(ed_boxes[12].x1, before[12].x1 + 20);  // the drag, as far as it went
    key(SDLK_z, KMOD_LCTRL);
    EXPECT_TRUE(same_boxes(model(), before));
}

// Every edit of the selected box by key or wheel, undone and redone.
TEST_F(Editing, EachEditChangesItsFieldAndUndoesAndRedoes) {
    start("knock2");
    const struct {
        const char *what;
        std::function<void()> act;
        std::function<void(ed_box_t &)> expect;
    } cases[] = {
        {"right", [] { key(SDLK_RIGHT); }, [](ed_box_t &b) { b.x1 += 1, b.e.x1 += 1; }},
        {"shift up", [] { key(SDLK_UP, KMOD_LSHIFT); }, [](ed_box_t &b) { b.y1 -= 10, b.e.y1 -= 10; }},
        {"e", [] { key(SDLK_e); }, [](ed_box_t &b) { b.rotation += 1.0f; }},
        {"shift q", [] { key(SDLK_q, KMOD_LSHIFT); }, [](ed_box_t &b) { b.rotation -= 15.0f; }},
        {"page down", [] { key(SDLK_PAGEDOWN); }, [](ed_box_t &b) { b.frame = (b.frame + 1) % dbx_frames; }},
        {"page up", [] { key(SDLK_PAGEUP); }, [](ed_box_t &b) { b.frame = (b.frame + dbx_frames - 1) % dbx_frames; }},
        {"wheel up", [] { wheel(1); },
         [](ed_box_t &b) {
             b.e.scale1 = static_cast<float>(std::round(b.e.scale1 * 1.1 * 1000) / 1000);
             b.scale = static_cast<float>(std::round(b.scale * 1.1 * 1000) / 1000);
         }},
        {"spin +10", [] { key(SDLK_EQUALS, KMOD_LSHIFT); }, [](ed_box_t &b) { b.e.delta_rot += 10; }},
        {"mode", [] { key(SDLK_PERIOD), key(SDLK_EQUALS); }, [](ed_box_t &b) { b.e.animationmode = 1; }},
        {"timing -1", [] { key(SDLK_COMMA), key(SDLK_MINUS); }, [](ed_box_t &b) { b.e.timing -= 1; }},
        {"scale1", [] { key(SDLK_COMMA), key(SDLK_COMMA), key(SDLK_MINUS); }, [](ed_box_t &b) { b.e.scale1 = static_cast<float>(std::round((b.e.scale1 - 0.01) * 1000) / 1000); }},
        {"home y", [] { key(SDLK_COMMA), key(SDLK_COMMA), key(SDLK_COMMA), key(SDLK_EQUALS); }, [](ed_box_t &b) { b.e.y1 += 1; }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        ed_field = 0;
        key(SDLK_TAB);  // the next box
        ASSERT_GE(ed_selected, 0);
        const int at = ed_selected;
        const std::vector<ed_box_t> before = model();
        ed_box_t expected = before[static_cast<size_t>(at)];
        c.expect(expected);
        c.act();
        EXPECT_EQ(0, memcmp(&ed_boxes[at], &expected, sizeof expected));
        key(SDLK_z, KMOD_LCTRL);
        EXPECT_TRUE(same_boxes(model(), before));
        key(SDLK_z, KMOD_LCTRL | KMOD_LSHIFT);
        EXPECT_EQ(0, memcmp(&ed_boxes[at], &expected, sizeof expected));
        run(1);  // the layer shows the new title at its next poll
        // The title shows the box's fields.
        const char *title = SDL_GetWindowTitle(SDL_GL_GetCurrentWindow());
        char frame[64];
        snprintf(frame, sizeof frame, "\"%.31s\"", dbx_frame[expected.frame].source_name);
        EXPECT_NE(strstr(title, frame), nullptr) << title;
    }
}

TEST_F(Editing, NewDeleteDuplicateAndOrderUndoBackToTheStart) {
    start("knock2");
    const std::vector<ed_box_t> start_model = model();
    // N: the current frame, its middle under the pointer, drawn on top.
    move_to(320, 180);
    key(SDLK_n);
    ASSERT_EQ(ed_count, 17);
    EXPECT_EQ(ed_selected, 16);
    float x, y;
    centre(16, &x, &y);
    EXPECT_NEAR(x, 320.0f, 1.5f);
    EXPECT_NEAR(y, 180.0f, 1.5f);
    EXPECT_EQ(ed_boxes[16].origin, -1);
    // Ctrl+D: a copy right after it, 10 units on.
    key(SDLK_d, KMOD_LCTRL);
    ASSERT_EQ(ed_count, 18);
    EXPECT_EQ(ed_selected, 17);
    EXPECT_EQ(ed_boxes[17].x1, ed_boxes[16].x1 + 10);
    // [ twice: two down the drawing order; ] once back up.
    key(SDLK_LEFTBRACKET);
    key(SDLK_LEFTBRACKET);
    EXPECT_EQ(ed_selected, 15);
    EXPECT_EQ(ed_boxes[15].x1, ed_boxes[17].x1 + 10);
    key(SDLK_RIGHTBRACKET);
    EXPECT_EQ(ed_selected, 16);
    // Delete the first box; the selection stays at its place.
    key(SDLK_TAB);  // 17
    key(SDLK_TAB);  // wraps to 0
    ASSERT_EQ(ed_selected, 0);
    key(SDLK_DELETE);
    EXPECT_EQ(ed_count, 17);
    EXPECT_EQ(ed_boxes[0].origin, 1);
    key(SDLK_z, KMOD_LCTRL, 6);
    EXPECT_TRUE(same_boxes(model(), start_model));
    key(SDLK_z, KMOD_LCTRL | KMOD_LSHIFT, 6);
    EXPECT_EQ(ed_count, 17);
    EXPECT_FALSE(ed_redo());
}

TEST_F(Editing, UndoReachesBackOverAHundredSteps) {
    start("knock2");
    const std::vector<ed_box_t> start_model = model();
    key(SDLK_TAB);
    key(SDLK_RIGHT, KMOD_NONE, 150);
    EXPECT_EQ(ed_boxes[0].x1, start_model[0].x1 + 150);
    int undone = 0;
    while (ed_undo()) undone++;
    EXPECT_EQ(undone, 150);
    EXPECT_TRUE(same_boxes(model(), start_model));
    // A new edit drops what could have been redone.
    ASSERT_TRUE(ed_redo());
    key(SDLK_LEFT);
    EXPECT_FALSE(ed_redo());
    // Beyond the ring's length the oldest steps go, never the newest.
    key(SDLK_RIGHT, KMOD_NONE, ED_UNDO_STEPS + 20);
    undone = 0;
    while (ed_undo()) undone++;
    EXPECT_EQ(undone, ED_UNDO_STEPS);
}

}  // namespace
