#include "boxart.h"
#include "drawboxlib/drawboxlib.h"
#include "intro.h"
#include "songclock.h"
#include "tests/common/scratch_dir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// The director's state persists between tests in one process; every test
// starts from the state of a fresh program, in an empty folder so that no
// scene file is found.
class Director : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(dir.path.empty());
        dbx_reset();
        intro_reset();
    }
    void TearDown() override { intro_reset(); }
    // One update pass at a song position; true when it switched scenes.
    bool pass_at(int position) {
        xmtrack = position;
        extra[0].timing = 7;  // a switch zero-fills the animation table
        dbx_application_update();
        return extra[0].timing == 0;
    }
    scratch_dir dir;
};

int scene_index(const char *name) {
    for (int i = 0; i < scene_count; i++)
        if (std::string(scenes[i].name) == name) return i;
    return -1;
}

TEST_F(Director, FirstPassMakesHelloCurrentBeforeAnyFrame) {
    EXPECT_TRUE(pass_at(0));
    EXPECT_EQ(currentscene, scene_index("hello"));
    EXPECT_EQ(quit, 1);
    EXPECT_EQ(lasttrack, 0);
    EXPECT_FALSE(pass_at(0));
}

// After a whole run the reset starts the show over (without the reset the
// song's wrap to position 0 would end the program).
TEST_F(Director, ResetAfterARunStartsTheShowOver) {
    for (int p = 0; p <= 20; p++) pass_at(p);
    ev_pace = 9;
    rseed = 1;
    sound = 0;
    extra[5].timing = 3;
    intro_reset();
    EXPECT_EQ(currentscene, -1);
    EXPECT_EQ(ev_pace, 2);
    EXPECT_EQ(rseed, 12345u);
    EXPECT_EQ(sound, 1);
    EXPECT_EQ(extra[5].timing, 0);
    EXPECT_TRUE(pass_at(0));
    EXPECT_EQ(currentscene, scene_index("hello"));
}

TEST_F(Director, EachScheduledPositionSwitchesOnceInOrder) {
    const char *expected[21] = {"hello", "fade",  "zuzu",  "zuzu",  "zuzu",  "knock", "beat1",
                                "beat2", "beat3", "lead2", "lead2", "heart", "cred1", "cred3",
                                "cred2", "lead1", "beat2", "hal1",  "hal1",  "hal1",  "hal2"};
    const bool switches[21] = {true, true, true, false, false, true, true, true, true, true, false,
                               true, true, true, true,  true,  true, true, false, false, true};
    for (int p = 0; p <= 20; p++) {
        EXPECT_EQ(pass_at(p), switches[p]) << "position " << p;
        EXPECT_FALSE(pass_at(p)) << "position " << p << " switched twice";
        EXPECT_EQ(currentscene, scene_index(expected[p])) << "position " << p;
    }
    // Past the last position the last scene stays.
    EXPECT_FALSE(pass_at(21));
    EXPECT_EQ(currentscene, scene_index("hal2"));
}

TEST_F(Director, SkippedPositionIsNeverCreated) {
    pass_at(0);
    pass_at(1);
    EXPECT_FALSE(pass_at(3));
    EXPECT_EQ(currentscene, scene_index("fade"));
}

TEST_F(Director, SongGoingBackHoldsTheScheduleUntilItCatchesUp) {
    for (int p = 0; p <= 7; p++) pass_at(p);
    EXPECT_FALSE(pass_at(1));
    EXPECT_EQ(lasttrack, 7);
    EXPECT_EQ(currentscene, scene_index("beat2"));
    EXPECT_FALSE(pass_at(7));
    EXPECT_TRUE(pass_at(8));
    EXPECT_EQ(currentscene, scene_index("beat3"));
}

TEST_F(Director, Beat2IsCreatedAfreshAtPosition16) {
    for (int p = 0; p <= 15; p++) pass_at(p);
    ev_first = 99;
    EXPECT_TRUE(pass_at(16));
    EXPECT_EQ(currentscene, scene_index("beat2"));
    EXPECT_EQ(ev_first, 3);
}

TEST_F(Director, OnceLasttrackIsMinusOneTheScheduleNeverActs) {
    lasttrack = -1;
    for (int p = 0; p <= 20; p++) EXPECT_FALSE(pass_at(p));
    EXPECT_EQ(lasttrack, -1);
}

TEST_F(Director, UnknownNameEmptiesThePoolAndKeepsTheScene) {
    pass_at(0);
    dbx_drawbox_create();
    skip_scene_create = 1;
    switchscene("nosuchscene");
    EXPECT_EQ(dbx_drawboxes, 0u);
    EXPECT_EQ(currentscene, scene_index("hello"));
    EXPECT_EQ(skip_scene_create, 1);  // only a successful switch clears it
}

TEST_F(Director, SkipSceneCreateSwitchesWithoutCreating) {
    bg = 7;
    skip_scene_create = 1;
    switchscene("hal1");
    EXPECT_EQ(currentscene, scene_index("hal1"));
    EXPECT_EQ(bg, 7);
    EXPECT_EQ(skip_scene_create, 0);
    switchscene("hal1");  // the scene's own name runs its create again
    EXPECT_EQ(bg, 255);
}

