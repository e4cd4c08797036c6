// Menu command A: asks the board for its firmware line and tells the operator
// what came back.
#include "app/firmware_command.h"

#include "console/prompts.h"
#include "instrument/firmware.h"

#include <cstdio>

void firmware_command(PortIndex port) {
    DeviceLink link;
    link.port = port;
    const FirmwareReply reply = query_firmware(link);
    std::printf("\nSpectrometer Firmware = %s\n", firmware_shown(reply));
    if (reply.outcome == FirmwareOutcome::found) {
        std::printf("Firmware String Found\n");
        return;
    }
    std::fflush(stdout); // the firmware line comes before the failure report
    report_failure("Firmware String Not Found", 0);
}
