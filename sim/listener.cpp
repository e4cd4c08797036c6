#include "sim/listener.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr int BACKLOG = 4;

std::string os_error(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

bool unix_address(const std::string& path, sockaddr_un& address) {
    address = sockaddr_un{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// True when a server answers on the socket file.
bool socket_is_served(const sockaddr_un& address) {
    const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0) {
        return false;
    }
    const bool served =
        connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    close(probe);
    return served;
}

bool ipv4_loopback(const std::string& text, in_addr& address) {
    return inet_pton(AF_INET, text.c_str(), &address) == 1 && (ntohl(address.s_addr) >> 24) == 127;
}

} // namespace

std::string loopback_address(const std::string& host) {
    in_addr v4{};
    if (host == "localhost") {
        return "127.0.0.1";
    }
    if (host == "[::1]") {
        return "::1";
    }
    return ipv4_loopback(host, v4) ? host : std::string();
}

int listen_unix(const std::string& path, std::string& error) {
    sockaddr_un address{};
    if (!unix_address(path, address)) {
        error = path + ": a Unix socket path must have 1 to " +
                std::to_string(sizeof address.sun_path - 1) + " characters";
        return -1;
    }
    struct stat info {};
    if (lstat(path.c_str(), &info) == 0) {
        if (!S_ISSOCK(info.st_mode)) {
            error = path + ": exists and is not a socket";
            return -1;
        }
        if (socket_is_served(address)) {
            error = path + ": another server already serves this socket";
            return -1;
        }
        unlink(path.c_str());
    }
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = os_error("socket");
        return -1;
    }
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd, BACKLOG) != 0) {
        error = os_error(path);
        close(fd);
        return -1;
    }
    return fd;
}

int listen_tcp(const std::string& address, uint16_t port, uint16_t& bound_port,
               std::string& error) {
    sockaddr_storage storage{};
    socklen_t length = 0;
    if (address == "::1") {
        auto& v6 = reinterpret_cast<sockaddr_in6&>(storage);
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(port);
        v6.sin6_addr = in6addr_loopback;
        length = sizeof v6;
    } else {
        auto& v4 = reinterpret_cast<sockaddr_in&>(storage);
        v4.sin_family = AF_INET;
        v4.sin_port = htons(port);
        if (!ipv4_loopback(address, v4.sin_addr)) {
            // The command line lets only loopback through; this holds the line.
            error = "--tcp: not a loopback address: " + address;
            return -1;
        }
        length = sizeof v4;
    }
    const int fd = socket(storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = os_error("socket");
        return -1;
    }
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&storage), length) != 0 ||
        listen(fd, BACKLOG) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&storage), &length) != 0) {
        error = os_error("tcp " + address + ":" + std::to_string(port));
        close(fd);
        return -1;
    }
    bound_port = ntohs(storage.ss_family == AF_INET6
                           ? reinterpret_cast<const sockaddr_in6&>(storage).sin6_port
                           : reinterpret_cast<const sockaddr_in&>(storage).sin_port);
    return fd;
}

int accept_connection(int listen_fd) {
    const int fd = accept4(listen_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    sockaddr_storage local{};
    socklen_t length = sizeof local;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) == 0 &&
        (local.ss_family == AF_INET || local.ss_family == AF_INET6)) {
        const int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    return fd;
}
