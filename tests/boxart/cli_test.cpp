// The boxart command: dump and build round-trip, and bad input.
#include "scratch.h"

#include "boxart_cli.h"
#include "boxart_text.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <limits>
#include <thread>

namespace {

// Runs the command in-process; returns its exit status, with what it wrote
// to standard output and standard error.
struct run_result {
    int status;
    std::string out, err;
};

std::string slurp(FILE *f) {
    std::string s;
    rewind(f);
    int c;
    while ((c = fgetc(f)) != EOF) s += static_cast<char>(c);
    fclose(f);
    return s;
}

run_result run(std::vector<std::string> args) {
    args.insert(args.begin(), "boxart");
    std::vector<char *> argv;
    for (std::string &a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    FILE *out = tmpfile(), *err = tmpfile();
    run_result r;
    r.status = boxart_main(static_cast<int>(args.size()), argv.data(), out, err);
    r.out = slurp(out);
    r.err = slurp(err);
    return r;
}

void write_text(const char *name, const std::string &text) {
    write_bytes(name, std::vector<unsigned char>(text.begin(), text.end()));
}

void put_float(std::vector<unsigned char> &bytes, size_t at, uint32_t bits) {
    for (int i = 0; i < 4; i++) bytes[at + static_cast<size_t>(i)] = static_cast<unsigned char>(bits >> (8 * i));
}

class BoxartTool : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(dir.path.empty()); }
    // Dumps the bytes with the command, builds them back and compares.
    void expect_round_trip(const std::vector<unsigned char> &bytes) {
        write_bytes("in.dat", bytes);
        run_result dumped = run({"dump", "in.dat"});
        ASSERT_EQ(dumped.status, 0) << dumped.err;
        write_text("in.txt", dumped.out);
        run_result built = run({"build", "in.txt", "-o", "out.dat"});
        ASSERT_EQ(built.status, 0) << built.err << dumped.out;
        EXPECT_EQ(read_bytes("out.dat"), bytes) << dumped.out;
    }
    scratch_dir dir;
};

