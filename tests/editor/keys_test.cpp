// The editor's one table of inputs: the docs' table is that table, and no
// key row hides behind another.
#include "editor.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

TEST(EditorInputs, DocsTableIsTheEditorsTable) {
    std::ifstream doc(REPO_ROOT "/docs/making-scenes.md");
    ASSERT_TRUE(doc) << "docs/making-scenes.md";
    std::vector<std::string> documented;
    std::string line;
    bool in_section = false;
    while (std::getline(doc, line)) {
        if (line.rfind("## ", 0) == 0) in_section = line == "## Mouse and keys";
        if (in_section && line.rfind("| ", 0) == 0 && line != "| input | does |") documented.push_back(line);
    }
    std::vector<std::string> table;
    for (int i = 0; i < ed_input_count; i++)
        if (ed_inputs[i].input) table.push_back(std::string("| ") + ed_inputs[i].input + " | " + ed_inputs[i].does + " |");
    EXPECT_EQ(documented, table);
}

// Rows are tried in order and the first that takes the key acts, so two rows
// of one key must ask for different modifiers; a row without a key has no
// action, and one with a key has one.
TEST(EditorInputs, EveryKeyRowCanAct) {
    const auto shift_of = [](uint8_t mods) { return mods & (ED_SHIFT | ED_NO_SHIFT); };
    for (int i = 0; i < ed_input_count; i++) {
        const ed_input_t &a = ed_inputs[i];
        EXPECT_EQ(a.code == 0, a.act == nullptr) << "row " << i;
        EXPECT_EQ(a.input == nullptr, a.does == nullptr) << "row " << i;
        for (int k = 0; k < i; k++) {
            const ed_input_t &b = ed_inputs[k];
            if (!a.code || a.code != b.code) continue;
            const bool differ = (a.mods & ED_CTRL) != (b.mods & ED_CTRL) ||
                                (shift_of(a.mods) && shift_of(b.mods) && shift_of(a.mods) != shift_of(b.mods));
            EXPECT_TRUE(differ) << "row " << i << " (key " << a.code << ") is hidden by row " << k;
        }
    }
}
