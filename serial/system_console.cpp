#include "serial/system_console.h"

#include <cstdio>
#include <string>
#include <sys/stat.h>

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
