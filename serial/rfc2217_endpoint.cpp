// The client side of RFC 2217, over any byte stream of socket_transport.h (a
// Unix-domain socket or TCP). Nothing here waits once the port is open: RTS
// changes are sent without awaiting the answer, and every query first drains
// the connection without blocking through the Telnet parser, then answers
// from the received bytes and the last CTS state.
#include "serial/rfc2217_endpoint.h"

#include "platform/clock.h"
#include "platform/sleep.h"
#include "serial/port_file.h"
#include "serial/socket_transport.h"
#include "serial/telnet_parser.h"

#include <algorithm>
#include <array>
#include <climits>
#include <deque>

namespace {

constexpr int64_t NEGOTIATION_LIMIT_MS = 1000;
// The rate sent while negotiating; the caller sets its own right after.
constexpr long OPENING_BAUD = 115200;
// Received data beyond this is dropped, like a receive queue overrun.
constexpr size_t MAX_RECEIVED = 64 * 1024;
// One query reads at most this much, so a peer that floods cannot hold it.
constexpr size_t MAX_DRAIN = 64 * 1024;
// Output the peer has not taken beyond what the socket holds. A peer that
// lets this much pile up is not reading (it may be flooding us with requests
// whose answers it never takes): it is given up rather than held in memory.
constexpr size_t MAX_UNSENT = 64 * 1024;
// Both edges of CTS: the state bit and the changed bit.
constexpr uint8_t MODEM_STATE_MASK = telnet::MODEM_CTS | telnet::MODEM_CTS_CHANGED;

constexpr std::array<long, 17> BAUD_RATES = {110,    300,    600,    1200,   2400,  4800,
                                             9600,   14400,  19200,  38400,  57600, 115200,
                                             128000, 230400, 256000, 460800, 921600};

bool supported_baud(long rate) {
    for (const long supported : BAUD_RATES) {
        if (supported == rate) {
            return true;
        }
    }
    return false;
}

class Rfc2217Endpoint final : public SerialEndpoint {
  public:
    explicit Rfc2217Endpoint(SocketHandle socket) : socket_(socket) {}
    ~Rfc2217Endpoint() override { socket_close(socket_); }
    Rfc2217Endpoint(const Rfc2217Endpoint&) = delete;
    Rfc2217Endpoint& operator=(const Rfc2217Endpoint&) = delete;

    // Negotiates the option, BINARY both ways and the line, by `deadline_ms`.
    SerialStatus negotiate(const SerialDefaults& defaults, int64_t deadline_ms);

    SerialStatus set_baud(long rate) override;
    SerialStatus set_params(int parity, int stop_bits, int data_bits) override;
    SerialStatus put_byte(unsigned char byte) override;
    SerialStatus tx_count() override;
    SerialStatus rx_count() override;
    SerialStatus get_byte() override;
    SerialStatus wait_rx(int64_t microseconds) override;
    SerialStatus rx_clear() override;
    SerialStatus cts() override;
    SerialStatus set_rts(bool on) override;
    SerialStatus set_dtr(bool on) override;
    bool lost() const override { return gone_; }

  private:
    void send_com_port(uint8_t command, const uint8_t* value, size_t size);
    void send_com_port_byte(uint8_t command, uint8_t value) { send_com_port(command, &value, 1); }
    void send_baud(long rate);
    void send_params(int parity, int stop_bits, int data_bits);
    void flush();
    // Reads what the socket holds, up to about `limit` bytes.
    void drain(size_t limit = MAX_DRAIN);
    void handle(const TelnetItem& item);
    void lose_peer();
    // Waits for input or room to send until the deadline; false on time-out.
    bool wait_until(int64_t deadline_ms);

