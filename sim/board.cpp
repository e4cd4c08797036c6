#include "sim/board.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace {

constexpr size_t MAX_COMMAND = 64;
// The sensor readout keeps even a scan of no pre scans and no integration
// busy this long, so a host polling CTS every millisecond sees it.
constexpr int64_t MIN_SCAN_US = 5'000;
constexpr int64_t NOISE_MIN_GAP_US = 30'000;
constexpr int64_t NOISE_GAP_SPREAD_US = 90'000;

int64_t ns(int64_t us) {
    return us * 1000;
}

uint64_t next_noise_random(Board& board) {
    // xorshift64: the stray bytes only need to look random.
    uint64_t x = board.noise_state;
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    board.noise_state = x;
    return x;
}

void schedule_noise(Board& board, int64_t now_us) {
    board.next_noise_us = now_us + NOISE_MIN_GAP_US +
                          static_cast<int64_t>(next_noise_random(board) % NOISE_GAP_SPREAD_US);
}

void set_cts(Board& board, bool on, BoardIo& io) {
    if (board.cts == on) {
        return;
    }
    board.cts = on;
    line_queue(io.line, LineEntryKind::cts, on ? 1 : 0, ns(io.now_us));
}

void queue_text(BoardIo& io, const std::string& text) {
    for (const char c : text) {
        line_queue(io.line, LineEntryKind::byte, static_cast<uint8_t>(c), ns(io.now_us));
    }
}

void send_firmware_reply(Board& board, BoardIo& io) {
    board.reply_due_us.reset();
    line_purge_noise(io.line);
    queue_text(io, board.firmware + "\r\n");
}

// A decimal number of digits only, at most `limit`.
bool parse_number(const std::string& text, unsigned long limit, unsigned long& value) {
    if (text.empty() || text.size() > 10) {
        return false;
    }
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    errno = 0;
    value = std::strtoul(text.c_str(), nullptr, 10);
    return errno == 0 && value <= limit;
}

void end_activity(Board& board) {
    board.phase = BoardPhase::idle;
    board.scan_end_us.reset();
    board.data_requested = false;
    board.stalled = false;
    board.transfer_sent = 0;
}

void make_data_ready(Board& board, BoardIo& io) {
    const uint32_t integration =
        board.phase == BoardPhase::scan_done ? board.scan_integration_ms : board.integration_ms;
    board.data_requested = false;
    if (fault_take(board.faults, Fault::no_data_ready, io.events)) {
        return;
    }
    ++board.transfers;
    const Spectrum spectrum = spectrum_generate(board.model, integration, board.transfers);
    event_spectrum(io.events, board.transfers, spectrum);
    board.transfer_bytes = spectrum_transfer_bytes(spectrum);
    board.transfer_sent = 0;
    board.stalled = false;
    board.phase = BoardPhase::transfer;
    set_cts(board, true, io);
}

void start_scan(Board& board, BoardIo& io) {
    end_activity(board);
    if (fault_take(board.faults, Fault::no_scan_start, io.events)) {
        return;
    }
    set_cts(board, true, io);
    board.phase = BoardPhase::scanning;
    board.scan_integration_ms = board.integration_ms;
    if (fault_take(board.faults, Fault::scan_stuck, io.events)) {
        board.scan_end_us.reset();
    } else {
        const int64_t duration_us = static_cast<int64_t>(board.pre_scans) * 4000 +
                                    static_cast<int64_t>(board.scan_integration_ms) * 1000;
        board.scan_end_us = io.now_us + std::max(duration_us, MIN_SCAN_US);
    }
}

void set_led(Board& board, int led, bool on, BoardIo& io) {
    board.leds[static_cast<size_t>(led - 1)] = on;
    event_led(io.events, led, on);
}

void run_command(Board& board, const std::string& text, BoardIo& io) {
    event_command(io.events, text);
    unsigned long value = 0;
    if (text == "V") {
        line_purge_noise(io.line);
        if (fault_take(board.faults, Fault::silent, io.events)) {
            return;
        }
        if (fault_take(board.faults, Fault::slow_reply, io.events)) {
            board.reply_due_us =
                io.now_us +
                static_cast<int64_t>(fault_value(board.faults, Fault::slow_reply)) * 1000;
            return;
        }
        send_firmware_reply(board, io);
    } else if (text == "L1" || text == "L2" || text == "L3" || text == "L4") {
        const int number = text[1] - '0';
        set_led(board, number <= 2 ? 1 : 2, number % 2 == 0, io);
    } else if (text == "E5") {
        end_activity(board);
        set_cts(board, false, io);
    } else if (text[0] == 'P' && parse_number(text.substr(1), 0xFFFF, value)) {
        board.pre_scans = static_cast<uint16_t>(value);
    } else if (text[0] == 'R' && parse_number(text.substr(1), 0xFFFF, value)) {
        board.data_scans = static_cast<uint16_t>(value);
    } else if (text[0] == 'I' && parse_number(text.substr(1), 0xFFFFFFFFUL, value)) {
        board.integration_ms = static_cast<uint32_t>(value);
    } else if (text == "S") {
        start_scan(board, io);
    } else if (text == "g") {
        if (board.phase == BoardPhase::scanning) {
            board.data_requested = true;
        } else {
            make_data_ready(board, io);
        }
    }
    // Anything else is not a command of this board and is ignored.
}

