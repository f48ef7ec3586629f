// Box art files: the byte format, the reader and the writer.
#include "scratch.h"

#include <gtest/gtest.h>

namespace {

class BoxartFile : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(dir.path.empty());
        start_with_frames({"bird.png", "Toskel.png", "pirrel.png"});
    }
    // Puts box `n` into pool slot `slot` showing `frame`.
    void place(int slot, int n, uint32_t frame) {
        boxart_box_t b = numbered_box(n);
        dbx_drawbox_t &db = dbx_drawbox[slot];
        db.used = 1;
        db.frame = frame;
        db.x1 = b.x1;
        db.y1 = b.y1;
        db.scale = b.scale;
        db.rotation = b.rotation;
        extra[slot] = b.myextra;
        if (static_cast<uint32_t>(slot) >= dbx_drawboxes) dbx_drawboxes = slot + 1;
    }
    void expect_box(int slot, int n, uint32_t frame) {
        boxart_box_t b = numbered_box(n);
        const dbx_drawbox_t &db = dbx_drawbox[slot];
        EXPECT_EQ(db.used, 1u) << "slot " << slot;
        EXPECT_EQ(db.visible, 1u) << "slot " << slot;
        EXPECT_EQ(db.frame, frame) << "slot " << slot;
        EXPECT_EQ(db.x1, b.x1) << "slot " << slot;
        EXPECT_EQ(db.y1, b.y1) << "slot " << slot;
        EXPECT_EQ(db.scale, b.scale) << "slot " << slot;
        EXPECT_EQ(db.rotation, b.rotation) << "slot " << slot;
        EXPECT_EQ(memcmp(&extra[slot], &b.myextra, sizeof(extra_t)), 0) << "slot " << slot;
    }
    scratch_dir dir;
};

TEST_F(BoxartFile, SavedBoxesReadBackUnchangedAndVisible) {
    const uint32_t frames[5] = {2, 0, 1, 1, 2};
    for (int i = 0; i < 5; i++) place(i, i, frames[i]);
    dbx_drawbox[3].visible = 0;  // visibility is not stored
    boxart_save("round.dat", 0, 5);
    dbx_drawboxes = 0;  // the next load starts at slot 0
    boxart_loadfile("round.dat");
    ASSERT_EQ(dbx_drawboxes, 5u);
    for (int i = 0; i < 5; i++) expect_box(i, i, frames[i]);
}

TEST_F(BoxartFile, ExampleBirdFileByteForByte) {
    const std::vector<unsigned char> expected = {
        0x01, 'b',  'i',  'r',  'd',  '.',  'p',  'n',  'g',  0,    0,    0,    0,    0,    0,    0,    0,
        0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0x02,
        0x64, 0x00, 0x00, 0x00, 0x32, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x00, 0x00};
    ASSERT_EQ(expected.size(), 82u);
    dbx_drawbox[0] = {};
    dbx_drawbox[0].x1 = 100;
    dbx_drawbox[0].y1 = 50;
    dbx_drawbox[0].scale = 1.0f;
    extra[0].animationmode = 2;
    extra[0].scale1 = 1.0f;
    dbx_drawboxes = 1;
    boxart_save("bird.dat", 0, 1);
    EXPECT_EQ(read_bytes("bird.dat"), expected);

    dbx_drawboxes = 0;  // the next load starts at slot 0
    load_exact(expected);
    ASSERT_EQ(dbx_drawboxes, 1u);
    EXPECT_EQ(dbx_drawbox[0].frame, 0u);
    EXPECT_EQ(dbx_drawbox[0].x1, 100);
    EXPECT_EQ(dbx_drawbox[0].y1, 50);
    EXPECT_EQ(dbx_drawbox[0].scale, 1.0f);
    EXPECT_EQ(extra[0].animationmode, 2);
    EXPECT_EQ(extra[0].scale1, 1.0f);
}

