// Number entry as "%lu" reads and writes it where long is 32 bits wide,
// whatever the width of long here.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t NUMBER_TEXT_SIZE = 11; // "4294967295" and its zero byte

// Converts an entry the way the formatted-input "%lu" conversion does on a
// 32-bit long: leading white space, an optional sign, decimal digits; what
// follows the digits is ignored. Reads at most `length` bytes and stops at a
// zero byte. Returns
//    1: a number was read and stored in `value`;
//    0: the first character met is not part of a number (`value` unchanged);
//   -1: the text ends before any number starts, e.g. blanks only (`value` unchanged).
// A number too large for 32 bits gives 4294967295 (it never wraps around);
// a minus sign negates modulo 2^32, so "-1" gives 4294967295.
int convert_number_entry(const char* text, size_t length, uint32_t* value);

// Writes `value` as an unsigned decimal ("%lu" of a 32-bit long) into `text`.
void format_number_entry(uint32_t value, char (&text)[NUMBER_TEXT_SIZE]);
