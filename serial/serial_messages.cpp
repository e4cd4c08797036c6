#include "serial/serial_messages.h"

namespace {

struct ErrorMessage {
    SerialStatus code;
    const char* text;
};

constexpr ErrorMessage ERROR_MESSAGES[] = {
    {-1, "Invalid COM port\n"},
    {-2, "COM port already open\n"},
    {-3, "Cannot open COM port\n"},
    {-4, "Cannot allocate memory\n"},
    {-5, "Error in default parameters\n"},
    {-10, "COM port hardware not present\n"},
    {-11, "Unsupported byte size\n"},
    {-12, "Unsupported baud rate\n"},
    {-13, "Event I/O error (virtual port not ready ?)\n"},
    {-100, "No Data\n"},
    {-101, "Parameter out of range\n"},
    {-102, "Aborted"},
    {-105, "Cannot allocate memory for buffers\n"},
    {-106, "Cannot start thread\n"},
    {-107, "Operation timed out\n"},
};

} // namespace

const char* serial_message(SerialStatus code) {
    for (const ErrorMessage& message : ERROR_MESSAGES) {
        if (message.code == code) {
            return message.text;
        }
    }
    return nullptr;
}