TEST_F(BoxartFile, FrameNameItemsOnlyWhereTheFrameChanges) {
    const uint32_t frames[4] = {0, 0, 1, 0};
    for (int i = 0; i < 4; i++) place(i, i, frames[i]);
    boxart_save("runs.dat", 0, 4);
    std::vector<unsigned char> bytes = read_bytes("runs.dat");
    // frame 0, box, box, frame 1, box, frame 0 again, box
    ASSERT_EQ(bytes.size(), 3u * BOXART_FRAME_ITEM + 4u * BOXART_BOX_ITEM);
    const size_t starts[7] = {0, 33, 82, 131, 164, 213, 246};
    const int types[7] = {1, 2, 2, 1, 2, 1, 2};
    for (int i = 0; i < 7; i++) EXPECT_EQ(bytes[starts[i]], types[i]) << "item " << i;
    EXPECT_EQ(memcmp(&bytes[132], "Toskel.png", 11), 0);
    EXPECT_EQ(memcmp(&bytes[214], "bird.png", 9), 0);

    // A range not starting at slot 0 still opens with a frame name.
    boxart_save("part.dat", 1, 3);
    bytes = read_bytes("part.dat");
    ASSERT_EQ(bytes.size(), 2u * BOXART_FRAME_ITEM + 2u * BOXART_BOX_ITEM);
    EXPECT_EQ(bytes[0], 1);
    EXPECT_EQ(memcmp(&bytes[1], "bird.png", 9), 0);

    boxart_save("empty.dat", 3, 3);
    EXPECT_TRUE(read_bytes("empty.dat").empty());
    EXPECT_EQ(scratch_dir::entries(".").size(), 3u);
}

TEST_F(BoxartFile, BoxesBeforeAnyFrameNameShowFrameZeroInEveryFile) {
    std::vector<unsigned char> first, second;
    append_frame_item(first, "pirrel.png");
    append_box_item(first, numbered_box(0));
    append_box_item(second, numbered_box(1));
    load_exact(first);
    load_exact(second);  // appended after the first file, frame 0 again
    ASSERT_EQ(dbx_drawboxes, 2u);
    expect_box(0, 0, 2);
    expect_box(1, 1, 0);
}

TEST_F(BoxartFile, OtherItemTypesAreSkippedInBoxSizedSteps) {
    std::vector<unsigned char> bytes;
    bytes.reserve(3 * BOXART_BOX_ITEM + BOXART_FRAME_ITEM);
    std::vector<unsigned char> other(BOXART_BOX_ITEM, 0x02);  // looks like boxes inside
    other[0] = 7;
    bytes.insert(bytes.end(), other.begin(), other.end());
    append_frame_item(bytes, "Toskel.png");
    other[0] = 0;
    bytes.insert(bytes.end(), other.begin(), other.end());
    append_box_item(bytes, numbered_box(4));
    load_exact(bytes);
    ASSERT_EQ(dbx_drawboxes, 1u);
    expect_box(0, 4, 1);
}

TEST_F(BoxartFile, ThirtyTwoCharacterNameIsWrittenWholeAndReadAsThirtyOne) {
    const char name32[] = "abcdefghijklmnopqrstuvwxyz012345";
    static_assert(sizeof name32 == 33, "32 characters");
    memcpy(dbx_frame[0].source_name, name32, 32);  // no NUL at all
    place(0, 0, 0);
    boxart_save("long.dat", 0, 1);
    std::vector<unsigned char> bytes = read_bytes("long.dat");
    ASSERT_EQ(bytes.size(), 82u);
    EXPECT_EQ(memcmp(&bytes[1], name32, 32), 0);

    dbx_drawboxes = 0;  // the next load starts at slot 0
    boxart_loadfile("long.dat");
    ASSERT_EQ(dbx_drawboxes, 1u);
    EXPECT_EQ(dbx_drawbox[0].frame, BOXART_NO_FRAME);  // the whole name matches nothing

    // The first 31 characters are what the reader looks up.
    strncpy(dbx_frame[1].source_name, name32, 31);
    dbx_frame[1].source_name[31] = 0;
    dbx_drawboxes = 0;  // the next load starts at slot 0
    boxart_loadfile("long.dat");
    ASSERT_EQ(dbx_drawboxes, 1u);
    EXPECT_EQ(dbx_drawbox[0].frame, 1u);
}

