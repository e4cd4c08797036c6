// The system calls under read_port_file (port_file_reader.h): a regular file
// opened for reading, and nothing else ever opened.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

enum class PortFileOpen {
    opened,  // `handle` set
    no_port, // no entry, or one that is not a regular file
    failed,  // `os_error` set (access denied among others)
};

// An open port file: a descriptor on Linux, a HANDLE on Windows.
struct PortFileHandle {
    intptr_t value = -1;
};

// Opens the regular file at `path` (UTF-8) for reading. The entry's type is
// known before anything is opened for reading, and the file opened is checked
// to be the one whose type was known.
PortFileOpen port_file_open(const std::string& path, PortFileHandle& handle, int& os_error);
// Bytes read into `buffer`, 0 at the end of the file, or -1 with `os_error`
// set.
long port_file_read(PortFileHandle handle, char* buffer, size_t size, int& os_error);
void port_file_close(PortFileHandle handle);
