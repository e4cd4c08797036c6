// Device transport: board commands out, lines and bytes in with millisecond
// time-outs, the stopwatch and the microsecond delay.
#pragma once

#include "serial/serial_service.h"

#include <cstdint>

int send_command(PortIndex port, const char* text);
int read_line(PortIndex port, char* buffer, uint16_t size, uint16_t timeout_ms);
int read_byte(PortIndex port, uint16_t timeout_ms);
int32_t stopwatch(int mode);
void micro_delay(int64_t microseconds);
