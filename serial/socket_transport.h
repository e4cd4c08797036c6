// The byte stream under an RFC 2217 port: a connected stream socket, reached
// by a Unix-domain path or by TCP. Plain functions on a plain handle, no OS
// header here, so the protocol above stays the same on every system; each
// system implements this header in a socket_transport_<system>.cpp of its own.
#pragma once

#include "serial/serial_service.h"

#include <cstddef>
#include <cstdint>
#include <string>

// An open connection; NO_SOCKET for none. Wide enough for any system's handle.
using SocketHandle = intptr_t;
constexpr SocketHandle NO_SOCKET = -1;

// Connects to a Unix-domain socket, waiting no later than `deadline_ms`
// (monotonic_ms). 0 with `out` set; -13 when nobody serves the path (no such
// file, refused, backlog full) or the deadline passes; -103 for other OS
// errors (recorded for serial_error_text). Systems without Unix-domain
// sockets answer -10.
SerialStatus socket_connect_unix(const std::string& path, int64_t deadline_ms, SocketHandle& out);

// Resolves `host` (an IPv4 or IPv6 address, or a name) and connects by TCP
// with TCP_NODELAY, trying each address until one answers or the deadline
// passes. 0 with `out` set; -13 when the name does not resolve, every address
// refuses, or the deadline passes; -103 for other OS errors (recorded).
SerialStatus socket_connect_tcp(const std::string& host, uint16_t port, int64_t deadline_ms,
                                SocketHandle& out);

// The results of socket_send and socket_receive besides a count of bytes.
constexpr long SOCKET_WOULD_BLOCK = 0;
constexpr long SOCKET_LOST = -1; // the peer hung up, or the connection failed

// Sends what the socket takes now, never waiting: the count taken,
// SOCKET_WOULD_BLOCK, or SOCKET_LOST. Never raises a signal.
long socket_send(SocketHandle socket, const uint8_t* data, size_t size);
// Receives what is waiting, never waiting: the count read (at most `size`),
// SOCKET_WOULD_BLOCK when nothing is waiting, or SOCKET_LOST.
long socket_receive(SocketHandle socket, uint8_t* data, size_t size);
// Bytes received and not read yet (0 when unknown).
size_t socket_bytes_waiting(SocketHandle socket);
// Waits up to `limit_us` microseconds for input (or for room to send too, when
// `for_sending`), or for the connection to end.
void socket_wait(SocketHandle socket, bool for_sending, int64_t limit_us);
void socket_close(SocketHandle socket);
