// Listening sockets and accepted connections: a Unix-domain socket (the file
// a port directory holds) and, optionally, loopback TCP for outside tools.
#pragma once

#include <cstdint>
#include <string>

// A listening Unix-domain socket at `path`; a stale socket file left by a
// dead server is replaced, a live one or any other file is an error.
// The descriptor, or -1 with a message in `error`.
int listen_unix(const std::string& path, std::string& error);

// The address a --tcp host names when it is a loopback one: "127.x.y.z"
// as it is, "[::1]" as "::1", "localhost" as "127.0.0.1" (never looked up).
// Empty for any other host: the board is served to this machine only.
std::string loopback_address(const std::string& host);

// A listening TCP socket at a loopback `address` (IPv4 or IPv6, as
// loopback_address gives it); `bound_port` receives the real port (port 0
// picks one).
int listen_tcp(const std::string& address, uint16_t port, uint16_t& bound_port, std::string& error);

// Accepts one pending connection, non-blocking, with TCP_NODELAY on TCP; -1 when none.
int accept_connection(int listen_fd);
