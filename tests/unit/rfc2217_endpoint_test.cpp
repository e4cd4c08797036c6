// The RFC 2217 client endpoint against a scripted server on a real Unix
// socket: the test writes the server's bytes in pieces of its choosing, so an
// IAC can end one read and a notification can sit inside data.
#include "serial/rfc2217_endpoint.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

const Bytes DO_COM_PORT = {0xFF, 0xFD, 0x2C};
const Bytes BINARY_BOTH_WAYS = {0xFF, 0xFD, 0x00, 0xFF, 0xFB, 0x00};
const Bytes BAUD_ANSWER = {0xFF, 0xFA, 0x2C, 0x65, 0x00, 0x01, 0xC2, 0x00, 0xFF, 0xF0};

class ScriptedServer {
  public:
    ScriptedServer() {
        char pattern[] = "/tmp/zvuXXXXXX";
        directory_ = mkdtemp(pattern);
        path_ = directory_ + "/COM1";
        listener_ = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, path_.c_str());
        EXPECT_EQ(bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(listen(listener_, 1), 0);
    }
    ~ScriptedServer() {
        if (peer_ >= 0) {
            close(peer_);
        }
        close(listener_);
        unlink(path_.c_str());
        rmdir(directory_.c_str());
    }
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    const std::string& path() const { return path_; }

