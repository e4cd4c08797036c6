// Reads the one line of a port file. Strict on purpose: anything but the one
// form is no port, so a stray file in the port directory is never dialled.
#include "serial/port_file.h"

namespace {

constexpr std::string_view SCHEME = "rfc2217://";
constexpr SerialStatus NO_PORT = -10;

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}
bool is_hex_digit(char c) {
    return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
bool is_letter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// A host name or an IPv4 address: letters, digits, '-', '_' and '.'.
bool plain_host(std::string_view host) {
    if (host.empty()) {
        return false;
    }
    for (const char c : host) {
        if (!is_letter(c) && !is_digit(c) && c != '-' && c != '_' && c != '.') {
            return false;
        }
    }
    return true;
}

// What stands between brackets: hexadecimal groups, colons, and dots for an
// embedded IPv4 address.
bool ipv6_host(std::string_view host) {
    if (host.find(':') == std::string_view::npos) {
        return false;
    }
    for (const char c : host) {
        if (!is_hex_digit(c) && c != ':' && c != '.') {
            return false;
        }
    }
    return true;
}

// 1..65535 in plain decimal, no sign, no leading zero.
bool parse_port(std::string_view text, uint16_t& out) {
    if (text.empty() || text.size() > 5 || text[0] == '0') {
        return false;
    }
    long value = 0;
    for (const char c : text) {
        if (!is_digit(c)) {
            return false;
        }
        value = value * 10 + (c - '0');
    }
    if (value > 65535) {
        return false;
    }
    out = static_cast<uint16_t>(value);
    return true;
}

} // namespace

SerialStatus parse_port_file(std::string_view content, PortFileTarget& out) {
    if (content.size() > PORT_FILE_MAX_SIZE || content.substr(0, SCHEME.size()) != SCHEME) {
        return NO_PORT;
    }
    std::string_view rest = content.substr(SCHEME.size());
    if (rest.size() >= 2 && rest.substr(rest.size() - 2) == "\r\n") {
        rest.remove_suffix(2);
    } else if (!rest.empty() && rest.back() == '\n') {
        rest.remove_suffix(1);
    }
    std::string_view host;
    std::string_view port;
    if (!rest.empty() && rest[0] == '[') {
        const size_t close = rest.find(']');
        if (close == std::string_view::npos || close + 1 >= rest.size() || rest[close + 1] != ':') {
            return NO_PORT;
        }
        host = rest.substr(1, close - 1);
        port = rest.substr(close + 2);
        if (!ipv6_host(host)) {
            return NO_PORT;
        }
    } else {
        const size_t colon = rest.find(':');
        if (colon == std::string_view::npos) {
            return NO_PORT;
        }
        host = rest.substr(0, colon);
        port = rest.substr(colon + 1);
        if (!plain_host(host)) {
            return NO_PORT;
        }
    }
    uint16_t number = 0;
    if (!parse_port(port, number)) {
        return NO_PORT;
    }
    out.host = std::string(host);
    out.port = number;
    return 0;
}
