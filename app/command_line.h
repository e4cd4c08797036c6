// The command line: options read in order with POSIX getopt, then the rule of
// exactly four arguments. Reading has no side effects; the caller acts on the
// request (messages, scan, version report, start-up).
#pragma once

#include "serial/serial_service.h"

#include <cstdint>

enum class StartAction {
    run,          // open `port` at `baud` and run the menu
    scan,         // -l reached: list the ports
    version,      // -v reached: print the version report
    bad_option,   // getopt reported an unknown option or a missing value
    wrong_shape,  // not exactly four arguments, all consumed, with a baud option
    port_range,   // -p/-P value outside 1..256
    baud_unknown, // -b/-B text not in the baud table (`bad_text` holds it)
};

struct StartRequest {
    StartAction action = StartAction::wrong_shape;
    PortIndex port = 0; // COM1 until a -p/-P sets it
    long baud = 0;
    const char* bad_text = nullptr;
};

// The accepted baud texts, compared byte for byte.
constexpr int BAUD_TABLE_SIZE = 10;
extern const char* const baud_table[BAUD_TABLE_SIZE];

// Index of the first baud_table entry equal to `text`, or -1.
int lookup_baud(const char* text);

// `text` read as a 32-bit atoi reads it (leading white space, one sign, digits up
// to the first non-digit, no digits give 0), saturating at the int32 limits
// instead of wrapping.
int32_t read_int_like_atoi(const char* text);

StartRequest read_command_line(int argc, char* argv[]);
