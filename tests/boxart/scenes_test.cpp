// The beat reveal and the scene scripts, run through the director against
// small box art files made with the writer.
#include "scratch.h"

#include "intro.h"
#include "songclock.h"
#include "boxart_text.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

namespace {

// ---------------------------------------------------------------- evolve

class Reveal : public ::testing::Test {
protected:
    void SetUp() override {
        start_with_frames({});
        for (int i = 0; i < 20; i++) {
            dbx_drawbox_create()->visible = kUntouched;
        }
    }
    void TearDown() override { intro_reset(); }
    void at_beat(unsigned beat) {
        xmtrack = static_cast<int>(beat / 64);
        xmrow = static_cast<int>(beat % 64);
        evolve();
    }
    // Visibility of slots from..to-1 as a string: '1' shown, '0' hidden,
    // '-' as it was before the reveal.
    static std::string shown(int from, int to) {
        std::string s;
        for (int i = from; i < to; i++) {
            uint32_t v = dbx_drawbox[i].visible;
            s += v == kUntouched ? '-' : v ? '1' : '0';
        }
        return s;
    }
    static constexpr uint32_t kUntouched = 7;
};

TEST_F(Reveal, OneMoreBoxEveryPaceBeatsThenStartsOver) {
    ev_first = 10;
    ev_max = 14;
    ev_pace = 4;
    ev_beat1 = 0;
    const char *expected[17] = {"1000", "1000", "1000", "1000", "1100", "1100", "1100", "1100", "1110",
                                "1110", "1110", "1110", "1111", "1111", "1111", "1111", "1000"};
    for (unsigned beat = 0; beat <= 16; beat++) {
        at_beat(beat);
        EXPECT_EQ(shown(10, 14), expected[beat]) << "beat " << beat;
    }
    EXPECT_EQ(shown(0, 10), std::string(10, '-'));
    EXPECT_EQ(shown(14, 20), std::string(6, '-'));
}

TEST_F(Reveal, BeatsBelowTheAnchorWrapAround) {
    ev_first = 2;
    ev_max = 6;
    ev_pace = 1;
    ev_beat1 = 100;
    at_beat(99);  // d = 2^32 - 1, k = (2^32 - 1) mod 4 = 3
    EXPECT_EQ(shown(0, 8), "--1111--");
    ev_pace = 2;  // s = 2^31 - 1, k = 3 again
    at_beat(99);
    EXPECT_EQ(shown(0, 8), "--1111--");
    at_beat(100);
    EXPECT_EQ(shown(0, 8), "--1000--");
}

TEST_F(Reveal, APoolSmallerThanTheRangeKeepsTheFullCycle) {
    dbx_drawboxes = 12;
    ev_first = 10;
    ev_max = 14;
    ev_pace = 1;
    at_beat(3);
    EXPECT_EQ(shown(10, 14), "11--");
    at_beat(4);
    EXPECT_EQ(shown(10, 14), "10--");
    at_beat(5);
    EXPECT_EQ(shown(10, 14), "11--");
}

TEST_F(Reveal, EmptyOrNegativeRangesChangeNothing) {
    ev_pace = 1;
    for (auto range : {std::pair<int, int>{5, 5}, {6, 3}, {-4, 6}}) {
        ev_first = range.first;
        ev_max = range.second;
        at_beat(9);
        EXPECT_EQ(shown(0, 20), std::string(20, '-')) << range.first << ".." << range.second;
    }
}

TEST_F(Reveal, PaceBelowOneCountsEveryBeat) {
    ev_first = 0;
    ev_max = 4;
    for (int pace : {0, -3}) {
        ev_pace = pace;
        at_beat(2);
        EXPECT_EQ(shown(0, 4), "1110") << "pace " << pace;
    }
}

// ---------------------------------------------------------------- scenes

// Box counts of the scene files written for these tests; every count differs
// so that a script loading the wrong file shows.
const std::map<std::string, int> file_boxes = {
    {"test2", 14},    {"hello2", 15},     {"zuzu2", 16},  {"knock2", 17},         {"invit", 18},
    {"inmossby", 19}, {"greets", 20},     {"cratery", 21}, {"ending", 22},        {"greettext", 23},
    {"faces", 24},    {"hellothere", 25}, {"tolmen", 27}, {"fennickinvitro", 26},
};

class Scenes : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(dir.path.empty());
        ASSERT_EQ(mkdir("data", 0777), 0);
        start_with_frames({});
        for (const auto &file : file_boxes) {
            dbx_drawboxes = 0;
            for (int i = 0; i < file.second; i++) {
                dbx_drawbox_t *db = dbx_drawbox_create();
                db->x1 = i;
                db->scale = 1.0f;
                extra[i].delta_rot = 1;
            }
            boxart_save(("data/" + file.first + ".dat").c_str(), 0, file.second);
        }
        start_with_frames({});
    }
    void TearDown() override {
        dbx_drawboxes = 0;
        intro_reset();
    }
    static void pass_at(int position, int row) {
        xmtrack = position;
        xmrow = row;
        dbx_application_update();
    }
    static std::string current() { return currentscene >= 0 ? scenes[currentscene].name : "(none)"; }
    scratch_dir dir;
};

