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
    Deadline inbound_free_ns; // none: no data byte yet
};

// Data bytes a burst may hold before the line's rate applies.
constexpr int64_t SESSION_BURST_BYTES = 64;

// Starts a session: the server's own option requests go to `wire`.
void session_start(Rfc2217Session& session, LineStream& line, TelnetBytes& wire);

// When the session can take `byte`, the client's next byte: a byte that
// completes a data item once the line to the board has room for it, any
// other byte at once (Telnet commands are the server's, not the line's).
// Never before `now_ns`.
int64_t session_ready_ns(const Rfc2217Session& session, uint8_t byte, int64_t now_ns,
                         int64_t byte_ns);

// How much a session may leave waiting before it stops taking the client's bytes.
struct SessionRoom {
    size_t wire_bytes = SIZE_MAX;       // answers in `wire`
    int64_t rts_backlog_ns = INT64_MAX; // RTS changes on their way through the adapter
};

// Handles bytes from the client. Answers go to `wire` at once (they are not
// part of the serial line); data goes to the board, RTS changes through the
// adapter. Returns how many bytes it took: it stops after an item once `wire`
// or the adapter's RTS changes fill the room, or before a byte the session
// cannot take yet (see session_ready_ns).
size_t session_receive(Rfc2217Session& session, const uint8_t* data, size_t size, Board& board,
                       AdapterModel& adapter, BoardIo& io, TelnetBytes& wire,
                       const SessionRoom& room = {});
