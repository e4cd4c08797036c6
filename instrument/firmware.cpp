// Menu command A: asks the board for its firmware line and looks for the
// board's signature in it.
#include "instrument/firmware.h"

#include "console/prompts.h"
#include "serial/transport.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr char SIGNATURE[] = "ZORVI";
constexpr uint16_t REPLY_SIZE = 128;
constexpr uint16_t REPLY_TIMEOUT_MS = 2000;

} // namespace

int query_firmware(PortIndex port) {
    char reply[REPLY_SIZE];
    serial_rx_clear(port); // stale bytes must not become part of the reply
    send_command(port, "V\r");
    const int count = read_line(port, reply, REPLY_SIZE, REPLY_TIMEOUT_MS);
    if (count <= 0) {
        std::printf("\nSpectrometer Firmware = %s\n", "Timeout!");
        return 0;
    }
    const char* found = std::strstr(reply, SIGNATURE);
    if (found == nullptr) {
        std::printf("\nSpectrometer Firmware = %s\n", "Can't find ZORVI!");
        return 0;
    }
    std::printf("\nSpectrometer Firmware = %s\n", found);
    return 1;
}

void firmware_command(PortIndex port) {
    const int result = query_firmware(port);
    if (result == 1) {
        std::printf("Firmware String Found\n");
        return;
    }
    std::fflush(stdout); // the firmware line comes before the failure report
    report_failure("Firmware String Not Found", result);
}
