#include "serial/connection.h"

#include "captured_file.h"
#include "serial/serial_endpoint.h"
#include "serial/service_version.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

// The message write_serial_error produces for `code`, as a string.
std::string message_for(SerialStatus code, const char* text = nullptr) {
    const CapturedFile out;
    write_serial_error(out.stream(), code, text);
    return out.text();
}

} // namespace

TEST(SerialErrorMessage, AbortedHasNoLineEnd) {
    EXPECT_EQ(message_for(-102), "Aborted");
}

TEST(SerialErrorMessage, CodesWithoutARowAreUnknown) {
    EXPECT_EQ(message_for(-50), "Unknown code -50\n");
    EXPECT_EQ(message_for(-104), "Unknown code -104\n");
    EXPECT_EQ(message_for(0), "Unknown code 0\n");
}

TEST(SerialErrorMessage, ContextComesFirstOnItsOwnLine) {
    EXPECT_EQ(message_for(-13, "COM5"), "COM5\nEvent I/O error (virtual port not ready ?)\n");
}

TEST(ServiceVersion, MinorFieldIsDecimal) {
    constexpr VersionNumbers version = split_version_word(421);
    EXPECT_EQ(version.major_number, 1);
    EXPECT_EQ(version.minor_number, 10);
    EXPECT_EQ(version.patch_number, 5);
}

TEST(ServiceVersion, MajorKeepsTheSign) {
    constexpr VersionNumbers version = split_version_word(-256 + 0x21);
    EXPECT_EQ(version.major_number, -1);
    EXPECT_EQ(version.minor_number, 2);
    EXPECT_EQ(version.patch_number, 1);
}
