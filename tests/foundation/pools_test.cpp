#include "drawboxlib/drawboxlib.h"
#include "tests/common/pools.h"
#include "tests/common/scratch_dir.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

namespace {

class Pools : public ::testing::Test {
protected:
    void SetUp() override { dbx_reset(); }
};

TEST_F(Pools, DrawboxPoolFillsToCapacityThenRefuses) {
    dbx_drawbox_t *last = nullptr;
    for (int i = 0; i < DBX_MAX_DRAWBOXES; i++) last = dbx_drawbox_create();
    EXPECT_EQ(last, &dbx_drawbox[4999]);
    EXPECT_EQ(dbx_drawbox_create(), nullptr);
    EXPECT_EQ(dbx_drawboxes, 5000u);
}

TEST_F(Pools, FrameAndFramesetPoolsReportFullWithMinusOne) {
    for (int i = 0; i < DBX_MAX_FRAMES; i++) ASSERT_EQ(dbx_frame_create(), i);
    EXPECT_EQ(dbx_frame_create(), -1);
    EXPECT_EQ(dbx_frames, 1000u);
    for (int i = 0; i < DBX_MAX_FRAMESETS; i++) ASSERT_EQ(dbx_frameset_create(), i);
    EXPECT_EQ(dbx_frameset_create(), -1);
}

TEST_F(Pools, DroppingTheCountHandsOutSlotZeroWithItsOldFields) {
    dbx_drawbox_t *box = dbx_drawbox_create();
    box->x1 = 77;
    box->scale = 2.5f;
    box->visible = 1;
    dbx_drawboxes = 0;
    dbx_drawbox_t *again = dbx_drawbox_create();
    EXPECT_EQ(again, box);
    EXPECT_EQ(again->used, 1u);
    EXPECT_EQ(again->x1, 77);
    EXPECT_EQ(again->scale, 2.5f);
    EXPECT_EQ(again->visible, 1u);
}

TEST_F(Pools, ReleasedSlotIsReusedOnlyWithTheReuseFlag) {
    for (int i = 0; i < 10; i++) dbx_drawbox_create();
    EXPECT_EQ(dbx_drawbox_remove(3), 0);
    EXPECT_EQ(dbx_drawbox[3].used, 0u);
    EXPECT_EQ(dbx_drawboxes, 10u);  // a release never lowers the count
    EXPECT_EQ(dbx_drawbox_create(), &dbx_drawbox[10]);

    dbx_drawbox_remove(4);
    dbx_reuse_drawboxes = 1;
    EXPECT_EQ(dbx_drawbox_create(), &dbx_drawbox[3]);
    EXPECT_EQ(dbx_drawbox_create(), &dbx_drawbox[4]);
    EXPECT_EQ(dbx_drawboxes, 11u);
    EXPECT_EQ(dbx_drawbox_create(), &dbx_drawbox[11]);
}

TEST_F(Pools, FrameCreationFillsHolesFirst) {
    for (int i = 0; i < 5; i++) dbx_frame_create();
    dbx_frame[2].used = 0;
    EXPECT_EQ(dbx_frame_create(), 2);
    EXPECT_EQ(dbx_frame_create(), 5);
}

TEST_F(Pools, RemoveOutsideThePoolWritesNothing) {
    dbx_drawbox_t *box = dbx_drawbox_create();
    EXPECT_EQ(dbx_drawbox_remove(5000), 0);
    EXPECT_EQ(dbx_drawbox_remove(0xffffffffu), 0);
    EXPECT_EQ(box->used, 1u);
}

TEST_F(Pools, EventsComeOutInBatches) {
    EXPECT_EQ(dbx_event_get(), nullptr);
    dbx_event_t *a = dbx_event_add();
    dbx_event_t *b = dbx_event_add();
    EXPECT_EQ(a, &dbx_event[0]);
    EXPECT_EQ(dbx_event_get(), a);
    // Added while the batch is partly read: still part of this batch.
    dbx_event_t *c = dbx_event_add();
    EXPECT_EQ(dbx_event_get(), b);
    EXPECT_EQ(dbx_event_get(), c);
    EXPECT_EQ(dbx_event_get(), nullptr);
    // The call that found the queue drained emptied it.
    EXPECT_EQ(dbx_event_add(), &dbx_event[0]);
}

TEST_F(Pools, EventQueueHoldsFifty) {
    for (int i = 0; i < DBX_MAX_EVENTS; i++) ASSERT_NE(dbx_event_add(), nullptr);
    EXPECT_EQ(dbx_event_add(), nullptr);
}

TEST_F(Pools, FindFrameTakesTheFirstMatchOverThirtyTwoCharacters) {
    EXPECT_EQ(dbx_findframe("bird.png"), -1);  // empty pool
    for (int i = 0; i < 3; i++) dbx_frame_create();
    strcpy(dbx_frame[0].source_name, "a.png");
    strcpy(dbx_frame[1].source_name, "bird.png");
    strcpy(dbx_frame[2].source_name, "bird.png");
    EXPECT_EQ(dbx_findframe("bird.png"), 1);
    EXPECT_EQ(dbx_findframe("bird"), -1);
    // A name filling all 32 bytes without a NUL still compares.
    memset(dbx_frame[0].source_name, 'x', 32);
    EXPECT_EQ(dbx_findframe("xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxTAIL"), 0);
}

}  // namespace