TEST_F(Scenes, EachCreateSetsItsGreyLoadsItsFileAndRevealSettings) {
    struct expectation {
        const char *scene;
        int bg;            // -1: left as it was
        const char *file;  // nullptr: loads nothing
        int first, max, pace;  // after create; -1 where the script leaves it
        bool evolves;      // create reveals (only the range's first box shows at beat 0)
        bool spins;        // create runs one animation step
    };
    // Today's show, as the table compiled in gives it.
    const expectation table[] = {
        {"black", 0, nullptr, -1, -1, -1, false, false},
        {"fade", -1, "hello2", -1, -1, -1, false, false},
        {"hello", 0, "test2", 10, 14, 4, false, false},
        {"zuzu", 0, "zuzu2", -1, -1, -1, false, true},
        {"knock", 100, "knock2", -1, -1, -1, false, false},
        {"beat1", 0, "invit", 0, 18, 2, true, false},
        {"beat2", 0, "inmossby", 3, 19, 2, true, false},
        {"beat3", 0, "greets", 5, 20, 2, true, false},
        {"lead1", 0, "cratery", 5, 21, 2, true, false},
        {"lead2", 0, "ending", 0, 22, 1, true, false},
        {"heart", 0, "greettext", -1, -1, -1, false, false},
        {"cred1", 0, "greets", -1, -1, -1, false, false},
        {"cred2", 0, "hellothere", 15, 25, -1, false, false},
        {"cred3", 255, "faces", -1, -1, -1, false, false},
        {"hal1", 255, "fennickinvitro", -1, -1, -1, false, false},
        {"hal2", 0, "tolmen", -1, -1, -1, false, false},
    };
    ASSERT_EQ(scene_count, static_cast<int>(std::size(table)));
    for (int s = 0; s < scene_count; s++) {
        const expectation &e = table[s];
        SCOPED_TRACE(e.scene);
        ASSERT_STREQ(scenes[s].name, e.scene);
        bg = 33;
        ev_first = ev_max = 99;  // the reveal of scripts that leave it does nothing
        ev_pace = 7;
        ev_beat1 = 0;
        switchscene(e.scene);
        EXPECT_EQ(current(), e.scene);
        EXPECT_EQ(bg, e.bg < 0 ? 33 : e.bg);
        EXPECT_EQ(dbx_drawboxes, e.file ? static_cast<uint32_t>(file_boxes.at(e.file)) : 0u);
        EXPECT_EQ(ev_first, e.first < 0 ? 99 : e.first);
        EXPECT_EQ(ev_max, e.max < 0 ? 99 : e.max);
        EXPECT_EQ(ev_pace, e.pace < 0 ? 7 : e.pace);
        if (!e.file) continue;
        int probe = e.evolves ? ev_first + 1 : 1;
        EXPECT_EQ(dbx_drawbox[probe].visible, e.evolves ? 0u : 1u);
        EXPECT_EQ(dbx_drawbox[0].rotation, e.spins ? 1.0f : 0.0f);
        scenes[s].f_update();
    }
    // "fade" takes its grey and its reveal range from its update.
    switchscene("fade");
    scenes[1].f_update();
    EXPECT_EQ(bg, 75);
    EXPECT_EQ(ev_first, 11);
    EXPECT_EQ(ev_max, 15);
    EXPECT_EQ(ev_pace, 4);
}

