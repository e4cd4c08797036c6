#include "console/number_entry.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

struct ConversionCase {
    const char* text;
    int result;
    uint32_t value; // starts as 77
};

const ConversionCase conversions[] = {
    {"7", 1, 7},
    {"  \t12abc", 1, 12},
    {"+5", 1, 5},
    {"-0", 1, 0},
    {"007", 1, 7},
    {"0x10", 1, 0},
    {"4294967295", 1, 4294967295U},
    {"4294967296", 1, 4294967295U}, // saturates, never wraps into a small value
    {"99999999999999999999999999", 1, 4294967295U},
    {"-1", 1, 4294967295U},
    {"-4294967295", 1, 1},
    {"-4294967296", 1, 4294967295U},
    {"\v\f\r\n 3", 1, 3},
    {"", -1, 77},
    {"   ", -1, 77},
    {"\t\n", -1, 77},
    {"abc", 0, 77},
    {"-", 0, 77},
    {"+", 0, 77},
    {"- 5", 0, 77},
    {"+-5", 0, 77},
    {"\xe0H", 0, 77},
};

TEST(ConvertNumberEntry, ReadsLikeA32BitUnsignedConversion) {
    for (const ConversionCase& c : conversions) {
        uint32_t value = 77;
        EXPECT_EQ(convert_number_entry(c.text, std::strlen(c.text) + 1, &value), c.result)
            << '"' << c.text << '"';
        EXPECT_EQ(value, c.value) << '"' << c.text << '"';
    }
}

TEST(ConvertNumberEntry, StopsAtTheGivenLength) {
    const char digits[] = {'1', '2', '3'}; // no zero byte
    uint32_t value = 0;
    EXPECT_EQ(convert_number_entry(digits, 2, &value), 1);
    EXPECT_EQ(value, 12U);
    EXPECT_EQ(convert_number_entry(" -", 2, &value), 0);
    EXPECT_EQ(convert_number_entry("  ", 1, &value), -1);
    EXPECT_EQ(convert_number_entry("5", 0, &value), -1);
    EXPECT_EQ(value, 12U);
}

TEST(FormatNumberEntry, WritesUnsignedDecimal) {
    char text[NUMBER_TEXT_SIZE];
    format_number_entry(0, text);
    EXPECT_STREQ(text, "0");
    format_number_entry(650, text);
    EXPECT_STREQ(text, "650");
    format_number_entry(4294967295U, text);
    EXPECT_STREQ(text, "4294967295");
}

} // namespace
