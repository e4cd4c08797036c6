// Connection set-up, the serial failure path and the exit sequence.
#pragma once

#include "serial/serial_service.h"

#include <cstdio>

SerialStatus init_serial();
void open_port(PortIndex port, long rate);
[[noreturn]] void serial_fail(PortIndex port, SerialStatus code);
// Prints the message for a SerialStatus code on standard output; `text` (may be
// null) comes first, on a line of its own.
void report_serial_error(SerialStatus code, const char* text);
// The same message written to `out`.
void write_serial_error(std::FILE* out, SerialStatus code, const char* text);
[[noreturn]] void fatal_exit(int status);
