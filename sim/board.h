// The board: its command interpreter, LEDs, settings, scan timing and the
// RTS-paced spectrum transfer. Output goes to the line stream, what happens
// to the event log; faults bend the behaviour at their points.
#pragma once

#include "sim/deadline.h"
#include "sim/events.h"
#include "sim/faults.h"
#include "sim/line_stream.h"
#include "sim/spectrum.h"

#include <array>
#include <cstdint>
#include <string>

enum class BoardPhase : uint8_t {
    idle,
    scanning,  // after "S\r": CTS asserted until the scan ends
    scan_done, // the scan's data waits for "g\r"
    transfer,  // data ready: each RTS rising edge sends the next byte
};

struct Board {
    // Kept while clients come and go.
    std::array<bool, 2> leds{};
    uint16_t pre_scans = 3;
    uint16_t data_scans = 3;
    uint32_t integration_ms = 650;
    uint32_t transfers = 0; // transfers since start
    std::string firmware;
    SpectrumModel model;
    Faults faults;
    uint64_t noise_state = 1;

    // Per client.
    bool client = false;
    bool cts = false;
    bool rts = false;
    BoardPhase phase = BoardPhase::idle;
    Deadline scan_end_us; // none: the scan never ends by itself
    uint32_t scan_integration_ms = 0;
    bool data_requested = false; // "g\r" came while the scan ran
    bool stalled = false;        // a stall fault froze the transfer
    std::array<uint8_t, 2 * SIM_PIXELS> transfer_bytes{};
    size_t transfer_sent = 0;
    std::string command;
    Deadline reply_due_us; // a delayed "V\r" answer
    Deadline next_noise_us;
};

struct BoardIo {
    LineStream& line;
    EventLog& events;
    int64_t now_us;
};

void board_init(Board& board, const std::string& firmware, uint64_t seed);
void board_client_connected(Board& board, BoardIo& io);
// The client left: CTS drops, any scan or transfer ends, the LEDs stay.
void board_client_gone(Board& board);

void board_receive(Board& board, uint8_t byte, BoardIo& io);
void board_set_rts(Board& board, bool on, BoardIo& io);

// Runs what is due (scan end, delayed reply, noise); the next deadline in
// microseconds.
void board_tick(Board& board, BoardIo& io);
Deadline board_next_deadline_us(const Board& board);
