#include "tools/output_file.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

bool output_open(const std::string& path, OutputFile& output, std::string& error) {
    if (path.empty()) {
        output.fd = _fileno(stdout);
        output.is_stdout = true;
        // Records end in "\n" alone, on every system.
        _setmode(output.fd, _O_BINARY);
        struct _stat64 info {};
        output.empty = !(_fstat64(output.fd, &info) == 0 && (info.st_mode & _S_IFREG) != 0 &&
                         info.st_size > 0);
        return true;
    }
    const int fd = _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_APPEND | _O_BINARY | _O_NOINHERIT,
                         _S_IREAD | _S_IWRITE);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    struct _stat64 info {};
    if (_fstat64(fd, &info) != 0) {
        error = std::strerror(errno);
        _close(fd);
        return false;
    }
    output.fd = fd;
    output.is_stdout = false;
    output.empty = !((info.st_mode & _S_IFREG) != 0 && info.st_size > 0);
    return true;
}

bool output_write_all(OutputFile& output, std::string_view data, std::string& error) {
    size_t done = 0;
    while (done < data.size()) {
        const size_t chunk = std::min<size_t>(data.size() - done, INT_MAX / 2);
        const int written = _write(output.fd, data.data() + done, static_cast<unsigned>(chunk));
        if (written < 0) {
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
        _close(output.fd);
    }
    output.fd = -1;
}

bool stderr_is_terminal() {
    return _isatty(_fileno(stderr)) != 0;
}