TEST_F(BoxartFile, UnknownFrameNamesKeepTheirBoxesWithoutAFrame) {
    std::vector<unsigned char> bytes;
    append_frame_item(bytes, "nothere.png");
    append_box_item(bytes, numbered_box(0));
    append_box_item(bytes, numbered_box(1));
    append_frame_item(bytes, "pirrel.png");
    append_box_item(bytes, numbered_box(2));
    load_exact(bytes);
    ASSERT_EQ(dbx_drawboxes, 3u);
    expect_box(0, 0, BOXART_NO_FRAME);
    expect_box(1, 1, BOXART_NO_FRAME);
    expect_box(2, 2, 2);
    EXPECT_GE(dbx_drawbox[0].frame, dbx_frames);  // the renderer skips it

    // Any frame index past the loaded frames is saved under the empty name,
    // never from the unloaded frame slot.
    strcpy(dbx_frame[77].source_name, "stale.png");
    place(3, 3, 77);
    boxart_save("nofr.dat", 0, 4);
    std::vector<unsigned char> saved = read_bytes("nofr.dat");
    ASSERT_EQ(saved.size(), 3u * BOXART_FRAME_ITEM + 4u * BOXART_BOX_ITEM);
    const std::vector<unsigned char> no_name(BOXART_NAME_SIZE, 0);
    EXPECT_EQ(saved[0], 1);
    EXPECT_TRUE(std::equal(no_name.begin(), no_name.end(), saved.begin() + 1));
    EXPECT_EQ(saved[131], 1);
    EXPECT_EQ(memcmp(&saved[132], "pirrel.png", 11), 0);
    EXPECT_EQ(saved[213], 1);
    EXPECT_TRUE(std::equal(no_name.begin(), no_name.end(), saved.begin() + 214));

    dbx_drawboxes = 0;  // the next load starts at slot 0
    boxart_loadfile("nofr.dat");
    ASSERT_EQ(dbx_drawboxes, 4u);
    expect_box(0, 0, BOXART_NO_FRAME);
    expect_box(2, 2, 2);
    expect_box(3, 3, BOXART_NO_FRAME);
}

TEST_F(BoxartFile, ShortFilesAndCutItemsLoadOnlyWholeItems) {
    std::vector<unsigned char> box;
    append_box_item(box, numbered_box(0));

    load_exact(std::vector<unsigned char>(box.begin(), box.begin() + 32));
    EXPECT_EQ(dbx_drawboxes, 0u);

    std::vector<unsigned char> frame_only;
    append_frame_item(frame_only, "bird.png");
    ASSERT_EQ(frame_only.size(), 33u);
    load_exact(frame_only);
    EXPECT_EQ(dbx_drawboxes, 0u);

    // A box item cut anywhere from 33 to 48 bytes is dropped, never read past.
    for (size_t cut = 33; cut < BOXART_BOX_ITEM; cut++) {
        std::vector<unsigned char> bytes = box;
        bytes.insert(bytes.end(), box.begin(), box.begin() + static_cast<long>(cut));
        dbx_drawboxes = 0;  // the next load starts at slot 0
        load_exact(bytes);
        EXPECT_EQ(dbx_drawboxes, 1u) << "cut at " << cut;
    }

    load_exact({});
    boxart_load(nullptr, 0);
    write_bytes("empty.dat", {});
    boxart_loadfile("empty.dat");
    EXPECT_EQ(dbx_drawboxes, 1u);
}

TEST_F(BoxartFile, OnlyTheFirst64000BytesOfAFileAreRead) {
    std::vector<unsigned char> bytes;
    for (int i = 0; i < 1400; i++) append_box_item(bytes, numbered_box(i));
    ASSERT_GT(bytes.size(), 64000u);
    write_bytes("big.dat", bytes);
    boxart_loadfile("big.dat");
    // 1306 whole boxes fit; the 6 bytes of the next one are ignored.
    ASSERT_EQ(dbx_drawboxes, 1306u);
    expect_box(0, 0, 0);
    expect_box(1305, 1305, 0);
}

