// The sprite pictures, the atlas packer, the committed atlas and frame table,
// and the committed scene files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <unistd.h>

#include "artimage.h"
#include "pack.h"
#include "sprites.h"
#include "file_io.h"
#include "tests/common/emulator.h"
#include "tests/common/scratch_dir.h"

#include "intro.h"
#include "out.h"

namespace {

const std::string root = ART_SOURCE_DIR;

struct row {
    const char *name;
    unsigned x1, y1, xoffset, yoffset, width, height, source_width, source_height;
};

// The frames drawn by spritegen, row for row as the committed table has
// them: the intro's 25 given rows, which stay as they are, then the door's
// two frames, whose places depend on what else comes after the given rows.
constexpr size_t given_rows = 25;
const row table[27] = {
    {"bird.png", 1, 1, 0, 0, 100, 105, 100, 105},
    {"Toskel.png", 103, 1, 0, 0, 236, 100, 236, 100},
    {"pirrel.png", 341, 1, 0, 0, 100, 100, 100, 100},
    {"3_002.png", 443, 1, 0, 2, 432, 98, 433, 100},
    {"1.png", 877, 1, 10, 2, 76, 98, 100, 100},
    {"dates.png", 1, 108, 1, 6, 637, 94, 639, 100},
    {"QARNUL.png", 1, 204, 1, 5, 794, 93, 796, 100},
    {"mossby.png", 1, 299, 5, 7, 364, 93, 372, 100},
    {"fennick_total.png", 1, 394, 0, 3, 783, 92, 783, 100},
    {"2 test.png", 1, 488, 0, 0, 856, 91, 858, 91},
    {"2 test_002.png", 1, 581, 0, 0, 717, 90, 719, 92},
    {"face.png", 720, 581, 0, 0, 89, 90, 89, 90},
    {"2 test_001.png", 1, 673, 0, 1, 264, 89, 268, 90},
    {"face_2.png", 267, 673, 0, 0, 88, 84, 88, 84},
    {"cratery.png", 357, 673, 5, 4, 81, 83, 100, 100},
    {"zuzu.png", 440, 673, 4, 0, 92, 74, 100, 100},
    {"pellow.png", 534, 673, 1, 2, 93, 70, 100, 100},
    {"Gerrow.png", 629, 673, 4, 5, 73, 61, 100, 100},
    {"halp.png", 704, 673, 8, 4, 72, 60, 100, 100},
    {"greets.png", 1, 764, 3, 1, 720, 45, 728, 48},
    {"whitesquare1.png", 723, 764, 0, 0, 40, 40, 40, 40},
    {"clownhand0.png", 765, 764, 6, 5, 33, 30, 40, 40},
    {"smallstamp3.png", 800, 764, 13, 9, 16, 21, 40, 40},
    {"redstart0.png", 818, 764, 11, 11, 17, 16, 40, 40},
    {"cyanstar0.png", 837, 764, 11, 11, 17, 16, 40, 40},
    {"doorpanel.png", 856, 764, 0, 0, 40, 40, 40, 40},
    {"doorknob.png", 898, 764, 12, 12, 16, 16, 40, 40},
};

// The committed frame table's row of the frame `name`, or null.
const dbx_frame_t *committed_row(const std::string &name) {
    for (const dbx_frame_t &f : tileset)
        if (name == f.source_name) return &f;
    return nullptr;
}

// Draws every listed sprite, reads the sprite folder's PNGs and packs them
// as the regeneration target does.
struct packed_atlas {
    std::vector<packed_frame> frames;
    art_image atlas;
    std::string err;
    bool ok = false;
};

const packed_atlas &regenerated() {
    static packed_atlas p = [] {
        packed_atlas r;
        std::vector<std::string> names;
        if (!atlas_read_list(root + "/assets/art/sprites.lst", names, r.err)) return r;
        const size_t given = names.size();
        if (!atlas_read_list(root + "/assets/art/drawn.lst", names, r.err)) return r;
        std::vector<art_image> pictures(names.size());
        for (size_t i = 0; i < names.size(); i++)
            if (!sprite_render(sprite_find(names[i]), ART_FONTDIR, pictures[i], r.err)) return r;
        std::vector<std::string> refused;
        atlas_read_sprites(root + "/assets/sprites", 1024, names, pictures, refused);
        if (!refused.empty()) {
            r.err = refused[0];
            return r;
        }
        r.ok = atlas_pack(names, pictures, 1024, r.frames, r.atlas, r.err, given);
        return r;
    }();
    return p;
}

unsigned alpha(const art_image &img, unsigned x, unsigned y) { return img.rgba[(size_t(y) * img.width + x) * 4 + 3]; }

art_image picture(unsigned w, unsigned h, art_rect ink) {
    art_image img;
    img.width = w;
    img.height = h;
    img.rgba.assign(size_t(w) * h * 4, 0);
    for (unsigned y = ink.y; y < ink.y + ink.height; y++)
        for (unsigned x = ink.x; x < ink.x + ink.width; x++) img.rgba[(size_t(y) * w + x) * 4 + 3] = 200;
    return img;
}

// ---------------------------------------------------------------- sprites

// The rectangle, trim and source size of a frame (packed or compiled)
// against a row of the table.
template <typename Frame>
void expect_geometry(const Frame &f, const row &r) {
    EXPECT_EQ(f.x1, r.x1);
    EXPECT_EQ(f.y1, r.y1);
    EXPECT_EQ(f.xoffset, r.xoffset);
    EXPECT_EQ(f.yoffset, r.yoffset);
    EXPECT_EQ(f.width, r.width);
    EXPECT_EQ(f.height, r.height);
    EXPECT_EQ(f.source_width, r.source_width);
    EXPECT_EQ(f.source_height, r.source_height);
}

TEST(Sprites, EachTrimsToItsFrameRectangle) {
    ASSERT_EQ(sprite_count(), 27);
    for (const row &r : table) {
        SCOPED_TRACE(r.name);
        int i = sprite_find(r.name);
        ASSERT_GE(i, 0);
        art_image img;
        std::string err;
        ASSERT_TRUE(sprite_render(i, ART_FONTDIR, img, err)) << err;
        EXPECT_EQ(img.width, r.source_width);
        EXPECT_EQ(img.height, r.source_height);
        art_rect box = art_opaque_box(img);
        EXPECT_EQ(box.x, r.xoffset);
        EXPECT_EQ(box.y, r.yoffset);
        EXPECT_EQ(box.width, r.width);
        EXPECT_EQ(box.height, r.height);
    }
}

TEST(Sprites, DrawingIsRepeatable) {
    art_image a, b;
    std::string err;
    int i = sprite_find("QARNUL.png");
    ASSERT_TRUE(sprite_render(i, ART_FONTDIR, a, err)) << err;
    ASSERT_TRUE(sprite_render(i, ART_FONTDIR, b, err)) << err;
    EXPECT_TRUE(a.rgba == b.rgba);
}

TEST(Sprites, MissingFontIsAnError) {
    art_image img;
    std::string err;
    EXPECT_FALSE(sprite_render(sprite_find("greets.png"), "/nonexistent", img, err));
    EXPECT_NE(err.find("font"), std::string::npos) << err;
}

// ---------------------------------------------------------------- packer

// The packed row of the frame `name`, or null.
const packed_frame *packed(const std::vector<packed_frame> &frames, const char *name) {
    for (const packed_frame &f : frames)
        if (f.name == name) return &f;
    return nullptr;
}

TEST(AtlasPacker, ReproducesTheFrameTable) {
    const packed_atlas &p = regenerated();
    ASSERT_TRUE(p.ok) << p.err;
    ASSERT_GE(p.frames.size(), 27u);
    for (size_t i = 0; i < 27; i++) {
        const row &r = table[i];
        SCOPED_TRACE(r.name);
        if (i < given_rows) {
            EXPECT_EQ(p.frames[i].name, r.name);
            expect_geometry(p.frames[i], r);
            continue;
        }
        const packed_frame *f = packed(p.frames, r.name);
        ASSERT_NE(f, nullptr);
        EXPECT_GE(f - p.frames.data(), static_cast<std::ptrdiff_t>(given_rows));
        expect_geometry(*f, {r.name, f->x1, f->y1, r.xoffset, r.yoffset, r.width, r.height, r.source_width,
                             r.source_height});
    }
}

TEST(AtlasPacker, EqualHeightsGoWiderFirstThenInListedOrder) {
    std::vector<std::string> names = {"a", "b", "c", "d"};
    std::vector<art_image> pics = {picture(10, 10, {0, 0, 4, 5}), picture(10, 10, {2, 1, 6, 5}),
                                   picture(10, 10, {0, 0, 4, 5}), picture(10, 10, {0, 0, 3, 9})};
    std::vector<packed_frame> frames;
    art_image atlas;
    std::string err;
    ASSERT_TRUE(atlas_pack(names, pics, 64, frames, atlas, err)) << err;
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_EQ(frames[0].name, "d");
    EXPECT_EQ(frames[1].name, "b");
    EXPECT_EQ(frames[2].name, "a");
    EXPECT_EQ(frames[3].name, "c");
    // One shelf: one texel in, two apart.
    EXPECT_EQ(frames[0].x1, 1u);
    EXPECT_EQ(frames[1].x1, 6u);
    EXPECT_EQ(frames[2].x1, 14u);
    EXPECT_EQ(frames[3].x1, 20u);
    for (const packed_frame &f : frames) EXPECT_EQ(f.y1, 1u);
    EXPECT_EQ(frames[1].xoffset, 2u);
    EXPECT_EQ(frames[1].yoffset, 1u);
}

TEST(AtlasPacker, StartsANewShelfBelowTheTallestWhenARowIsFull) {
    // 20 + 20 would reach the right edge with no texel to spare.
    std::vector<std::string> names = {"tall", "wide", "next"};
    std::vector<art_image> pics = {picture(20, 9, {0, 0, 20, 9}), picture(20, 5, {0, 0, 20, 5}),
                                   picture(4, 4, {0, 0, 4, 4})};
    std::vector<packed_frame> frames;
    art_image atlas;
    std::string err;
    ASSERT_TRUE(atlas_pack(names, pics, 43, frames, atlas, err)) << err;
    EXPECT_EQ(frames[1].x1, 1u);
    EXPECT_EQ(frames[1].y1, 12u);
    EXPECT_EQ(frames[2].x1, 23u);
    EXPECT_EQ(frames[2].y1, 12u);
    // The pixels moved with their rectangles; everything else is clear.
    EXPECT_EQ(alpha(atlas, 1, 12), 200u);
    EXPECT_EQ(alpha(atlas, 0, 12), 0u);
    EXPECT_EQ(alpha(atlas, 1, 11), 0u);
    EXPECT_EQ(alpha(atlas, 1, 10), 0u);
    EXPECT_EQ(alpha(atlas, 1, 9), 200u);
}

TEST(AtlasPacker, ClearTexelsRoundInkTakeItsColour) {
    // Linear filtering reaches one texel past a frame; a white square must not
    // pick up a dark seam there.
    art_image white = picture(4, 4, {1, 1, 2, 2});
    for (size_t k = 0; k < white.rgba.size(); k += 4)
        if (white.rgba[k + 3]) white.rgba[k] = white.rgba[k + 1] = white.rgba[k + 2] = 255;
    std::vector<packed_frame> frames;
    art_image atlas;
    std::string err;
    ASSERT_TRUE(atlas_pack({"w"}, {white}, 8, frames, atlas, err)) << err;
    auto px = [&](unsigned x, unsigned y) { return &atlas.rgba[(size_t(y) * 8 + x) * 4]; };
    for (unsigned y = 0; y <= 3; y++)
        for (unsigned x = 0; x <= 3; x++) {
            EXPECT_EQ(px(x, y)[0], 255) << x << "," << y;
            EXPECT_EQ(px(x, y)[3], (x >= 1 && x <= 2 && y >= 1 && y <= 2) ? 200 : 0) << x << "," << y;
        }
    EXPECT_EQ(px(4, 4)[0], 0);  // two texels out: untouched
}

TEST(AtlasPacker, RejectsWhatCannotBeAFrame) {
    std::vector<packed_frame> frames;
    art_image atlas;
    std::string err;
    EXPECT_FALSE(atlas_pack({"empty"}, {picture(5, 5, {0, 0, 0, 0})}, 16, frames, atlas, err));
    EXPECT_NE(err.find("transparent"), std::string::npos) << err;
    EXPECT_FALSE(atlas_pack({std::string(32, 'n')}, {picture(5, 5, {0, 0, 5, 5})}, 16, frames, atlas, err));
    EXPECT_FALSE(atlas_pack({"big"}, {picture(20, 5, {0, 0, 20, 5})}, 16, frames, atlas, err));
    EXPECT_NE(err.find("does not fit"), std::string::npos) << err;
    EXPECT_FALSE(atlas_pack({"x", "x"}, {picture(2, 2, {0, 0, 2, 2}), picture(2, 2, {0, 0, 2, 2})}, 16, frames, atlas,
                            err));
}

// A sprite folder as an artist fills it: one good PNG and one of every kind
// the packer refuses, with the reason it gives.
struct sprite_file {
    std::string name;
    art_image picture;  // width 0: bytes that are not a PNG
    const char *refusal;  // nullptr: taken
};

std::vector<sprite_file> artist_folder() {
    return {
        {"star.png", picture(30, 20, {5, 3, 10, 8}), nullptr},
        {"text.png", {}, "not a PNG"},
        {"blank.png", picture(4, 4, {0, 0, 0, 0}), "fully transparent"},
        {"wide.png", picture(1030, 6, {0, 0, 1023, 6}), "1023x6 once trimmed, it does not fit into the 1024x1024 atlas"},
        {std::string(28, 'n') + ".png", picture(4, 4, {0, 0, 4, 4}), "1 to 31 characters"},
        {"line\nbreak.png", picture(4, 4, {0, 0, 4, 4}), "control characters"},
        {"doorknob.png", picture(4, 4, {0, 0, 4, 4}), "taken by another frame"},
    };
}

void write_folder(const std::string &dir, const std::vector<sprite_file> &files) {
    std::filesystem::create_directory(dir);
    std::ofstream(dir + "/notes.txt") << "not a sprite: left alone";
    for (const sprite_file &f : files) {
        std::vector<unsigned char> png;
        std::string err;
        if (f.picture.width) ASSERT_TRUE(art_png_encode(f.picture, png, err)) << err;
        else png.assign({'h', 'i'});
        ASSERT_TRUE(tool_write_files({{dir + "/" + f.name, png.data(), png.size()}}, {}, err)) << err;
    }
}

TEST(SpriteFolder, APngBecomesAFrameAfterTheGivenRowsAndBadOnesAreRefused) {
    scratch_dir dir;
    const std::vector<sprite_file> files = artist_folder();
    write_folder("sprites", files);
    const packed_atlas &drawn = regenerated();
    ASSERT_TRUE(drawn.ok) << drawn.err;
    std::vector<std::string> names;
    std::vector<art_image> pictures;
    for (const packed_frame &f : drawn.frames) {
        names.push_back(f.name);
        art_image p = picture(f.source_width, f.source_height, {f.xoffset, f.yoffset, f.width, f.height});
        pictures.push_back(p);
    }
    std::vector<std::string> refused;
    atlas_read_sprites("sprites", 1024, names, pictures, refused);
    ASSERT_EQ(names.size(), drawn.frames.size() + 1);
    EXPECT_EQ(names.back(), "star.png");
    ASSERT_EQ(refused.size(), files.size() - 1);
    for (const sprite_file &f : files) {
        if (!f.refusal) continue;
        auto said = std::find_if(refused.begin(), refused.end(),
                                 [&](const std::string &r) { return r.rfind(f.name + ": ", 0) == 0; });
        ASSERT_NE(said, refused.end()) << f.name;
        EXPECT_NE(said->find(f.refusal), std::string::npos) << *said;
    }
    std::vector<packed_frame> frames;
    art_image atlas;
    std::string err;
    ASSERT_TRUE(atlas_pack(names, pictures, 1024, frames, atlas, err, given_rows)) << err;
    ASSERT_EQ(frames.size(), names.size());
    for (size_t i = 0; i < 25; i++) {
        SCOPED_TRACE(table[i].name);
        EXPECT_EQ(frames[i].name, table[i].name);
        expect_geometry(frames[i], table[i]);
    }
    const packed_frame *star = nullptr;
    for (size_t i = 25; i < frames.size(); i++)
        if (frames[i].name == "star.png") star = &frames[i];
    ASSERT_NE(star, nullptr);
    expect_geometry(*star, {"star.png", star->x1, star->y1, 5, 3, 10, 8, 30, 20});
    EXPECT_GE(star->y1, 764u);  // on the last shelf or below, after the given rows
}

#ifdef ART_ATLASPACK
TEST(SpriteFolder, AtlaspackWritesNothingWhileItRefusesASprite) {
    scratch_dir dir;
    write_folder("sprites", artist_folder());
    const std::string cmd = emulated_command(ART_ATLASPACK) +
                            " --sprites sprites --png atlas.png --header atlas.h 2>said.txt";
    EXPECT_NE(std::system(cmd.c_str()), 0) << cmd;
    std::vector<unsigned char> said;
    std::string err;
    ASSERT_TRUE(tool_read_file("said.txt", said, err)) << err;
    const std::string text(said.begin(), said.end());
    EXPECT_NE(text.find("sprites/text.png: not a PNG"), std::string::npos) << text;
    // Without frames of its own, doorknob.png is no name taken here.
    EXPECT_NE(text.find("5 sprites refused; nothing written"), std::string::npos) << text;
    EXPECT_FALSE(std::filesystem::exists("atlas.png"));
    EXPECT_FALSE(std::filesystem::exists("atlas.h"));
}
#endif

TEST(AtlasPacker, ListSkipsCommentsAndBlanksAndTrimsNames) {
    std::string path = testing::TempDir() + "art_list.lst";
    std::string text = "# heading\r\n  bird.png \r\n\n\t# indented comment\n \t\r\n\t2 test.png\nlast.png";
    std::string err;
    ASSERT_TRUE(tool_write_file(path, text.data(), text.size(), err)) << err;
    std::vector<std::string> names;
    EXPECT_TRUE(atlas_read_list(path, names, err)) << err;
    std::remove(path.c_str());
    EXPECT_EQ(names, (std::vector<std::string>{"bird.png", "2 test.png", "last.png"}));
    EXPECT_FALSE(atlas_read_list(path, names, err));
    EXPECT_NE(err.find("art_list.lst"), std::string::npos) << err;
}

TEST(AtlasPacker, HeaderEscapesNamesAndCountsRows) {
    std::string h = atlas_header({{"a\"b.png", 1, 2, 3, 4, 5, 6, 7, 8}}, "x.png");
    EXPECT_NE(h.find("tileset[1]"), std::string::npos);
    EXPECT_NE(h.find("{1, 1, 1, 2, 3, 4, 5, 6, \"a\\\"b.png\", 7, 8},"), std::string::npos) << h;
    EXPECT_NE(h.find("#include \"drawboxlib/drawboxlib.h\""), std::string::npos);
}

// ---------------------------------------------------------------- committed atlas

TEST(CommittedAtlas, EveryFrameRectangleHoldsItsPicture) {
    art_image atlas;
    std::string err;
    ASSERT_TRUE(art_png_read(root + "/out.png", atlas, err)) << err;
    ASSERT_EQ(atlas.width, 1024u);
    ASSERT_EQ(atlas.height, 1024u);
    for (const row &drawn : table) {
        SCOPED_TRACE(drawn.name);
        const dbx_frame_t *f = committed_row(drawn.name);
        ASSERT_NE(f, nullptr);
        const row r = {drawn.name, f->x1, f->y1, f->xoffset, f->yoffset, f->width, f->height, 0, 0};
        bool top = false, bottom = false, left = false, right = false;
        unsigned opaque = 0;
        for (unsigned x = r.x1; x < r.x1 + r.width; x++) {
            top |= alpha(atlas, x, r.y1) > 0;
            bottom |= alpha(atlas, x, r.y1 + r.height - 1) > 0;
        }
        for (unsigned y = r.y1; y < r.y1 + r.height; y++) {
            left |= alpha(atlas, r.x1, y) > 0;
            right |= alpha(atlas, r.x1 + r.width - 1, y) > 0;
            for (unsigned x = r.x1; x < r.x1 + r.width; x++) opaque += alpha(atlas, x, y) > 0;
        }
        EXPECT_TRUE(top && bottom && left && right);
        EXPECT_GT(opaque, r.width * r.height / 5);
        // The ring of texels around the rectangle is clear, so the renderer's
        // one-texel border never picks up a neighbour.
        for (unsigned x = r.x1 - 1; x <= r.x1 + r.width; x++) {
            EXPECT_EQ(alpha(atlas, x, r.y1 - 1), 0u) << x;
            EXPECT_EQ(alpha(atlas, x, r.y1 + r.height), 0u) << x;
        }
        for (unsigned y = r.y1; y < r.y1 + r.height; y++) {
            EXPECT_EQ(alpha(atlas, r.x1 - 1, y), 0u) << y;
            EXPECT_EQ(alpha(atlas, r.x1 + r.width, y), 0u) << y;
        }
    }
}

TEST(CommittedAtlas, CompiledTableMatches) {
    const packed_atlas &p = regenerated();
    ASSERT_TRUE(p.ok) << p.err;
    ASSERT_EQ(sizeof tileset / sizeof tileset[0], p.frames.size());
    for (size_t i = 0; i < p.frames.size(); i++) {
        const dbx_frame_t &f = tileset[i];
        SCOPED_TRACE(f.source_name);
        EXPECT_EQ(f.used, 1u);
        EXPECT_EQ(f.frameset, 1u);
        EXPECT_EQ(f.source_name, p.frames[i].name);
        const packed_frame &r = p.frames[i];
        expect_geometry(f, {"", r.x1, r.y1, r.xoffset, r.yoffset, r.width, r.height, r.source_width, r.source_height});
        if (i < given_rows) expect_geometry(f, table[i]);
    }
}

// The tools write several outputs at once (an atlas and its header, a
// folder of sprites): a stream among them that fails leaves every file as
// it was, whether it existed or not, and no temporary file behind.
TEST(ToolWriteFiles, AFailedStreamLeavesEveryFileAsItWas) {
    scratch_dir dir;
    std::ofstream("old.txt") << "old";
    const std::string fresh = "new";
    for (const char *file : {"old.txt", "fresh.txt"}) {
        std::string err;
        EXPECT_FALSE(tool_write_files({{file, fresh.data(), fresh.size()}, {"/dev/full", "x", 1}}, {}, err)) << file;
        EXPECT_NE(err.find("/dev/full"), std::string::npos) << err;
    }
    std::vector<unsigned char> bytes;
    std::string err;
    ASSERT_TRUE(tool_read_file("old.txt", bytes, err)) << err;
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "old");
    EXPECT_EQ(scratch_dir::entries("."), std::vector<std::string>{"old.txt"});
}