TEST_F(BoxartTool, DumpsTheBirdExampleReadably) {
    std::vector<unsigned char> bytes;
    append_frame_item(bytes, "bird.png");
    boxart_box_t b = {100, 50, 1.0f, 0.0f, {0, 2, 0, 0, 0, 0, 1.0f, 0}};
    append_box_item(bytes, b);
    write_bytes("bird.dat", bytes);
    run_result r = run({"dump", "bird.dat"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "# box X Y SCALE ROT DELTA_ROT MODE EXTRA1 EXTRA2 HOME_X HOME_Y SCALE1 TIMING\n"
              "frame \"bird.png\"\n"
              "box 100 50 1 0 0 2 0 0 0 0 1 0\n");
}

TEST_F(BoxartTool, BuildAcceptsHandWrittenText) {
    write_text("scene.txt",
               "# a hand-written scene\n"
               "\n"
               "frame \"2 test.png\"   # the name has a blank\n"
               "  box 10 -20 0.5 1e1 3 1 0 0 10 -20 0x1p0 -7\r\n"
               "frame \"q\\\"\\\\\\x41\"\n"
               "item 9 " + std::string(96, 'A') + "\n"
               "tail 0102\n");
    run_result r = run({"build", "-o", "scene.dat", "scene.txt"});
    ASSERT_EQ(r.status, 0) << r.err;
    start_with_frames({"2 test.png"});
    boxart_loadfile("scene.dat");
    ASSERT_EQ(dbx_drawboxes, 1u);
    EXPECT_EQ(dbx_drawbox[0].frame, 0u);
    EXPECT_EQ(dbx_drawbox[0].x1, 10);
    EXPECT_EQ(dbx_drawbox[0].y1, -20);
    EXPECT_EQ(dbx_drawbox[0].scale, 0.5f);
    EXPECT_EQ(dbx_drawbox[0].rotation, 10.0f);
    EXPECT_EQ(extra[0].delta_rot, 3);
    EXPECT_EQ(extra[0].animationmode, 1);
    EXPECT_EQ(extra[0].scale1, 1.0f);
    EXPECT_EQ(extra[0].timing, -7);
    std::vector<unsigned char> bytes = read_bytes("scene.dat");
    ASSERT_EQ(bytes.size(), 33u + 49u + 33u + 49u + 2u);
    EXPECT_EQ(memcmp(&bytes[83], "q\"\\A\0", 5), 0);
    EXPECT_EQ(bytes[115], 9);
    EXPECT_EQ(bytes[116], 0xaa);
}

TEST_F(BoxartTool, EveryOddityRoundTripsByteForByte) {
    std::vector<unsigned char> bytes;
    append_frame_item(bytes, "abcdefghijklmnopqrstuvwxyz012345");  // 32 characters, no NUL
    const char odd[BOXART_NAME_SIZE] = {'"', '\\', 0, '\x7f', '\xff', ' ', 'x', 0, 0, '\n'};
    unsigned char item[BOXART_FRAME_ITEM];
    boxart_encode_frame(odd, item);
    bytes.insert(bytes.end(), item, item + sizeof item);
    append_frame_item(bytes, "");
    boxart_box_t b = {INT32_MIN, INT32_MAX, -0.0f, std::numeric_limits<float>::infinity(),
                      {-1, 3, 5, 6, 7, 8, std::numeric_limits<float>::denorm_min(), INT32_MIN}};
    append_box_item(bytes, b);
    b.scale = 0.1f;
    b.rotation = -std::numeric_limits<float>::max();
    b.myextra.scale1 = 3.14159274f;
    append_box_item(bytes, b);
    size_t nan_box = bytes.size();
    append_box_item(bytes, b);
    put_float(bytes, nan_box + 9, 0x7fc01234u);  // a NaN with a payload
    put_float(bytes, nan_box + 41, 0xff800001u);
    for (int type : {0, 3, 255}) {
        std::vector<unsigned char> other(BOXART_BOX_ITEM, static_cast<unsigned char>(type * 7 + 1));
        other[0] = static_cast<unsigned char>(type);
        bytes.insert(bytes.end(), other.begin(), other.end());
    }
    expect_round_trip(bytes);

    // Whatever follows the last whole item.
    std::vector<unsigned char> box;
    append_box_item(box, numbered_box(3));
    for (size_t tail : {1, 20, 32, 33, 40, 48}) {
        std::vector<unsigned char> with_tail = bytes;
        with_tail.insert(with_tail.end(), box.begin(), box.begin() + static_cast<long>(tail));
        SCOPED_TRACE(tail);
        expect_round_trip(with_tail);
    }
    expect_round_trip({});
    expect_round_trip({1});
}

TEST_F(BoxartTool, RandomFilesRoundTripInMemory) {
    uint32_t state = 1;
    auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    };
    for (int n = 0; n < 300; n++) {
        std::vector<unsigned char> bytes;
        size_t size = next() % 400;
        while (bytes.size() < size) {
            uint32_t pick = next() % 4;
            unsigned char type = pick == 0 ? 1 : pick == 1 ? 2 : static_cast<unsigned char>(next());
            bytes.push_back(type);
            for (int i = 1; i < boxart_item_size(type) && bytes.size() < size; i++)
                bytes.push_back(static_cast<unsigned char>(next() % 3 ? next() : 0));
        }
        std::string text = boxart_dump_text(bytes.data(), bytes.size());
        std::vector<unsigned char> back;
        std::string error;
        ASSERT_TRUE(boxart_build_text(text, back, error)) << error << "\n" << text;
        ASSERT_EQ(back, bytes) << text;
    }
}

