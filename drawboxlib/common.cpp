// Fatal messages, PNG decoding and the data folder, shared by every
// platform layer. Input files are opened through the file library (files/).
#include "drawboxlib.h"
#include "file_io.h"

#include <lodepng.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

void dbx_platform_fatal(const char *title, const char *text) {
    printf("[%s] %s\n", title, text);
    fflush(stdout);
}

void dbx_fail(const char *format, ...) {
    va_list args;
    va_start(args, format);
    vfprintf(stderr, format, args);
    va_end(args);
    exit(1);
}

// The package's data folder, from the folder the program lies in (set by
// the build: the install prefix's share/invitro seen from its bin).
#ifndef DBX_DATA_FROM_PROGRAM
#define DBX_DATA_FROM_PROGRAM "../share/invitro"
#endif

static bool exists(const char *path) {
    struct stat info;
    return stat(path, &info) == 0;
}

// The package's data folder for this program, or false where it cannot be
// told (no /proc, a name too long).
static bool package_folder(char *folder, size_t size) {
    char program[4096];
    const ssize_t n = readlink("/proc/self/exe", program, sizeof program - 1);
    if (n <= 0) return false;
    program[n] = 0;
    char *slash = strrchr(program, '/');
    if (!slash) return false;
    *slash = 0;
    const int written = snprintf(folder, size, "%s/%s", program, DBX_DATA_FROM_PROGRAM);
    return written > 0 && static_cast<size_t>(written) < size;
}

dbx_path dbx_data_file(const char *name) {
    dbx_path path;
    snprintf(path.text, sizeof path.text, "%s", name);
    if (name[0] == '/') return path;
    const char *data = getenv("DBX_DATA");
    if (data && *data) {
        snprintf(path.text, sizeof path.text, "%s/%s", data, name);
        return path;
    }
    if (exists(name)) return path;
    char folder[4096];
    dbx_path packaged;
    if (package_folder(folder, sizeof folder) &&
        static_cast<size_t>(snprintf(packaged.text, sizeof packaged.text, "%s/%s", folder, name)) <
            sizeof packaged.text &&
        exists(packaged.text))
        return packaged;
    return path;
}

dbx_path dbx_data_where(void) {
    dbx_path where;
    const char *data = getenv("DBX_DATA");
    char folder[4096];
    if (data && *data)
        snprintf(where.text, sizeof where.text, "DBX_DATA=%.3000s", data);
    else if (package_folder(folder, sizeof folder))
        snprintf(where.text, sizeof where.text, "the working folder and %.3000s; DBX_DATA names another", folder);
    else
        snprintf(where.text, sizeof where.text, "the working folder; DBX_DATA names another");
    return where;
}

// A load_file failure that has been reported already.
static constexpr unsigned reported = ~0u;

// The whole of a regular file; otherwise lodepng's error code, or `reported`
// after a line naming a path that is not a regular file.
static unsigned load_file(const char *filename, std::vector<unsigned char> &bytes) {
    const char *kind = nullptr;
    std::string ignored;
    if (dbx_read_regular(filename, bytes, ignored, &kind)) return 0;
    if (!kind) return 78;  // lodepng's "failed to open file for reading"
    char text[320];
    snprintf(text, sizeof text, "\"%.256s\" is %s, not a regular file", filename, kind);
    dbx_platform_fatal("lodepng", text);
    return reported;
}

dbx_image_t *dbx_loadpng(const char *filename, const unsigned char *data, int datasize) {
    std::vector<unsigned char> file;
    unsigned char *pixels = nullptr;
    size_t size = static_cast<size_t>(datasize);
    unsigned width = 0, height = 0;
    unsigned error = 0;
    if (datasize == 0) {
        error = load_file(filename, file);
        data = file.data();
        size = file.size();
    } else if (datasize < 0) {
        error = 48;  // lodepng's "empty input buffer"
    }
    // The size comes from the header before anything is decoded: an image
    // larger than any texture is refused without allocating it.
    if (!error) {
        LodePNGState state;
        lodepng_state_init(&state);
        error = lodepng_inspect(&width, &height, &state, data, size);
        lodepng_state_cleanup(&state);
    }
    if (!error && (width > DBX_MAX_IMAGE_SIDE || height > DBX_MAX_IMAGE_SIDE)) {
        char text[96];
        snprintf(text, sizeof text, "the image is %ux%u pixels; at most %dx%d can be loaded", width, height,
                 DBX_MAX_IMAGE_SIDE, DBX_MAX_IMAGE_SIDE);
        dbx_platform_fatal("lodepng", text);
        return nullptr;
    }
    if (!error) error = lodepng_decode32(&pixels, &width, &height, data, size);
    if (error) {
        if (error != reported) dbx_platform_fatal("lodepng", lodepng_error_text(error));
        free(pixels);
        return nullptr;
    }
    size_t bytes = static_cast<size_t>(width) * height * 4;
    dbx_image_t *image = static_cast<dbx_image_t *>(malloc(sizeof(dbx_image_t) + bytes));
    if (!image) {
        free(pixels);
        return nullptr;
    }
    memcpy(dbx_image_pixels(image), pixels, bytes);
    free(pixels);
    image->width = width;
    image->height = height;
    return image;
}
