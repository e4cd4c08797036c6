// A port on a Linux tty device (a UART, a USB serial adapter, a pseudo-terminal),
// driven through termios and the modem-line ioctls.
#pragma once

#include "serial/serial_endpoint.h"

#include <memory>
#include <string>

// Opens the tty at `path` as a serial port: exclusive (flock and TIOCEXCL), the
// driver's low-latency flag on where it takes it, raw, no flow control, framing
// and DTR/RTS from `defaults`; the bit rate is left as the device has it until
// set_baud.
// 0 with `out` set, or:
//   -2   another process holds the port (lock taken, or busy with TIOCEXCL), or
//        the descriptor leads to the system console or the operator's terminal
//   -10  no usable port: no UART behind a legacy ttyS node, no driver behind the
//        node, or a character device that is not a terminal
//   -103 any other OS error, permission denied included (recorded for serial_error_text)
// Closing the port discards pending output, gives back the low-latency flag and
// the settings found at open, and unlocks it; the ending signals do the same
// for the port opened first.
SerialStatus tty_open(const std::string& path, const SerialDefaults& defaults,
                      std::unique_ptr<SerialEndpoint>& out);

struct serial_struct;

// The device calls behind tty_open that the unit tests replace: a pseudo-
// terminal has no serial info to show the low-latency flag, and a link cannot
// be swapped between the path check and the open on cue. Each returns what
// the system call does (-1 with errno set on failure).
struct TtyDeviceCalls {
    int (*open_device)(const char* path, int flags);
    int (*get_serial)(int fd, serial_struct* info);       // TIOCGSERIAL
    int (*set_serial)(int fd, const serial_struct* info); // TIOCSSERIAL
};

// Replaces the device calls; nullptr goes back to the system's.
void tty_use_device_calls(const TtyDeviceCalls* calls);
