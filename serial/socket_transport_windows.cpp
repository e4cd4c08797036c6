// The socket transport on Windows: non-blocking Winsock TCP sockets, connects
// bounded by select. There are no Unix-domain ports here (wine has none, and
// the port namespace names only comm devices and port files).
#include "serial/socket_transport.h"

#include "platform/clock.h"
#include "serial/serial_endpoint.h"

#include <climits>
#include <winsock2.h>
#include <ws2tcpip.h>

namespace {

SOCKET as_socket(SocketHandle socket) {
    return static_cast<SOCKET>(socket);
}

// Winsock once for the life of the process; false when it cannot start.
bool winsock_ready() {
    static const bool ready = [] {
        WSADATA data{};
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return ready;
}

timeval remaining_time(int64_t deadline_ms) {
    int64_t left = deadline_ms - monotonic_ms();
    if (left < 0) {
        left = 0;
    }
    timeval limit{};
    limit.tv_sec = static_cast<long>(left / 1000);
    limit.tv_usec = static_cast<long>(left % 1000 * 1000);
    return limit;
}

// Waits for a non-blocking connect to finish: 0 once connected, else the
// Winsock error it failed with (WSAETIMEDOUT when the deadline passed first).
int finish_connect(SOCKET fd, int64_t deadline_ms) {
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(fd, &writable);
    FD_SET(fd, &failed);
    timeval limit = remaining_time(deadline_ms);
    const int ready = select(0, nullptr, &writable, &failed, &limit);
    if (ready == SOCKET_ERROR) {
        return WSAGetLastError();
    }
    if (ready == 0) {
        return WSAETIMEDOUT;
    }
    int error_number = 0;
    int size = sizeof error_number;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error_number), &size) != 0) {
        return WSAGetLastError();
    }
    if (error_number == 0 && FD_ISSET(fd, &failed)) {
        return WSAECONNREFUSED;
    }
    return error_number;
}

} // namespace

SerialStatus socket_connect_unix(const std::string&, int64_t, SocketHandle&) {
    return -10;
}

SerialStatus socket_connect_tcp(const std::string& host, uint16_t port, int64_t deadline_ms,
                                SocketHandle& out) {
    if (!winsock_ready()) {
        serial_record_os_error(WSASYSNOTREADY);
        return -103;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0) {
        return -13; // no such name (or no answer about it): nobody to connect to
    }
    // The first address that accepts wins. Refusals and time-outs make -13
    // unless some address failed for another reason, which is then reported.
    SerialStatus status = -13;
    for (const addrinfo* address = found; address != nullptr; address = address->ai_next) {
        const SOCKET fd = socket(address->ai_family, address->ai_socktype, address->ai_protocol);
        if (fd == INVALID_SOCKET) {
            serial_record_os_error(WSAGetLastError());
            status = -103;
            continue;
        }
        u_long non_blocking = 1;
        int error_number = 0;
        if (ioctlsocket(fd, FIONBIO, &non_blocking) != 0) {
            error_number = WSAGetLastError();
        } else if (connect(fd, address->ai_addr, static_cast<int>(address->ai_addrlen)) != 0) {
            error_number = WSAGetLastError();
            if (error_number == WSAEWOULDBLOCK) {
                error_number = finish_connect(fd, deadline_ms);
            }
        }
        if (error_number == 0) {
            // Each RTS change is a few bytes that must leave at once.
            const BOOL on = TRUE;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
            freeaddrinfo(found);
            out = static_cast<SocketHandle>(fd);
            return 0;
        }
        closesocket(fd);
        if (error_number != WSAECONNREFUSED && error_number != WSAETIMEDOUT) {
            serial_record_os_error(error_number);
            status = -103;
        }
        if (deadline_ms - monotonic_ms() <= 0) {
            break;
        }
    }
    freeaddrinfo(found);
    return status;
}

long socket_send(SocketHandle socket, const uint8_t* data, size_t size) {
    const int chunk = size > INT_MAX ? INT_MAX : static_cast<int>(size);
    const int sent = send(as_socket(socket), reinterpret_cast<const char*>(data), chunk, 0);
    if (sent >= 0) {
        return sent == 0 && size > 0 ? SOCKET_WOULD_BLOCK : static_cast<long>(sent);
    }
    return WSAGetLastError() == WSAEWOULDBLOCK ? SOCKET_WOULD_BLOCK : SOCKET_LOST;
}

long socket_receive(SocketHandle socket, uint8_t* data, size_t size) {
    const int chunk = size > INT_MAX ? INT_MAX : static_cast<int>(size);
    const int got = recv(as_socket(socket), reinterpret_cast<char*>(data), chunk, 0);
    if (got > 0) {
        return static_cast<long>(got);
    }
    if (got == 0) {
        return SOCKET_LOST; // an orderly hang-up
    }
    return WSAGetLastError() == WSAEWOULDBLOCK ? SOCKET_WOULD_BLOCK : SOCKET_LOST;
}

size_t socket_bytes_waiting(SocketHandle socket) {
    u_long waiting = 0;
    if (ioctlsocket(as_socket(socket), FIONREAD, &waiting) != 0) {
        return 0;
    }
    return static_cast<size_t>(waiting);
}

void socket_wait(SocketHandle socket, bool for_sending, int64_t limit_us) {
    const SOCKET fd = as_socket(socket);
    fd_set readable;
    fd_set writable;
    fd_set failed;
    FD_ZERO(&readable);
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(fd, &readable);
    FD_SET(fd, &failed);
    if (for_sending) {
        FD_SET(fd, &writable);
    }
    timeval limit{};
    const int64_t wait_us = limit_us < 0 ? 0 : limit_us;
    limit.tv_sec = static_cast<long>(wait_us / 1000000);
    limit.tv_usec = static_cast<long>(wait_us % 1000000);
    select(0, &readable, for_sending ? &writable : nullptr, &failed, &limit);
}

void socket_close(SocketHandle socket) {
    if (socket != NO_SOCKET) {
        closesocket(as_socket(socket));
    }
}
