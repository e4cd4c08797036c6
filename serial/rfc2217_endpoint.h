// A port served over a Unix-domain socket that speaks RFC 2217 (Telnet
// COM-PORT-OPTION): data both ways, SET-CONTROL for RTS/DTR, NOTIFY-MODEMSTATE for CTS.
#pragma once

#include "serial/serial_endpoint.h"

#include <memory>
#include <string>

// Connects and negotiates. 0 with `out` set; -13 when nobody serves the socket
// or the server does not answer in time; -2 when the server closes the
// connection before the negotiation completes (busy with another client);
// -103 for other OS errors (recorded for serial_error_text).
SerialStatus rfc2217_open(const std::string& socket_path, const SerialDefaults& defaults,
                          std::unique_ptr<SerialEndpoint>& out);
