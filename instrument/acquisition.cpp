// One acquisition on the board's spectrometer: the settings go out, then each
// data scan is started, awaited on CTS and pulled across two bytes per pixel,
// one RTS pulse per byte.
#include "instrument/acquisition.h"

#include "console/prompts.h"
#include "instrument/scan_settings.h"
#include "platform/clock.h"
#include "platform/sleep.h"
#include "serial/transport.h"

#include <cstdio>
#include <ctime>

namespace {

constexpr uint32_t SETUP_PAUSE_MS = 100;
constexpr uint16_t BYTE_TIMEOUT_MS = 500;

constexpr int32_t CODE_CTS_TIMEOUT = -206;
constexpr int32_t CODE_DATA_READY_TIMEOUT = -207;
constexpr int32_t CODE_DATA_TIMEOUT = -208;
constexpr int FAILED = -2;

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

// Room for the longest failure text with the widest numbers.
constexpr size_t REPORT_SIZE = 160;

// Sends a command built from a format and one number.
void send_setting(PortIndex port, const char* format, unsigned long value) {
    char command[24];
    std::snprintf(command, sizeof command, format, value);
    send_command(port, command);
    sleep_ms(SETUP_PAUSE_MS);
}

// Every pass sleeps first and tests the time before CTS, so a time-out wins
// over a change seen in the same pass. Reports the failure and returns false.
bool wait_for_cts(PortIndex port, const CtsWait& wait) {
    stopwatch(0);
    for (;;) {
        sleep_ms(wait.pause_ms);
        const int32_t elapsed = stopwatch(1);
        if (elapsed >= wait.limit_ms) {
            char report[REPORT_SIZE];
            std::snprintf(report, sizeof report, wait.format, static_cast<long>(elapsed));
            std::fflush(stdout);
            report_failure(report, wait.code);
            return false;
        }
        // Only a positive result is an asserted CTS: an error result of the
        // serial service is no signal from the board.
        const int cts = serial_cts(port);
        if (wait.asserted ? cts > 0 : cts <= 0) {
            return true;
        }
    }
}

// One RTS pulse asks the board for one byte. Anything but a byte (a time-out,
// an error of the serial service) is a missing byte and reads as -1.
int request_byte(PortIndex port) {
    serial_rts(port, 'S');
    const int byte = read_byte(port, BYTE_TIMEOUT_MS);
    serial_rts(port, 'C');
    return byte >= 0 ? byte : -1;
}

// Pulls the 256 pixels of one scan: the first pixel received is position 255.
bool transfer_pixels(PortIndex port, uint16_t* block) {
    for (int position = PIXELS_PER_SCAN - 1; position >= 0; --position) {
        const int first = request_byte(port);
        micro_delay(1);
        const int second = request_byte(port);
        if (first < 0 || second < 0) {
            char report[REPORT_SIZE];
            std::snprintf(report, sizeof report, "Data Timeout, pixel = %d val1 = %d val2 = %d",
                          position, first, second);
            std::fflush(stdout);
            report_failure(report, CODE_DATA_TIMEOUT);
            return false;
        }
        block[position] = static_cast<uint16_t>((first & 0xFF) * 256 + (second & 0xFF));
        micro_delay(1);
    }
    return true;
}

// "MM/DD/YYYY hh:mm:ss," in local time, then the scan's values in position order.
void write_scan_log(std::FILE* scan_log, std::time_t started, const uint16_t* block) {
    std::tm local{};
    local_calendar(static_cast<int64_t>(started), &local);
    std::fprintf(scan_log, "%02d/%02d/%02d %02d:%02d:%02d,", local.tm_mon + 1, local.tm_mday,
                 local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec);
    for (int position = 0; position < PIXELS_PER_SCAN - 1; ++position) {
        std::fprintf(scan_log, "%hu,", block[position]);
    }
    std::fprintf(scan_log, "%hu", block[PIXELS_PER_SCAN - 1]);
    std::fprintf(scan_log, "\n");
}

bool collect_scan(PortIndex port, std::FILE* scan_log, uint16_t* block) {
    const std::time_t started = std::time(nullptr);
    send_command(port, "S\r");
    if (!wait_for_cts(port, SCAN_STARTED) || !wait_for_cts(port, SCAN_COMPLETE)) {
        return false;
    }
    send_command(port, "g\r");
    if (!wait_for_cts(port, DATA_READY)) {
        return false;
    }
    serial_rx_clear(port); // whatever came before the data-ready signal is not data
    if (!transfer_pixels(port, block) || !wait_for_cts(port, DATA_SENT)) {
        return false;
    }
    if (scan_log != nullptr) {
        write_scan_log(scan_log, started, block);
    }
    return true;
}

} // namespace

int collect_spectra(PortIndex port, std::FILE* scan_log, uint16_t pre_scans, uint16_t data_scans,
                    uint32_t integration_ms, uint16_t* buffer) {
    std::printf("\nPre Scans = %hu, Data Scans = %hu, Data Scan Period = %lums\n", pre_scans,
                data_scans, static_cast<unsigned long>(integration_ms));
    std::fflush(stdout);
    serial_rts(port, 'C');
    send_command(port, "E5\r");
    sleep_ms(SETUP_PAUSE_MS);
    send_setting(port, "P%lu\r", pre_scans);
    send_setting(port, "R%lu\r", data_scans);
    send_setting(port, "I%lu\r", integration_ms);
    for (uint16_t scan = 0; scan < data_scans; ++scan) {
        // RTS is clear at every point where a scan can fail: nothing more is sent.
        if (!collect_scan(port, scan_log, buffer + static_cast<size_t>(scan) * PIXELS_PER_SCAN)) {
            return FAILED;
        }
    }
    return 1;
}
