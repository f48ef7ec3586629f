// The program's files: the regular-file check, the whole-file reader and the
// safe writer (file_io.h).
#include "file_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

struct tool_file_closer {
    void operator()(FILE *f) const { fclose(f); }
};
using tool_file_ptr = std::unique_ptr<FILE, tool_file_closer>;

// "cannot WHAT "PATH": reason", for the error code of the failed call.
std::string tool_file_error(const char *what, const std::string &path, int code) {
    return std::string("cannot ") + what + " \"" + path + "\": " + strerror(code ? code : EIO);
}

// The file a path names, by device and inode; a file that does not exist yet
// by its folder's device and inode and its own name. False when not even the
// folder exists.
struct tool_file_id {
    dev_t dev;
    ino_t ino;
    std::string name;  // empty for a file that exists
};

bool tool_file_identity(const std::string &path, tool_file_id &id) {
    struct stat info;
    if (stat(path.c_str(), &info) == 0) {
        id = {info.st_dev, info.st_ino, std::string()};
        return true;
    }
    size_t slash = path.find_last_of('/');
    std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    if (stat(folder.c_str(), &info) != 0) return false;
    id = {info.st_dev, info.st_ino, slash == std::string::npos ? path : path.substr(slash + 1)};
    return true;
}

}  // namespace

const char *dbx_file_kind(mode_t mode) {
    if (S_ISREG(mode)) return "";
    if (S_ISDIR(mode)) return "a directory";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISSOCK(mode)) return "a socket";
    return "not a regular file";
}

FILE *dbx_open_regular(const char *path, const char **kind) {
    *kind = nullptr;
    // The name is looked at before anything is opened: opening a FIFO's read
    // end would wake a writer waiting at the other end, and opening a device
    // can have effects of its own.
    struct stat info;
    if (stat(path, &info) != 0) return nullptr;
    if (!S_ISREG(info.st_mode)) {
        *kind = dbx_file_kind(info.st_mode);
        return nullptr;
    }
    // Something else may take the name between the look and the open, so
    // the open does not wait (a FIFO's read end would wait for a writer)
    // and what it opened is looked at again.
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    if (fstat(fd, &info) != 0) {
        const int code = errno;
        close(fd);
        errno = code;
        return nullptr;
    }
    if (!S_ISREG(info.st_mode)) {
        *kind = dbx_file_kind(info.st_mode);
        close(fd);
        return nullptr;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    FILE *file = fdopen(fd, "rb");
    if (!file) close(fd);
    return file;
}

namespace {

// The rest of `f` into `bytes`; false with the reason in `err`.
bool read_all(FILE *f, const std::string &path, std::vector<unsigned char> &bytes, std::string &err) {
    bytes.clear();
    unsigned char buffer[65536];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, f)) > 0) bytes.insert(bytes.end(), buffer, buffer + got);
    if (ferror(f)) {
        err = tool_file_error("read", path, errno);
        return false;
    }
    return true;
}

}  // namespace

bool dbx_read_regular(const char *path, std::vector<unsigned char> &bytes, std::string &err, const char **kind) {
    const char *what = nullptr;
    tool_file_ptr f(dbx_open_regular(path, &what));
    if (kind) *kind = what;
    if (!f) {
        const int code = errno;
        err = what ? std::string("cannot open \"") + path + "\": it is " + what : tool_file_error("open", path, code);
        errno = code;
        return false;
    }
    return read_all(f.get(), path, bytes, err);
}

bool tool_read_file(const std::string &path, std::vector<unsigned char> &bytes, std::string &err) {
    tool_file_ptr f(fopen(path.c_str(), "rb"));
    if (!f) {
        err = tool_file_error("open", path, errno);
        return false;
    }
    return read_all(f.get(), path, bytes, err);
}

// ---------------------------------------------------------------- what a target is

const char *tool_special_kind(const std::string &path, struct stat *info_out) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0) return "";
    if (info_out) *info_out = info;
    return dbx_file_kind(info.st_mode);
}

namespace {

// Written as a stream rather than replaced.
bool stream_mode(mode_t mode) { return S_ISCHR(mode) || S_ISFIFO(mode); }

}  // namespace

bool tool_is_stream(const std::string &path) {
    struct stat info;
    return *tool_special_kind(path, &info) && stream_mode(info.st_mode);
}

bool tool_same_file(const std::string &a, const std::string &b) {
    tool_file_id x, y;
    return tool_file_identity(a, x) && tool_file_identity(b, y) && x.dev == y.dev && x.ino == y.ino &&
           x.name == y.name;
}

