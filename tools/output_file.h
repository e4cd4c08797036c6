// The output: a file opened for append (created when missing) or standard
// output. Each record goes out whole through write_all.
#pragma once

#include <string>
#include <string_view>

struct OutputFile {
    int fd = -1;
    bool is_stdout = true;
    bool empty = true; // nothing in it yet (a new or empty file, or a pipe/terminal)
};

// Opens `path` for append, or standard output when `path` is empty; false
// with `error` saying what went wrong.
bool output_open(const std::string& path, OutputFile& output, std::string& error);

// Writes all of `data` (looping over short writes); false with the system's
// reason in `error`.
bool output_write_all(OutputFile& output, std::string_view data, std::string& error);

void output_close(OutputFile& output);

// Whether standard error is a terminal (the progress line goes only there).
bool stderr_is_terminal();