    // Accepts the client and answers its negotiation with `binary` (the
    // answers to BINARY) and the rate; with `hang_up`, closes at once instead.
    std::thread serve(bool hang_up = false, Bytes binary = BINARY_BOTH_WAYS) {
        return std::thread([this, hang_up, binary] {
            peer_ = accept(listener_, nullptr, nullptr);
            timeval limit{2, 0};
            setsockopt(peer_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
            if (hang_up) {
                close(peer_);
                peer_ = -1;
                return;
            }
            read_until({0xFF, 0xFB, 0x2C});
            write(DO_COM_PORT);
            read_until({0xFF, 0xFA, 0x2C, 0x01});
            // One write: a client that gives up on the BINARY answers may
            // close before a second one.
            Bytes answers = binary;
            answers.insert(answers.end(), BAUD_ANSWER.begin(), BAUD_ANSWER.end());
            write(answers);
        });
    }

    // Accepts the client and agrees to COM-PORT-OPTION, then stays silent
    // until the client gives up.
    void serve_option_only() {
        peer_ = accept(listener_, nullptr, nullptr);
        timeval limit{3, 0};
        setsockopt(peer_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        read_until({0xFF, 0xFB, 0x2C});
        write(DO_COM_PORT);
        read_until({0xFF, 0xFF, 0xFF, 0xFF}); // never sent: returns when the client leaves
    }

    void write(const Bytes& bytes) const {
        ASSERT_EQ(send(peer_, bytes.data(), bytes.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(bytes.size()));
    }

    // Reads until `pattern` has been seen (or the read times out); returns all read.
    Bytes read_until(const Bytes& pattern) {
        for (;;) {
            const auto found =
                std::search(seen_.begin(), seen_.end(), pattern.begin(), pattern.end());
            if (found != seen_.end()) {
                const Bytes upto(seen_.begin(), found + static_cast<long>(pattern.size()));
                seen_.erase(seen_.begin(), found + static_cast<long>(pattern.size()));
                return upto;
            }
            uint8_t buffer[256];
            const ssize_t got = recv(peer_, buffer, sizeof buffer, 0);
            if (got <= 0) {
                return {};
            }
            seen_.insert(seen_.end(), buffer, buffer + got);
        }
    }

    // Sends all of `bytes` unless the client takes nothing for `patience_ms`;
    // false then.
    bool write_some(const Bytes& bytes, int patience_ms) const {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t sent =
                send(peer_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (sent > 0) {
                done += static_cast<size_t>(sent);
                continue;
            }
            pollfd room{peer_, POLLOUT, 0};
            if (poll(&room, 1, patience_ms) <= 0) {
                return false;
            }
        }
        return true;
    }

    void hang_up() {
        close(peer_);
        peer_ = -1;
    }

  private:
    std::string directory_;
    std::string path_;
    int listener_ = -1;
    int peer_ = -1;
    Bytes seen_;
};

std::unique_ptr<SerialEndpoint> open_on(ScriptedServer& server) {
    std::thread script = server.serve();
    std::unique_ptr<SerialEndpoint> endpoint;
    const SerialStatus status = rfc2217_open(server.path(), SerialDefaults{}, endpoint);
    script.join();
    EXPECT_EQ(status, 0);
    return endpoint;
}

std::string take_all(SerialEndpoint& endpoint) {
    std::string out;
    while (endpoint.rx_count() > 0) {
        out += static_cast<char>(endpoint.get_byte());
    }
    return out;
}

TEST(Rfc2217Endpoint, SplitEscapesAndANotificationInsideDataAreDecoded) {
    ScriptedServer server;
    auto endpoint = open_on(server);
    ASSERT_TRUE(endpoint);
    EXPECT_EQ(endpoint->cts(), 0) << "CTS is not asserted before a notification";

    server.write({'A', 'B', 0xFF}); // the read ends inside an escaped 0xFF
    EXPECT_EQ(endpoint->rx_count(), 2);
    server.write({0xFF, 0xFF, 0xFA, 0x2C, 0x6B, 0x11, 0xFF}); // a notification cut before SE
    EXPECT_EQ(endpoint->rx_count(), 3);
    EXPECT_EQ(endpoint->cts(), 0);
    server.write({0xF0, 'C'});
    EXPECT_EQ(endpoint->cts(), 1);
    EXPECT_EQ(take_all(*endpoint), std::string("AB\xFF"
                                               "C"));
    EXPECT_EQ(endpoint->get_byte(), -100);
}

TEST(Rfc2217Endpoint, ReceiveClearDropsBytesStillInTheSocketButKeepsNotifications) {
    ScriptedServer server;
    auto endpoint = open_on(server);
    ASSERT_TRUE(endpoint);
    server.write({0xFF, 0xFA, 0x2C, 0x6B, 0x11, 0xFF, 0xF0});
    EXPECT_EQ(endpoint->cts(), 1);
    // Nothing was drained since these arrived: the clear must reach into the socket.
    server.write({'s', 't', 0xFF, 0xFA, 0x2C, 0x6B, 0x01, 0xFF, 0xF0, 'a', 'l', 'e'});
    EXPECT_EQ(endpoint->rx_clear(), 0);
    EXPECT_EQ(endpoint->rx_count(), 0);
    EXPECT_EQ(endpoint->cts(), 0) << "the CTS drop inside the cleared data was lost";
    server.write({'n', 'e', 'w'});
    EXPECT_EQ(take_all(*endpoint), "new");
}

TEST(Rfc2217Endpoint, ReceiveClearEmptiesASocketHoldingMoreThanOneQueryReads) {
    ScriptedServer server;
    auto endpoint = open_on(server);
    ASSERT_TRUE(endpoint);
    server.write(Bytes(100 * 1024, 'x')); // more than one query drains at a time
    EXPECT_EQ(endpoint->rx_clear(), 0);
    ASSERT_EQ(endpoint->rx_count(), 0) << "bytes received before the clear survived it";
    server.write({'n', 'e', 'w'});
    EXPECT_EQ(take_all(*endpoint), "new");
}

TEST(Rfc2217Endpoint, APeerThatFloodsRequestsButNeverReadsCannotGrowTheOutput) {
    ScriptedServer server;
    auto endpoint = open_on(server);
    ASSERT_TRUE(endpoint);
    // Each WILL ECHO is refused with a DONT the server never reads: once the
    // socket is full, unsent answers must not pile up without bound.
    Bytes requests;
    for (int i = 0; i < 20000; ++i) {
        requests.insert(requests.end(), {0xFF, 0xFB, 0x01});
    }
    std::atomic<bool> finished{false};
    std::thread flood([&] {
        for (int i = 0; i < 64 && server.write_some(requests, 200); ++i) {
        }
        finished = true;
    });
    int max_unsent = 0;
    while (!finished) {
        endpoint->rx_count();
        max_unsent = std::max(max_unsent, endpoint->tx_count());
    }
    flood.join();
    EXPECT_LE(max_unsent, 256 * 1024);
}

TEST(Rfc2217Endpoint, RtsAndDataGoOutAtOnceEscaped) {
    ScriptedServer server;
    auto endpoint = open_on(server);
    ASSERT_TRUE(endpoint);
    // The opening sends DTR and RTS on as the defaults say.
    EXPECT_FALSE(server.read_until({0xFF, 0xFA, 0x2C, 0x05, 0x0B, 0xFF, 0xF0}).empty());

    EXPECT_EQ(endpoint->set_rts(false), 0);
    EXPECT_FALSE(server.read_until({0xFF, 0xFA, 0x2C, 0x05, 0x0C, 0xFF, 0xF0}).empty());
    EXPECT_EQ(endpoint->put_byte(0xFF), 0);
    EXPECT_EQ(endpoint->put_byte('x'), 0);
    EXPECT_EQ(endpoint->tx_count(), 0);
    EXPECT_EQ(server.read_until({'x'}), (Bytes{0xFF, 0xFF, 'x'}));
    EXPECT_EQ(endpoint->set_baud(0), -12);
    EXPECT_EQ(endpoint->set_baud(9600), 0);
    EXPECT_FALSE(
        server.read_until({0xFF, 0xFA, 0x2C, 0x01, 0x00, 0x00, 0x25, 0x80, 0xFF, 0xF0}).empty());
}

TEST(Rfc2217Endpoint, APeerThatHangsUpReadsAsNoDataAndNoCts) {
    ScriptedServer server;
    auto endpoint = open_on(server);
    ASSERT_TRUE(endpoint);
    server.write({0xFF, 0xFA, 0x2C, 0x6B, 0x11, 0xFF, 0xF0});
    EXPECT_EQ(endpoint->cts(), 1);
    server.hang_up();
    EXPECT_EQ(endpoint->cts(), 0);
    EXPECT_EQ(endpoint->rx_count(), 0);
    for (int i = 0; i < 100; ++i) { // writes after the hang-up raise no SIGPIPE
        endpoint->put_byte('V');
        endpoint->set_rts(i % 2 == 0);
    }
    EXPECT_EQ(endpoint->tx_count(), 0);
}

int64_t microseconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

TEST(Rfc2217Endpoint, AByteWaitGoesOnPastControlMessagesAndEndsWithTheByte) {
    ScriptedServer server;
    auto endpoint = open_on(server);
    ASSERT_TRUE(endpoint);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(endpoint->wait_rx(30000), 0) << "nothing sent";
    EXPECT_GE(microseconds_since(started), 30000);

    // A modem state and an answer wake the poll with no data; the byte behind
    // them, sent later on its own, ends the wait.
    std::atomic<int64_t> byte_sent_us{0};
    const auto begun = std::chrono::steady_clock::now();
    std::thread peer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        server.write({0xFF, 0xFA, 0x2C, 0x6B, 0x11, 0xFF, 0xF0});
        server.write({0xFF, 0xFA, 0x2C, 0x69, 0x0B, 0xFF, 0xF0});
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        byte_sent_us = microseconds_since(begun);
        server.write({'Q'});
    });
    EXPECT_EQ(endpoint->wait_rx(2000000), 1);
    const int64_t woke_us = microseconds_since(begun);
    peer.join();
    EXPECT_GE(woke_us, byte_sent_us.load()) << "woken by a control message as if by a byte";
    EXPECT_LT(woke_us - byte_sent_us, 200000) << "the byte was held up";
    EXPECT_EQ(endpoint->rx_count(), 1);
    EXPECT_EQ(endpoint->get_byte(), 'Q');
    EXPECT_EQ(endpoint->cts(), 1);
}

TEST(Rfc2217Endpoint, APeerThatGoesAwayEndsAByteWaitWithNoData) {
    ScriptedServer server;
    auto endpoint = open_on(server);
    ASSERT_TRUE(endpoint);
    const auto started = std::chrono::steady_clock::now();
    std::thread peer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        server.hang_up();
    });
    EXPECT_EQ(endpoint->wait_rx(3000000), 0);
    EXPECT_LT(microseconds_since(started), 1000000) << "the hang-up did not end the wait";
    peer.join();
    EXPECT_EQ(endpoint->rx_count(), 0);
    // Gone for good: a later wait sleeps out its time instead of returning at once.
    const auto again = std::chrono::steady_clock::now();
    EXPECT_EQ(endpoint->wait_rx(20000), 0);
    EXPECT_GE(microseconds_since(again), 20000);
}

