#include "serial/system_console.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

const TerminalRecords SYSTEM_RECORDS{};
const TerminalRecords* records = &SYSTEM_RECORDS;

bool names_device(const std::string& path, dev_t device) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 && S_ISCHR(status.st_mode) && status.st_rdev == device;
}

// The kernel's 32-bit device encoding (TIOCGDEV, tty_nr) as a dev_t.
dev_t from_kernel_number(unsigned long number) {
    const dev_t wide = static_cast<dev_t>(number);
    return makedev(major(wide), minor(wide));
}

// The controlling terminal from the stat line (0: none); false when the line
// cannot be read. The command name in parentheses may hold blanks and
// parentheses itself: the fields are counted from the last ')'.
bool controlling_terminal_from_stat(const char* path, dev_t& terminal) {
    terminal = 0;
    std::FILE* stream = std::fopen(path, "re");
    if (stream == nullptr) {
        return false;
    }
    char line[1024];
    const size_t length = std::fread(line, 1, sizeof line - 1, stream);
    std::fclose(stream);
    line[length] = '\0';
    const char* end_of_name = std::strrchr(line, ')');
    // After the name: state, ppid, pgrp, session, tty_nr.
    long tty_nr = 0;
    if (end_of_name != nullptr &&
        std::sscanf(end_of_name + 1, " %*c %*d %*d %*d %ld", &tty_nr) == 1 && tty_nr != 0) {
        // Printed as a signed int: large minor numbers come out negative.
        terminal = from_kernel_number(static_cast<unsigned int>(tty_nr));
    }
    return true;
}

// Without the stat line: /dev/tty opened without becoming anything's
// controlling terminal, asked for the terminal behind it.
dev_t controlling_terminal_from_dev_tty() {
    const int fd = open("/dev/tty", O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return 0; // no controlling terminal
    }
    unsigned int number = 0;
    const bool known = ioctl(fd, TIOCGDEV, &number) == 0;
    close(fd);
    return known ? from_kernel_number(number) : 0;
}

// The controlling terminal's number, 0 when the process has none.
dev_t controlling_terminal() {
    dev_t terminal = 0;
    if (controlling_terminal_from_stat(records->process_stat, terminal)) {
        return terminal;
    }
    return controlling_terminal_from_dev_tty();
}

// True when the list at `path` (names under /dev, blank separated: "ttyS0",
// "tty0", "pts/3") names `device`. tty0 stands for the virtual terminal in
// the foreground, named in the foreground record, when `follow_tty0` is set.
bool listed_terminal(const char* path, dev_t device, bool follow_tty0) {
    std::FILE* list = std::fopen(path, "re");
    if (list == nullptr) {
        return false;
    }
    bool found = false;
    char name[64];
    while (!found && std::fscanf(list, "%63s", name) == 1) {
        found = names_device(std::string("/dev/") + name, device) ||
                (follow_tty0 && std::strcmp(name, "tty0") == 0 &&
                 listed_terminal(records->foreground_terminal, device, false));
    }
    std::fclose(list);
    return found;
}

} // namespace

void use_terminal_records(const TerminalRecords* replacement) {
    records = replacement != nullptr ? replacement : &SYSTEM_RECORDS;
}

dev_t terminal_device_number(int fd) {
    unsigned int number = 0;
    if (ioctl(fd, TIOCGDEV, &number) == 0) {
        return from_kernel_number(number);
    }
    struct stat status {};
    return fstat(fd, &status) == 0 && S_ISCHR(status.st_mode) ? status.st_rdev : 0;
}

bool is_system_console(dev_t device) {
    if (names_device("/dev/console", device)) {
        return true;
    }
    return listed_terminal(records->console_list, device, true);
}

bool is_operator_terminal(dev_t device) {
    // /dev/tty (major 5, minor 0) always stands for the controlling terminal.
    if (device == makedev(5, 0)) {
        return true;
    }
    for (int descriptor = 0; descriptor <= 2; ++descriptor) {
        if (!isatty(descriptor)) {
            continue;
        }
        struct stat status {};
        if ((fstat(descriptor, &status) == 0 && status.st_rdev == device) ||
            terminal_device_number(descriptor) == device) {
            return true;
        }
    }
    const dev_t terminal = controlling_terminal();
    return terminal != 0 && device == terminal;
}

bool is_reserved_terminal(dev_t device) {
    return device != 0 && (is_system_console(device) || is_operator_terminal(device));
}
