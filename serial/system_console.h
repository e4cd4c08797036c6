// The tty that carries the system's console is never opened as a serial port:
// reconfiguring it would cut the machine's own console.
#pragma once

#include <sys/types.h>

// The kernel's list of active console ttys (names under /dev, blank separated).
constexpr const char* CONSOLE_LIST_PATH = "/sys/class/tty/console/active";

// True when `device` (a st_rdev) is /dev/console or one of the ttys named in the
// console list at `list_path`.
bool is_system_console(dev_t device, const char* list_path = CONSOLE_LIST_PATH);

// True when `device` is the operator's own terminal: /dev/tty, or the tty on
// standard input, output or error. Taking it as a serial port would switch
// the operator's terminal to raw 8N1 and send board commands to the screen.
bool is_operator_terminal(dev_t device);
