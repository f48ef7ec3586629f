// Atlas loading: texture upload, frame sets and the frame table, on real GL.
#include "display_fixture.h"
#include "out.h"
#include "tests/common/scratch_dir.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

class Atlas : public ::testing::Test {
protected:
    std::vector<unsigned char> png;
    dbx_frame_t table[3];

    void SetUp() override {
        reset_engine();
        open_display(160, 90);
        rgba_image image(64, 64);
        image.fill(1, 1, 10, 10, 255, 0, 0);
        png = image.png();
        table[0] = make_frame("a.png", 1, 1, 0, 0, 10, 10);
        table[1] = make_frame("b.png", 13, 1, 2, 3, 5, 6);
        table[2] = make_frame("c.png", 20, 1, 0, 0, 4, 4);
    }
    int load(const dbx_frame_t *rows, int count) {
        return dbx_loadframeset("no such file.png", png.data(), static_cast<int>(png.size()), rows, count);
    }
};

TEST_F(Atlas, FirstAtlasGetsSetZeroAndItsFramesFollow) {
    EXPECT_EQ(load(table, 3), 0);
    EXPECT_EQ(dbx_framesets, 1u);
    EXPECT_EQ(dbx_frames, 3u);
    for (int i = 0; i < 3; i++) {
        dbx_frame_t expected = table[i];
        expected.frameset = 0;  // the table said 1
        EXPECT_EQ(memcmp(&dbx_frame[i], &expected, sizeof expected), 0) << "frame " << i;
    }
    EXPECT_EQ(dbx_findframe("b.png"), 1);
    EXPECT_EQ(dbx_findframe("d.png"), -1);
}

TEST_F(Atlas, TextureIsUploadedAndStaysBound) {
    int set = load(table, 3);
    const dbx_frameset_t &fs = dbx_frameset[set];
    EXPECT_EQ(fs.used, 1);
    EXPECT_EQ(fs.size, 64u);
    EXPECT_EQ(fs.pixelscale, 0u);
    EXPECT_TRUE(glIsTexture(fs.textureid));
    GLint bound = 0, min_filter = 0, mag_filter = 0, wrap = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(static_cast<GLuint>(bound), fs.textureid);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &min_filter);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &mag_filter);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, &wrap);
    EXPECT_EQ(min_filter, GL_LINEAR);
    EXPECT_EQ(mag_filter, GL_LINEAR);
    EXPECT_EQ(wrap, GL_REPEAT);  // left at the default
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(Atlas, SecondAtlasAppendsWithItsOwnSet) {
    ASSERT_EQ(load(table, 3), 0);
    EXPECT_EQ(load(table + 1, 2), 1);
    EXPECT_EQ(dbx_framesets, 2u);
    EXPECT_EQ(dbx_frames, 5u);
    for (int i = 0; i < 3; i++) EXPECT_EQ(dbx_frame[i].frameset, 0u) << i;
    for (int i = 3; i < 5; i++) EXPECT_EQ(dbx_frame[i].frameset, 1u) << i;
    EXPECT_STREQ(dbx_frame[3].source_name, "b.png");
    EXPECT_NE(dbx_frameset[0].textureid, dbx_frameset[1].textureid);
}

TEST_F(Atlas, NoRowsStillMakeASet) {
    EXPECT_EQ(load(nullptr, 0), 0);
    EXPECT_EQ(dbx_framesets, 1u);
    EXPECT_EQ(dbx_frames, 0u);
    EXPECT_TRUE(glIsTexture(dbx_frameset[0].textureid));
}

TEST_F(Atlas, FromAFileWhenNoBytesAreGiven) {
    std::string path = testing::TempDir() + "atlas_test.png";
    FILE *f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fwrite(png.data(), 1, png.size(), f);
    fclose(f);
    const unsigned char junk[4] = {1, 2, 3, 4};
    EXPECT_EQ(dbx_loadframeset(path.c_str(), junk, 0, table, 1), 0);
    EXPECT_EQ(dbx_frameset[0].size, 64u);
    remove(path.c_str());
}

TEST_F(Atlas, UndecodableImageCreatesNothing) {
    testing::internal::CaptureStdout();
    int set = dbx_loadframeset("no such file.png", nullptr, 0, table, 3);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(set, 0);
    EXPECT_EQ(dbx_framesets, 0u);
    EXPECT_EQ(dbx_frames, 0u);
    EXPECT_EQ(out.rfind("[lodepng] ", 0), 0u) << out;
    EXPECT_EQ(out.back(), '\n');
}

