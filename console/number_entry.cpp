// The 32-bit "%lu" conversions of number entry; see number_entry.h.
#include "console/number_entry.h"

#include <cinttypes>
#include <cstdio>

namespace {

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

int convert_number_entry(const char* text, size_t length, uint32_t* value) {
    size_t i = 0;
    while (i < length && text[i] != '\0' && is_blank(text[i])) {
        ++i;
    }
    if (i == length || text[i] == '\0') {
        return -1;
    }
    bool negative = false;
    if (text[i] == '+' || text[i] == '-') {
        negative = text[i] == '-';
        ++i;
    }
    if (i == length || !is_digit(text[i])) {
        return 0;
    }
    constexpr uint64_t LIMIT = UINT32_MAX;
    uint64_t magnitude = 0;
    for (; i < length && is_digit(text[i]); ++i) {
        magnitude = magnitude * 10 + uint64_t(text[i] - '0');
        if (magnitude > LIMIT) {
            magnitude = LIMIT + 1; // stays above the limit however many digits follow
        }
    }
    if (magnitude > LIMIT) {
        *value = UINT32_MAX;
    } else {
        *value = negative ? uint32_t(0U - uint32_t(magnitude)) : uint32_t(magnitude);
    }
    return 1;
}

void format_number_entry(uint32_t value, char (&text)[NUMBER_TEXT_SIZE]) {
    std::snprintf(text, sizeof text, "%" PRIu32, value);
}