TEST_F(Scenes, LaterScenesInheritTheRevealOfEarlierOnes) {
    struct inherited {
        int position, row;
        const char *scene;
        int first, max, pace, beat1;
    };
    const int anchor = 6 * 64 + 3;  // "beat1" is created at row 3 of position 6
    const inherited table[] = {
        {0, 0, "hello", 10, 14, 4, 0},
        {1, 0, "fade", 11, 15, 4, 0},
        {2, 0, "zuzu", 11, 15, 4, 0},
        {5, 0, "knock", 11, 15, 4, 0},
        {6, 3, "beat1", 0, 18, 2, anchor},
        {7, 0, "beat2", 3, 19, 2, anchor},
        {8, 0, "beat3", 5, 20, 2, anchor},
        {9, 0, "lead2", 0, 22, 1, anchor},
        {11, 0, "heart", 0, 22, 1, anchor},
        {12, 0, "cred1", 0, 22, 1, anchor},
        {13, 0, "cred3", 0, 22, 1, anchor},
        {14, 0, "cred2", 15, 25, 1, anchor},
    };
    for (const inherited &e : table) {
        pass_at(e.position, e.row);
        SCOPED_TRACE(e.scene);
        EXPECT_EQ(current(), e.scene);
        EXPECT_EQ(ev_first, e.first);
        EXPECT_EQ(ev_max, e.max);
        EXPECT_EQ(ev_pace, e.pace);
        EXPECT_EQ(ev_beat1, e.beat1);
    }
}

TEST_F(Scenes, Cred2RevealsItsLastTenBoxesOneABeat) {
    for (int position : {0, 9, 14}) pass_at(position, 0);
    ASSERT_EQ(current(), "cred2");
    ASSERT_EQ(dbx_drawboxes, 25u);
    // No "beat1" in this run: the reveal counts from the start of the song at
    // the pace of 1 that "lead2" left.
    ASSERT_EQ(ev_beat1, 0);
    ASSERT_EQ(ev_pace, 1);
    for (int row = 0; row < 24; row++) {
        pass_at(14, row);
        unsigned k = (14u * 64 + static_cast<unsigned>(row)) % 10;
        std::string expected;
        for (int i = 0; i < 25; i++) expected += i < 15 || static_cast<unsigned>(i - 15) <= k ? '1' : '0';
        std::string got;
        for (int i = 0; i < 25; i++) got += dbx_drawbox[i].visible ? '1' : '0';
        EXPECT_EQ(got, expected) << "row " << row;
    }
}

TEST_F(Scenes, AMissingSceneFileLeavesTheSceneEmpty) {
    ASSERT_EQ(unlink("data/knock2.dat"), 0);
    ::testing::internal::CaptureStderr();
    switchscene("knock");
    std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(current(), "knock");
    EXPECT_EQ(dbx_drawboxes, 0u);
    EXPECT_EQ(bg, 100);
    EXPECT_NE(said.find("data/knock2.dat"), std::string::npos);
    scenes[currentscene].f_update();
}

// ---------------------------------------------------------------- the show's table

class ShowTable : public Scenes {
protected:
    void TearDown() override {
        char err[200];
        ASSERT_TRUE(intro_show_parse(intro_show_text, err, sizeof err)) << err;
        Scenes::TearDown();
    }
};

