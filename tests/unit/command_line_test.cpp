#include "app/command_line.h"

#include <gtest/gtest.h>

#include <climits>

TEST(ReadIntLikeAtoi, ReadsAsAtoiButSaturates) {
    struct Case {
        const char* text;
        int32_t value;
    };
    const Case cases[] = {
        {"12", 12},
        {" \t\n+2", 2},
        {"-5", -5},
        {"abc", 0},
        {"", 0},
        {"7x", 7},
        {"+-1", 0},
        {"2147483647", INT32_MAX},
        {"2147483648", INT32_MAX},
        {"4294967297", INT32_MAX},
        {"99999999999999999999999999", INT32_MAX},
        {"-2147483648", INT32_MIN},
        {"-4294967297", INT32_MIN},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(read_int_like_atoi(c.text), c.value) << '"' << c.text << '"';
    }
}
