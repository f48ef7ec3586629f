// The committed song, omber.xm: it is what the tool makes, it plays the
// intro's schedule in libmikmod at the right times and then stops, its levels
// are sane, and a second player agrees on its shape.
#include "render.h"
#include "song.h"
#include "xmwriter.h"
#include "tests/common/emulator.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr unsigned rate = 48000;
// At 125 BPM a tick lasts 20 ms: 960 frames at 48 kHz; a position is 64 rows of 6 ticks.
constexpr uint64_t frames_per_position = song_rows * song_speed * (rate * 125 / (song_bpm * 50));
static_assert(frames_per_position == 368640, "7.68 s at 48 kHz");
const std::string committed_path = std::string(REPO_ROOT) + "/omber.xm";

std::vector<uint8_t> read_bytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

// Runs a shell command; returns its exit status and standard output.
std::pair<int, std::string> run(const std::string& command) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p) return {-1, out};
    char buf[512];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    const int status = pclose(p);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

// The song rendered once for all tests of the suite (it takes a moment).
class SongPlayback : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_EQ(render_open(rate), "");
        const std::vector<uint8_t> bytes = read_bytes(committed_path);
        ASSERT_FALSE(bytes.empty()) << "cannot read " << committed_path;
        MODULE* mod = render_load(bytes);
        ASSERT_NE(mod, nullptr) << MikMod_strerror(MikMod_errno);
        result_ = new RenderResult(render_play(mod, chunk, 400.0));
        Player_Free(mod);
    }
    static void TearDownTestSuite() {
        delete result_;
        result_ = nullptr;
    }
    static constexpr unsigned chunk = 480;  // 10 ms
    static RenderResult* result_;
};
RenderResult* SongPlayback::result_ = nullptr;

TEST(Song, RegeneratingGivesTheCommittedBytes) {
    const std::vector<uint8_t> committed = read_bytes(committed_path);
    ASSERT_FALSE(committed.empty()) << "cannot read " << committed_path;
    const std::vector<uint8_t> fresh = xm_write(song_module());
    ASSERT_EQ(fresh.size(), committed.size()) << "run the regen-music target and commit omber.xm";
    EXPECT_TRUE(fresh == committed) << "run the regen-music target and commit omber.xm";
}

TEST(Song, StructureAsLibmikmodSeesIt) {
    ASSERT_EQ(render_open(rate), "");
    MODULE* mod = render_load(read_bytes(committed_path));
    ASSERT_NE(mod, nullptr) << MikMod_strerror(MikMod_errno);
    EXPECT_EQ(mod->numpos, song_positions);
    EXPECT_EQ(mod->numchn, song_channels);
    EXPECT_EQ(mod->initspeed, 6);
    EXPECT_EQ(mod->inittempo, 125);
    EXPECT_EQ(mod->reppos, 0);
    EXPECT_TRUE(mod->flags & UF_LINEAR);
    // Every position is a full 64-row pattern, and the second "beat2" is the first one again.
    for (int p = 0; p < mod->numpos; ++p) EXPECT_EQ(mod->pattrows[mod->positions[p]], song_rows) << "position " << p;
    EXPECT_EQ(mod->positions[16], mod->positions[7]);
    EXPECT_STREQ(song_scene_names[16], song_scene_names[7]);
    EXPECT_FALSE(mod->wrap) << "libmikmod would play the song again";
    Player_Free(mod);
}

TEST_F(SongPlayback, PassesEveryPositionOnTime) {
    const RenderResult& r = *result_;
    ASSERT_EQ(r.positions.size(), static_cast<size_t>(song_positions));
    for (int p = 0; p < song_positions; ++p) {
        EXPECT_EQ(r.positions[p], p);
        // The chunk that first shows position p ends at or just after its start.
        const uint64_t start = p * frames_per_position;
        const uint64_t seen = r.position_frame[p];
        EXPECT_GE(seen, start) << "position " << p << " came early";
        EXPECT_LE(seen, start + chunk) << "position " << p << " came late";
    }
}

TEST_F(SongPlayback, StopsAfterTheLastPosition) {
    const RenderResult& r = *result_;
    ASSERT_TRUE(r.ended) << "Player_Active() never turned false: the song loops";
    const uint64_t end = song_positions * frames_per_position;
    EXPECT_GE(r.end_frame, end);
    EXPECT_LE(r.end_frame, end + chunk);
    EXPECT_NEAR(r.end_frame / static_cast<double>(rate), 161.28, 0.05);
}

