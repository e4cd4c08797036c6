// Device transport: board commands out, lines and bytes in with millisecond
// time-outs, the stopwatch and the microsecond delay.
#pragma once

#include "serial/serial_service.h"

#include <cstdint>

class CancelSignal;

// One conversation with a board on an open port. The stopwatch's start
// instant is the link's own, so two links on two threads keep their own time.
// `stopwatch(0)`, `read_line` and `read_byte` all set it.
struct DeviceLink {
    PortIndex port = -1;
    int64_t start_instant_us = 0;
    // When set, a raised signal ends the link's waits and pauses early (the
    // interactive program has none: its waits always run to their end).
    CancelSignal* cancel = nullptr;
    // Every time-out of the board's operations is lengthened to this share of
    // its own value (100: as the board's limits are; a slow network path may
    // take up to 1000).
    unsigned timeout_scale_percent = 100;
};

int send_command(DeviceLink& link, const char* text);
int read_line(DeviceLink& link, char* buffer, uint16_t size, uint16_t timeout_ms);
// A byte (0-255), or -1 on time-out (or, with a cancel signal, once it is raised).
int read_byte(DeviceLink& link, uint16_t timeout_ms);
int32_t stopwatch(DeviceLink& link, int mode);
void micro_delay(int64_t microseconds);
// Sleeps whole milliseconds; false when the link's cancel signal cut it short.
bool link_pause(DeviceLink& link, uint32_t milliseconds);
// `milliseconds` lengthened by the link's time-out scale.
int32_t scaled_ms(const DeviceLink& link, int32_t milliseconds);
// True once the link's cancel signal has been raised.
bool link_cancelled(const DeviceLink& link);