    SocketHandle socket_;
    bool gone_ = false;
    // The server said WONT or DONT to BINARY while negotiating.
    bool binary_refused_ = false;
    bool cts_ = false;
    bool baud_answered_ = false;
    TelnetParser parser_;
    TelnetNegotiation negotiation_;
    std::deque<uint8_t> received_;
    // Bytes for the server not sent yet (flush sends from the front).
    TelnetBytes out_;
};

void Rfc2217Endpoint::lose_peer() {
    gone_ = true;
    cts_ = false;
    out_.clear();
}

void Rfc2217Endpoint::flush() {
    size_t done = 0;
    while (!gone_ && done < out_.size()) {
        const long sent = socket_send(socket_, out_.data() + done, out_.size() - done);
        if (sent > 0) {
            done += static_cast<size_t>(sent);
        } else if (sent == SOCKET_WOULD_BLOCK) {
            break;
        } else {
            lose_peer();
            return;
        }
    }
    out_.erase(out_.begin(), out_.begin() + static_cast<std::ptrdiff_t>(done));
    if (out_.size() > MAX_UNSENT) {
        lose_peer();
    }
}

void Rfc2217Endpoint::handle(const TelnetItem& item) {
    switch (item.kind) {
    case TelnetItemKind::none:
        break;
    case TelnetItemKind::data:
        if (received_.size() < MAX_RECEIVED) {
            received_.push_back(item.byte);
        }
        break;
    case TelnetItemKind::option:
        if (item.option == telnet::OPT_BINARY &&
            (item.byte == telnet::WONT || item.byte == telnet::DONT)) {
            binary_refused_ = true;
        }
        telnet_negotiation_answer(negotiation_, item.byte, item.option, out_);
        break;
    case TelnetItemKind::com_port:
        if (item.byte == telnet::CP_NOTIFY_MODEMSTATE + telnet::SERVER_OFFSET &&
            item.value_size >= 1) {
            cts_ = (item.value[0] & telnet::MODEM_CTS) != 0;
        } else if (item.byte == telnet::CP_SET_BAUDRATE + telnet::SERVER_OFFSET) {
            baud_answered_ = true;
        }
        // Other answers (SET-CONTROL and the rest) carry nothing we wait for.
        break;
    }
}

void Rfc2217Endpoint::drain(size_t limit) {
    std::array<uint8_t, 4096> buffer; // filled by recv
    size_t total = 0;
    while (!gone_ && total < limit) {
        const long got = socket_receive(socket_, buffer.data(), buffer.size());
        if (got > 0) {
            total += static_cast<size_t>(got);
            for (long i = 0; i < got; ++i) {
                handle(telnet_feed(parser_, buffer[static_cast<size_t>(i)]));
            }
            if (static_cast<size_t>(got) < buffer.size()) {
                break;
            }
        } else if (got == SOCKET_WOULD_BLOCK) {
            break;
        } else {
            lose_peer();
        }
    }
    // Answers to the peer's option requests go out at once.
    flush();
}

void Rfc2217Endpoint::send_com_port(uint8_t command, const uint8_t* value, size_t size) {
    if (!gone_) {
        telnet_append_com_port(out_, command, value, size);
    }
}

void Rfc2217Endpoint::send_baud(long rate) {
    const auto value = static_cast<uint32_t>(rate);
    const uint8_t bytes[4] = {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                              static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
    send_com_port(telnet::CP_SET_BAUDRATE, bytes, sizeof bytes);
}

void Rfc2217Endpoint::send_params(int parity, int stop_bits, int data_bits) {
    // The service numbers parity none/odd/even/mark/space 0..4 and stop bits
    // one/one and a half/two 0..2; RFC 2217 numbers them 1..5 and 1, 3, 2.
    static constexpr uint8_t STOP_SIZES[] = {1, 3, 2};
    send_com_port_byte(telnet::CP_SET_DATASIZE, static_cast<uint8_t>(data_bits));
    send_com_port_byte(telnet::CP_SET_PARITY, static_cast<uint8_t>(parity + 1));
    send_com_port_byte(telnet::CP_SET_STOPSIZE, STOP_SIZES[stop_bits]);
}

bool Rfc2217Endpoint::wait_until(int64_t deadline_ms) {
    const int64_t remaining = deadline_ms - monotonic_ms();
    if (remaining <= 0) {
        return false;
    }
    socket_wait(socket_, !out_.empty(), remaining * 1000);
    return true;
}

SerialStatus Rfc2217Endpoint::negotiate(const SerialDefaults& defaults, int64_t deadline) {
    // Answers the server until `done` holds: 0; -2 when the server hangs up
    // (busy with another client); -13 when the deadline passes first, or when
    // the server refuses BINARY: a server in NVT mode turns each CR data byte
    // into CR NUL, so the spectrum it carried would be corrupted.
    const auto await = [&](auto done) -> SerialStatus {
        while (!done()) {
            if (binary_refused_) {
                return -13;
            }
            if (gone_) {
                return -2;
            }
            if (!wait_until(deadline)) {
                return -13;
            }
            flush();
            drain();
        }
        if (binary_refused_) {
            return -13;
        }
        return gone_ ? -2 : 0;
    };
    telnet_negotiation_start(negotiation_, out_);
    flush();
    // First the option itself: the server agrees to COM-PORT-OPTION.
    const SerialStatus agreed = await([&] {
        return telnet_peer_does(negotiation_, telnet::OPT_COM_PORT) ||
               telnet_peer_will(negotiation_, telnet::OPT_COM_PORT);
    });
    if (agreed < 0) {
        return agreed;
    }
    // Then the line: rate, framing, no flow control, CTS reporting, the
    // current modem state, DTR and RTS. The answer to the rate and BINARY
    // agreed both ways complete it.
    send_baud(OPENING_BAUD);
    send_params(defaults.parity, defaults.stop_bits, defaults.data_bits);
    send_com_port_byte(telnet::CP_SET_CONTROL, telnet::CONTROL_NO_FLOW);
    send_com_port_byte(telnet::CP_SET_MODEMSTATE_MASK, MODEM_STATE_MASK);
    send_com_port(telnet::CP_NOTIFY_MODEMSTATE, nullptr, 0);
    send_com_port_byte(telnet::CP_SET_CONTROL,
                       defaults.dtr != 0 ? telnet::CONTROL_DTR_ON : telnet::CONTROL_DTR_OFF);
    send_com_port_byte(telnet::CP_SET_CONTROL,
                       defaults.rts != 0 ? telnet::CONTROL_RTS_ON : telnet::CONTROL_RTS_OFF);
    flush();
    return await([&] {
        return baud_answered_ && telnet_peer_does(negotiation_, telnet::OPT_BINARY) &&
               telnet_peer_will(negotiation_, telnet::OPT_BINARY);
    });
}

SerialStatus Rfc2217Endpoint::set_baud(long rate) {
    if (!supported_baud(rate)) {
        return -12;
    }
    send_baud(rate);
    flush();
    return 0;
}

SerialStatus Rfc2217Endpoint::set_params(int parity, int stop_bits, int data_bits) {
    if (parity < 0 || parity > 4 || stop_bits < 0 || stop_bits > 2 || data_bits < 5 ||
        data_bits > 8) {
        return -5;
    }
    send_params(parity, stop_bits, data_bits);
    flush();
    return 0;
}

SerialStatus Rfc2217Endpoint::put_byte(unsigned char byte) {
    if (!gone_) {
        telnet_append_data(out_, &byte, 1);
        flush();
    }
    return 0;
}

SerialStatus Rfc2217Endpoint::tx_count() {
    flush();
    drain();
    const size_t waiting = out_.size();
    return waiting > INT_MAX ? INT_MAX : static_cast<SerialStatus>(waiting);
}

SerialStatus Rfc2217Endpoint::rx_count() {
    flush();
    drain();
    return static_cast<SerialStatus>(received_.size());
}

SerialStatus Rfc2217Endpoint::get_byte() {
    if (received_.empty()) {
        return -100;
    }
    const uint8_t byte = received_.front();
    received_.pop_front();
    return byte;
}

// Control messages (modem state, answers, option requests) wake the poll but
// bring no data: the wait goes on until data or the time-out, and the parser
// has taken them by then, so a byte behind them is seen in the same read.
SerialStatus Rfc2217Endpoint::wait_rx(int64_t microseconds) {
    const int64_t deadline_us = monotonic_us() + microseconds;
    const bool gone_before = gone_;
    flush();
    drain();
    while (received_.empty()) {
        const int64_t left_us = deadline_us - monotonic_us();
        if (left_us <= 0) {
            return 0;
        }
        if (gone_) {
            // A peer that went away during this wait ends it; one gone before
            // can send nothing more, so the wait sleeps out its time.
            if (gone_before) {
                sleep_ms(static_cast<uint32_t>(std::min<int64_t>((left_us + 999) / 1000, INT_MAX)));
            }
            return 0;
        }
        socket_wait(socket_, !out_.empty(), left_us);
        flush();
        drain();
    }
    return 1;
}

SerialStatus Rfc2217Endpoint::rx_clear() {
    flush();
    // All the socket holds now was received before the clear, however much
    // that is; a peer that keeps sending cannot hold the clear past it.
    drain(std::max(MAX_DRAIN, socket_bytes_waiting(socket_)));
    received_.clear();
    return 0;
}

SerialStatus Rfc2217Endpoint::cts() {
    flush();
    drain();
    return cts_ && !gone_ ? 1 : 0;
}

SerialStatus Rfc2217Endpoint::set_rts(bool on) {
    send_com_port_byte(telnet::CP_SET_CONTROL,
                       on ? telnet::CONTROL_RTS_ON : telnet::CONTROL_RTS_OFF);
    flush();
    return 0;
}

SerialStatus Rfc2217Endpoint::set_dtr(bool on) {
    send_com_port_byte(telnet::CP_SET_CONTROL,
                       on ? telnet::CONTROL_DTR_ON : telnet::CONTROL_DTR_OFF);
    flush();
    return 0;
}

// Connects through `connect` (which sets the socket) and negotiates, within
// one limit for both.
template <typename Connect>
SerialStatus open_over(Connect connect, const SerialDefaults& defaults,
                       std::unique_ptr<SerialEndpoint>& out) {
    const int64_t deadline = monotonic_ms() + NEGOTIATION_LIMIT_MS;
    SocketHandle socket = NO_SOCKET;
    const SerialStatus connected = connect(deadline, socket);
    if (connected < 0) {
        return connected;
    }
    auto endpoint = std::make_unique<Rfc2217Endpoint>(socket);
    const SerialStatus status = endpoint->negotiate(defaults, deadline);
    if (status < 0) {
        return status;
    }
    out = std::move(endpoint);
    return 0;
}

} // namespace

SerialStatus rfc2217_open(const std::string& socket_path, const SerialDefaults& defaults,
                          std::unique_ptr<SerialEndpoint>& out) {
    return open_over(
        [&](int64_t deadline, SocketHandle& socket) {
            return socket_connect_unix(socket_path, deadline, socket);
        },
        defaults, out);
}

SerialStatus rfc2217_open_tcp(const std::string& host, uint16_t port,
                              const SerialDefaults& defaults,
                              std::unique_ptr<SerialEndpoint>& out) {
    return open_over(
        [&](int64_t deadline, SocketHandle& socket) {
            return socket_connect_tcp(host, port, deadline, socket);
        },
        defaults, out);
}

SerialStatus rfc2217_open_port_file(std::string_view content, const SerialDefaults& defaults,
                                    std::unique_ptr<SerialEndpoint>& out) {
    PortFileTarget target;
    const SerialStatus parsed = parse_port_file(content, target);
    if (parsed < 0) {
        return parsed;
    }
    return rfc2217_open_tcp(target.host, target.port, defaults, out);
}
