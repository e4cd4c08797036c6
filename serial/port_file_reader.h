// Reading the port file that may serve a COM number (port_file.h), the same
// way on every system; the calls that touch the file system are the system's
// own (port_file_access.h).
#pragma once

#include "serial/serial_endpoint.h"

#include <memory>
#include <string>

// Reads the port file at `path` whole. Nothing but a regular file is ever
// opened: a link there to a terminal, a FIFO or a directory is refused
// unopened. 0 with `content` set; -10 (no port) when there is no such entry,
// it is not a regular file, or it is longer than a port file can be; -103 with
// the system's reason recorded when it cannot be read, access denied included.
SerialStatus read_port_file(const std::string& path, std::string& content);

// Opens the RFC 2217 endpoint that the port file at `path` names. 0 with
// `out` set, or a negative SerialStatus as read_port_file and
// rfc2217_open_port_file give.
SerialStatus open_port_file(const std::string& path, const SerialDefaults& defaults,
                            std::unique_ptr<SerialEndpoint>& out);