TEST(Regeneration, AtlasAndHeaderGiveTheCommittedBytes) {
    const packed_atlas &p = regenerated();
    ASSERT_TRUE(p.ok) << p.err;
    std::vector<unsigned char> png, committed;
    std::string err;
    ASSERT_TRUE(art_png_encode(p.atlas, png, err)) << err;
    ASSERT_TRUE(tool_read_file(root + "/out.png", committed, err)) << err;
    EXPECT_TRUE(png == committed) << "out.png differs from a fresh build: run the regen-art target";
    std::string header = atlas_header(p.frames, "out.png");
    ASSERT_TRUE(tool_read_file(root + "/out.h", committed, err)) << err;
    EXPECT_EQ(header, std::string(committed.begin(), committed.end()));
}

// ---------------------------------------------------------------- scenes

struct box {
    std::string frame;
    int32_t x, y;
    float scale, rotation;
    int32_t delta_rot, mode, extra1, extra2, home_x, home_y;
    float scale1;
    int32_t timing;
};

int32_t le32(const unsigned char *p) { return int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24); }

float lefloat(const unsigned char *p) {
    int32_t i = le32(p);
    float f;
    memcpy(&f, &i, 4);
    return f;
}

// Reads a scene file: 33-byte frame-name items (type 1) and 49-byte box
// items (type 2). Anything else fails the test.
std::vector<box> read_scene(const std::string &name) {
    std::vector<unsigned char> bytes;
    std::string err;
    std::vector<box> boxes;
    EXPECT_TRUE(tool_read_file(root + "/data/" + name + ".dat", bytes, err)) << err;
    std::string frame;
    size_t at = 0;
    while (at < bytes.size()) {
        const unsigned char *p = &bytes[at];
        if (p[0] == 1 && at + 33 <= bytes.size()) {
            frame.assign(reinterpret_cast<const char *>(p + 1), strnlen(reinterpret_cast<const char *>(p + 1), 32));
            at += 33;
        } else if (p[0] == 2 && at + 49 <= bytes.size()) {
            EXPECT_FALSE(frame.empty()) << name << ": a box before any frame name";
            boxes.push_back({frame, le32(p + 1), le32(p + 5), lefloat(p + 9), lefloat(p + 13), le32(p + 17),
                             le32(p + 21), le32(p + 25), le32(p + 29), le32(p + 33), le32(p + 37), lefloat(p + 41),
                             le32(p + 45)});
            at += 49;
        } else {
            ADD_FAILURE() << name << ": stray byte " << int(p[0]) << " at " << at;
            break;
        }
    }
    return boxes;
}