TEST_F(ShowTable, ANewSceneIsATextAndARow) {
    // What the art build does with assets/scenes/door.txt.
    std::vector<unsigned char> bytes;
    std::string error;
    ASSERT_TRUE(boxart_build_text("frame \"doorpanel.png\"\n"
                                  "box 10 20 1 0 0 0 0 0 10 20 0 0\n"
                                  "box 60 20 1 0 0 0 0 0 60 20 0 0\n"
                                  "box 110 20 1 0 5 0 0 0 110 20 0 0\n",
                                  bytes, error))
        << error;
    ASSERT_TRUE(write_bytes("data/door.dat", bytes));
    std::ofstream("show.txt") << intro_show_text
                              << "door  21  door  40  0  N  1  now  enter  reveal  reveal,animate\n";
    ASSERT_TRUE(intro_show_read("show.txt", stderr));
    const int door = scene_count - 1;
    EXPECT_STREQ(scenes[door].name, "door");
    EXPECT_EQ(intro_scene_position("door"), 21);
    EXPECT_EQ(intro_scene_of_file("door"), door);
    EXPECT_EQ(intro_scene_of_file("greets"), 7);  // "beat3" comes before "cred1"
    for (int position = 0; position <= 20; position++) pass_at(position, 0);
    EXPECT_EQ(current(), "hal2");
    pass_at(21, 5);
    ASSERT_EQ(current(), "door");
    EXPECT_EQ(bg, 40);
    ASSERT_EQ(dbx_drawboxes, 3u);
    EXPECT_EQ(dbx_drawbox[1].x1, 60);
    // Counted from its own start: one box, then one more a beat.
    EXPECT_EQ(ev_beat1, 21 * 64 + 5);
    const uint32_t shown_at_start[3] = {1, 0, 0};
    for (int i = 0; i < 3; i++) EXPECT_EQ(dbx_drawbox[i].visible, shown_at_start[i]) << i;
    EXPECT_EQ(dbx_drawbox[2].rotation, 5.0f);  // the tick of its coming animates
    pass_at(21, 7);
    for (int i = 0; i < 3; i++) EXPECT_EQ(dbx_drawbox[i].visible, 1u) << i;
}

TEST_F(ShowTable, RefusesRowsItCannotPlayAndKeepsTheShow) {
    const char *start = "# a show\nfirst 0 - 0 - - - - enter - -\n";
    struct bad {
        const char *row, *why;
    };
    const bad table[] = {
        {"x 1 - 0 - - - - enter -", "line 3: a row has 11 columns, this one 10"},
        {"x 1 - 0 - - - - enter - - -", "line 3: a row has 11 columns, this one more than 11"},
        {"abcdefghijklmnopqrst 1 - 0 - - - - enter - -", "1 to 19 characters"},
        {"first 1 - 0 - - - - enter - -", "name is taken"},
        {"x 2,0 - 0 - - - - enter - -", "position is taken"},
        {"x 256 - 0 - - - - enter - -", "\"at\" wants"},
        {"x 1,,2 - 0 - - - - enter - -", "\"at\" wants"},
        {"x 1 ../etc - - - - - enter - -", "\"file\" wants"},
        {"x 1 - 256 - - - - enter - -", "\"bg\" wants"},
        {"x 1 - - N-0 - - - enter - -", "\"first\" wants"},
        {"x 1 - - - -3 - - enter - -", "\"last\" wants"},
        {"x 1 - - - - 0 - enter - -", "\"pace\" wants"},
        {"x 1 - - - - - later enter - -", "\"beat\" wants"},
        {"x 1 - - - - - - often - -", "\"set\" wants"},
        {"x 1 - - - - - - enter reveal, -", "\"enter\" wants"},
        {"x 1 - - - - - - enter - reveal,animate,reveal", "\"tick\" wants"},
    };
    char err[200];
    for (const bad &b : table) {
        SCOPED_TRACE(b.row);
        EXPECT_FALSE(intro_show_parse((std::string(start) + b.row + "\n").c_str(), err, sizeof err));
        EXPECT_NE(std::string(err).find(b.why), std::string::npos) << err;
        EXPECT_EQ(scene_count, 16);
    }
    EXPECT_FALSE(intro_show_parse("x 1 - 0 - - - - enter - -\n", err, sizeof err));
    EXPECT_STREQ(err, "no scene at song position 0, where the song starts");
    // A file that is not there, or not a file, is named with its reason.
    for (const char *path : {"missing.txt", "data"}) {
        ::testing::internal::CaptureStderr();
        EXPECT_FALSE(intro_show_read(path, stderr));
        const std::string said = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(said.rfind(path, 0), 0u) << said;
    }
    EXPECT_EQ(scene_count, 16);
}

}  // namespace
