// The editor's undo ring: every edit is one step that records the box
// before and after, done, undone and redone in the model (ed_boxes).
#include "editor.h"

#include <cstring>
#include <initializer_list>

unsigned ed_edits;

namespace {

enum step_kind : uint8_t { STEP_CHANGE, STEP_INSERT, STEP_REMOVE, STEP_SWAP };

struct step_t {
    step_kind kind;
    int index;
    ed_box_t before, after;  // CHANGE: both; INSERT: after; REMOVE: before
    int moved;               // SWAP: where the moved box goes (index or index + 1)
};

step_t steps[ED_UNDO_STEPS];
int first_step, done_steps, total_steps;  // a ring: the oldest, how many are done, how many can be redone

void insert_box(int at, const ed_box_t &box) {
    memmove(&ed_boxes[at + 1], &ed_boxes[at], static_cast<size_t>(ed_count - at) * sizeof ed_boxes[0]);
    ed_boxes[at] = box;
    ed_count++;
}

void remove_box(int at) {
    memmove(&ed_boxes[at], &ed_boxes[at + 1], static_cast<size_t>(ed_count - at - 1) * sizeof ed_boxes[0]);
    ed_count--;
}

void run_step(const step_t &s, bool forward) {
    switch (s.kind) {
    case STEP_CHANGE:
        ed_boxes[s.index] = forward ? s.after : s.before;
        ed_selected = s.index;
        break;
    case STEP_INSERT:
    case STEP_REMOVE:
        if ((s.kind == STEP_INSERT) == forward) {
            insert_box(s.index, forward ? s.after : s.before);
            ed_selected = s.index;
        } else {
            remove_box(s.index);
            // A removed box leaves the one after it selected; an insert taken
            // back, the one before it (a duplicate's original).
            if (s.kind == STEP_INSERT && s.index > 0)
                ed_selected = s.index - 1;
            else
                ed_selected = s.index < ed_count ? s.index : ed_count - 1;
        }
        break;
    case STEP_SWAP: {
        ed_box_t t = ed_boxes[s.index];
        ed_boxes[s.index] = ed_boxes[s.index + 1];
        ed_boxes[s.index + 1] = t;
        // The box that was moved stays selected, either way.
        const int other = s.moved == s.index ? s.index + 1 : s.index;
        ed_selected = forward ? s.moved : other;
        break;
    }
    }
    ed_dirty = 1;
    ed_edits++;
    ed_sync();
}

// Does the step and keeps it; the steps that could be redone are gone.
void edit(const step_t &s) {
    if (done_steps == ED_UNDO_STEPS) {
        first_step = (first_step + 1) % ED_UNDO_STEPS;
        done_steps--;
    }
    steps[(first_step + done_steps) % ED_UNDO_STEPS] = s;
    total_steps = ++done_steps;
    ed_status[0] = 0;
    run_step(s, true);
}

}  // namespace

void ed_change(int index, const ed_box_t &after) {
    if (index < 0 || index >= ed_count || !memcmp(&ed_boxes[index], &after, sizeof after)) return;
    edit({STEP_CHANGE, index, ed_boxes[index], after, 0});
}

void ed_insert(int at, const ed_box_t &box) { edit({STEP_INSERT, at, ed_box_t{}, box, 0}); }

void ed_remove(int at) { edit({STEP_REMOVE, at, ed_boxes[at], ed_box_t{}, 0}); }

void ed_swap(int low, int moved) { edit({STEP_SWAP, low, ed_box_t{}, ed_box_t{}, moved}); }

bool ed_undo(void) {
    if (done_steps == 0) return false;
    done_steps--;
    run_step(steps[(first_step + done_steps) % ED_UNDO_STEPS], false);
    return true;
}

bool ed_redo(void) {
    if (done_steps == total_steps) return false;
    run_step(steps[(first_step + done_steps) % ED_UNDO_STEPS], true);
    done_steps++;
    return true;
}

void ed_undo_clear(void) { first_step = done_steps = total_steps = 0; }

void ed_undo_renumber(const int *renumber, int count) {
    for (step_t &s : steps)
        for (ed_box_t *b : {&s.before, &s.after})
            b->origin = b->origin >= 0 && b->origin < count ? renumber[b->origin] : -1;
}
