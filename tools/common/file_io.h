// Whole-file reading and writing for the asset tools. A write goes to a
// temporary file beside the target that is then renamed over it, so the
// target is either the old file or the whole new one, and a failed write
// leaves no temporary file behind. Messages name the path on one line.
#ifndef TOOLS_COMMON_FILE_IO_H
#define TOOLS_COMMON_FILE_IO_H

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

struct tool_file_closer {
    void operator()(FILE *f) const { fclose(f); }
};
using tool_file_ptr = std::unique_ptr<FILE, tool_file_closer>;

// "cannot WHAT "PATH": reason", for the error code of the failed call.
inline std::string tool_file_error(const char *what, const std::string &path, int code) {
    return std::string("cannot ") + what + " \"" + path + "\": " + strerror(code ? code : EIO);
}

inline bool tool_read_file(const std::string &path, std::vector<unsigned char> &bytes, std::string &err) {
    tool_file_ptr f(fopen(path.c_str(), "rb"));
    if (!f) {
        err = tool_file_error("open", path, errno);
        return false;
    }
    bytes.clear();
    unsigned char buffer[65536];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, f.get())) > 0) bytes.insert(bytes.end(), buffer, buffer + got);
    if (ferror(f.get())) {
        err = tool_file_error("read", path, errno);
        return false;
    }
    return true;
}

inline bool tool_write_file(const std::string &path, const void *data, size_t size, std::string &err) {
    std::string temp = path + ".XXXXXX";
    int fd = mkstemp(&temp[0]);
    if (fd < 0) {
        err = tool_file_error("create a file beside", path, errno);
        return false;
    }
    bool ok = true;
    int code = 0;
    auto failed = [&] {
        if (ok) code = errno;
        ok = false;
    };
    if (FILE *f = fdopen(fd, "wb")) {
        if ((size > 0 && fwrite(data, 1, size, f) != size) || fflush(f) != 0) failed();
        if (fclose(f) != 0) failed();
    } else {
        failed();
        close(fd);
    }
    // mkstemp makes the file private; what the tools write are ordinary files.
    if (ok) {
        mode_t mask = umask(0);
        umask(mask);
        if (chmod(temp.c_str(), 0666 & ~mask) != 0) failed();
    }
    if (ok && rename(temp.c_str(), path.c_str()) != 0) failed();
    if (!ok) {
        unlink(temp.c_str());
        err = tool_file_error("write", path, code);
    }
    return ok;
}

#endif
