#include "app/command_line.h"

#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

// "+" keeps glibc's getopt from reordering the arguments: options end at the
// first operand, as POSIX has it.
constexpr const char* OPTIONS = "+p:P:b:B:lv";
constexpr int EXPECTED_ARGC = 5;

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

} // namespace

const char* const baud_table[BAUD_TABLE_SIZE] = {"0",    "300",   "1200",  "2400",  "4800",
                                                 "9600", "19200", "38400", "57600", "115200"};

int lookup_baud(const char* text) {
    for (int index = 0; index < BAUD_TABLE_SIZE; ++index) {
        if (std::strcmp(baud_table[index], text) == 0) {
            return index;
        }
    }
    return -1;
}

int32_t read_int_like_atoi(const char* text) {
    while (is_space(*text)) {
        ++text;
    }
    const bool negative = *text == '-';
    if (*text == '-' || *text == '+') {
        ++text;
    }
    // Accumulate in 64 bits and stop growing once past the 32-bit range.
    constexpr int64_t limit = static_cast<int64_t>(INT32_MAX) + 1;
    int64_t magnitude = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        if (magnitude <= limit) {
            magnitude = magnitude * 10 + (*text - '0');
        }
    }
    const int64_t value = negative ? -magnitude : magnitude;
    if (value > INT32_MAX) {
        return INT32_MAX;
    }
    if (value < INT32_MIN) {
        return INT32_MIN;
    }
    return static_cast<int32_t>(value);
}

StartRequest read_command_line(int argc, char* argv[]) {
    StartRequest request;
    bool baud_given = false;
    if (argc < 1) {
        return request; // not even a program name
    }
    // 0 makes glibc's getopt start afresh (also when called more than once).
    optind = 0;
    int option = 0;
    while ((option = getopt(argc, argv, OPTIONS)) != -1) {
        switch (option) {
        case 'p':
        case 'P': {
            const int64_t port = static_cast<int64_t>(read_int_like_atoi(optarg)) - 1;
            if (port < 0 || port >= SERIAL_PORT_COUNT) {
                request.action = StartAction::port_range;
                return request;
            }
            request.port = static_cast<PortIndex>(port);
            break;
        }
        case 'b':
        case 'B': {
            const int index = lookup_baud(optarg);
            if (index < 0) {
                request.action = StartAction::baud_unknown;
                request.bad_text = optarg;
                return request;
            }
            request.baud = std::atol(baud_table[index]);
            baud_given = true;
            break;
        }
        case 'l':
            request.action = StartAction::scan;
            return request;
        case 'v':
            request.action = StartAction::version;
            return request;
        default:
            request.action = StartAction::bad_option;
            return request;
        }
    }
    // Four arguments that set no baud rate (-p 1 -p 2) leave nothing to open the
    // port with: refused like any other wrong shape.
    const bool four_consumed = argc == EXPECTED_ARGC && optind == EXPECTED_ARGC;
    request.action = four_consumed && baud_given ? StartAction::run : StartAction::wrong_shape;
    return request;
}
