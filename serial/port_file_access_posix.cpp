// Port file access on Linux; see port_file_access.h.
//
// The entry is first opened with O_PATH, which reaches the inode without
// calling any driver: a link to a terminal opens no terminal (DTR and RTS stay
// as they are, the board behind it is not reset), a FIFO does not block.
// Only when that inode is a regular file is it opened for reading, through
// /proc/self/fd (the very inode, whatever the entry names by then), or by
// name where /proc is not mounted; the file read is then checked to be the
// one whose type was known (device and inode).
#include "serial/port_file_access.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool same_file(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

int open_for_reading(int path_fd, const std::string& path) {
    constexpr int FLAGS = O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
    const std::string by_descriptor = "/proc/self/fd/" + std::to_string(path_fd);
    const int fd = open(by_descriptor.c_str(), FLAGS);
    if (fd >= 0 || errno != ENOENT) {
        return fd;
    }
    return open(path.c_str(), FLAGS);
}

} // namespace

PortFileOpen port_file_open(const std::string& path, PortFileHandle& handle, int& os_error) {
    const int path_fd = open(path.c_str(), O_PATH | O_CLOEXEC);
    if (path_fd < 0) {
        os_error = errno;
        // No entry, a link to nowhere or a link loop: no port file there.
        return os_error == ENOENT || os_error == ENOTDIR || os_error == ELOOP
                   ? PortFileOpen::no_port
                   : PortFileOpen::failed;
    }
    struct stat known {};
    if (fstat(path_fd, &known) != 0) {
        os_error = errno;
        close(path_fd);
        return PortFileOpen::failed;
    }
    if (!S_ISREG(known.st_mode)) {
        close(path_fd);
        return PortFileOpen::no_port;
    }
    const int fd = open_for_reading(path_fd, path);
    os_error = errno;
    close(path_fd);
    if (fd < 0) {
        return os_error == ENOENT || os_error == ENOTDIR ? PortFileOpen::no_port
                                                         : PortFileOpen::failed;
    }
    struct stat opened {};
    if (fstat(fd, &opened) != 0 || !same_file(known, opened)) {
        close(fd);
        return PortFileOpen::no_port; // replaced between the look and the open
    }
    handle.value = fd;
    return PortFileOpen::opened;
}

long port_file_read(PortFileHandle handle, char* buffer, size_t size, int& os_error) {
    for (;;) {
        const ssize_t got = read(static_cast<int>(handle.value), buffer, size);
        if (got >= 0) {
            return static_cast<long>(got);
        }
        if (errno != EINTR) {
            os_error = errno;
            return -1;
        }
    }
}

void port_file_close(PortFileHandle handle) {
    close(static_cast<int>(handle.value));
}
