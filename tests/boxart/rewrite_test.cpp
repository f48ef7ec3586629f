// A scene's new bytes written over its old text: kept lines, comments that
// stay with their boxes, and frame lines only where the frame changes.
#include "boxart_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const char old_text[] =
    "# scene\n"
    "frame \"a\"\n"
    "box 1 2 1.0 0 0 0 0 0 1 2 1.0 0\n"
    "# second\n"
    "box 3 4 1.0 0 0 0 0 0 3 4 1.0 0\n"
    "frame \"b\"\n"
    "# third\n"
    "box 5 6 0.5 0 0 0 0 0 5 6 0.5 0\n"
    "# end\n";

TEST(BoxartRewrite, CommentsStayWithTheirBoxes) {
    const struct {
        const char *what;
        const char *boxes;  // the new scene as text, built into bytes
        std::vector<int> origin;
        const char *expected;
    } cases[] = {
        {"unchanged", old_text, {0, 1, 2}, old_text},
        {"second box moved: its line only",
         "frame \"a\"\nbox 1 2 1 0 0 0 0 0 1 2 1 0\nbox 13 4 1 0 0 0 0 0 13 4 1 0\nframe \"b\"\nbox 5 6 0.5 0 0 0 0 0 5 6 0.5 0\n",
         {0, 1, 2},
         "# scene\nframe \"a\"\nbox 1 2 1.0 0 0 0 0 0 1 2 1.0 0\n# second\nbox 13 4 1 0 0 0 0 0 13 4 1 0\n"
         "frame \"b\"\n# third\nbox 5 6 0.5 0 0 0 0 0 5 6 0.5 0\n# end\n"},
        {"second box removed: its comment goes to the third",
         "frame \"a\"\nbox 1 2 1 0 0 0 0 0 1 2 1 0\nframe \"b\"\nbox 5 6 0.5 0 0 0 0 0 5 6 0.5 0\n", {0, 2},
         "# scene\nframe \"a\"\nbox 1 2 1.0 0 0 0 0 0 1 2 1.0 0\n# second\nframe \"b\"\n# third\n"
         "box 5 6 0.5 0 0 0 0 0 5 6 0.5 0\n# end\n"},
        {"last box removed: its comment goes to the end",
         "frame \"a\"\nbox 1 2 1 0 0 0 0 0 1 2 1 0\nbox 3 4 1 0 0 0 0 0 3 4 1 0\n", {0, 1},
         "# scene\nframe \"a\"\nbox 1 2 1.0 0 0 0 0 0 1 2 1.0 0\n# second\nbox 3 4 1.0 0 0 0 0 0 3 4 1.0 0\n"
         "# third\n# end\n"},
        {"third box first, a new box last",
         "frame \"b\"\nbox 5 6 0.5 0 0 0 0 0 5 6 0.5 0\nframe \"a\"\nbox 1 2 1 0 0 0 0 0 1 2 1 0\n"
         "box 3 4 1 0 0 0 0 0 3 4 1 0\nbox 7 8 2 45 0 0 0 0 7 8 2 0\n",
         {2, 0, 1, -1},
         "frame \"b\"\n# third\nbox 5 6 0.5 0 0 0 0 0 5 6 0.5 0\n# scene\nframe \"a\"\nbox 1 2 1.0 0 0 0 0 0 1 2 1.0 0\n"
         "# second\nbox 3 4 1.0 0 0 0 0 0 3 4 1.0 0\nbox 7 8 2 45 0 0 0 0 7 8 2 0\n# end\n"},
        {"the second box's frame changed",
         "frame \"a\"\nbox 1 2 1 0 0 0 0 0 1 2 1 0\nframe \"b\"\nbox 3 4 1 0 0 0 0 0 3 4 1 0\n"
         "box 5 6 0.5 0 0 0 0 0 5 6 0.5 0\n",
         {0, 1, 2},
         "# scene\nframe \"a\"\nbox 1 2 1.0 0 0 0 0 0 1 2 1.0 0\n# second\nframe \"b\"\nbox 3 4 1.0 0 0 0 0 0 3 4 1.0 0\n"
         "# third\nbox 5 6 0.5 0 0 0 0 0 5 6 0.5 0\n# end\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<unsigned char> bytes;
        std::string error;
        ASSERT_TRUE(boxart_build_text(c.boxes, bytes, error)) << error;
        const std::string text = boxart_rewrite_text(old_text, bytes.data(), bytes.size(), c.origin);
        EXPECT_EQ(text, c.expected);
        std::vector<unsigned char> back;
        ASSERT_TRUE(boxart_build_text(text, back, error)) << error;
        EXPECT_EQ(back, bytes);
    }
}

TEST(BoxartRewrite, WithoutAValidOldTextItIsTheDump) {
    std::vector<unsigned char> bytes;
    std::string error;
    ASSERT_TRUE(boxart_build_text("frame \"a\"\nbox 1 2 1 0 0 0 0 0 1 2 1 0\n", bytes, error));
    for (const char *old : {"", "box 1 2\n", "frame \"a\n"})
        EXPECT_EQ(boxart_rewrite_text(old, bytes.data(), bytes.size(), {0}), boxart_dump_text(bytes.data(), bytes.size()))
            << old;
    // A last line without a line end keeps having none.
    EXPECT_EQ(boxart_rewrite_text("frame \"a\"\nbox 1 2 1 0 0 0 0 0 1 2 1 0", bytes.data(), bytes.size(), {0}),
              "frame \"a\"\nbox 1 2 1 0 0 0 0 0 1 2 1 0");
}

}  // namespace
