// The program's files, for the engine, the intro, the editor, the capture
// and the asset tools alike; it needs nothing of the engine. An input file is
// opened only if it is a regular file. A write
// goes to a temporary file beside the target that is then renamed over it,
// so the target is either the old file or the whole new one, and a failed
// write leaves no temporary file behind. A target that exists and is not a
// regular file is never replaced: a character device or a FIFO is written
// as a stream, anything else is refused. Messages name the path on one line.
#ifndef DBX_FILES_FILE_IO_H
#define DBX_FILES_FILE_IO_H

#include <sys/stat.h>

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

// ---------------------------------------------------------------- reading

// What a file of this mode is in words ("a directory", "a character device",
// "a FIFO", ...), or "" for a regular file.
const char *dbx_file_kind(mode_t mode);

// Opens an input file for reading only if it is a regular file (declared for
// the engine's users in drawboxlib.h, which says what it returns).
FILE *dbx_open_regular(const char *path, const char **kind);

// The whole of an input file, read only if it is a regular file (through
// dbx_open_regular); false with the reason in `err` ("cannot open "PATH":
// it is a FIFO", ...) and *kind, when given, set as dbx_open_regular sets it;
// errno then says why a file that is not there could not be opened.
bool dbx_read_regular(const char *path, std::vector<unsigned char> &bytes, std::string &err,
                      const char **kind = nullptr);

// The whole file into `bytes`; false with the reason in `err`.
bool tool_read_file(const std::string &path, std::vector<unsigned char> &bytes, std::string &err);

// ---------------------------------------------------------------- what a target is

// What kind of thing is at `path`: "" for nothing yet or a regular file,
// otherwise its kind in words ("a directory", "a character device", ...).
// `info_out`, when given, receives what stat says of it.
const char *tool_special_kind(const std::string &path, struct stat *info_out = nullptr);

// Written as a stream rather than replaced: character devices and FIFOs.
bool tool_is_stream(const std::string &path);

// Whether two paths name the same file, one that does not exist yet
// included (the same name in the same folder).
bool tool_same_file(const std::string &a, const std::string &b);

// Why these outputs cannot be written by a run that reads `inputs`, or ""
// when they can: an output that is one of the inputs, or two outputs that
// are the same file. Devices and FIFOs may be named more than once (two
// streams into /dev/null lose nothing).
std::string tool_output_clash(const std::vector<std::string> &outputs, const std::vector<std::string> &inputs);

// ---------------------------------------------------------------- writing

struct tool_output {
    std::string path;
    const void *data;
    size_t size;
};

// Writes every output or none: the files are made under temporary names
// (PATH + tag + ".XXXXXX") first, the streams are written next, and only
// then are the files renamed into place, in the order given. A failed
// stream leaves every file as it was; should a rename fail, the files
// renamed before it are put back as they were (their old bytes again, or
// removed when this call made them). Inputs of the run are never
// overwritten (see tool_output_clash). false with the reason in `err`.
bool tool_write_files(const std::vector<tool_output> &outputs, const std::vector<std::string> &inputs,
                      std::string &err, const std::string &tag = "");

// The rename the writer puts its files in place with (rename(2)); a test
// points it elsewhere to make a rename fail, or the process die, midway.
extern int (*tool_rename)(const char *from, const char *to);

bool tool_write_file(const std::string &path, const void *data, size_t size, std::string &err,
                     const std::vector<std::string> &inputs = {});

#endif
