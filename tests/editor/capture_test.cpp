// A scene edited and saved in the editor, rendered by invitro-capture: the
// capture shows the edit.
#include "editor_fixture.h"

#include "tests/common/emulator.h"

#include <lodepng.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

// One second of the intro at 10 frames a second as PNG files (no ffmpeg on
// the PATH); the last frame's RGBA pixels.
std::vector<unsigned char> capture_last_frame(const char *name) {
    pid_t pid = fork();
    if (pid == 0) {
        std::vector<std::string> words = emulated_argv(CAPTURE_PROGRAM);
        for (const char *w : {"--seconds", "1", "--fps", "10", "--size", "640x360", "-o"}) words.push_back(w);
        words.push_back(std::string(name) + ".mp4");
        std::vector<char *> argv;
        for (std::string &w : words) argv.push_back(&w[0]);
        argv.push_back(nullptr);
        setenv("PATH", "/nonexistent", 1);
        setenv("EGL_PLATFORM", "surfaceless", 1);
        if (!freopen("/dev/null", "w", stdout)) _exit(126);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    std::vector<unsigned char> pixels;
    unsigned w = 0, h = 0;
    const std::string last = std::string(name) + "-frames/frame-000009.png";
    EXPECT_EQ(lodepng::decode(pixels, w, h, last), 0u) << last;
    EXPECT_EQ(w, 640u);
    return pixels;
}

bool white_at(const std::vector<unsigned char> &rgba, int x, int y) {
    if (rgba.size() < 640u * 360u * 4u) return false;
    const unsigned char *p = &rgba[(static_cast<size_t>(y) * 640 + static_cast<size_t>(x)) * 4];
    return p[0] > 240 && p[1] > 240 && p[2] > 240;
}

using EditedCapture = EditorTest;

TEST_F(EditedCapture, ShowsABoxAddedInTheEditor) {
    start("test2");  // "hello", the first scene of the song
    std::filesystem::copy_file(std::filesystem::path(REPO_ROOT) / "omber.xm", "omber.xm");
    const std::vector<unsigned char> before = capture_last_frame("before");
    ASSERT_FALSE(white_at(before, 532, 262));
    // A white square from the palette on the empty black lower right,
    // scaled up, first in the drawing order so the beat reveal never hides it.
    key(SDLK_f);
    float x, y, s;
    const uint32_t white = static_cast<uint32_t>(dbx_findframe("whitesquare1.png"));
    ed_palette_cell(white, &x, &y, &s);
    click(x + 20.0f * s, y + 20.0f * s);
    ASSERT_EQ(ed_frame, white);
    move_to(520, 250);
    key(SDLK_n);
    wheel(5);
    key(SDLK_LEFTBRACKET, KMOD_NONE, ed_count);
    ASSERT_EQ(ed_selected, 0);
    key(SDLK_s, KMOD_LCTRL);
    ASSERT_FALSE(ed_dirty) << ed_status;
    const std::vector<unsigned char> after = capture_last_frame("after");
    // Its middle, and near its corners: scaled by 1.1^5 from the top left.
    for (int dx : {-30, 0, 30})
        for (int dy : {-30, 0, 30}) EXPECT_TRUE(white_at(after, 532 + dx, 262 + dy)) << dx << "," << dy;
}

}  // namespace