TEST_F(SongPlayback, LevelsAreSane) {
    const RenderResult& r = *result_;
    const PcmLevels all = pcm_levels(r.pcm);
    EXPECT_EQ(all.clipped, 0u) << "peak " << all.peak;
    EXPECT_LT(all.peak, 32767);
    EXPECT_GT(all.rms_dbfs, -24.0) << "too quiet";
    EXPECT_LT(all.rms_dbfs, -10.0) << "too loud";
    // No part is silent or shouting, and the ending really fades out.
    const size_t per_position = frames_per_position * 2;
    for (int p = 0; p < song_positions; ++p) {
        const auto from = r.pcm.begin() + static_cast<long>(p * per_position);
        const PcmLevels part = pcm_levels(std::vector<int16_t>(from, from + static_cast<long>(per_position)));
        EXPECT_GT(part.rms_dbfs, -30.0) << "position " << p;
        EXPECT_LT(part.rms_dbfs, -12.0) << "position " << p;
    }
    // The song has faded out when it stops.
    const std::vector<int16_t> last_two_seconds(r.pcm.end() - rate * 4, r.pcm.end());
    EXPECT_LT(pcm_levels(last_two_seconds).rms_dbfs, all.rms_dbfs - 15.0);
    const std::vector<int16_t> last_rows(r.pcm.end() - rate / 4 * 2, r.pcm.end());
    EXPECT_LT(pcm_levels(last_rows).rms_dbfs, -50.0);
}

TEST(Song, NoClippingAtTheDefaultRateEither) {
    // libmikmod mixes at 44100 Hz unless told otherwise.
    ASSERT_EQ(render_open(44100), "");
    MODULE* mod = render_load(read_bytes(committed_path));
    ASSERT_NE(mod, nullptr) << MikMod_strerror(MikMod_errno);
    const RenderResult r = render_play(mod, 441, 400.0);
    Player_Free(mod);
    EXPECT_TRUE(r.ended);
    const PcmLevels l = pcm_levels(r.pcm);
    EXPECT_EQ(l.clipped, 0u) << "peak " << l.peak;
    EXPECT_GT(l.rms_dbfs, -24.0);
    ASSERT_EQ(render_open(rate), "");
}

TEST(Song, SecondPlayerAgrees) {
    if (run("command -v openmpt123 >/dev/null 2>&1").first != 0) GTEST_SKIP() << "openmpt123 is not installed";
    const auto [status, out] = run("openmpt123 --info '" + committed_path + "' 2>&1");
    ASSERT_EQ(status, 0) << out;
    const auto field = [&](const std::string& name) {
        const size_t at = out.find(name);
        if (at == std::string::npos) return std::string();
        const size_t colon = out.find(':', at);
        return out.substr(colon + 1, out.find('\n', colon) - colon - 1);
    };
    EXPECT_EQ(std::stoi(field("Orders")), song_positions) << out;
    EXPECT_EQ(std::stoi(field("Channels")), song_channels) << out;
    const std::string duration = field("Duration");  // mm:ss.fff
    ASSERT_FALSE(duration.empty()) << out;
    const double seconds = std::stoi(duration.substr(0, duration.find(':'))) * 60.0 +
                           std::stod(duration.substr(duration.find(':') + 1));
    EXPECT_NEAR(seconds, song_positions * song_seconds_per_position, 0.5) << out;
}

TEST(XmsongTool, WritesTheModuleAndRefusesBadInput) {
    const std::string tool = emulated_command(XMSONG_PATH);
    EXPECT_EQ(run(tool + " --help").first, 0);
    EXPECT_NE(run(tool + " --help").second.find("usage: xmsong"), std::string::npos);
    EXPECT_EQ(run(tool + " 2>/dev/null").first, 2) << "no output file";
    EXPECT_EQ(run(tool + " --bogus -o x 2>/dev/null").first, 2);
    EXPECT_EQ(run(tool + " -o 2>/dev/null").first, 2) << "-o without a file name";

    const std::string out = ::testing::TempDir() + "xmsong_tool_test_" + std::to_string(getpid()) + ".xm";
    std::remove(out.c_str());
    ASSERT_EQ(run(tool + " -o '" + out + "'").first, 0);
    EXPECT_TRUE(read_bytes(out) == read_bytes(committed_path));
    std::remove(out.c_str());

    const std::string missing_dir = ::testing::TempDir() + "xmsong-no-such-dir/omber.xm";
    EXPECT_EQ(run(tool + " -o '" + missing_dir + "' 2>/dev/null").first, 1);
}

}  // namespace
