// The board's output line: one ordered stream of data bytes, CTS changes and
// a connection drop. Each byte takes ten bit times at the client's baud rate
// and reaches the client when its stop bit ends; a CTS change or the drop goes
// out only after every byte queued before it, so CTS never overtakes data.
#pragma once

#include "serial/telnet_parser.h"
#include "sim/deadline.h"

#include <cstdint>
#include <deque>
#include <vector>

enum class LineEntryKind : uint8_t { byte, noise_byte, cts, disconnect };

struct LineEntry {
    LineEntryKind kind;
    uint8_t value; // byte: the byte; cts: 1 asserted, 0 released
    int64_t queued_ns;
};

struct LineStream {
    std::deque<LineEntry> entries;
    int64_t byte_time_ns = 0;
    Deadline line_free_ns;     // when the last byte's stop bit ended
    bool cts = false;          // CTS at the line's far end, the adapter
    uint8_t modem_mask = 0xFF; // the client's modem-state mask
};

// A byte or a CTS change reaching the line's far end.
struct LineArrival {
    bool is_cts;
    uint8_t value;
    int64_t at_ns;
};

void line_reset(LineStream& line, long baud);
void line_set_baud(LineStream& line, long baud);
void line_queue(LineStream& line, LineEntryKind kind, uint8_t value, int64_t now_ns);
// Drops stray bytes not yet sent (a reply must not follow noise queued before its command).
void line_purge_noise(LineStream& line);
// Drops every data byte not yet sent (RFC 2217 purge of the receive side).
void line_purge_data(LineStream& line);

// When the first entry is due; none when the stream is empty.
Deadline line_next_due_ns(const LineStream& line);

// Moves every entry due at `now_ns` to `out`, each with the moment it reached
// the far end (a CTS entry only when CTS changes). Returns true when a
// connection drop was reached.
bool line_emit_due(LineStream& line, int64_t now_ns, std::vector<LineArrival>& out);

// The NOTIFY-MODEMSTATE value for a CTS state, with the change bit when it changed.
uint8_t line_modem_state(bool cts, bool changed);
