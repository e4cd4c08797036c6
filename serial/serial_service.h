// The serial port service: fourteen operations on ports addressed by PortIndex.
//
// Return codes (SerialStatus): 0 or more is success; negative values are errors.
//   -1   invalid COM port (PortIndex outside 0..255 where a real port is needed)
//   -2   port already open (by this process or another), or busy with another client
//   -3   cannot open the port
//   -5   error in default parameters
//   -10  no usable port at this COM number (no device, or no UART behind the node)
//   -11  unsupported byte size
//   -12  unsupported baud rate (baud 0 included)
//   -13  the port exists but cannot be enabled (dangling link, socket nobody serves)
//   -101 parameter out of range
//   -103 operating-system error: serial_error_text() gives its text
// Every operation but serial_wait_rx returns at once; waiting and time-outs
// belong to the callers.
#pragma once

#include <cstddef>
#include <cstdint>

using PortIndex = int;    // COM number minus one, 0..255; -1 addresses the defaults
using SerialStatus = int; // negative: error code as listed above

constexpr int SERIAL_PORT_COUNT = 256;

// Version word of the service: major = word >> 8, minor = bits 4-7, patch = bits 0-3.
constexpr int SERIAL_SERVICE_VERSION = (1 << 8) | (0 << 4) | 0;
constexpr int SERIAL_SERVICE_BUILD = 1;

SerialStatus serial_reset(PortIndex port, int rx_queue_or_dtr, int tx_queue_or_rts);
SerialStatus serial_set_params(PortIndex port, int parity, int stop_bits, int data_bits);
SerialStatus serial_set_baud(PortIndex port, long rate);
SerialStatus serial_close(PortIndex port);
SerialStatus serial_info(int selector);
SerialStatus serial_info_text(char* buffer, int size);
SerialStatus serial_error_text(char* buffer, int size);
SerialStatus serial_put_byte(PortIndex port, int byte);
SerialStatus serial_tx_count(PortIndex port);
SerialStatus serial_rx_count(PortIndex port);
SerialStatus serial_get_byte(PortIndex port);
// Blocks up to `microseconds` until a received byte is waiting: 1 then, 0 when
// the time passed without one or the port can deliver none (a device that went
// away, a peer that hung up), negative as listed above. The byte is taken with
// serial_get_byte.
SerialStatus serial_wait_rx(PortIndex port, int64_t microseconds);
SerialStatus serial_rx_clear(PortIndex port);
SerialStatus serial_cts(PortIndex port);
SerialStatus serial_rts(PortIndex port, int command);
