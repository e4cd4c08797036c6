// A scripted serial port for the unit tests: the bytes the program sends are
// recorded, the bytes it receives come from a queue the test fills, and a small
// board model answers the acquisition's handshake (CTS after "S\r" and "g\r",
// one transfer byte per RTS rising edge). Attach it with attach_scripted_port()
// and close it with serial_close().
#pragma once

#include "platform/clock.h"
#include "platform/sleep.h"
#include "serial/serial_endpoint.h"
#include "serial/serial_service.h"
#include "serial/transport.h"

#include <deque>
#include <memory>
#include <string>
#include <vector>

// What the test sets up and reads back; shared by the test and the endpoint.
struct ScriptedLine {
    // Results handed out by get_byte in order: bytes 0..255 or negative error
    // results. rx_count reports the queue's length.
    std::deque<int> rx;
    int get_byte_delay_ms = 0; // each get_byte takes this long
    int get_byte_calls = 0;
    int rx_count_calls = 0;
    // Results that join rx at a monotonic time (in order of time), and what
    // wait_rx does: it returns the next of wait_rx_results while there are
    // any, else it sleeps until an arrival or the end of its time. The time
    // it spent asleep adds up in wait_rx_asleep_us.
    struct Arrival {
        int64_t at_us;
        int result;
    };
    std::deque<Arrival> arrivals;
    std::deque<int> wait_rx_results;
    int wait_rx_calls = 0;
    int64_t wait_rx_asleep_us = 0;
    int64_t arrival_seen_us = 0; // when the port last found an arrival due

    // Every byte passed to put_byte.
    std::string tx;
    // tx_count: when tx_stuck is set it returns that value for ever; otherwise
    // it reports tx_pending and then counts it down by one per call.
    int tx_pending_per_byte = 0;
    int tx_pending = 0;
    bool tx_stuck = false;
    int tx_stuck_result = 0;
    int tx_count_calls = 0;

    // Modem lines and the order of events: commands as "cmd:<text>" (without
    // the carriage return), RTS changes as "rts:S" / "rts:C", CTS readings as
    // "cts:<result>"; event_us holds the monotonic time of each.
    bool rts = true;
    std::vector<std::string> events;
    std::vector<int64_t> event_us;

    void record(std::string event) {
        events.push_back(std::move(event));
        event_us.push_back(monotonic_us());
    }

    // Board model for the acquisition.
    enum class Board { idle, scan_started, scan_done, data_ready };
    Board board = Board::idle;
    std::vector<int> transfer;                   // the bytes of the current transfer (512)
    std::deque<std::vector<int>> next_transfers; // each "g\r" takes the next one, if any
    size_t transfer_next = 0;                    // next byte to hand out on an RTS rise
    int error_at_byte = -1;                      // this transfer byte comes out as error_result
    int error_result = -103;                     // the serial service's error result
    std::vector<int> noise_after_scan;           // queued as soon as "S\r" arrives
    std::string command;                         // command text being received
    int64_t last_command_us = 0;                 // when the last command arrived
    bool cts_stuck_after_data = false;           // CTS stays asserted after the last byte
    // The first cts() calls: each returns once until_ms or more have passed
    // since the last command arrived, with result (the board model is not
    // consulted).
    struct CtsAnswer {
        int32_t until_ms;
        int result;
    };
    std::deque<CtsAnswer> cts_script;

    std::vector<std::string> commands() const {
        std::vector<std::string> found;
        for (const std::string& event : events) {
            if (event.rfind("cmd:", 0) == 0) {
                found.push_back(event.substr(4));
            }
        }
        return found;
    }

    void queue_text(const std::string& text) {
        for (unsigned char byte : text) {
            rx.push_back(byte);
        }
    }
};

class ScriptedPort : public SerialEndpoint {
  public:
    explicit ScriptedPort(std::shared_ptr<ScriptedLine> line) : line_(std::move(line)) {}

    SerialStatus set_baud(long) override { return 0; }
    SerialStatus set_params(int, int, int) override { return 0; }

    SerialStatus put_byte(unsigned char byte) override {
        line_->tx.push_back(static_cast<char>(byte));
        line_->tx_pending += line_->tx_pending_per_byte;
        if (byte == '\r') {
            line_->record("cmd:" + line_->command);
            line_->last_command_us = monotonic_us();
            board_command(line_->command);
            line_->command.clear();
        } else {
            line_->command.push_back(static_cast<char>(byte));
        }
        return 0;
    }