struct scene_need {
    std::string file;
    size_t min_boxes;  // so that the reveal of every scene loading it has boxes to show
};

// The files of the show's table.
std::vector<scene_need> show_files() {
    std::vector<scene_need> files;
    for (int i = 0; i < scene_count; i++) {
        const show_scene_t &row = show[i];
        if (!row.file[0]) continue;
        const size_t need = row.first.kind == SHOW_NUMBER        ? size_t(row.first.value) + 1
                            : row.first.kind == SHOW_COUNT_MINUS ? size_t(row.first.value)
                                                                 : 1;
        auto same = std::find_if(files.begin(), files.end(), [&](const scene_need &s) { return s.file == row.file; });
        if (same == files.end()) files.push_back({row.file, need});
        else same->min_boxes = std::max(same->min_boxes, need);
    }
    return files;
}

bool have_scenes() {
    std::ifstream f(root + "/data/test2.dat");
    return bool(f);
}

TEST(Scenes, EveryBoxNamesAFrameAndShowsOnScreen) {
    if (!have_scenes()) GTEST_SKIP() << "data/ not built yet";
    for (const scene_need &s : show_files()) {
        SCOPED_TRACE(s.file);
        std::vector<box> boxes = read_scene(s.file);
        EXPECT_GE(boxes.size(), s.min_boxes);
        for (size_t i = 0; i < boxes.size(); i++) {
            const box &b = boxes[i];
            const dbx_frame_t *r = committed_row(b.frame);
            ASSERT_NE(r, nullptr) << "box " << i << " names \"" << b.frame << "\"";
            EXPECT_GT(b.scale, 0.05f) << "box " << i;
            // Where the trimmed picture lands, at the largest scale it takes.
            float s = b.mode == 2 ? b.scale1 + 0.5f : b.scale;
            float x0 = b.x + r->xoffset * s, y0 = b.y + r->yoffset * s;
            float x1 = x0 + r->width * s, y1 = y0 + r->height * s;
            EXPECT_TRUE(x1 > 0 && y1 > 0 && x0 < 640 && y0 < 360)
                << "box " << i << " (" << b.frame << ") lies off the screen at " << x0 << "," << y0;
            if (b.mode == 1) {
                EXPECT_EQ(b.home_x, b.x) << "box " << i << ": jitter home differs from its place";
                EXPECT_EQ(b.home_y, b.y) << "box " << i;
            }
        }
    }
}

