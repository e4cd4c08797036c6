// The client side of RFC 2217 as the serial service runs it: a server (a
// thread of this program on a Unix-domain socket) sends the fuzz input and
// hangs up; the client opens the port through the real endpoint and uses it.
// Checks:
//   - the open ends at once with 0 or -2 (the server hung up), never a crash
//     or a wait for the time-out;
//   - once open, the received data is exactly the data of the input (0xFF
//     undoubled, commands and notifications taken out), a receive clear
//     empties it, and every result is in its range;
//   - everything the client sent parses as Telnet with COM-PORT-OPTION
//     commands of the client's side only (codes 1..12).
#include "serial/rfc2217_endpoint.h"
#include "serial/telnet_parser.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// A failed property names itself before the fuzzer takes the input as a finding.
void check_at(bool condition, const char* text, int line) {
    if (!condition) {
        std::fprintf(stderr, "property failed at line %d: %s\n", line, text);
        std::abort();
    }
}
#define check(condition) check_at((condition), #condition, __LINE__)

struct Server {
    std::string path;
    int listen_fd = -1;
};

Server& server() {
    static Server instance = [] {
        Server made;
        char directory[] = "/tmp/zvfuzzXXXXXX";
        check(mkdtemp(directory) != nullptr);
        made.path = std::string(directory) + "/COM1";
        made.listen_fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        made.path.copy(address.sun_path, sizeof address.sun_path - 1);
        check(bind(made.listen_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) ==
              0);
        check(listen(made.listen_fd, 4) == 0);
        return made;
    }();
    return instance;
}

// Accepts one client, sends `input`, stops sending and collects what the
// client sends until it closes.
void serve_once(int listen_fd, const std::vector<uint8_t>& input, std::vector<uint8_t>& heard,
                std::atomic<bool>& sent_all) {
    const int fd = accept(listen_fd, nullptr, nullptr);
    if (fd < 0) {
        sent_all = true;
        return;
    }
    size_t sent = 0;
    while (sent < input.size()) {
        const ssize_t wrote = send(fd, input.data() + sent, input.size() - sent, MSG_NOSIGNAL);
        if (wrote <= 0) {
            break;
        }
        sent += static_cast<size_t>(wrote);
    }
    shutdown(fd, SHUT_WR);
    sent_all = true;
    uint8_t buffer[4096];
    for (;;) {
        const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0) {
            break;
        }
        heard.insert(heard.end(), buffer, buffer + got);
    }
    close(fd);
}

std::vector<uint8_t> data_of(const uint8_t* bytes, size_t size) {
    TelnetParser parser;
    std::vector<uint8_t> out;
    for (size_t i = 0; i < size; ++i) {
        const TelnetItem item = telnet_feed(parser, bytes[i]);
        if (item.kind == TelnetItemKind::data) {
            out.push_back(item.byte);
        }
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Server& listening = server();
    const std::vector<uint8_t> input(data, data + size);
    std::vector<uint8_t> heard;
    std::atomic<bool> sent_all{false};
    std::thread peer(serve_once, listening.listen_fd, std::cref(input), std::ref(heard),
                     std::ref(sent_all));

    SerialDefaults defaults;
    std::unique_ptr<SerialEndpoint> endpoint;
    const SerialStatus status = rfc2217_open(listening.path, defaults, endpoint);
    check(status == 0 || status == -2);
    if (status == 0) {
        check(endpoint != nullptr);
        // Everything the server sent is in the socket once it has hung up.
        while (!sent_all) {
        }
        const std::vector<uint8_t> expected = data_of(data, size);
        const SerialStatus waiting = endpoint->rx_count();
        check(waiting >= 0 && static_cast<size_t>(waiting) == expected.size());
        for (const uint8_t byte : expected) {
            check(endpoint->get_byte() == byte);
        }
        check(endpoint->get_byte() == -100);
        const SerialStatus cts = endpoint->cts();
        check(cts == 0); // the server is gone
        check(endpoint->set_rts(true) == 0 && endpoint->put_byte(0xFF) == 0);
        check(endpoint->rx_clear() == 0 && endpoint->rx_count() == 0);
        endpoint.reset();
    }
    peer.join();

    TelnetParser parser;
    for (const uint8_t byte : heard) {
        const TelnetItem item = telnet_feed(parser, byte);
        if (item.kind == TelnetItemKind::com_port) {
            check(item.byte >= 1 && item.byte <= 12);
        }
    }
    return 0;
}
