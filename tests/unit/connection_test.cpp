#include "serial/connection.h"
#include "serial/serial_endpoint.h"
#include "serial/service_version.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <string>

namespace {

// The message write_serial_error produces for `code`, as a string.
std::string message_for(SerialStatus code, const char* text = nullptr) {
    char* buffer = nullptr;
    size_t size = 0;
    std::FILE* out = open_memstream(&buffer, &size);
    write_serial_error(out, code, text);
    std::fclose(out);
    std::string message(buffer, size);
    free(buffer);
    return message;
}

} // namespace

TEST(SerialErrorMessage, AbortedHasNoLineEnd) {
    EXPECT_EQ(message_for(-102), "Aborted");
}

TEST(SerialErrorMessage, OsErrorShowsTheSystemText) {
    serial_record_os_error(EACCES);
    EXPECT_EQ(message_for(-103), "Error Permission denied\n");
    serial_record_os_error(EIO);
    EXPECT_EQ(message_for(-103), "Error Input/output error\n");
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
