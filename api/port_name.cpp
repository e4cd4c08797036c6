#include "api/port_name.h"

#include <cctype>

namespace {

// Decimal digits only, at most 9 of them (no sign, no blanks).
bool read_number(const char* digits, long& out) {
    if (*digits == '\0') {
        return false;
    }
    long value = 0;
    int count = 0;
    for (const char* next = digits; *next != '\0'; ++next) {
        if (!std::isdigit(static_cast<unsigned char>(*next)) || ++count > 9) {
            return false;
        }
        value = value * 10 + (*next - '0');
    }
    out = value;
    return true;
}

} // namespace

PortName read_port_name(const char* text) {
    PortName port;
    const char* digits = text;
    if ((text[0] == 'C' || text[0] == 'c') && (text[1] == 'O' || text[1] == 'o') &&
        (text[2] == 'M' || text[2] == 'm')) {
        digits = text + 3;
    }
    if (read_number(digits, port.com_number)) {
        port.is_com_number = true;
        return port;
    }
    port.name = text;
    return port;
}
