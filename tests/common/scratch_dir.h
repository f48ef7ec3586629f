// Shared by the tests: a scratch folder to run in.
#ifndef TESTS_COMMON_SCRATCH_DIR_H
#define TESTS_COMMON_SCRATCH_DIR_H

#include <dirent.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

// readdir fails on large file systems ("Value too large for defined data
// type") where a 32-bit target has 32-bit file offsets.
static_assert(sizeof(off_t) == 8, "64-bit file offsets (_FILE_OFFSET_BITS=64) are needed");

// Makes a fresh folder under /tmp, works inside it and removes it with
// everything in it afterwards.
class scratch_dir {
public:
    scratch_dir() {
        char tmpl[] = "/tmp/invitro-test-XXXXXX";
        if (mkdtemp(tmpl)) path = tmpl;
        if (!getcwd(old, sizeof old)) old[0] = 0;
        if (!path.empty() && chdir(path.c_str()) != 0) path.clear();
    }
    ~scratch_dir() {
        if (old[0] && chdir(old) != 0) return;
        if (path.empty()) return;
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    scratch_dir(const scratch_dir &) = delete;
    scratch_dir &operator=(const scratch_dir &) = delete;

    // Names of the entries of a folder, "." and ".." left out.
    static std::vector<std::string> entries(const std::string &dir) {
        std::vector<std::string> names;
        if (DIR *d = opendir(dir.c_str())) {
            while (dirent *e = readdir(d))
                if (strcmp(e->d_name, ".") && strcmp(e->d_name, "..")) names.push_back(e->d_name);
            closedir(d);
        }
        return names;
    }

    std::string operator/(const std::string &name) const { return path + "/" + name; }

    std::string path;

private:
    char old[4096];
};

#endif
