// Connection set-up (service report and defaults, opening the one port of a
// run), the serial failure path and the exit sequence. All text goes to
// standard output, error messages included.
#include "serial/connection.h"

#include "platform/beep.h"
#include "platform/sleep.h"
#include "serial/serial_messages.h"
#include "serial/service_version.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int SERVICE_TEXT_SIZE = 50;
constexpr int OS_ERROR_TEXT_SIZE = 128;

// The last operating-system error's text, filled anew on each report of -103.
char os_error_text[OS_ERROR_TEXT_SIZE];

constexpr SerialStatus OS_ERROR = -103;

constexpr int EXIT_BEEP_HZ = 1000;
constexpr unsigned EXIT_BEEP_MS = 100;
constexpr uint32_t EXIT_PAUSE_MS = 2500;

} // namespace

SerialStatus init_serial() {
    const VersionNumbers version = split_version_word(serial_info('V'));
    const int build = serial_info('B');
    std::printf("Win64 ZVS Version %d.%d.%d (Build %d)\n", version.major_number,
                version.minor_number, version.patch_number, build);
    char service_text[SERVICE_TEXT_SIZE];
    if (serial_info_text(service_text, SERVICE_TEXT_SIZE) > 0) {
        std::printf("%s\n", service_text);
    }
    std::printf("Overlapped I/O is disabled\n");
    std::printf("Setting DTR & RTS on\n");
    const SerialStatus reset = serial_reset(-1, 1, 1);
    if (reset < 0) {
        serial_fail(-1, reset);
    }
    std::printf("Setting no parity, 8 data bits, & one stop bit (8N1)\n");
    const SerialStatus params = serial_set_params(-1, 0, 0, 8);
    if (params < 0) {
        serial_fail(-1, params);
    }
    return params;
}

void open_port(PortIndex port, long rate) {
    const SerialStatus reset = serial_reset(port, 1024, 1024);
    if (reset < 0) {
        serial_fail(port, reset);
    }
    const SerialStatus baud = serial_set_baud(port, rate);
    if (baud < 0) {
        serial_fail(port, baud);
    }
    // RTS and CTS are driven and watched by hand where the transfer needs them.
    std::printf("Port %d Flow control not set\n", port + 1);
}

void serial_fail(PortIndex port, SerialStatus code) {
    report_serial_error(code, nullptr);
    if (port >= 0) {
        serial_close(port);
    }
    fatal_exit(1);
}

void write_serial_error(std::FILE* out, SerialStatus code, const char* text) {
    if (text != nullptr) {
        std::fprintf(out, "%s\n", text);
    }
    if (code == OS_ERROR) {
        serial_error_text(os_error_text, OS_ERROR_TEXT_SIZE);
        std::fprintf(out, "Error %s\n", os_error_text);
        return;
    }
    if (const char* message = serial_message(code)) {
        std::fputs(message, out);
        return;
    }
    std::fprintf(out, "Unknown code %d\n", code);
}

void report_serial_error(SerialStatus code, const char* text) {
    write_serial_error(stdout, code, text);
}

void fatal_exit(int status) {
    std::printf("(exiting)...\n");
    // The operator reads the reason while the beeps and the pause run.
    std::fflush(stdout);
    platform_beep(EXIT_BEEP_HZ, EXIT_BEEP_MS);
    sleep_ms(EXIT_PAUSE_MS);
    platform_beep(EXIT_BEEP_HZ, EXIT_BEEP_MS);
    std::exit(status);
}