TEST_F(BoxartTool, BadLinesAreReportedWithTheirNumber) {
    const struct {
        const char *text;
        int line;
    } cases[] = {
        {"frame \"a\"\nbox 1 2 3\n", 2},
        {"# c\n\nbox 1 2 x 0 0 0 0 0 0 0 1 0\n", 3},
        {"box 1 2 1 0 0 0 0 0 0 0 1 0.5\n", 1},
        {"box 2147483648 2 1 0 0 0 0 0 0 0 1 0\n", 1},
        {"box 1 2 1e39 0 0 0 0 0 0 0 1 0\n", 1},
        {"frame bird.png\n", 1},
        {"frame \"bird.png\n", 1},
        {"frame \"abcdefghijklmnopqrstuvwxyz0123456\"\n", 1},
        {"frame \"a\\n\"\n", 1},
        {"frame \"a\\x4\"\n", 1},
        {"\nitem 1 " "00000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000\n", 2},
        {"item 7 00\n", 1},
        {"item 256 " "000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000\n", 1},
        {"tail 020\n", 1},
        {"tail 01\nframe \"a\"\n", 2},
        {"tail 01" "0000000000000000000000000000000000000000000000000000000000000000\n", 1},
        {"boxes 1\n", 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        write_text("bad.txt", c.text);
        run_result r = run({"build", "bad.txt", "-o", "bad.dat"});
        EXPECT_NE(r.status, 0);
        EXPECT_NE(r.err.find("bad.txt:"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("line " + std::to_string(c.line) + ":"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;  // one line
    }
    // Nothing was written, not even a temporary file.
    auto left = scratch_dir::entries(".");
    EXPECT_EQ(left, std::vector<std::string>{"bad.txt"});
}

TEST_F(BoxartTool, AFailedBuildLeavesTheOldFileAlone) {
    write_bytes("scene.dat", {1, 2, 3});
    write_text("scene.txt", "frame \"a\"\nbox 1\n");
    EXPECT_NE(run({"build", "scene.txt", "-o", "scene.dat"}).status, 0);
    EXPECT_EQ(read_bytes("scene.dat"), (std::vector<unsigned char>{1, 2, 3}));
    // An output folder that does not exist.
    write_text("scene.txt", "frame \"a\"\n");
    run_result r = run({"build", "scene.txt", "-o", "nowhere/scene.dat"});
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("nowhere/scene.dat"), std::string::npos) << r.err;
    EXPECT_EQ(scratch_dir::entries(".").size(), 2u);
}

// Devices and FIFOs are written as streams, other things that are not files
// are refused, and so is the run's own input; none of them is replaced.
TEST_F(BoxartTool, OutputsThatAreNotFilesOrAreTheInputAreNeverReplaced) {
    write_text("scene.txt", "frame \"a\"\nbox 1 2 1 0 0 0 0 0 0 0 1 0\n");
    ASSERT_EQ(mkdir("folder", 0755), 0);
    ASSERT_EQ(mkfifo("fifo", 0644), 0);
    ASSERT_EQ(run({"build", "scene.txt", "-o", "expected.dat"}).status, 0);
    const std::vector<unsigned char> expected = read_bytes("expected.dat");
    std::vector<unsigned char> from_fifo;
    std::thread reader([&] { from_fifo = read_bytes("fifo"); });
    struct row {
        const char *target;
        int status;
        const char *message;  // in the error, or "" for none
    } rows[] = {
        {"/dev/full", 1, "No space left on device"},
        {"/dev/null", 0, ""},
        {"fifo", 0, ""},
        {"folder", 1, "it is a directory"},
        {"scene.txt", 1, "this run reads it"},
        {"./scene.txt", 1, "it is \"scene.txt\", which this run reads"},
    };
    for (const row &r : rows) {
        struct stat before;
        const bool existed = stat(r.target, &before) == 0;
        run_result got = run({"build", "scene.txt", "-o", r.target});
        EXPECT_EQ(got.status, r.status) << r.target << ": " << got.err;
        if (*r.message) {
            EXPECT_NE(got.err.find(r.message), std::string::npos) << r.target << ": " << got.err;
        } else {
            EXPECT_EQ(got.err, "") << r.target;
        }
        struct stat after;
        ASSERT_EQ(stat(r.target, &after), 0) << r.target;
        EXPECT_TRUE(existed && after.st_ino == before.st_ino && after.st_mode == before.st_mode)
            << r.target << " was replaced";
    }
    reader.join();
    EXPECT_EQ(from_fifo, expected);
    EXPECT_EQ(scratch_dir::entries(".").size(), 4u) << "no temporary file is left behind";
}

TEST_F(BoxartTool, UsageAndMissingFiles) {
    run_result help = run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("boxart dump FILE.dat"), std::string::npos);
    EXPECT_NE(help.out.find("box X Y SCALE ROT"), std::string::npos);
    for (auto args : std::vector<std::vector<std::string>>{
             {}, {"dump"}, {"build", "a.txt"}, {"build", "a.txt", "b.dat"}, {"frobnicate", "x"}}) {
        run_result r = run(args);
        EXPECT_NE(r.status, 0);
        EXPECT_NE(r.err.find("usage"), std::string::npos);
    }
    run_result missing = run({"dump", "missing.dat"});
    EXPECT_NE(missing.status, 0);
    EXPECT_NE(missing.err.find("missing.dat"), std::string::npos);
    EXPECT_TRUE(missing.out.empty());
}

}  // namespace
