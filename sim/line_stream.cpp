#include "sim/line_stream.h"

#include <algorithm>

namespace {

int64_t due_of(const LineStream& line, const LineEntry& entry) {
    const int64_t start = std::max(entry.queued_ns, line.line_free_ns.value_or(entry.queued_ns));
    const bool is_byte =
        entry.kind == LineEntryKind::byte || entry.kind == LineEntryKind::noise_byte;
    return is_byte ? start + line.byte_time_ns : start;
}

} // namespace

void line_set_baud(LineStream& line, long baud) {
    // Ten bit times a byte: start bit, eight data bits, stop bit.
    line.byte_time_ns = baud > 0 ? 10'000'000'000LL / baud : 0;
}

void line_reset(LineStream& line, long baud) {
    line.entries.clear();
    line.line_free_ns.reset();
    line.cts = false;
    line.modem_mask = 0xFF;
    line_set_baud(line, baud);
}

void line_queue(LineStream& line, LineEntryKind kind, uint8_t value, int64_t now_ns) {
    line.entries.push_back(LineEntry{kind, value, now_ns});
}

void line_purge_noise(LineStream& line) {
    std::erase_if(line.entries,
                  [](const LineEntry& entry) { return entry.kind == LineEntryKind::noise_byte; });
}

void line_purge_data(LineStream& line) {
    std::erase_if(line.entries, [](const LineEntry& entry) {
        return entry.kind == LineEntryKind::byte || entry.kind == LineEntryKind::noise_byte;
    });
}

Deadline line_next_due_ns(const LineStream& line) {
    if (line.entries.empty()) {
        return std::nullopt;
    }
    return due_of(line, line.entries.front());
}

uint8_t line_modem_state(bool cts, bool changed) {
    return static_cast<uint8_t>((cts ? telnet::MODEM_CTS : 0) |
                                (changed ? telnet::MODEM_CTS_CHANGED : 0));
}

bool line_emit_due(LineStream& line, int64_t now_ns, std::vector<LineArrival>& out) {
    while (!line.entries.empty()) {
        const LineEntry entry = line.entries.front();
        const int64_t due = due_of(line, entry);
        if (due > now_ns) {
            return false;
        }
        line.entries.pop_front();
        switch (entry.kind) {
        case LineEntryKind::byte:
        case LineEntryKind::noise_byte:
            line.line_free_ns = due;
            out.push_back(LineArrival{false, entry.value, due});
            break;
        case LineEntryKind::cts: {
            const bool on = entry.value != 0;
            if (on != line.cts) {
                line.cts = on;
                out.push_back(LineArrival{true, entry.value, due});
            }
            break;
        }
        case LineEntryKind::disconnect:
            return true;
        }
    }
    return false;
}
