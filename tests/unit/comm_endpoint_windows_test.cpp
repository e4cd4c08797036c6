#include "serial/comm_endpoint_windows.h"
#include "serial/connection.h"

#include "captured_file.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct OpenErrorCase {
    DWORD error;
    SerialStatus status;
};

const OpenErrorCase open_error_cases[] = {
    {ERROR_FILE_NOT_FOUND, -10},     {ERROR_PATH_NOT_FOUND, -10},
    {ERROR_ACCESS_DENIED, -2},       {ERROR_SHARING_VIOLATION, -2},
    {ERROR_NOT_READY, -13},          {ERROR_GEN_FAILURE, -13},
    {ERROR_SEM_TIMEOUT, -13},        {ERROR_DEVICE_NOT_CONNECTED, -13},
    {ERROR_INVALID_PARAMETER, -103}, {ERROR_BAD_NETPATH, -103},
};

TEST(CommEndpoint, OpenErrorsMapToServiceCodes) {
    for (const OpenErrorCase& c : open_error_cases) {
        EXPECT_EQ(comm_open_status(c.error), c.status) << "error " << c.error;
    }
}

TEST(CommEndpoint, OtherErrorsReadAsTheSystemTextOnOneLine) {
    comm_open_status(ERROR_INVALID_PARAMETER);
    const CapturedFile out;
    write_serial_error(out.stream(), -103, nullptr);
    const std::string text = out.text();
    ASSERT_GT(text.size(), std::string("Error \n").size());
    EXPECT_EQ(text.rfind("Error ", 0), 0U);
    // One line end, the message's own: the system's trailing line end is gone.
    EXPECT_EQ(text.find('\n'), text.size() - 1);
    EXPECT_EQ(text.find('\r'), std::string::npos);
    EXPECT_LE(text.size(), std::string("Error \n").size() + 127);
}

struct EntryOpenCase {
    DWORD error;
    DWORD attributes;
    SerialStatus status;
};

// An entry of the port directory: a read-only plain file (or a directory)
// refuses the read-write open, and is no port rather than a port in use.
const EntryOpenCase entry_open_cases[] = {
    {ERROR_ACCESS_DENIED, FILE_ATTRIBUTE_READONLY, -10},
    {ERROR_ACCESS_DENIED, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE, -10},
    {ERROR_ACCESS_DENIED, FILE_ATTRIBUTE_DIRECTORY, -10},
    {ERROR_ACCESS_DENIED, FILE_ATTRIBUTE_ARCHIVE, -2},
    {ERROR_ACCESS_DENIED, INVALID_FILE_ATTRIBUTES, -2}, // a Windows port
    {ERROR_SHARING_VIOLATION, FILE_ATTRIBUTE_READONLY, -2},
    {ERROR_FILE_NOT_FOUND, FILE_ATTRIBUTE_READONLY, -10},
    {ERROR_SEM_TIMEOUT, FILE_ATTRIBUTE_NORMAL, -13},
};

TEST(CommEndpoint, EntryOpenErrorsMapToServiceCodes) {
    for (const EntryOpenCase& c : entry_open_cases) {
        EXPECT_EQ(comm_entry_open_status(c.error, c.attributes), c.status)
            << "error " << c.error << " attributes " << c.attributes;
    }
}

TEST(CommEndpoint, LostDeviceErrors) {
    for (DWORD error : {ERROR_GEN_FAILURE, ERROR_DEVICE_NOT_CONNECTED, ERROR_NOT_READY,
                        ERROR_OPERATION_ABORTED, ERROR_INVALID_HANDLE}) {
        EXPECT_TRUE(comm_error_is_lost_device(error)) << error;
    }
    // No modem lines, a refused setting and a driver's write time-out are not
    // a lost device.
    for (DWORD error : {ERROR_NOT_SUPPORTED, ERROR_INVALID_PARAMETER, ERROR_SEM_TIMEOUT}) {
        EXPECT_FALSE(comm_error_is_lost_device(error)) << error;
    }
}

TEST(CommEndpoint, WriteErrorsMapToServiceCodes) {
    // The semaphore time-out is a write that found no room in time.
    EXPECT_EQ(comm_write_status(ERROR_SEM_TIMEOUT), -107);
    EXPECT_EQ(comm_write_status(ERROR_DEVICE_NOT_CONNECTED), -103);
    EXPECT_EQ(comm_write_status(ERROR_NOT_READY), -103);
}

