// The firmware query: asks the board for its firmware line and looks for the
// board's signature in it.
#include "instrument/firmware.h"

#include <cstring>

namespace {

constexpr char SIGNATURE[] = "ZORVI";

} // namespace

FirmwareReply query_firmware(DeviceLink& link) {
    FirmwareReply reply;
    char line[FIRMWARE_REPLY_SIZE];
    serial_rx_clear(link.port); // stale bytes must not become part of the reply
    send_command(link, "V\r");
    const int count = read_line(link, line, FIRMWARE_REPLY_SIZE,
                                static_cast<uint16_t>(scaled_ms(link, FIRMWARE_TIMEOUT_MS)));
    if (count <= 0) {
        reply.outcome = FirmwareOutcome::timed_out;
        return reply;
    }
    const char* found = std::strstr(line, SIGNATURE);
    if (found == nullptr) {
        reply.outcome = FirmwareOutcome::no_signature;
        return reply;
    }
    reply.outcome = FirmwareOutcome::found;
    std::memcpy(reply.text, found, std::strlen(found) + 1);
    return reply;
}

const char* firmware_shown(const FirmwareReply& reply) {
    switch (reply.outcome) {
    case FirmwareOutcome::found:
        return reply.text;
    case FirmwareOutcome::timed_out:
        return "Timeout!";
    case FirmwareOutcome::no_signature:
        break;
    }
    return "Can't find ZORVI!";
}