namespace {

// The reset leaves what a fresh program has, also halfway through reading
// the event queue and with the tick clock and every hook moved elsewhere.
TEST(EngineReset, GivesAFreshProgramsState) {
    dbx_reset();
    add_box(0, 1, 2, 1.0f, 0.0f)->opacity = 0.5f;
    dbx_frame_create();
    dbx_frameset_create();
    dbx_reuse_drawboxes = 1;
    dbx_event_add()->x = 1;
    dbx_event_add()->x = 2;
    ASSERT_NE(dbx_event_get(), nullptr);  // one of two read
    dbx_fixed_width = 640;
    dbx_viewport_originx = 3;
    dtmp_mousedown = 1;
    dbx_ticsize = 40;
    dbx_platform_clock = [] { return uint64_t{5}; };
    dbx_platform_keep = [] { return 0; };
    dbx_platform_unpaced = 1;
    dbx_frame_shown = [] {};
    dbx_platform_finish = [] {};

    dbx_reset();
    EXPECT_EQ(dbx_drawboxes + dbx_frames + dbx_framesets + dbx_events, 0u);
    EXPECT_EQ(dbx_drawbox[0].used, 0u);
    EXPECT_EQ(dbx_drawbox[0].opacity, 0.0f);
    EXPECT_EQ(dbx_reuse_drawboxes, 0);
    EXPECT_EQ(dbx_fixed_width, 0);
    EXPECT_EQ(dbx_viewport_originx, 0);
    EXPECT_EQ(dtmp_mousedown, 0);
    EXPECT_EQ(dbx_ticsize, 25);
    EXPECT_EQ(dbx_platform_clock, &dbx_monotonic_ms);
    EXPECT_EQ(dbx_platform_keep, nullptr);
    EXPECT_EQ(dbx_platform_unpaced, 0);
    EXPECT_EQ(dbx_frame_shown, nullptr);
    EXPECT_EQ(dbx_platform_finish, nullptr);
    // The queue starts over: the first event added is the first read.
    dbx_event_add()->x = 9;
    dbx_event_t *first = dbx_event_get();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->x, 9u);
    EXPECT_EQ(dbx_event_get(), nullptr);
}

}  // namespace

namespace {

// The program's files are looked for in DBX_DATA, else the working folder,
// else the package's data folder beside the program (../share/invitro from
// the program's folder); a name found nowhere stays as given.
TEST(DataFolder, FilesAreFoundWhereTheyAre) {
    scratch_dir here;
    ASSERT_FALSE(here.path.empty());
    char program[4096];
    const ssize_t n = readlink("/proc/self/exe", program, sizeof program - 1);
    ASSERT_GT(n, 0);
    program[n] = 0;
    const std::string package = std::filesystem::path(program).parent_path().string() + "/../share/invitro";
    const bool made_package = !std::filesystem::exists(package);
    std::filesystem::create_directories(package + "/data");
    std::ofstream(package + "/data/packaged.dat") << "x";
    std::ofstream(package + "/data/both.dat") << "x";
    std::filesystem::create_directories("data");
    std::ofstream("data/both.dat") << "x";
    std::ofstream("data/here.dat") << "x";
    const struct {
        const char *data_env, *name;
        std::string expected;
    } cases[] = {
        {nullptr, "data/here.dat", "data/here.dat"},
        {nullptr, "data/both.dat", "data/both.dat"},
        {nullptr, "data/packaged.dat", package + "/data/packaged.dat"},
        {nullptr, "data/nowhere.dat", "data/nowhere.dat"},
        {nullptr, "/abs/out.png", "/abs/out.png"},
        {"/srv/intro", "data/here.dat", "/srv/intro/data/here.dat"},
        {"", "data/packaged.dat", package + "/data/packaged.dat"},
    };
    for (const auto &c : cases) {
        if (c.data_env)
            setenv("DBX_DATA", c.data_env, 1);
        else
            unsetenv("DBX_DATA");
        EXPECT_EQ(std::string(dbx_data_file(c.name).text), c.expected)
            << c.name << " with DBX_DATA " << (c.data_env ? c.data_env : "unset");
    }
    setenv("DBX_DATA", "/srv/intro", 1);
    EXPECT_EQ(std::string(dbx_data_where().text), "DBX_DATA=/srv/intro");
    unsetenv("DBX_DATA");
    EXPECT_NE(std::string(dbx_data_where().text).find("share/invitro"), std::string::npos);
    std::filesystem::remove(package + "/data/packaged.dat");
    std::filesystem::remove(package + "/data/both.dat");
    if (made_package) std::filesystem::remove_all(std::filesystem::path(package).parent_path());
}

}  // namespace
