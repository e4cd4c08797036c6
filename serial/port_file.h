// A port file: a COM number served by an RFC 2217 server on the network,
// written in the port directory as port<n>.rfc2217 holding one line
//   rfc2217://HOST:PORT
// HOST an IPv4 address, an IPv6 address in brackets, or a host name; PORT
// 1..65535; one line end (LF or CR LF) may follow; 256 bytes at most.
#pragma once

#include "serial/serial_service.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The longest port file read.
constexpr size_t PORT_FILE_MAX_SIZE = 256;

struct PortFileTarget {
    std::string host; // without the brackets of an IPv6 address
    uint16_t port = 0;
};

// 0 with `out` set when `content` is a port file as above; -10 (no port) for
// anything else.
SerialStatus parse_port_file(std::string_view content, PortFileTarget& out);