// Only a regular file is opened: a FIFO (which would block the open), a
// device (/dev/zero never ends) and a folder are named with what they are
// and make nothing, as a missing file does.
TEST_F(Atlas, PathsThatAreNotRegularFilesAreRefused) {
    scratch_dir dir;
    ASSERT_EQ(mkfifo((dir / "fifo.png").c_str(), 0644), 0);
    ASSERT_EQ(mkdir((dir / "folder.png").c_str(), 0755), 0);
    const struct {
        std::string path;
        const char *kind;  // null: missing
    } cases[] = {
        {dir / "fifo.png", "a FIFO"},
        {dir / "folder.png", "a directory"},
        {"/dev/zero", "a character device"},
        {dir / "missing.png", nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        const char *kind = "unset";
        errno = 0;
        EXPECT_EQ(dbx_open_regular(c.path.c_str(), &kind), nullptr);
        if (c.kind) {
            EXPECT_STREQ(kind, c.kind);
        } else {
            EXPECT_EQ(kind, nullptr);
            EXPECT_EQ(errno, ENOENT);
        }
        testing::internal::CaptureStdout();
        EXPECT_EQ(dbx_loadframeset(c.path.c_str(), nullptr, 0, table, 3), 0);
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(dbx_framesets, 0u);
        EXPECT_EQ(dbx_frames, 0u);
        EXPECT_EQ(out, c.kind ? "[lodepng] \"" + c.path + "\" is " + c.kind + ", not a regular file\n"
                              : std::string("[lodepng] failed to open file for reading\n"));
    }
    // Nothing opened the FIFO: a writer still finds no reader at it.
    EXPECT_LT(open((dir / "fifo.png").c_str(), O_WRONLY | O_NONBLOCK), 0);
    EXPECT_EQ(errno, ENXIO);
}

// An image that cannot hold every rectangle of the table is reported on one
// line and makes nothing, like an image that cannot be decoded.
TEST_F(Atlas, ImagesThatCannotHoldTheTableMakeNothing) {
    const struct {
        uint32_t w, h;
        const char *said;  // "" when the image holds the table
    } cases[] = {
        {8, 8, "[atlas] the atlas is 8x8 texels, too small for the frame \"a.png\" (10x10 at 1,1)\n"},
        {23, 64, "[atlas] the atlas is 23x64 texels, too small for the frame \"c.png\" (4x4 at 20,1)\n"},
        {64, 10, "[atlas] the atlas is 64x10 texels, too small for the frame \"a.png\" (10x10 at 1,1)\n"},
        {24, 11, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h);
        reset_engine();
        open_display(160, 90);
        png = rgba_image(c.w, c.h).png();
        testing::internal::CaptureStdout();
        int set = load(table, 3);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.said);
        EXPECT_EQ(set, 0);
        EXPECT_EQ(dbx_framesets, *c.said ? 0u : 1u);
        EXPECT_EQ(dbx_frames, *c.said ? 0u : 3u);
    }
    // The largest texture of the GL at hand is the other limit.
    GLint most = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &most);
    ASSERT_GT(most, 0);
    EXPECT_EQ(dbx_atlas_problem("out.png", static_cast<uint32_t>(most), 1, table, 0, most), nullptr);
    EXPECT_STREQ(dbx_atlas_problem("out.png", 64, static_cast<uint32_t>(most) + 1, table, 0, most),
                 ("out.png is 64x" + std::to_string(most + 1) + " texels, more than the largest texture here (" +
                  std::to_string(most) + "x" + std::to_string(most) + ")")
                     .c_str());
}

TEST_F(Atlas, FullFrameSetPoolWritesNothing) {
    for (int i = 0; i < DBX_MAX_FRAMESETS; i++) dbx_frameset_create();
    EXPECT_EQ(load(table, 3), -1);
    EXPECT_EQ(dbx_framesets, static_cast<uint32_t>(DBX_MAX_FRAMESETS));
    EXPECT_EQ(dbx_frames, 0u);
    EXPECT_EQ(dbx_frame[0].used, 0u);
}

TEST_F(Atlas, RowsBeyondTheFramePoolWriteNothing) {
    dbx_frames = DBX_MAX_FRAMES - 2;
    EXPECT_EQ(load(table, 3), -1);
    EXPECT_EQ(dbx_frames, static_cast<uint32_t>(DBX_MAX_FRAMES - 2));
    EXPECT_EQ(dbx_framesets, 0u);
    EXPECT_EQ(dbx_frame[DBX_MAX_FRAMES - 1].used, 0u);
    // Exactly filling the pool is fine.
    EXPECT_EQ(load(table, 2), 0);
    EXPECT_EQ(dbx_frames, static_cast<uint32_t>(DBX_MAX_FRAMES));
}

TEST(IntroAtlas, TheIntrosTableLoadsIntoEmptyPools) {
    reset_engine();
    open_display(160, 90);
    std::vector<unsigned char> png = rgba_image(1024, 1024).png();
    const int rows = static_cast<int>(sizeof tileset / sizeof tileset[0]);
    EXPECT_EQ(dbx_loadframeset("out.png", png.data(), static_cast<int>(png.size()), tileset, rows), 0);
    EXPECT_EQ(dbx_framesets, 1u);
    EXPECT_EQ(dbx_frames, static_cast<uint32_t>(rows));
    for (int i = 0; i < rows; i++) EXPECT_EQ(dbx_frame[i].frameset, 0u) << i;
    EXPECT_EQ(dbx_findframe("bird.png"), 0);
    EXPECT_EQ(dbx_findframe("greets.png"), 19);
    EXPECT_EQ(dbx_findframe("2 test.png"), 9);
    EXPECT_EQ(dbx_findframe("nothing.png"), -1);
}

}  // namespace
