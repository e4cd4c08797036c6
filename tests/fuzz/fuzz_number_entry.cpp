// Number entry against a reference of the 32-bit "%lu" conversion built on
// the C library's own sscanf: its result (1, 0, or EOF for blanks only) must
// match; a number whose digits exceed 4294967295 gives 4294967295 (with or
// without a minus sign); otherwise a minus sign negates modulo 2^32; a value
// is never touched when nothing was converted. Formatting a value and reading
// it back gives the value.
#include "console/number_entry.h"
#include "tests/fuzz/fuzz_check.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The expected 32-bit value of text that sscanf converted.
uint32_t expected_value(const std::string& text) {
    size_t i = 0;
    while (is_blank(text[i])) {
        ++i;
    }
    const bool negative = text[i] == '-';
    if (text[i] == '+' || text[i] == '-') {
        ++i;
    }
    while (text[i] == '0') {
        ++i;
    }
    size_t digits = 0;
    while (text[i + digits] >= '0' && text[i + digits] <= '9') {
        ++digits;
    }
    const std::string magnitude = text.substr(i, digits);
    if (digits > 10 || (digits == 10 && magnitude > "4294967295")) {
        return 4294967295U;
    }
    const uint64_t value = digits == 0 ? 0 : std::strtoull(magnitude.c_str(), nullptr, 10);
    return negative ? static_cast<uint32_t>(0U - static_cast<uint32_t>(value))
                    : static_cast<uint32_t>(value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    // The reference reads up to the length or the first zero byte.
    const std::string bounded(text, strnlen(text, size));

    constexpr uint32_t UNTOUCHED = 0xA5A5A5A5U;
    uint32_t value = UNTOUCHED;
    const int result = convert_number_entry(text, size, &value);

    unsigned long scanned = 0;
    const int reference = std::sscanf(bounded.c_str(), "%lu", &scanned);
    check(result == (reference == EOF ? -1 : reference));
    if (result == 1) {
        check(value == expected_value(bounded));
    } else {
        check(value == UNTOUCHED);
    }

    // Any 32-bit value survives formatting and reading back.
    if (size >= 4) {
        uint32_t original = 0;
        std::memcpy(&original, data, 4);
        char formatted[NUMBER_TEXT_SIZE];
        format_number_entry(original, formatted);
        uint32_t back = 0;
        check(convert_number_entry(formatted, sizeof formatted, &back) == 1 && back == original);
    }
    return 0;
}
