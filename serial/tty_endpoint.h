// A port on a Linux tty device (a UART, a USB serial adapter, a pseudo-terminal),
// driven through termios and the modem-line ioctls.
#pragma once

#include "serial/serial_endpoint.h"

#include <memory>
#include <string>

// Opens the tty at `path` as a serial port: exclusive (flock and TIOCEXCL), raw,
// no flow control, framing and DTR/RTS from `defaults`; the bit rate is left as
// the device has it until set_baud.
// 0 with `out` set, or:
//   -2   another process holds the port (lock taken, or busy with TIOCEXCL)
//   -10  no usable port: no UART behind a legacy ttyS node, no driver behind the
//        node, or a character device that is not a terminal
//   -103 any other OS error, permission denied included (recorded for serial_error_text)
SerialStatus tty_open(const std::string& path, const SerialDefaults& defaults,
                      std::unique_ptr<SerialEndpoint>& out);
