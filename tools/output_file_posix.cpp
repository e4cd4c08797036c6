#include "tools/output_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool output_open(const std::string& path, OutputFile& output, std::string& error) {
    if (path.empty()) {
        output.fd = STDOUT_FILENO;
        output.is_stdout = true;
        struct stat info {};
        // A regular file behind ">>" already holding something gets no second header.
        output.empty = !(fstat(output.fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0);
        return true;
    }
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        error = std::strerror(errno);
        close(fd);
        return false;
    }
    if (S_ISDIR(info.st_mode)) {
        error = "it is a directory";
        close(fd);
        return false;
    }
    output.fd = fd;
    output.is_stdout = false;
    output.empty = !(S_ISREG(info.st_mode) && info.st_size > 0);
    return true;
}

bool output_write_all(OutputFile& output, std::string_view data, std::string& error) {
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t written = write(output.fd, data.data() + done, data.size() - done);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            error = std::strerror(errno);
            return false;
        }
        if (written == 0) {
            error = "the system wrote nothing";
            return false;
        }
        done += static_cast<size_t>(written);
    }
    output.empty = false;
    return true;
}

void output_close(OutputFile& output) {
    if (!output.is_stdout && output.fd >= 0) {
        close(output.fd);
    }
    output.fd = -1;
}

bool stderr_is_terminal() {
    return isatty(STDERR_FILENO) == 1;
}