// A device control block as a driver might leave it: every kind of flow
// control and abort-on-error on, 7E2.
DCB busy_settings() {
    DCB settings{};
    settings.DCBlength = sizeof settings;
    settings.BaudRate = 9600;
    settings.fBinary = FALSE;
    settings.fParity = TRUE;
    settings.Parity = EVENPARITY;
    settings.StopBits = TWOSTOPBITS;
    settings.ByteSize = 7;
    settings.fOutxCtsFlow = TRUE;
    settings.fOutxDsrFlow = TRUE;
    settings.fDsrSensitivity = TRUE;
    settings.fOutX = TRUE;
    settings.fInX = TRUE;
    settings.fAbortOnError = TRUE;
    settings.fDtrControl = DTR_CONTROL_HANDSHAKE;
    settings.fRtsControl = RTS_CONTROL_HANDSHAKE;
    return settings;
}

TEST(CommEndpoint, PortSettingsAreRaw8N1WithoutFlowControl) {
    const DCB settings = comm_port_settings(busy_settings(), SerialDefaults{});
    EXPECT_TRUE(settings.fBinary);
    EXPECT_FALSE(settings.fParity);
    EXPECT_EQ(settings.Parity, NOPARITY);
    EXPECT_EQ(settings.StopBits, ONESTOPBIT);
    EXPECT_EQ(settings.ByteSize, 8);
    EXPECT_FALSE(settings.fOutxCtsFlow);
    EXPECT_FALSE(settings.fOutxDsrFlow);
    EXPECT_FALSE(settings.fDsrSensitivity);
    EXPECT_FALSE(settings.fOutX);
    EXPECT_FALSE(settings.fInX);
    EXPECT_FALSE(settings.fAbortOnError);
    EXPECT_EQ(settings.fDtrControl, DTR_CONTROL_ENABLE);
    EXPECT_EQ(settings.fRtsControl, RTS_CONTROL_ENABLE);
    EXPECT_EQ(settings.BaudRate, 9600U) << "the rate stays until set_baud";
}

TEST(CommEndpoint, PortSettingsFollowTheDefaults) {
    SerialDefaults defaults;
    defaults.dtr = 0;
    defaults.rts = 0;
    defaults.parity = 2;
    defaults.stop_bits = 2;
    defaults.data_bits = 7;
    const DCB settings = comm_port_settings(DCB{}, defaults);
    EXPECT_TRUE(settings.fParity);
    EXPECT_EQ(settings.Parity, EVENPARITY);
    EXPECT_EQ(settings.StopBits, TWOSTOPBITS);
    EXPECT_EQ(settings.ByteSize, 7);
    EXPECT_EQ(settings.fDtrControl, DTR_CONTROL_DISABLE);
    EXPECT_EQ(settings.fRtsControl, RTS_CONTROL_DISABLE);
    EXPECT_EQ(settings.DCBlength, sizeof(DCB));
}

TEST(CommEndpoint, ReadsNeverWaitWritesWaitTwoSeconds) {
    const COMMTIMEOUTS timeouts = comm_port_timeouts();
    EXPECT_EQ(timeouts.ReadIntervalTimeout, MAXDWORD);
    EXPECT_EQ(timeouts.ReadTotalTimeoutMultiplier, 0U);
    EXPECT_EQ(timeouts.ReadTotalTimeoutConstant, 0U);
    EXPECT_EQ(timeouts.WriteTotalTimeoutMultiplier, 0U);
    EXPECT_EQ(timeouts.WriteTotalTimeoutConstant, 2000U);
}

TEST(CommEndpoint, AByteWaitReadsUntilTheFirstByteOrItsTimeRoundedUp) {
    const COMMTIMEOUTS timeouts = comm_wait_timeouts(7);
    EXPECT_EQ(timeouts.ReadIntervalTimeout, MAXDWORD);
    EXPECT_EQ(timeouts.ReadTotalTimeoutMultiplier, MAXDWORD);
    EXPECT_EQ(timeouts.ReadTotalTimeoutConstant, 7U);
    EXPECT_EQ(timeouts.WriteTotalTimeoutConstant, 2000U) << "writes keep their limit";
    const struct {
        int64_t microseconds;
        DWORD milliseconds;
    } cases[] = {{-5, 1},   {0, 1},    {1, 1},      {999, 1},
                 {1000, 1}, {1001, 2}, {10000, 10}, {int64_t{1} << 50, MAXDWORD - 1}};
    for (const auto& c : cases) {
        EXPECT_EQ(comm_wait_ms(c.microseconds), c.milliseconds) << c.microseconds;
    }
}

} // namespace
