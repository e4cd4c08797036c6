#include "serial/system_console.h"

#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

bool names_device(const std::string& path, dev_t device) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 && S_ISCHR(status.st_mode) && status.st_rdev == device;
}

} // namespace

bool is_system_console(dev_t device, const char* list_path) {
    if (names_device("/dev/console", device)) {
        return true;
    }
    std::FILE* list = std::fopen(list_path, "re");
    if (list == nullptr) {
        return false;
    }
    bool found = false;
    char name[64];
    // Each name is a path under /dev ("ttyS0", "tty0", "pts/3").
    while (!found && std::fscanf(list, "%63s", name) == 1) {
        found = names_device(std::string("/dev/") + name, device);
    }
    std::fclose(list);
    return found;
}

bool is_operator_terminal(dev_t device) {
    // /dev/tty (major 5, minor 0) always stands for the controlling terminal.
    if (device == makedev(5, 0)) {
        return true;
    }
    for (int descriptor = 0; descriptor <= 2; ++descriptor) {
        struct stat status {};
        if (fstat(descriptor, &status) == 0 && S_ISCHR(status.st_mode) &&
            status.st_rdev == device && isatty(descriptor)) {
            return true;
        }
    }
    return false;
}