TEST_F(BoxartFile, AFullPoolStopsTheReader) {
    std::vector<unsigned char> bytes;
    append_frame_item(bytes, "Toskel.png");
    for (int i = 0; i < 5; i++) append_box_item(bytes, numbered_box(i));
    dbx_drawboxes = DBX_MAX_DRAWBOXES - 2;
    load_exact(bytes);
    EXPECT_EQ(dbx_drawboxes, static_cast<uint32_t>(DBX_MAX_DRAWBOXES));
    expect_box(DBX_MAX_DRAWBOXES - 2, 0, 1);
    expect_box(DBX_MAX_DRAWBOXES - 1, 1, 1);
    load_exact(bytes);
    EXPECT_EQ(dbx_drawboxes, static_cast<uint32_t>(DBX_MAX_DRAWBOXES));
    expect_box(DBX_MAX_DRAWBOXES - 1, 1, 1);
}

// Each problem of a file is one line on standard error naming the file, once
// per load; what can be loaded still is.
TEST_F(BoxartFile, ProblemsAreNamedOneLineEachAndTheRestStillLoads) {
    std::vector<unsigned char> box_only, long_file, unknown, not_items;
    append_box_item(box_only, numbered_box(0));
    for (int i = 0; i < 1400; i++) append_box_item(long_file, numbered_box(i));
    append_frame_item(unknown, "nothere.png");
    append_box_item(unknown, numbered_box(1));
    append_frame_item(unknown, "bird.png");
    append_box_item(unknown, numbered_box(2));
    append_frame_item(unknown, "gone.png");
    append_frame_item(unknown, "nothere.png");
    not_items = box_only;
    not_items.push_back(7);  // an item of another type
    not_items.insert(not_items.end(), 48, 0);
    not_items.insert(not_items.end(), {'t', 'a', 'i', 'l'});
    struct row {
        const char *name;
        std::vector<unsigned char> bytes;
        uint32_t boxes;                      // loaded anyway
        std::vector<const char *> lines;     // one line each, in this order
    } rows[] = {
        {"fine.dat", box_only, 1, {}},
        {"empty.dat", {}, 0, {"is empty"}},
        {"frames.dat", std::vector<unsigned char>(unknown.begin(), unknown.begin() + 33), 0,
         {"holds no box", "names a frame the atlas lacks: \"nothere.png\""}},
        {"tail.dat", {1, 2, 3}, 0, {"holds no box", "holds 3 bytes that are not frame names or boxes"}},
        {"other.dat", not_items, 1, {"holds 53 bytes that are not frame names or boxes"}},
        {"unknown.dat", unknown, 2, {"names frames the atlas lacks: \"nothere.png\", \"gone.png\";"}},
        {"long.dat", long_file, 1306, {"is longer than 64000 bytes; only the first 64000 are read"}},
    };
    for (const row &r : rows) {
        write_bytes(r.name, r.bytes);
        dbx_drawboxes = 0;
        ::testing::internal::CaptureStderr();
        boxart_loadfile(r.name);
        const std::string said = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(dbx_drawboxes, r.boxes) << r.name;
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), static_cast<long>(r.lines.size())) << said;
        size_t at = 0;
        for (const char *line : r.lines) {
            size_t start = said.find("The box art file \"" + std::string(r.name) + "\" ", at);
            ASSERT_NE(start, std::string::npos) << r.name << ": " << said;
            size_t end = said.find('\n', start);
            EXPECT_NE(said.substr(start, end - start).find(line), std::string::npos) << r.name << ": " << said;
            at = end;
        }
    }
}

TEST_F(BoxartFile, FilesThatCannotBeOpenedAreReportedAndSkipped) {
    place(0, 0, 0);
    ::testing::internal::CaptureStderr();
    boxart_loadfile("data/missing.dat");
    std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(dbx_drawboxes, 1u);
    EXPECT_NE(said.find("data/missing.dat"), std::string::npos) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;

    ::testing::internal::CaptureStderr();
    boxart_save("no-such-folder/out.dat", 0, 1);
    said = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("no-such-folder/out.dat"), std::string::npos) << said;
    EXPECT_TRUE(scratch_dir::entries(".").empty());
}

}  // namespace
