#include "serial/connection.h"
#include "serial/serial_endpoint.h"

#include "captured_file.h"

#include <gtest/gtest.h>

#include <cerrno>

TEST(SerialErrorMessage, OsErrorShowsTheSystemText) {
    const CapturedFile out;
    serial_record_os_error(EACCES);
    write_serial_error(out.stream(), -103, nullptr);
    serial_record_os_error(EIO);
    write_serial_error(out.stream(), -103, nullptr);
    EXPECT_EQ(out.text(), "Error Permission denied\nError Input/output error\n");
}
