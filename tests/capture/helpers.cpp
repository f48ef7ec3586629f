#include "helpers.h"

#include "xmwriter.h"
#include "tests/common/emulator.h"

#include <lodepng.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

std::vector<uint8_t> tiny_module_bytes(void) {
    XmModule m;
    m.name = "capture test";
    m.channels = 1;
    m.speed = 2;  // 2 ticks of 20 ms at 125 BPM: 40 ms a row
    m.bpm = 125;
    const int rows[] = {6, 7, 9};
    for (int r : rows) {
        XmPattern p = xm_pattern(r, 1);
        for (int row = 0; row < r; row += 2) xm_cell(p, 1, row, 0) = {xm_note(4, row % 5), 1, xm_vol(48), 0, 0};
        m.patterns.push_back(p);
    }
    for (int position = 0; position < 21; position++) m.order.push_back(static_cast<uint8_t>(position % 3));
    XmInstrument square;
    square.name = "square";
    XmSample s;
    s.name = "square";
    s.loop = XmLoop::forward;
    s.loop_start = 0;
    s.loop_length = 64;
    for (int i = 0; i < 64; i++) s.data.push_back(static_cast<int16_t>(i < 32 ? 9000 : -9000));
    s.sixteen_bit = true;
    square.samples = {s};
    square.sample_for_note.fill(0);
    m.instruments = {square};
    return xm_write(m);
}

void put_tiny_intro(const std::string &dir) {
    // A 1024x1024 atlas, as large as the compiled frame table needs.
    std::vector<unsigned char> atlas(1024 * 1024 * 4);
    for (size_t i = 0; i < atlas.size(); i += 4) {
        atlas[i] = 200;
        atlas[i + 1] = static_cast<unsigned char>(i % 256);
        atlas[i + 2] = 40;
        atlas[i + 3] = 255;
    }
    if (lodepng_encode32_file((dir + "/out.png").c_str(), atlas.data(), 1024, 1024))
        throw std::runtime_error("cannot write out.png");
    std::string error = xm_save_file(dir + "/omber.xm", tiny_module_bytes());
    if (!error.empty()) throw std::runtime_error(error);
}

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

std::vector<std::string> list_dir(const std::string &dir) {
    std::vector<std::string> names = scratch_dir::entries(dir);
    std::sort(names.begin(), names.end());
    return names;
}

bool ffmpeg_available(void) { return system("ffmpeg -version >/dev/null 2>&1") == 0; }

run_result run_capture(const std::string &dir, const std::vector<std::string> &arguments,
                       const std::string &path_env, const std::function<void(int)> &meanwhile) {
    return run_program(CAPTURE_PROGRAM, dir, arguments, path_env, meanwhile);
}

run_result run_program(const std::string &program, const std::string &dir, const std::vector<std::string> &arguments,
                       const std::string &path_env, const std::function<void(int)> &meanwhile) {
    scratch_dir logs;
    const std::string out = logs / "stdout", err = logs / "stderr";
    pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0) _exit(126);
        int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (o < 0 || e < 0) _exit(126);
        dup2(o, 1);
        dup2(e, 2);
        if (!path_env.empty()) setenv("PATH", path_env.c_str(), 1);
        std::vector<std::string> words = emulated_argv(program);
        words.insert(words.end(), arguments.begin(), arguments.end());
        std::vector<char *> argv;
        for (std::string &w : words) argv.push_back(&w[0]);
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    run_result result;
    int status = 0;
    if (pid > 0 && meanwhile) meanwhile(pid);
    if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)) result.status = WEXITSTATUS(status);
    result.out = read_file(out);
    result.err = read_file(err);
    return result;
}
