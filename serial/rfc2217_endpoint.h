// A port served over a stream socket that speaks RFC 2217 (Telnet
// COM-PORT-OPTION): data both ways, SET-CONTROL for RTS/DTR, NOTIFY-MODEMSTATE
// for CTS. One protocol client over either transport: a Unix-domain socket or
// TCP.
#pragma once

#include "serial/serial_endpoint.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

// Connects and negotiates, both within one second. 0 with `out` set; -13 when
// nobody serves the socket, the server does not answer in time or refuses
// BINARY; -2 when the server closes the connection before the negotiation
// completes (busy with another client); -103 for other OS errors (recorded
// for serial_error_text).
SerialStatus rfc2217_open(const std::string& socket_path, const SerialDefaults& defaults,
                          std::unique_ptr<SerialEndpoint>& out);
// The same over TCP to `host` (an address or a name) and `port`; a name that
// does not resolve or a refused connection is -13.
SerialStatus rfc2217_open_tcp(const std::string& host, uint16_t port,
                              const SerialDefaults& defaults, std::unique_ptr<SerialEndpoint>& out);
// The server a port file's `content` names, opened as rfc2217_open_tcp does;
// content that is not a port file is -10.
SerialStatus rfc2217_open_port_file(std::string_view content, const SerialDefaults& defaults,
                                    std::unique_ptr<SerialEndpoint>& out);
