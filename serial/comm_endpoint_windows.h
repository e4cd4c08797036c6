// A port on a Windows comm device (\\.\COMn, or a comm file named in the port
// directory), driven through the Win32 comm functions.
#pragma once

#include "serial/serial_endpoint.h"

#include <cstdint>
#include <memory>
#include <string>
#include <windows.h>

// Opens the comm device at `path` (a Windows path) without sharing, queues of
// 1024 bytes, raw 8N1 (framing and DTR/RTS from `defaults`), no flow control.
// The bit rate is left as the device has it until set_baud. 0 with `out` set,
// or a negative SerialStatus (see comm_open_status and serial_service.h).
// `entry_attributes` are those of the port directory entry that `path` names
// (comm_entry_open_status), INVALID_FILE_ATTRIBUTES for a Windows port.
SerialStatus comm_open(const std::wstring& path, const SerialDefaults& defaults,
                       std::unique_ptr<SerialEndpoint>& out,
                       DWORD entry_attributes = INVALID_FILE_ATTRIBUTES);

// The SerialStatus for a failed CreateFile of a comm device (GetLastError):
//   2, 3 (no such device or path)                -> -10
//   5, 32 (access denied, in use elsewhere)      -> -2
//   21, 31, 121, 1167 (not ready, not working,
//   timed out, not connected)                     -> -13
//   anything else                                 -> -103, recorded
SerialStatus comm_open_status(DWORD error);

// The same for an entry of the port directory with the given attributes: a
// read-only file refuses a read-write open (5) before it could be seen not to
// be a comm device, and is no port (-10), not a port in use.
SerialStatus comm_entry_open_status(DWORD error, DWORD attributes);

// True when a comm call's error means the device went away while open (it
// then reads as no data and CTS not asserted): 6, 21, 22, 31, 995, 1167.
bool comm_error_is_lost_device(DWORD error);

// The SerialStatus for a failed write: 121 (the semaphore time-out, which some
// USB-serial drivers give for a write that found no room in time) is -107, as
// for any byte that found none, and leaves the port working; anything else is
// -103, recorded.
SerialStatus comm_write_status(DWORD error);

// The device control block the port runs with: `current` with binary mode,
// the framing of `defaults`, DTR and RTS from `defaults`, and every kind of
// flow control, DSR sensitivity and abort-on-error off.
DCB comm_port_settings(const DCB& current, const SerialDefaults& defaults);

// Reads return at once with what is there; a write waits at most 2 s for room.
COMMTIMEOUTS comm_port_timeouts();
// The time-outs of a receive wait: a one-byte read returns with the first byte
// that arrives, at once if one is waiting, or after `limit_ms` without one.
COMMTIMEOUTS comm_wait_timeouts(DWORD limit_ms);
// A wait of `microseconds` in whole milliseconds, rounded up so it never ends
// early; at least 1 (a constant of 0 would not wait) and below MAXDWORD (with
// both other fields MAXDWORD, that value has a meaning of its own).
DWORD comm_wait_ms(int64_t microseconds);
constexpr DWORD COMM_WRITE_TIMEOUT_MS = 2000;
constexpr DWORD COMM_QUEUE_SIZE = 1024;
