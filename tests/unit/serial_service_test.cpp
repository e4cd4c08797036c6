#include "serial/serial_service.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(SerialService, InfoTextFitsItsBuffer) {
    char text[50];
    ASSERT_GT(serial_info_text(text, sizeof text), 0);
    EXPECT_LT(std::strlen(text), 50U);
}

TEST(SerialService, OperationsOnAPortNotOpenFail) {
    EXPECT_LT(serial_rx_count(200), 0);
    EXPECT_LT(serial_rts(200, 'S'), 0);
    EXPECT_EQ(serial_reset(256, 1024, 1024), -1);
}
