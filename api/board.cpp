// The C API's handles: a board is an open port of the serial service, a link
// with its own stopwatch and cancel signal, and the text of its last failure.
// Arguments are checked before anything goes to the board.
#include "zorvidlk/zorvidlk.h"

#include "api/port_name.h"
#include "instrument/acquisition.h"
#include "instrument/firmware.h"
#include "instrument/status_leds.h"
#include "platform/cancel_signal.h"
#include "platform/timer_resolution.h"
#include "serial/port_namespace.h"
#include "serial/serial_endpoint.h"
#include "serial/serial_messages.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#ifndef ZORVIDLK_VERSION
#define ZORVIDLK_VERSION "0.0.0"
#endif

struct zv_board {
    std::string port_name; // as the caller gave it
    PortIndex port = -1;
    DeviceLink link;
    CancelSignal cancel;
    std::atomic<bool> busy{false};
    bool lost = false;
    std::string error;
};

namespace {

constexpr int BLINK_COUNT_MAX = 10000;
constexpr unsigned BLINK_PERIOD_MAX_MS = 10000;
constexpr unsigned TIMEOUT_SCALE_MIN = 100;
constexpr unsigned TIMEOUT_SCALE_MAX = 1000;
constexpr int COM_NUMBER_MAX = SERIAL_PORT_COUNT;

// The details of the last failed zv_open on each thread.
thread_local std::string open_error;

int fail(zv_board* board, int status, std::string text) {
    board->error = std::move(text);
    return status;
}

// The message for a serial service refusal, as the program prints it but on
// one line: the operating system's own text for -103.
std::string serial_refusal(SerialStatus status) {
    if (status == ZV_ERR_SYSTEM) {
        char text[128];
        serial_error_text(text, sizeof text);
        return std::string("Error ") + text;
    }
    if (const char* message = serial_message(status)) {
        return std::string(message, std::strcspn(message, "\n"));
    }
    return "Unknown code " + std::to_string(status);
}

// Marks the handle lost when its port is gone; the text names the port and,
// when given, what the operation met.
bool check_lost(zv_board* board, const char* what) {
    if (!board->lost && serial_port_lost(board->port)) {
        board->lost = true;
    }
    if (board->lost) {
        std::string text =
            "port " + board->port_name + " lost (device removed or connection closed)";
        if (what != nullptr && *what != '\0') {
            text += ": ";
            text += what;
        }
        board->error = std::move(text);
    }
    return board->lost;
}

// Runs at the start of every operation on the board: a lost handle stays lost.
int begin(zv_board* board) {
    board->error.clear();
    if (board->lost) {
        check_lost(board, nullptr);
        return ZV_ERR_PORT_LOST;
    }
    return ZV_OK;
}

// Marks a cancellable operation as running (zv_cancel then reaches it) for
// the guard's life.
class Running {
  public:
    explicit Running(zv_board* board) : board_(board) {
        board_->cancel.clear();
        board_->busy.store(true, std::memory_order_release);
    }
    ~Running() { board_->busy.store(false, std::memory_order_release); }
    Running(const Running&) = delete;
    Running& operator=(const Running&) = delete;

  private:
    zv_board* board_;
};

SerialStatus open_port(const PortName& name, PortIndex& port) {
    const SerialDefaults settings; // DTR and RTS on, 8N1
    if (name.is_com_number) {
        if (name.com_number < 1 || name.com_number > COM_NUMBER_MAX) {
            return ZV_ERR_INVALID_PORT;
        }
        port = static_cast<PortIndex>(name.com_number - 1);
        return serial_open_with(port, settings);
    }
    std::unique_ptr<SerialEndpoint> endpoint;
    const SerialStatus status = open_named_endpoint(name.name, settings, endpoint);
    if (status < 0) {
        return status;
    }
    if (!endpoint) {
        return -3;
    }
    return serial_attach_named(std::move(endpoint), port);
}

bool valid_led(int led) {
    return led == 1 || led == 2;
}

// The caller's settings, or the defaults; false for a struct too small or
// values out of range.
bool read_settings(const zv_settings* given, ScanSettings& out, std::string& why) {
    const zv_settings defaults = ZV_SETTINGS_DEFAULT;
    const zv_settings& settings = given != nullptr ? *given : defaults;
    if (settings.size < sizeof(zv_settings)) {
        why = "settings.size must be sizeof(zv_settings)";
        return false;
    }
    if (settings.pre_scans > PRE_SCANS_HIGH || settings.data_scans < DATA_SCANS_LOW ||
        settings.data_scans > DATA_SCANS_HIGH || settings.period_ms < INTEGRATION_LOW_MS ||
        settings.period_ms > INTEGRATION_HIGH_MS) {
        char text[160];
        std::snprintf(text, sizeof text,
                      "settings out of range: pre_scans %u (0..10), data_scans %u (1..10), "
                      "period_ms %lu (100..1500)",
                      static_cast<unsigned>(settings.pre_scans),
                      static_cast<unsigned>(settings.data_scans),
                      static_cast<unsigned long>(settings.period_ms));
        why = text;
        return false;
    }
    out.pre_scans = settings.pre_scans;
    out.data_scans = settings.data_scans;
    out.integration_ms = settings.period_ms;
    return true;
}

} // namespace