    SerialStatus tx_count() override {
        ++line_->tx_count_calls;
        if (line_->tx_stuck) {
            return line_->tx_stuck_result;
        }
        if (line_->tx_pending > 0) {
            return line_->tx_pending--;
        }
        return 0;
    }

    SerialStatus rx_count() override {
        ++line_->rx_count_calls;
        take_arrivals();
        return static_cast<SerialStatus>(line_->rx.size());
    }

    SerialStatus get_byte() override {
        ++line_->get_byte_calls;
        if (line_->get_byte_delay_ms > 0) {
            sleep_ms(static_cast<uint32_t>(line_->get_byte_delay_ms));
        }
        take_arrivals();
        if (line_->rx.empty()) {
            return -100;
        }
        const int result = line_->rx.front();
        line_->rx.pop_front();
        return result;
    }

    SerialStatus wait_rx(int64_t microseconds) override {
        ++line_->wait_rx_calls;
        if (!line_->wait_rx_results.empty()) {
            const int result = line_->wait_rx_results.front();
            line_->wait_rx_results.pop_front();
            return result;
        }
        const int64_t start_us = monotonic_us();
        int64_t until_us = start_us + microseconds;
        take_arrivals();
        if (line_->rx.empty()) {
            if (!line_->arrivals.empty() && line_->arrivals.front().at_us < until_us) {
                until_us = line_->arrivals.front().at_us;
            }
            if (until_us > start_us) {
                delay_us(static_cast<uint64_t>(until_us - start_us));
            }
            line_->wait_rx_asleep_us += monotonic_us() - start_us;
            take_arrivals();
        }
        return line_->rx.empty() ? 0 : 1;
    }

    SerialStatus rx_clear() override {
        take_arrivals();
        line_->rx.clear();
        return 0;
    }

    SerialStatus cts() override {
        const SerialStatus result = cts_result();
        line_->record("cts:" + std::to_string(result));
        return result;
    }

    SerialStatus set_rts(bool on) override {
        const bool rising = on && !line_->rts;
        line_->rts = on;
        line_->record(on ? "rts:S" : "rts:C");
        if (rising && line_->board == ScriptedLine::Board::data_ready &&
            line_->transfer_next < line_->transfer.size()) {
            const size_t index = line_->transfer_next++;
            line_->rx.push_back(static_cast<int>(index) == line_->error_at_byte
                                    ? line_->error_result
                                    : line_->transfer[index]);
        }
        return 0;
    }

    SerialStatus set_dtr(bool) override { return 0; }

  private:
    void take_arrivals() {
        const int64_t now_us = monotonic_us();
        while (!line_->arrivals.empty() && line_->arrivals.front().at_us <= now_us) {
            line_->rx.push_back(line_->arrivals.front().result);
            line_->arrivals.pop_front();
            line_->arrival_seen_us = now_us;
        }
    }

    SerialStatus cts_result() {
        if (!line_->cts_script.empty()) {
            const ScriptedLine::CtsAnswer answer = line_->cts_script.front();
            line_->cts_script.pop_front();
            while (monotonic_us() - line_->last_command_us < int64_t{answer.until_ms} * 1000) {
                sleep_ms(1);
            }
            return answer.result;
        }
        switch (line_->board) {
        case ScriptedLine::Board::scan_started:
            line_->board = ScriptedLine::Board::scan_done; // released at the next look
            return 1;
        case ScriptedLine::Board::data_ready:
            return line_->cts_stuck_after_data || line_->transfer_next < line_->transfer.size() ? 1
                                                                                                : 0;
        default:
            return 0;
        }
    }

    void board_command(const std::string& text) {
        if (text == "S") {
            line_->board = ScriptedLine::Board::scan_started;
            line_->rx.insert(line_->rx.end(), line_->noise_after_scan.begin(),
                             line_->noise_after_scan.end());
        } else if (text == "g" && line_->board == ScriptedLine::Board::scan_done) {
            line_->board = ScriptedLine::Board::data_ready;
            if (!line_->next_transfers.empty()) {
                line_->transfer = std::move(line_->next_transfers.front());
                line_->next_transfers.pop_front();
            }
            line_->transfer_next = 0;
        }
    }

    std::shared_ptr<ScriptedLine> line_;
};

inline std::shared_ptr<ScriptedLine> attach_scripted_port(PortIndex port) {
    auto line = std::make_shared<ScriptedLine>();
    if (serial_attach(port, std::make_unique<ScriptedPort>(line)) < 0) {
        return nullptr;
    }
    return line;
}