TEST(Scenes, InheritedRevealRangesFitTheFiles) {
    if (!have_scenes()) GTEST_SKIP() << "data/ not built yet";
    // "zuzu" and "knock" reveal boxes 11 up to the count of hello2.
    size_t hello2 = read_scene("hello2").size();
    EXPECT_EQ(read_scene("zuzu2").size(), hello2);
    EXPECT_EQ(read_scene("knock2").size(), hello2);
    // "heart" and "cred3" reveal from 0 up to the count of ending.
    size_t ending = read_scene("ending").size();
    EXPECT_LE(read_scene("greettext").size(), ending);
    EXPECT_LE(read_scene("faces").size(), ending);
}

TEST(Scenes, WhiteScenesUseArtThatReadsOnWhite) {
    if (!have_scenes()) GTEST_SKIP() << "data/ not built yet";
    for (const char *name : {"faces", "fennickinvitro"})
        for (const box &b : read_scene(name)) EXPECT_NE(b.frame, "whitesquare1.png") << name;
}

TEST(Regeneration, SceneFilesGiveTheCommittedBytes) {
    if (!have_scenes()) GTEST_SKIP() << "data/ not built yet";
    // A name of this process's own: other test runs may share the folder.
    std::string tmp = testing::TempDir() + "art_scene." + std::to_string(getpid()) + ".dat";
    for (const scene_need &s : show_files()) {
        SCOPED_TRACE(s.file);
        std::string cmd = emulated_command(ART_BOXART) + " build '" + root + "/assets/scenes/" + s.file + ".txt' -o '" +
                          tmp + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
        std::vector<unsigned char> fresh, committed;
        std::string err;
        ASSERT_TRUE(tool_read_file(tmp, fresh, err)) << err;
        ASSERT_TRUE(tool_read_file(root + "/data/" + s.file + ".dat", committed, err)) << err;
        EXPECT_TRUE(fresh == committed) << "data/" << s.file << ".dat differs from its text: run the regen-art target";
    }
    std::remove(tmp.c_str());
}

