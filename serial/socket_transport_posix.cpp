// The socket transport on POSIX systems: non-blocking stream sockets, connects
// bounded by poll, sends that never raise SIGPIPE.
#include "serial/socket_transport.h"

#include "platform/clock.h"
#include "serial/serial_endpoint.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

namespace {

int as_fd(SocketHandle socket) {
    return static_cast<int>(socket);
}

int remaining_ms(int64_t deadline_ms) {
    const int64_t left = deadline_ms - monotonic_ms();
    if (left <= 0) {
        return 0;
    }
    return left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

// Waits for a non-blocking connect to finish: 0 once connected, else the errno
// value it failed with (ETIMEDOUT when the deadline passed first).
int finish_connect(int fd, int64_t deadline_ms) {
    for (;;) {
        pollfd watch{fd, POLLOUT, 0};
        const int ready = poll(&watch, 1, remaining_ms(deadline_ms));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready < 0) {
            return errno;
        }
        if (ready == 0) {
            return ETIMEDOUT;
        }
        int error_number = 0;
        socklen_t size = sizeof error_number;
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error_number, &size) != 0) {
            return errno;
        }
        return error_number;
    }
}

} // namespace

SerialStatus socket_connect_unix(const std::string& path, int64_t deadline_ms, SocketHandle& out) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        // A Unix socket address holds at most 107 bytes of path.
        serial_record_os_error(path.empty() ? EINVAL : ENAMETOOLONG);
        return -103;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        serial_record_os_error(errno);
        return -103;
    }
    int error_number = 0;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        error_number = errno == EINPROGRESS ? finish_connect(fd, deadline_ms) : errno;
    }
    switch (error_number) {
    case 0:
        out = fd;
        return 0;
    case ECONNREFUSED: // a socket file nobody serves
    case ENOENT:
    case EAGAIN: // the server does not take connections
    case ETIMEDOUT:
        close(fd);
        return -13;
    default:
        close(fd);
        serial_record_os_error(error_number);
        return -103;
    }
}

SerialStatus socket_connect_tcp(const std::string& host, uint16_t port, int64_t deadline_ms,
                                SocketHandle& out) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    const int resolved = getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    if (resolved != 0) {
        if (resolved == EAI_SYSTEM && errno != 0) {
            serial_record_os_error(errno);
            return -103;
        }
        return -13; // no such name (or no answer about it): nobody to connect to
    }
    // The first address that accepts wins. Refusals and time-outs make -13
    // unless some address failed for another reason, which is then reported.
    SerialStatus status = -13;
    for (const addrinfo* address = found; address != nullptr; address = address->ai_next) {
        const int fd =
            socket(address->ai_family, address->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                   address->ai_protocol);
        if (fd < 0) {
            serial_record_os_error(errno);
            status = -103;
            continue;
        }
        int error_number = 0;
        if (connect(fd, address->ai_addr, address->ai_addrlen) != 0) {
            error_number = errno == EINPROGRESS ? finish_connect(fd, deadline_ms) : errno;
        }
        if (error_number == 0) {
            // Each RTS change is a few bytes that must leave at once.
            const int on = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            freeaddrinfo(found);
            out = fd;
            return 0;
        }
        close(fd);
        if (error_number != ECONNREFUSED && error_number != ETIMEDOUT) {
            serial_record_os_error(error_number);
            status = -103;
        }
        if (remaining_ms(deadline_ms) == 0) {
            break;
        }
    }
    freeaddrinfo(found);
    return status;
}

long socket_send(SocketHandle socket, const uint8_t* data, size_t size) {
    for (;;) {
        const ssize_t sent = send(as_fd(socket), data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent >= 0) {
            return sent == 0 && size > 0 ? SOCKET_WOULD_BLOCK : static_cast<long>(sent);
        }
        if (errno == EINTR) {
            continue;
        }
        return errno == EAGAIN || errno == EWOULDBLOCK ? SOCKET_WOULD_BLOCK : SOCKET_LOST;
    }
}

long socket_receive(SocketHandle socket, uint8_t* data, size_t size) {
    for (;;) {
        const ssize_t got = recv(as_fd(socket), data, size, MSG_DONTWAIT);
        if (got > 0) {
            return static_cast<long>(got);
        }
        if (got == 0) {
            return SOCKET_LOST; // an orderly hang-up
        }
        if (errno == EINTR) {
            continue;
        }
        return errno == EAGAIN || errno == EWOULDBLOCK ? SOCKET_WOULD_BLOCK : SOCKET_LOST;
    }
}

size_t socket_bytes_waiting(SocketHandle socket) {
    int waiting = 0;
    if (ioctl(as_fd(socket), FIONREAD, &waiting) != 0 || waiting < 0) {
        return 0;
    }
    return static_cast<size_t>(waiting);
}

void socket_wait(SocketHandle socket, bool for_sending, int64_t limit_us) {
    pollfd watch{as_fd(socket), static_cast<short>(POLLIN | (for_sending ? POLLOUT : 0)), 0};
    const int64_t wait_us = limit_us < 0 ? 0 : limit_us;
    timespec limit{};
    limit.tv_sec = static_cast<time_t>(wait_us / 1000000);
    limit.tv_nsec = static_cast<long>(wait_us % 1000000 * 1000);
    ppoll(&watch, 1, &limit, nullptr);
}

void socket_close(SocketHandle socket) {
    if (socket != NO_SOCKET) {
        close(as_fd(socket));
    }
}
