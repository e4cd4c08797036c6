// The tty that carries the system's console is never opened as a serial port:
// reconfiguring it would cut the machine's own console.
#pragma once

#include <sys/types.h>

// The kernel's list of active console ttys (names under /dev, blank separated).
constexpr const char* CONSOLE_LIST_PATH = "/sys/class/tty/console/active";

// True when `device` (a st_rdev) is /dev/console or one of the ttys named in the
// console list at `list_path`.
bool is_system_console(dev_t device, const char* list_path = CONSOLE_LIST_PATH);