TEST_F(Director, SceneNamesCompareOverTwentyCharacters) {
    switchscene("cred3");
    EXPECT_EQ(currentscene, scene_index("cred3"));
    switchscene("cred");
    EXPECT_EQ(currentscene, scene_index("cred3"));
}

TEST_F(Director, UpdateDrainsTheEventQueue) {
    dbx_event_add();
    dbx_event_add();
    pass_at(0);
    EXPECT_EQ(dbx_event_get(), nullptr);
    EXPECT_EQ(dbx_event_add(), &dbx_event[0]);
    while (dbx_event_get()) {
    }
}

TEST_F(Director, SecondStartupBranchEndsTheProcessWithStatusZero) {
    pass_at(0);
    EXPECT_EXIT(
        {
            lasttrack = -2;  // only reachable by hand: the song never returns below lasttrack
            pass_at(0);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(Director, SilentRunAlwaysGetsAScene) {
    sound = 0;
    xmtrack = -1;
    xmrow = 128;
    // An update pass that comes before the first frame step must not stall
    // the schedule for good.
    dbx_application_update();
    EXPECT_EQ(currentscene, -1);
    EXPECT_EQ(lasttrack, -2);
    dbx_application_drawframe();
    EXPECT_EQ(xmtrack, 0);
    EXPECT_EQ(xmrow, 0);
    dbx_application_update();
    EXPECT_EQ(currentscene, scene_index("hello"));
}

TEST_F(Director, SilentClockDrivesTheScheduleAt129FramesPerPosition) {
    sound = 0;
    xmtrack = -1;
    xmrow = 128;
    int frames_to_fade = 0;
    for (int frame = 1; frame <= 400; frame++) {
        dbx_application_drawframe();
        dbx_application_update();
        if (currentscene == scene_index("fade") && frames_to_fade == 0) frames_to_fade = frame;
    }
    // Position p begins at frame step 129 p + 1.
    EXPECT_EQ(frames_to_fade, 130);
    EXPECT_EQ(currentscene, scene_index("zuzu"));
}

}  // namespace

namespace {

int finished;
void count_finish(void) { finished++; }

// The song heard to its end ends the show (through the layer's end); with
// the loop the schedule starts again from "hello" once the song is back at
// its first position, and the second lap switches the same scenes again.
TEST_F(Director, TheSongsEndEndsTheShowOrStartsItAgain) {
    const struct {
        int loop;
        int finished;
    } cases[] = {{0, 1}, {1, 0}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.loop ? "loop" : "no loop");
        intro_reset();
        finished = 0;
        dbx_platform_finish = count_finish;
        xm_loop = c.loop;
        for (int p = 0; p <= 20; p++) pass_at(p);
        ASSERT_EQ(currentscene, scene_index("hal2"));
        xm_song_ends++;
        EXPECT_FALSE(pass_at(20));  // the clock may still show the last position
        EXPECT_EQ(finished, c.finished);
        if (!c.loop) continue;
        EXPECT_TRUE(pass_at(0));
        EXPECT_EQ(currentscene, scene_index("hello"));
        EXPECT_TRUE(pass_at(1));
        EXPECT_EQ(currentscene, scene_index("fade"));
        EXPECT_FALSE(pass_at(0));  // a song that goes back otherwise still holds the schedule
        EXPECT_EQ(currentscene, scene_index("fade"));
    }
    xm_loop = 0;
    xm_song_ends = 0;
    dbx_platform_finish = nullptr;
}

// A folder of the user's own holds the show's table the intro plays; one
// that is not a show leaves the show compiled in, said.
TEST_F(Director, TheDataFolderTableComesFirst) {
    mkdir("assets", 0777);
    setenv("DBX_DATA", ".", 1);
    const std::string compiled = intro_show_text;
    const struct {
        std::string table;
        int scenes;
        const char *said;
    } cases[] = {
        {compiled + "door 19 - 30 - - - - enter - -\n", 17, ""},
        {compiled + "door 19 - 300 - - - - enter - -\n", 16, "bg\" wants 0 to 255"},
    };
    for (const auto &c : cases) {
        std::ofstream("assets/show.txt") << c.table;
        ::testing::internal::CaptureStderr();
        intro_show_load();
        const std::string said = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(scene_count, c.scenes);
        EXPECT_NE(said.find(c.said), std::string::npos) << said;
        EXPECT_EQ(said.empty(), !*c.said) << said;
    }
    unsetenv("DBX_DATA");
    std::ofstream("assets/show.txt") << cases[0].table;
    intro_show_load();  // the working folder's, as DBX_DATA's
    EXPECT_EQ(scene_count, 17);
    unlink("assets/show.txt");
    intro_show_load();  // none: the one compiled in
    EXPECT_EQ(scene_count, 16);
}

}  // namespace