// A group that installed the package makes its own folder with invitro-init:
// the editable files are copied there once, and the package's stay as they are.
TEST(OwnFolder, InitCopiesTheEditableFilesOnceAndLeavesThePackageAlone) {
    scratch_dir dir;
    for (const char *d : {"share/assets/scenes", "share/assets/sprites", "share/data"})
        std::filesystem::create_directories(d);
    for (const char *f : {"share/assets/show.txt", "share/assets/scenes/a.txt", "share/data/a.dat", "share/out.png"})
        std::ofstream(f) << f;
    const std::string init = "INVITRO_SHARE=share '" + root + "/scripts/invitro-init' ";
    EXPECT_EQ(std::system((init + "mine >/dev/null").c_str()), 0);
    std::vector<unsigned char> bytes;
    std::string err;
    for (const char *f : {"assets/show.txt", "assets/scenes/a.txt", "data/a.dat"}) {
        ASSERT_TRUE(tool_read_file(std::string("mine/") + f, bytes, err)) << err;
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()), std::string("share/") + f);
    }
    EXPECT_TRUE(std::filesystem::is_directory("mine/assets/sprites"));
    EXPECT_FALSE(std::filesystem::exists("mine/out.png"));  // read from the package
    // A second run would overwrite the group's work: it refuses.
    std::ofstream("mine/assets/show.txt") << "edited";
    EXPECT_NE(std::system((init + "mine 2>/dev/null").c_str()), 0);
    ASSERT_TRUE(tool_read_file("mine/assets/show.txt", bytes, err)) << err;
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "edited");
    EXPECT_NE(std::system((init + "2>/dev/null").c_str()), 0);
    EXPECT_EQ(scratch_dir::entries("share/assets/scenes"), std::vector<std::string>{"a.txt"});
}

