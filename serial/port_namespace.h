// COM numbers to endpoints. COM n (PortIndex n-1) is $ZORVIDLK_PORT_DIR/COM<n>
// when that variable is set, or else the port file
// $ZORVIDLK_PORT_DIR/port<n>.rfc2217 (see port_file.h); without the variable, a
// fixed table of Linux device nodes.
#pragma once

#include "serial/serial_endpoint.h"

#include <memory>
#include <string>

// The path that a PortIndex names, or "" when the index names no device.
std::string port_path(PortIndex port);
// The port file that may serve a PortIndex, or "" without a port directory.
std::string port_file_path(PortIndex port);

// Opens the endpoint behind a PortIndex with the given defaults.
// 0 with `out` set, or a negative SerialStatus (see serial_service.h).
SerialStatus open_endpoint(PortIndex port, const SerialDefaults& defaults,
                           std::unique_ptr<SerialEndpoint>& out);

// Opens a port named directly rather than by a COM number: `rfc2217://HOST:PORT`
// (an RFC 2217 server on the network), or a path to the device itself (a
// tty or a Unix-domain socket on Linux, `\\.\COM12` on Windows). The same
// checks and results as open_endpoint: -10 for a name that leads to no port.
SerialStatus open_named_endpoint(const std::string& name, const SerialDefaults& defaults,
                                 std::unique_ptr<SerialEndpoint>& out);
