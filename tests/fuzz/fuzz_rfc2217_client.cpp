// The client side of RFC 2217 as the serial service runs it: a server (a
// thread of this program on a Unix-domain socket) sends the fuzz input and
// hangs up; the client opens the port through the real endpoint and uses it.
// The first input byte says whether the server stays connected after sending.
// Checks:
//   - the open succeeds exactly when the input completes the negotiation (a
//     server that hangs up may also give -2; one that refuses BINARY
//     somewhere may give -13), never a crash or a time-out;
//   - once open, the received data is exactly the data of the input (0xFF
//     undoubled, commands and notifications taken out), CTS is the last state
//     notified (not asserted once the server hung up), a receive clear
//     empties the data;
//   - everything the client sent parses as Telnet with COM-PORT-OPTION
//     commands of the client's side only (codes 1..12), and the data it put
//     arrives exactly once, 0xFF included.
#include "serial/rfc2217_endpoint.h"
#include "serial/telnet_parser.h"
#include "tests/fuzz/fuzz_check.h"

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

struct Server {
    std::string directory;
    std::string path;
    int listen_fd = -1;
};

// Where the socket goes: $TMPDIR when it leaves room for a socket address
// (scripts/fuzz.sh gives each run a directory of its own), else /tmp.
std::string socket_directory_template() {
    const char* tmpdir = std::getenv("TMPDIR");
    std::string base = tmpdir != nullptr && *tmpdir != '\0' ? tmpdir : "/tmp";
    if (base.size() > 64) {
        base = "/tmp";
    }
    return base + "/zvfuzzXXXXXX";
}

Server& server() {
    static Server instance = [] {
        Server made;
        std::string directory = socket_directory_template();
        check(mkdtemp(directory.data()) != nullptr);
        made.directory = directory;
        made.path = directory + "/COM1";
        made.listen_fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        made.path.copy(address.sun_path, sizeof address.sun_path - 1);
        check(bind(made.listen_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) ==
              0);
        check(listen(made.listen_fd, 4) == 0);
        // The socket and its directory go when the run ends normally. The
        // handler runs after the strings are destroyed: it keeps copies.
        static char socket_path[sizeof address.sun_path];
        static char socket_directory[sizeof address.sun_path];
        made.path.copy(socket_path, sizeof socket_path - 1);
        made.directory.copy(socket_directory, sizeof socket_directory - 1);
        std::atexit([] {
            unlink(socket_path);
            rmdir(socket_directory);
        });
        return made;
    }();
    return instance;
}

// Accepts one client, sends `input`, hangs up (unless told to stay) and
// collects what the client sends until it closes.
void serve_once(int listen_fd, const std::vector<uint8_t>& input, bool stay,
                std::vector<uint8_t>& heard, std::atomic<bool>& sent_all) {
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
    if (!stay) {
        shutdown(fd, SHUT_WR);
    }
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

// What a client that has read the whole input knows: its data, the last CTS
// state notified, whether the negotiation is complete (the server agreed to
// COM-PORT-OPTION and BINARY both ways, and answered the baud rate) and
// whether the server refused BINARY anywhere (whether that came before the
// completion depends on how the input was split between reads).
struct Expected {
    std::vector<uint8_t> data;
    bool cts = false;
    bool opens = false;
    bool refuses_binary = false;
};

Expected expect_from(const uint8_t* bytes, size_t size) {
    Expected expected;
    TelnetParser parser;
    TelnetNegotiation negotiation;
    TelnetBytes unused;
    telnet_negotiation_start(negotiation, unused);
    bool baud_answered = false;
    for (size_t i = 0; i < size; ++i) {
        const TelnetItem item = telnet_feed(parser, bytes[i]);
        if (item.kind == TelnetItemKind::data) {
            expected.data.push_back(item.byte);
        } else if (item.kind == TelnetItemKind::option) {
            if (item.option == telnet::OPT_BINARY &&
                (item.byte == telnet::WONT || item.byte == telnet::DONT)) {
                expected.refuses_binary = true;
            }
            telnet_negotiation_answer(negotiation, item.byte, item.option, unused);
        } else if (item.kind == TelnetItemKind::com_port) {
            if (item.byte == telnet::CP_NOTIFY_MODEMSTATE + telnet::SERVER_OFFSET &&
                item.value_size >= 1) {
                expected.cts = (item.value[0] & telnet::MODEM_CTS) != 0;
            } else if (item.byte == telnet::CP_SET_BAUDRATE + telnet::SERVER_OFFSET) {
                baud_answered = true;
            }
        }
    }
    expected.opens = baud_answered &&
                     (telnet_peer_does(negotiation, telnet::OPT_COM_PORT) ||
                      telnet_peer_will(negotiation, telnet::OPT_COM_PORT)) &&
                     telnet_peer_does(negotiation, telnet::OPT_BINARY) &&
                     telnet_peer_will(negotiation, telnet::OPT_BINARY);
    return expected;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    // The first byte: whether the server stays connected (when the input
    // completes the negotiation; otherwise the open would wait for its time-out).
    const bool wants_to_stay = (data[0] & 1) != 0;
    ++data;
    --size;
    Server& listening = server();
    const std::vector<uint8_t> input(data, data + size);
    const Expected expected = expect_from(data, size);
    const bool stay = wants_to_stay && expected.opens && !expected.refuses_binary;
    std::vector<uint8_t> heard;
    std::atomic<bool> sent_all{false};
    std::thread peer(serve_once, listening.listen_fd, std::cref(input), stay, std::ref(heard),
                     std::ref(sent_all));

    SerialDefaults defaults;
    std::unique_ptr<SerialEndpoint> endpoint;
    const SerialStatus status = rfc2217_open(listening.path, defaults, endpoint);
    check(stay ? status == 0
               : (status == 0 || status == -2 || (expected.refuses_binary && status == -13)));
    if (status == 0) {
        check(endpoint != nullptr);
        while (!sent_all) {
        }
        // The whole input is in the socket now.
        const SerialStatus waiting = endpoint->rx_count();
        check(waiting >= 0 && static_cast<size_t>(waiting) == expected.data.size());
        for (const uint8_t byte : expected.data) {
            check(endpoint->get_byte() == byte);
        }
        check(endpoint->get_byte() == -100);
        // A server that hung up leaves CTS not asserted.
        check(endpoint->cts() == (stay && expected.cts ? 1 : 0));
        check(endpoint->set_rts(true) == 0);
        check(endpoint->put_byte(0xFF) == 0 && endpoint->put_byte('A') == 0);
        check(endpoint->tx_count() >= 0);
        check(endpoint->rx_clear() == 0 && endpoint->rx_count() == 0);
        endpoint.reset();
    }
    peer.join();

    // The client's own stream: its commands only, and when the server stayed,
    // the two data bytes put (0xFF doubled on the wire, undoubled here).
    TelnetParser parser;
    std::vector<uint8_t> data_heard;
    for (const uint8_t byte : heard) {
        const TelnetItem item = telnet_feed(parser, byte);
        if (item.kind == TelnetItemKind::com_port) {
            check(item.byte >= 1 && item.byte <= 12);
        } else if (item.kind == TelnetItemKind::data) {
            data_heard.push_back(item.byte);
        }
    }
    if (stay) {
        check(data_heard == std::vector<uint8_t>({0xFF, 'A'}));
    }
    return 0;
}