#ifdef ART_CONTACTSHEET
// The whole intro, played off screen through the real renderer: every scene
// of the show's table must come up, and every one with a box art file must
// show more than a flat colour ("black", without one, shows just that).
TEST(ContactSheet, EveryScenePlaysAndShowsSomething) {
    // Fewer frames under an emulator, where every one costs many times more.
    const std::string contact_sheet_fps = DBX_EMULATOR[0] ? "4" : "10";
    std::string sheet = testing::TempDir() + "art_contact_sheet.png";
    std::string cmd = std::string("cd '") + root + "' && EGL_PLATFORM=surfaceless " + emulated_command(ART_CONTACTSHEET) + " --fps " +
                      contact_sheet_fps + " -o '" +
                      sheet + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    art_image img;
    std::string err;
    ASSERT_TRUE(art_png_read(sheet, img, err)) << err;
    std::remove(sheet.c_str());
    const unsigned tile_w = 320, tile_h = 180, label_h = 24, gap = 8;
    ASSERT_EQ(img.width, 4 * tile_w + 5 * gap);
    const unsigned tiles = unsigned(scene_count), rows = (tiles + 3) / 4;
    ASSERT_EQ(img.height, rows * (tile_h + label_h) + (rows + 1) * gap);
    unsigned flat = 0, fileless = 0;
    for (int s = 0; s < scene_count; s++) fileless += !show[s].file[0];
    for (unsigned k = 0; k < tiles; k++) {
        unsigned x0 = gap + (k % 4) * (tile_w + gap), y0 = gap + (k / 4) * (tile_h + label_h + gap);
        std::map<uint32_t, int> colours;
        for (unsigned y = y0; y < y0 + tile_h; y += 2)
            for (unsigned x = x0; x < x0 + tile_w; x += 2) {
                const unsigned char *p = &img.rgba[(size_t(y) * img.width + x) * 4];
                colours[uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2]]++;
            }
        if (colours.size() == 1) flat++;
        else EXPECT_GT(colours.size(), 8u) << "tile " << k << " looks empty";
    }
    EXPECT_EQ(flat, fileless);
}
#endif

}  // namespace