TEST(Rfc2217Endpoint, OpeningFailures) {
    {
        ScriptedServer server; // busy with another client: closes at once
        std::thread script = server.serve(true);
        std::unique_ptr<SerialEndpoint> endpoint;
        EXPECT_EQ(rfc2217_open(server.path(), SerialDefaults{}, endpoint), -2);
        script.join();
        EXPECT_FALSE(endpoint);
    }
    // A server that keeps NVT mode in either direction would alter CR bytes:
    // not ready, even though it answers the rate.
    const struct {
        const char* name;
        Bytes binary;
    } refusals[] = {
        {"DONT", {0xFF, 0xFE, 0x00, 0xFF, 0xFB, 0x00}},
        {"WONT", {0xFF, 0xFD, 0x00, 0xFF, 0xFC, 0x00}},
        {"agreed, then WONT", {0xFF, 0xFD, 0x00, 0xFF, 0xFB, 0x00, 0xFF, 0xFC, 0x00}},
    };
    for (const auto& refusal : refusals) {
        ScriptedServer server;
        std::thread script = server.serve(false, refusal.binary);
        std::unique_ptr<SerialEndpoint> endpoint;
        EXPECT_EQ(rfc2217_open(server.path(), SerialDefaults{}, endpoint), -13) << refusal.name;
        script.join();
        EXPECT_FALSE(endpoint) << refusal.name;
    }
    std::unique_ptr<SerialEndpoint> endpoint;
    EXPECT_EQ(rfc2217_open("/tmp/zv-no-such-dir/COM1", SerialDefaults{}, endpoint), -13);
    EXPECT_EQ(rfc2217_open("/tmp/" + std::string(120, 'x'), SerialDefaults{}, endpoint), -103);
    char text[128];
    serial_error_text(text, sizeof text);
    EXPECT_STREQ(text, "File name too long");
}

TEST(Rfc2217Endpoint, AServerThatNeverCompletesTheNegotiationIsNotReadyAfterOneSecond) {
    // Nobody accepts (the connection waits in the backlog), then a server that
    // agrees to the option but never answers the rate: both are not ready, and
    // neither open waits much past its second.
    for (const bool agree_only : {false, true}) {
        ScriptedServer server;
        std::thread script;
        if (agree_only) {
            script = std::thread([&server] { server.serve_option_only(); });
        }
        std::unique_ptr<SerialEndpoint> endpoint;
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(rfc2217_open(server.path(), SerialDefaults{}, endpoint), -13) << agree_only;
        const auto waited = std::chrono::steady_clock::now() - started;
        EXPECT_GE(waited, std::chrono::milliseconds(950)) << agree_only;
        EXPECT_LT(waited, std::chrono::seconds(5)) << agree_only;
        EXPECT_FALSE(endpoint);
        if (script.joinable()) {
            script.join();
        }
    }
}

} // namespace