void send_next_byte(Board& board, BoardIo& io) {
    if (board.transfer_sent >= board.transfer_bytes.size()) {
        return;
    }
    const auto sent = static_cast<uint32_t>(board.transfer_sent);
    if (fault_armed(board.faults, Fault::disconnect_at) &&
        fault_value(board.faults, Fault::disconnect_at) == sent) {
        fault_take(board.faults, Fault::disconnect_at, io.events);
        board.stalled = true;
        line_queue(io.line, LineEntryKind::disconnect, 0, ns(io.now_us));
        return;
    }
    if (fault_armed(board.faults, Fault::stall_at) &&
        fault_value(board.faults, Fault::stall_at) == sent) {
        fault_take(board.faults, Fault::stall_at, io.events);
        board.stalled = true;
        return;
    }
    line_queue(io.line, LineEntryKind::byte, board.transfer_bytes[board.transfer_sent++],
               ns(io.now_us));
    if (board.transfer_sent == board.transfer_bytes.size()) {
        event_sent(io.events, board.transfers);
        ++board.faults.spectra_sent;
        board.phase = BoardPhase::idle;
        if (!fault_take(board.faults, Fault::cts_stuck_after_data, io.events)) {
            set_cts(board, false, io);
        }
    }
}

// Noise comes in two ways: a burst right after each command has been handled
// (after its reply), and bursts at random moments while a scan runs. So
// stray bytes reach the host between its commands and before the data-ready
// signal, but never between a command and its reply: a host that clears its
// receive queue and then asks finds the line quiet.
bool noise_allowed(const Board& board) {
    return board.client && fault_armed(board.faults, Fault::noise) && !board.reply_due_us &&
           board.phase != BoardPhase::transfer;
}

bool scan_noise_allowed(const Board& board) {
    return noise_allowed(board) &&
           (board.phase == BoardPhase::scanning || board.phase == BoardPhase::scan_done);
}

void send_noise(Board& board, BoardIo& io) {
    fault_take(board.faults, Fault::noise, io.events);
    const int count = 1 + static_cast<int>(next_noise_random(board) % 3);
    for (int i = 0; i < count; ++i) {
        auto byte = static_cast<uint8_t>(next_noise_random(board) & 0xFF);
        // No line ends and no NUL: a stray byte must never end or cut a line.
        if (byte == '\r' || byte == '\n' || byte == 0) {
            byte = '~';
        }
        line_queue(io.line, LineEntryKind::noise_byte, byte, ns(io.now_us));
    }
}

} // namespace

void board_init(Board& board, const std::string& firmware, uint64_t seed) {
    board.firmware = firmware;
    board.model = spectrum_model(seed);
    board.noise_state = (seed * 0x9E3779B97F4A7C15ULL) | 1;
}

void board_client_connected(Board& board, BoardIo& io) {
    board.client = true;
    board.cts = false;
    board.rts = false;
    board.command.clear();
    schedule_noise(board, io.now_us);
}

void board_client_gone(Board& board) {
    end_activity(board);
    board.client = false;
    board.cts = false;
    board.rts = false;
    board.command.clear();
    board.reply_due_us.reset();
    board.next_noise_us.reset();
}

void board_receive(Board& board, uint8_t byte, BoardIo& io) {
    if (byte == '\r') {
        if (!board.command.empty()) {
            const std::string text = board.command;
            board.command.clear();
            run_command(board, text, io);
            if (noise_allowed(board)) {
                send_noise(board, io);
            }
        }
        return;
    }
    if (byte == '\n') {
        return;
    }
    // A line longer than any command is cut; it matches no command.
    if (board.command.size() < MAX_COMMAND) {
        board.command += static_cast<char>(byte);
    }
}

void board_set_rts(Board& board, bool on, BoardIo& io) {
    const bool rising = on && !board.rts;
    board.rts = on;
    if (rising && board.phase == BoardPhase::transfer && !board.stalled) {
        send_next_byte(board, io);
    }
}

void board_tick(Board& board, BoardIo& io) {
    if (!board.client) {
        return;
    }
    if (board.phase == BoardPhase::scanning && board.scan_end_us &&
        io.now_us >= *board.scan_end_us) {
        board.scan_end_us.reset();
        set_cts(board, false, io);
        board.phase = BoardPhase::scan_done;
        if (board.data_requested) {
            make_data_ready(board, io);
        }
    }
    if (board.reply_due_us && io.now_us >= *board.reply_due_us) {
        send_firmware_reply(board, io);
        if (noise_allowed(board)) {
            send_noise(board, io);
        }
    }
    if (board.next_noise_us && io.now_us >= *board.next_noise_us) {
        if (scan_noise_allowed(board)) {
            send_noise(board, io);
        }
        schedule_noise(board, io.now_us);
    }
}

Deadline board_next_deadline_us(const Board& board) {
    if (!board.client) {
        return std::nullopt;
    }
    Deadline next = board.reply_due_us;
    if (board.phase == BoardPhase::scanning) {
        next = earliest(next, board.scan_end_us);
    }
    if (fault_armed(board.faults, Fault::noise)) {
        next = earliest(next, board.next_noise_us);
    }
    return next;
}
