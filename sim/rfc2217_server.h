// The server side of RFC 2217 for one client: option negotiation, the answer
// to every COM-PORT-OPTION command, and data and RTS handed to the board.
#pragma once

#include "serial/telnet_parser.h"
#include "sim/adapter_model.h"
#include "sim/board.h"
#include "sim/line_stream.h"

#include <cstddef>
#include <cstdint>

constexpr long SIM_DEFAULT_BAUD = 115200;

struct Rfc2217Session {
    TelnetParser parser;
    TelnetNegotiation negotiation;
    bool greeted = false; // the first NOTIFY-MODEMSTATE went out
    long baud = SIM_DEFAULT_BAUD;
    uint8_t data_size = 8;
    uint8_t parity = telnet::PARITY_NONE;
    uint8_t stop_size = telnet::STOPSIZE_ONE;
    bool dtr = false;
    // The line from the client to the board carries a byte in ten bit times:
    // a burst as long as a command goes at once, a flood at the line's rate.
    int64_t inbound_free_ns = 0;
};

// Data bytes a burst may hold before the line's rate applies.
constexpr int64_t SESSION_BURST_BYTES = 64;

// Starts a session: the server's own option requests go to `wire`.
void session_start(Rfc2217Session& session, LineStream& line, TelnetBytes& wire);

// Handles bytes from the client. Answers go to `wire` at once (they are not
// part of the serial line); data goes to the board, RTS changes through the
// adapter. Returns how many bytes it took: it stops after an item once
// `wire` holds `wire_limit` bytes or more, or before a data byte the board's
// line cannot take yet (see session_data_room).
size_t session_receive(Rfc2217Session& session, const uint8_t* data, size_t size, Board& board,
                       AdapterModel& adapter, BoardIo& io, TelnetBytes& wire,
                       size_t wire_limit = SIZE_MAX);
