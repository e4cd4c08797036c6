// The tty that carries the system's console, and the operator's own terminal,
// are never opened as serial ports: reconfiguring the one would cut the
// machine's own console, the other would switch the operator's screen to raw
// 8N1 and send board commands to it.
#pragma once

#include <sys/types.h>

// Where the checks read the machine's console ttys and this process's
// controlling terminal. The unit tests point them at files of their own.
struct TerminalRecords {
    // The kernel's list of active console ttys (names under /dev, blank separated).
    const char* console_list = "/sys/class/tty/console/active";
    // This process's stat line; its seventh field (tty_nr) is the controlling terminal.
    const char* process_stat = "/proc/self/stat";
    // The foreground virtual terminal ("tty1"...), which carries the console
    // when the console list names tty0.
    const char* foreground_terminal = "/sys/class/tty/tty0/active";
};

// Replaces the records the checks read; nullptr goes back to the system's.
void use_terminal_records(const TerminalRecords* records);

// The number of the terminal open on `fd` as the kernel knows it (TIOCGDEV):
// a descriptor opened through /dev/tty or /dev/console shows 5:0 or 5:1 to
// fstat, not the terminal behind it. Falls back to fstat's number where the
// ioctl is refused (a device that is no tty); 0 when neither answers.
dev_t terminal_device_number(int fd);

// True when `device` (a st_rdev) is /dev/console or one of the console ttys;
// for tty0 in the list, the virtual terminal in the foreground as well.
bool is_system_console(dev_t device);

// True when `device` is the operator's own terminal: /dev/tty, the terminal on
// standard input, output or error, or the controlling terminal (which stays
// the operator's when all three streams are redirected).
bool is_operator_terminal(dev_t device);

// Either of the two: a device that must never be opened as a serial port.
bool is_reserved_terminal(dev_t device);
