// The server side of RFC 2217 for one client: option negotiation, the answer
// to every COM-PORT-OPTION command, and data and RTS handed to the board.
#pragma once

#include "serial/telnet_parser.h"
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
};

// Starts a session: the server's own option requests go to `wire`.
void session_start(Rfc2217Session& session, LineStream& line, TelnetBytes& wire);

// Handles bytes from the client. Answers go to `wire` at once (they are not
// part of the serial line); data and RTS changes go to the board.
void session_receive(Rfc2217Session& session, const uint8_t* data, size_t size, Board& board,
                     BoardIo& io, TelnetBytes& wire);
