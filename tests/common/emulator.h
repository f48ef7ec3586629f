// Cross builds run their tests in qemu's user-mode emulator, without binfmt:
// a program of the build that a test starts, and the test program itself
// when a death test starts it again, has to go through the emulator too.
// DBX_EMULATOR is the emulator's command line ("" in a native build).
#ifndef TESTS_COMMON_EMULATOR_H
#define TESTS_COMMON_EMULATOR_H

#include <string>
#include <vector>

#ifndef DBX_EMULATOR
#define DBX_EMULATOR ""
#endif

// The words that run PROGRAM, emulated where needed (for exec).
inline std::vector<std::string> emulated_argv(const std::string &program) {
    std::vector<std::string> words;
    std::string word;
    for (const char *c = DBX_EMULATOR;; c++) {
        if (*c == ' ' || *c == 0) {
            if (!word.empty()) words.push_back(word);
            word.clear();
            if (*c == 0) break;
        } else {
            word += *c;
        }
    }
    words.push_back(program);
    return words;
}

// PROGRAM quoted for the shell, emulated where needed.
inline std::string emulated_command(const std::string &program) {
    std::string command;
    for (const std::string &w : emulated_argv(program)) command += (command.empty() ? "'" : " '") + w + "'";
    return command;
}

// Death tests that hold GL threads start the test program afresh
// ("threadsafe"); that needs an exec, which an emulated program cannot do
// on itself, so there they fork ("fast") and the GL driver renders on the
// calling thread (LP_NUM_THREADS=0, set by the tests' environment).
inline const char *emulated_death_test_style(void) { return DBX_EMULATOR[0] ? "fast" : "threadsafe"; }

#endif
