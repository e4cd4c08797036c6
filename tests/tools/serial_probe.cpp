// serial_probe: drives the serial service from a script on standard input,
// one operation a line, one result line each (flushed), so a test can run a
// port step by step against a peer it controls.
//
//   open N            serial_reset(-1,1,1), serial_set_params(-1,0,0,8),
//   serial_reset(N-1,1024,1024) baud R            serial_set_baud send HEX          serial_put_byte
//   for each byte, then wait (2 s at most) for tx_count 0 read N MS         up to N bytes, waiting
//   at most MS ms in all -> "read <hex>" count             serial_rx_count clear serial_rx_clear
//   rts S|C           serial_rts
//   cts               serial_cts
//   wait-rx MS        serial_wait_rx for MS ms -> "wait-rx <result> <ms waited>"
//   wait-cts V MS     poll serial_cts until it equals V (0/1) -> "wait-cts V <ms>" or "wait-cts
//   timeout" transfer N        N bytes paced by RTS pulses (500 ms each) -> "transfer <hex> <us per
//   byte>" sleep MS error             serial_error_text close             serial_close
#include "platform/clock.h"
#include "platform/sleep.h"
#include "serial/serial_service.h"

#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>

namespace {

PortIndex port = -1;

std::string hex_byte(int byte) {
    static const char digits[] = "0123456789abcdef";
    return {digits[(byte >> 4) & 0xF], digits[byte & 0xF]};
}

int read_one(int64_t deadline_ms) {
    while (serial_rx_count(port) <= 0) {
        if (monotonic_ms() >= deadline_ms) {
            return -1;
        }
    }
    return serial_get_byte(port);
}

void run(const std::string& line) {
    std::istringstream words(line);
    std::string op;
    words >> op;
    if (op.empty()) {
        return;
    }
    if (op == "open") {
        int com = 0;
        words >> com;
        port = com - 1;
        serial_reset(-1, 1, 1);
        serial_set_params(-1, 0, 0, 8);
        std::printf("open %d\n", serial_reset(port, 1024, 1024));
    } else if (op == "baud") {
        long rate = 0;
        words >> rate;
        std::printf("baud %d\n", serial_set_baud(port, rate));
    } else if (op == "send") {
        std::string hex;
        words >> hex;
        for (size_t i = 0; i + 1 < hex.size(); i += 2) {
            serial_put_byte(port, std::stoi(hex.substr(i, 2), nullptr, 16));
        }
        const int64_t deadline = monotonic_ms() + 2000;
        int left = serial_tx_count(port);
        while (left > 0 && monotonic_ms() < deadline) {
            left = serial_tx_count(port);
        }
        std::printf("send %d\n", left);
    } else if (op == "read") {
        int count = 0;
        int limit_ms = 0;
        words >> count >> limit_ms;
        const int64_t deadline = monotonic_ms() + limit_ms;
        std::string bytes;
        for (int i = 0; i < count; ++i) {
            const int byte = read_one(deadline);
            if (byte < 0) {
                break;
            }
            bytes += hex_byte(byte);
        }
        std::printf("read %s\n", bytes.c_str());
    } else if (op == "wait-rx") {
        int limit_ms = 0;
        words >> limit_ms;
        const int64_t start = monotonic_ms();
        const int result = serial_wait_rx(port, int64_t{limit_ms} * 1000);
        std::printf("wait-rx %d %lld\n", result, static_cast<long long>(monotonic_ms() - start));
    } else if (op == "count") {
        std::printf("count %d\n", serial_rx_count(port));
    } else if (op == "clear") {
        std::printf("clear %d\n", serial_rx_clear(port));
    } else if (op == "rts") {
        std::string which;
        words >> which;
        std::printf("rts %d\n", serial_rts(port, which == "S" ? 'S' : 'C'));
    } else if (op == "cts") {
        std::printf("cts %d\n", serial_cts(port));
    } else if (op == "wait-cts") {
        int wanted = 0;
        int limit_ms = 0;
        words >> wanted >> limit_ms;
        const int64_t start = monotonic_ms();
        for (;;) {
            const int now = serial_cts(port) > 0 ? 1 : 0;
            const int64_t elapsed = monotonic_ms() - start;
            if (now == wanted) {
                std::printf("wait-cts %d %lld\n", now, static_cast<long long>(elapsed));
                break;
            }
            if (elapsed >= limit_ms) {
                std::printf("wait-cts timeout\n");
                break;
            }
        }
    } else if (op == "transfer") {
        int count = 0;
        words >> count;
        std::string bytes;
        const int64_t start = monotonic_us();
        int received = 0;
        for (; received < count; ++received) {
            serial_rts(port, 'S');
            const int byte = read_one(monotonic_ms() + 500);
            serial_rts(port, 'C');
            if (byte < 0) {
                break;
            }
            bytes += hex_byte(byte);
        }
        const int64_t elapsed = monotonic_us() - start;
        std::printf("transfer %s %lld\n", bytes.empty() ? "-" : bytes.c_str(),
                    static_cast<long long>(received > 0 ? elapsed / received : 0));
    } else if (op == "sleep") {
        int ms = 0;
        words >> ms;
        sleep_ms(static_cast<uint32_t>(ms));
        std::printf("sleep\n");
    } else if (op == "error") {
        char text[128];
        serial_error_text(text, sizeof text);
        std::printf("error %s\n", text);
    } else if (op == "close") {
        std::printf("close %d\n", serial_close(port));
    } else {
        std::printf("unknown %s\n", op.c_str());
    }
}

} // namespace

int main() {
    std::string line;
    while (std::getline(std::cin, line)) {
        run(line);
        std::fflush(stdout);
    }
    return 0;
}
