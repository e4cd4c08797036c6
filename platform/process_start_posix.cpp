// Start-up on POSIX systems: the three standard streams are held open.
#include "platform/process_start.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

void platform_process_start() {
    // A standard stream that the caller closed would lend its descriptor number to
    // the serial port opened later: the board would then get the console text, or
    // its bytes would be read as keys. Each closed one is held open on /dev/null
    // (read as an end of input, written to nowhere).
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            // The lower numbers are open by now, so open() takes this one.
            open("/dev/null", O_RDWR);
        }
    }
}