extern "C" int zv_open(const char* port, long baud, zv_board** board) {
    if (board != nullptr) {
        *board = nullptr;
    }
    if (port == nullptr || board == nullptr) {
        open_error = "zv_open: port and board must not be NULL";
        return ZV_ERR_ARGUMENT;
    }
    std::unique_ptr<zv_board> opened(new (std::nothrow) zv_board);
    if (!opened) {
        open_error = "zv_open: out of memory";
        return ZV_ERR_NO_MEMORY;
    }
    opened->port_name = port;
    PortIndex index = -1;
    SerialStatus status = open_port(read_port_name(port), index);
    if (status >= 0) {
        status = serial_set_baud(index, baud);
        if (status < 0) {
            std::string why = serial_refusal(status);
            serial_close(index);
            open_error = opened->port_name + ": " + why;
            return status;
        }
    } else {
        open_error = opened->port_name + ": " + serial_refusal(status);
        return status;
    }
    serial_rts(index, 'S');
    timer_resolution_raise();
    opened->port = index;
    opened->link.port = index;
    opened->link.cancel = &opened->cancel;
    open_error.clear();
    *board = opened.release();
    return ZV_OK;
}

extern "C" int zv_close(zv_board* board) {
    if (board == nullptr) {
        return ZV_OK;
    }
    if (!board->lost) {
        serial_rts(board->port, 'C');
    }
    serial_close(board->port);
    timer_resolution_release();
    delete board;
    return ZV_OK;
}

extern "C" int zv_firmware(zv_board* board, char* text, size_t size) {
    if (board == nullptr || text == nullptr) {
        return board == nullptr ? ZV_ERR_ARGUMENT
                                : fail(board, ZV_ERR_ARGUMENT, "zv_firmware: text is NULL");
    }
    if (size == 0) {
        return fail(board, ZV_ERR_BUFFER, "zv_firmware: size is 0");
    }
    if (const int status = begin(board); status != ZV_OK) {
        return status;
    }
    const FirmwareReply reply = query_firmware(board->link);
    const std::string shown = std::string("Spectrometer Firmware = ") + firmware_shown(reply);
    if (reply.outcome != FirmwareOutcome::found) {
        if (check_lost(board, shown.c_str())) {
            return ZV_ERR_PORT_LOST;
        }
        return fail(board,
                    reply.outcome == FirmwareOutcome::timed_out ? ZV_ERR_NO_REPLY
                                                                : ZV_ERR_NOT_RECOGNISED,
                    shown);
    }
    const size_t length = std::strlen(reply.text);
    if (length + 1 > size) {
        return fail(board, ZV_ERR_BUFFER,
                    "zv_firmware: the text needs " + std::to_string(length + 1) + " bytes");
    }
    std::memcpy(text, reply.text, length + 1);
    return ZV_OK;
}

extern "C" int zv_led(zv_board* board, int led, int on) {
    if (board == nullptr) {
        return ZV_ERR_ARGUMENT;
    }
    if (!valid_led(led)) {
        return fail(board, ZV_ERR_ARGUMENT, "zv_led: led must be 1 or 2");
    }
    if (const int status = begin(board); status != ZV_OK) {
        return status;
    }
    switch_led(board->link, led, on != 0);
    return check_lost(board, nullptr) ? ZV_ERR_PORT_LOST : ZV_OK;
}