std::string tool_output_clash(const std::vector<std::string> &outputs, const std::vector<std::string> &inputs) {
    for (size_t i = 0; i < outputs.size(); i++) {
        if (tool_is_stream(outputs[i])) continue;
        for (const std::string &in : inputs)
            if (tool_same_file(outputs[i], in))
                return "cannot write \"" + outputs[i] + "\": " +
                       (in == outputs[i] ? std::string("this run reads it") : "it is \"" + in + "\", which this run reads");
        for (size_t k = 0; k < i; k++)
            if (tool_same_file(outputs[i], outputs[k]))
                return "cannot write \"" + outputs[i] + "\": " +
                       (outputs[k] == outputs[i] ? std::string("this run writes it as another output")
                                                 : "it is \"" + outputs[k] + "\", which this run also writes");
    }
    return "";
}

// ---------------------------------------------------------------- writing

namespace {

bool write_fd(int fd, const void *data, size_t size) {
    const unsigned char *p = static_cast<const unsigned char *>(data);
    while (size > 0) {
        ssize_t done = write(fd, p, size);
        if (done < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += done;
        size -= static_cast<size_t>(done);
    }
    return true;
}

// Writes the bytes and closes `fd`; on failure `code` holds the first error.
bool write_close(int fd, const void *data, size_t size, int &code) {
    bool ok = write_fd(fd, data, size);
    code = ok ? 0 : errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        code = errno;
    }
    return ok;
}

// The bytes into a new private file beside `path`; its name in `temp`.
bool write_temp(const std::string &path, const std::string &tag, const void *data, size_t size, std::string &temp,
                std::string &err) {
    temp = path + tag + ".XXXXXX";
    int fd = mkstemp(&temp[0]);
    if (fd < 0) {
        err = tool_file_error("create a file beside", path, errno);
        temp.clear();
        return false;
    }
    int code;
    bool ok = write_close(fd, data, size, code);
    // mkstemp makes the file private; what the tools write are ordinary files.
    if (ok) {
        mode_t mask = umask(0);
        umask(mask);
        if (chmod(temp.c_str(), 0666 & ~mask) != 0) {
            ok = false;
            code = errno;
        }
    }
    if (!ok) {
        unlink(temp.c_str());
        temp.clear();
        err = tool_file_error("write", path, code);
    }
    return ok;
}

bool write_stream(const std::string &path, const void *data, size_t size, std::string &err) {
    int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        err = tool_file_error("open", path, errno);
        return false;
    }
    int code;
    bool ok = write_close(fd, data, size, code);
    if (!ok) err = tool_file_error("write", path, code);
    return ok;
}

}  // namespace

int (*tool_rename)(const char *from, const char *to) = rename;

bool tool_write_files(const std::vector<tool_output> &outputs, const std::vector<std::string> &inputs,
                      std::string &err, const std::string &tag) {
    std::vector<std::string> paths;
    std::vector<bool> stream, existed;
    for (const tool_output &o : outputs) {
        struct stat info;
        const char *kind = tool_special_kind(o.path, &info);
        stream.push_back(*kind && stream_mode(info.st_mode));
        if (*kind && !stream.back()) {
            err = "cannot write \"" + o.path + "\": it is " + kind + ", not a file";
            return false;
        }
        existed.push_back(access(o.path.c_str(), F_OK) == 0);
        paths.push_back(o.path);
    }
    err = tool_output_clash(paths, inputs);
    if (!err.empty()) return false;
    std::vector<std::string> temps(outputs.size());
    auto drop_temps = [&] {
        for (const std::string &t : temps)
            if (!t.empty()) unlink(t.c_str());
        return false;
    };
    for (size_t i = 0; i < outputs.size(); i++)
        if (!stream[i] && !write_temp(paths[i], tag, outputs[i].data, outputs[i].size, temps[i], err))
            return drop_temps();
    for (size_t i = 0; i < outputs.size(); i++)
        if (stream[i] && !write_stream(paths[i], outputs[i].data, outputs[i].size, err))
            return drop_temps();
    // What a file renamed over holds now, to put back should a later rename
    // fail (the last file renamed needs none).
    size_t last = outputs.size();
    while (last > 0 && stream[last - 1]) last--;
    std::vector<std::vector<unsigned char>> old(outputs.size());
    for (size_t i = 0; i + 1 < last; i++)
        if (!stream[i] && existed[i] && !tool_read_file(paths[i], old[i], err)) return drop_temps();
    for (size_t i = 0; i < outputs.size(); i++) {
        if (stream[i]) continue;
        if (tool_rename(temps[i].c_str(), paths[i].c_str()) != 0) {
            err = tool_file_error("write", paths[i], errno);
            drop_temps();
            for (size_t k = 0; k < i; k++) {
                if (stream[k]) continue;
                std::string back, ignored;
                if (!existed[k])
                    unlink(paths[k].c_str());
                else if (write_temp(paths[k], tag, old[k].data(), old[k].size(), back, ignored) &&
                         tool_rename(back.c_str(), paths[k].c_str()) != 0)
                    unlink(back.c_str());
            }
            return false;
        }
        temps[i].clear();
    }
    return true;
}

bool tool_write_file(const std::string &path, const void *data, size_t size, std::string &err,
                     const std::vector<std::string> &inputs) {
    return tool_write_files({{path, data, size}}, inputs, err);
}
