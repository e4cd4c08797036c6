// A board operation's failure as a value: the code and the filled-in text that
// an operator reads (e.g. "S Command Timeout, Spectrometer CTS never asserted
// after 503 msecs", -206).
#pragma once

#include <cstddef>
#include <cstdint>

// Room for the longest failure text with the widest numbers.
constexpr size_t FAILURE_TEXT_SIZE = 160;

struct BoardFailure {
    int32_t code = 0;
    char text[FAILURE_TEXT_SIZE] = "";
};
