// The event log: one JSON object a line, flushed as it happens, so a test can
// follow what the board saw and did. Each object has "t" (seconds since the
// simulator started, monotonic) and "event".
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

struct EventLog {
    std::FILE* file = nullptr; // none: events are not written
    int64_t start_us = 0;
};

// Opens (truncates) the log file; false when it cannot be created.
bool events_open(EventLog& log, const std::string& path, int64_t start_us);
void events_close(EventLog& log);

void event_command(EventLog& log, const std::string& text);
void event_led(EventLog& log, int led, bool on);
void event_spectrum(EventLog& log, uint32_t scan, const std::array<uint16_t, 256>& values);
// The last byte of transfer `scan` went on the line.
void event_sent(EventLog& log, uint32_t scan);
void event_fault(EventLog& log, const char* name);
void event_client(EventLog& log, const char* state);
// The adapter model in use; for one that samples CTS on a seeded timer, its
// first tick and period in seconds of the log's clock (negative: none).
void event_adapter(EventLog& log, const char* name, double first_tick_s, double period_s);
