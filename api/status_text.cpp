// zv_status_text: every status in words.
#include "zorvidlk/zorvidlk.h"

#include "serial/serial_messages.h"

#include <array>
#include <cstring>
#include <string>

namespace {

struct StatusText {
    int status;
    const char* text;
};

constexpr StatusText LIBRARY_TEXTS[] = {
    {ZV_OK, "Success"},
    {ZV_ERR_SYSTEM, "Operating-system error (zv_error_text gives its text)"},
    {ZV_ERR_CTS_TIMEOUT, "Spectrometer CTS time-out (scan start, scan end or data sent)"},
    {ZV_ERR_DATA_READY_TIMEOUT, "Spectrometer CTS never asserted after the g command"},
    {ZV_ERR_DATA_TIMEOUT, "Data Timeout: a pixel byte did not come"},
    {ZV_ERR_ARGUMENT, "Invalid argument"},
    {ZV_ERR_BUFFER, "Buffer too small"},
    {ZV_ERR_CANCELLED, "Cancelled"},
    {ZV_ERR_PORT_LOST, "Port lost: the device or the connection is gone; open it again"},
    {ZV_ERR_NO_REPLY, "Firmware query: no answer from the board (Timeout!)"},
    {ZV_ERR_NOT_RECOGNISED, "Firmware query: the answer is not the board's (Can't find ZORVI!)"},
};

// The serial service's messages without their line ends, made once.
const char* serial_text(int status) {
    static const auto texts = [] {
        std::array<std::string, 108> made;
        for (int code = 1; code < static_cast<int>(made.size()); ++code) {
            if (const char* message = serial_message(-code)) {
                made[static_cast<size_t>(code)].assign(message, std::strcspn(message, "\n"));
            }
        }
        return made;
    }();
    if (status >= 0 || -status >= static_cast<int>(texts.size())) {
        return nullptr;
    }
    const std::string& text = texts[static_cast<size_t>(-status)];
    return text.empty() ? nullptr : text.c_str();
}

} // namespace

extern "C" const char* zv_status_text(int status) {
    for (const StatusText& entry : LIBRARY_TEXTS) {
        if (entry.status == status) {
            return entry.text;
        }
    }
    if (const char* text = serial_text(status)) {
        return text;
    }
    return "Unknown code";
}
