// One acquisition on the board's spectrometer: the settings go out, then each
// data scan is started, awaited on CTS and pulled across two bytes per pixel,
// one RTS pulse per byte. Failures come back as values; nothing is printed.
#include "instrument/acquisition.h"

#include "platform/clock.h"
#include <ctime>

#include <cstdio>

namespace {

constexpr uint32_t SETUP_PAUSE_MS = 100;
constexpr int32_t BYTE_TIMEOUT_MS = 500;

constexpr int32_t CODE_CTS_TIMEOUT = -206;
constexpr int32_t CODE_DATA_READY_TIMEOUT = -207;
constexpr int32_t CODE_DATA_TIMEOUT = -208;

// One CTS wait of the handshake.
struct CtsWait {
    bool asserted;      // true: wait for CTS to rise; false: for it to fall
    int32_t limit_ms;   // the wait fails once this much time has passed
    uint32_t pause_ms;  // sleep at the start of every pass
    const char* format; // failure text, filled with the elapsed milliseconds
    int32_t code;
};

constexpr CtsWait SCAN_STARTED{true, 500, 1,
                               "S Command Timeout, Spectrometer CTS never asserted after %ld msecs",
                               CODE_CTS_TIMEOUT};
constexpr CtsWait SCAN_COMPLETE{
    false, 15000, 10, "Scan Complete Timeout, Spectrometer CTS never released after %ld msecs",
    CODE_CTS_TIMEOUT};
constexpr CtsWait DATA_READY{true, 500, 1,
                             "g Command Timeout, Spectrometer CTS never asserted after %ld msecs",
                             CODE_DATA_READY_TIMEOUT};
constexpr CtsWait DATA_SENT{
    false, 500, 1, "Scan Data Sent Timeout, Spectrometer CTS never released after %ld msecs",
    CODE_CTS_TIMEOUT};

enum class Step { ok, failed, cancelled };

// Sends a command built from a format and one number, then pauses.
bool send_setting(DeviceLink& link, const char* format, unsigned long value) {
    char command[24];
    std::snprintf(command, sizeof command, format, value);
    send_command(link, command);
    return link_pause(link, SETUP_PAUSE_MS);
}

// Every pass sleeps first and tests the time before CTS, so a time-out wins
// over a change seen in the same pass.
Step wait_for_cts(DeviceLink& link, const CtsWait& wait, BoardFailure& failure) {
    const int32_t limit_ms = scaled_ms(link, wait.limit_ms);
    stopwatch(link, 0);
    for (;;) {
        if (!link_pause(link, wait.pause_ms)) {
            return Step::cancelled;
        }
        const int32_t elapsed = stopwatch(link, 1);
        if (elapsed >= limit_ms) {
            std::snprintf(failure.text, sizeof failure.text, wait.format,
                          static_cast<long>(elapsed));
            failure.code = wait.code;
            return Step::failed;
        }
        // Only a positive result is an asserted CTS: an error result of the
        // serial service is no signal from the board.
        const int cts = serial_cts(link.port);
        if (wait.asserted ? cts > 0 : cts <= 0) {
            return Step::ok;
        }
    }
}

// One RTS pulse asks the board for one byte. Anything but a byte (a time-out,
// an error of the serial service) is a missing byte and reads as -1.
int request_byte(DeviceLink& link) {
    serial_rts(link.port, 'S');
    const int byte = read_byte(link, static_cast<uint16_t>(scaled_ms(link, BYTE_TIMEOUT_MS)));
    serial_rts(link.port, 'C');
    return byte >= 0 ? byte : -1;
}

// Pulls the 256 pixels of one scan: the first pixel received is position 255.
Step transfer_pixels(DeviceLink& link, uint16_t* block, BoardFailure& failure) {
    for (int position = PIXELS_PER_SCAN - 1; position >= 0; --position) {
        const int first = request_byte(link);
        micro_delay(1);
        const int second = request_byte(link);
        if (link_cancelled(link)) {
            return Step::cancelled;
        }
        if (first < 0 || second < 0) {
            std::snprintf(failure.text, sizeof failure.text,
                          "Data Timeout, pixel = %d val1 = %d val2 = %d", position, first, second);
            failure.code = CODE_DATA_TIMEOUT;
            return Step::failed;
        }
        block[position] = static_cast<uint16_t>((first & 0xFF) * 256 + (second & 0xFF));
        micro_delay(1);
    }
    return Step::ok;
}

Step collect_scan(DeviceLink& link, uint16_t* block, BoardFailure& failure, std::time_t* started,
                  int64_t& last_value_utc_ms) {
    const std::time_t now = std::time(nullptr);
    if (started != nullptr) {
        *started = now;
    }
    send_command(link, "S\r");
    Step step = wait_for_cts(link, SCAN_STARTED, failure);
    if (step == Step::ok) {
        step = wait_for_cts(link, SCAN_COMPLETE, failure);
    }
    if (step != Step::ok) {
        return step;
    }
    send_command(link, "g\r");
    step = wait_for_cts(link, DATA_READY, failure);
    if (step != Step::ok) {
        return step;
    }
    serial_rx_clear(link.port); // whatever came before the data-ready signal is not data
    step = transfer_pixels(link, block, failure);
    if (step != Step::ok) {
        return step;
    }
    last_value_utc_ms = wall_clock_utc_ms();
    return wait_for_cts(link, DATA_SENT, failure);
}

// After a cancellation the board may be in the middle of a scan or a
// transfer: "E5\r" ends either, and nothing it sent is kept.
void clear_board(DeviceLink& link) {
    serial_rts(link.port, 'C');
    send_command(link, "E5\r");
    serial_rx_clear(link.port);
}

AcquisitionResult finish(DeviceLink& link, AcquisitionResult result, Step step) {
    if (step == Step::cancelled) {
        result.status = AcquisitionStatus::cancelled;
        clear_board(link);
    } else if (step == Step::failed) {
        result.status = AcquisitionStatus::failed;
    }
    if (result.end_utc_ms == 0 || step != Step::ok) {
        result.end_utc_ms = wall_clock_utc_ms();
    }
    return result;
}

} // namespace

AcquisitionResult acquire_spectra(DeviceLink& link, const ScanSettings& settings, uint16_t* buffer,
                                  std::time_t* scan_started) {
    AcquisitionResult result;
    serial_rts(link.port, 'C');
    result.start_utc_ms = wall_clock_utc_ms();
    send_command(link, "E5\r");
    if (!link_pause(link, SETUP_PAUSE_MS) || !send_setting(link, "P%lu\r", settings.pre_scans) ||
        !send_setting(link, "R%lu\r", settings.data_scans) ||
        !send_setting(link, "I%lu\r", settings.integration_ms)) {
        return finish(link, result, Step::cancelled);
    }
    for (uint16_t scan = 0; scan < settings.data_scans; ++scan) {
        // RTS is clear at every point where a scan can fail: nothing more is sent.
        const Step step = collect_scan(
            link, buffer + static_cast<size_t>(scan) * PIXELS_PER_SCAN, result.failure,
            scan_started != nullptr ? scan_started + scan : nullptr, result.end_utc_ms);
        if (step != Step::ok) {
            return finish(link, result, step);
        }
        ++result.scans_collected;
    }
    return finish(link, result, Step::ok);
}
