// Shared by the capture tests: a scratch folder with a tiny intro in it (an
// atlas and a short module made on the spot), and a way to run the capture
// program there as a child process.
#pragma once

#include "tests/common/scratch_dir.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The tiny song: 21 positions through the whole scene schedule, of 6, 7 and 9
// rows in turn, 40 ms a row, so the song ends after about 6 seconds.
std::vector<uint8_t> tiny_module_bytes(void);
// Writes out.png and omber.xm into the folder.
void put_tiny_intro(const std::string &dir);

struct run_result {
    int status = -1;  // exit status, or -1 when the child did not exit normally
    std::string out, err;
};
// Runs invitro-capture with these arguments in `dir`. With a non-empty
// `path_env`, the child's PATH is set to it; `meanwhile`, when given, is
// called with the child's process id while it runs.
run_result run_capture(const std::string &dir, const std::vector<std::string> &arguments,
                       const std::string &path_env = "", const std::function<void(int)> &meanwhile = {});

// The same for any program of the build.
run_result run_program(const std::string &program, const std::string &dir, const std::vector<std::string> &arguments,
                       const std::string &path_env = "", const std::function<void(int)> &meanwhile = {});

std::string read_file(const std::string &path);
std::vector<std::string> list_dir(const std::string &dir);  // sorted names
bool ffmpeg_available(void);