extern "C" int zv_blink(zv_board* board, int led, int count, unsigned period_ms) {
    if (board == nullptr) {
        return ZV_ERR_ARGUMENT;
    }
    if (!valid_led(led) || count < 1 || count > BLINK_COUNT_MAX || period_ms < 1 ||
        period_ms > BLINK_PERIOD_MAX_MS) {
        return fail(board, ZV_ERR_ARGUMENT,
                    "zv_blink: led 1 or 2, count 1..10000, period_ms 1..10000");
    }
    if (const int status = begin(board); status != ZV_OK) {
        return status;
    }
    bool finished = false;
    {
        const Running running(board);
        finished = blink_led(board->link, led, count, period_ms);
    }
    if (check_lost(board, nullptr)) {
        return ZV_ERR_PORT_LOST;
    }
    return finished ? ZV_OK : fail(board, ZV_ERR_CANCELLED, "cancelled");
}

extern "C" int zv_acquire(zv_board* board, const zv_settings* settings, uint16_t* values,
                          size_t count, zv_acquisition* info) {
    if (board == nullptr) {
        return ZV_ERR_ARGUMENT;
    }
    ScanSettings scan;
    std::string why;
    if (!read_settings(settings, scan, why)) {
        return fail(board, ZV_ERR_ARGUMENT, "zv_acquire: " + why);
    }
    if (values == nullptr) {
        return fail(board, ZV_ERR_ARGUMENT, "zv_acquire: values is NULL");
    }
    if (info != nullptr && info->size < sizeof(zv_acquisition)) {
        return fail(board, ZV_ERR_ARGUMENT,
                    "zv_acquire: info->size must be sizeof(zv_acquisition)");
    }
    const size_t needed = static_cast<size_t>(scan.data_scans) * ZV_PIXELS;
    if (count < needed) {
        return fail(board, ZV_ERR_BUFFER,
                    "zv_acquire: values needs room for " + std::to_string(needed) + " counts");
    }
    if (const int status = begin(board); status != ZV_OK) {
        return status;
    }
    AcquisitionResult result;
    {
        const Running running(board);
        result = acquire_spectra(board->link, scan, values, nullptr);
    }
    switch (result.status) {
    case AcquisitionStatus::done:
        break;
    case AcquisitionStatus::cancelled:
        return check_lost(board, nullptr) ? ZV_ERR_PORT_LOST
                                          : fail(board, ZV_ERR_CANCELLED, "cancelled");
    case AcquisitionStatus::failed:
        if (check_lost(board, result.failure.text)) {
            return ZV_ERR_PORT_LOST;
        }
        return fail(board, result.failure.code, result.failure.text);
    }
    if (info != nullptr) {
        info->start_utc_ms = result.start_utc_ms;
        info->end_utc_ms = result.end_utc_ms;
        info->settings.size = sizeof(zv_settings);
        info->settings.pre_scans = scan.pre_scans;
        info->settings.data_scans = scan.data_scans;
        info->settings.period_ms = scan.integration_ms;
    }
    return ZV_OK;
}

extern "C" int zv_cancel(zv_board* board) {
    if (board == nullptr) {
        return ZV_ERR_ARGUMENT;
    }
    if (board->busy.load(std::memory_order_acquire)) {
        board->cancel.raise();
    }
    return ZV_OK;
}

extern "C" int zv_set_timeout_scale(zv_board* board, unsigned percent) {
    if (board == nullptr) {
        return ZV_ERR_ARGUMENT;
    }
    if (percent < TIMEOUT_SCALE_MIN || percent > TIMEOUT_SCALE_MAX) {
        return fail(board, ZV_ERR_ARGUMENT, "zv_set_timeout_scale: percent must be 100..1000");
    }
    board->link.timeout_scale_percent = percent;
    return ZV_OK;
}

extern "C" const char* zv_error_text(const zv_board* board) {
    return board == nullptr ? open_error.c_str() : board->error.c_str();
}

extern "C" const char* zv_version(void) {
    return ZORVIDLK_VERSION;
}
