// The firmware query: "V\r" out, one reply line in, the board's signature
// looked for in it.
#pragma once

#include "serial/transport.h"

#include <cstdint>

constexpr uint16_t FIRMWARE_REPLY_SIZE = 128;
constexpr uint16_t FIRMWARE_TIMEOUT_MS = 2000;

enum class FirmwareOutcome {
    found,        // `text` holds the reply from the signature on
    timed_out,    // no reply line within the time-out
    no_signature, // a reply without the board's signature
};

struct FirmwareReply {
    FirmwareOutcome outcome = FirmwareOutcome::timed_out;
    char text[FIRMWARE_REPLY_SIZE] = "";
};

FirmwareReply query_firmware(DeviceLink& link);

// What an operator is shown as the firmware: the text found, "Timeout!" or
// "Can't find ZORVI!".
const char* firmware_shown(const FirmwareReply& reply);
