// The menu loop: one key at a time, the acquisition settings, and the exit on Ctrl+C.
#include "app/menu.h"

#include "app/firmware_command.h"
#include "app/spectrum_command.h"
#include "app/status_leds_command.h"
#include "console/prompts.h"
#include "instrument/scan_settings.h"
#include "platform/sleep.h"
#include "platform/terminal_mode.h"

#include <cstdio>
#include <cstdlib>

namespace {

// A pre scans entry of 0 is accepted (an acquisition without pre scans): only
// entries above 10 are refused, with the range message the data scans share,
// which names 1 as the lowest value.
constexpr uint32_t PRE_SCANS_MESSAGE_LOW = 1;

[[noreturn]] void exit_menu(PortIndex port) {
    std::printf("\nGot ^C Exiting...\n");
    std::fflush(stdout);
    serial_rts(port, 'C');
    sleep_ms(1000);
    serial_close(port);
    std::exit(1);
}

void print_help() {
    std::printf("\n Menu Selections:\n %s\n %s\n %s\n %s\n %s\n %s\n %s\n", "[A] Firmware String",
                "[B] Set Status LEDs", "[C] Read  Temp/Humi", "[D] Set Pre   Scans",
                "[E] Set Data  Scans", "[F] Set Scan Period", "[G] Collect Spectra");
}

void print_temperature_humidity() {
    // The board has no sensor fitted: the line shows fixed values.
    std::printf("Temp = %.2fC Humi = %.2f%%\n", -1.0, -100.0);
}

// Asks whether to change a setting and for its new value; returns the value to
// keep: the new one when it is in low..high, otherwise the current one.
// `message_low` is the lowest value the range message names.
uint32_t edit_setting(const char* question, uint32_t current, uint32_t low, uint32_t high,
                      uint32_t message_low) {
    if (prompt_yes_no("\n  Modify", 0) == 0) {
        return current;
    }
    uint32_t entry = current;
    prompt_value(question, "%lu", "%lu", &entry);
    if (entry == current) {
        return current;
    }
    if (entry < low || entry > high) {
        report_range_error(static_cast<int32_t>(message_low), static_cast<int32_t>(high));
        return current;
    }
    return entry;
}

void edit_pre_scans(ScanSettings& settings) {
    std::printf("\n  Spectrometer Pre Scans (4ms each) =  %hu\n", settings.pre_scans);
    settings.pre_scans =
        static_cast<uint16_t>(edit_setting("\n  Enter number of pre scans", settings.pre_scans,
                                           PRE_SCANS_LOW, PRE_SCANS_HIGH, PRE_SCANS_MESSAGE_LOW));
}

void edit_data_scans(ScanSettings& settings) {
    std::printf("\n  Spectrometer Data Scans (%lums each) =  %hu\n",
                static_cast<unsigned long>(settings.integration_ms), settings.data_scans);
    settings.data_scans =
        static_cast<uint16_t>(edit_setting("\n  Enter number of data scans", settings.data_scans,
                                           DATA_SCANS_LOW, DATA_SCANS_HIGH, DATA_SCANS_LOW));
}

void edit_integration(ScanSettings& settings) {
    std::printf("\n  Spectrometer Integration Period (ms) =  %lu\n",
                static_cast<unsigned long>(settings.integration_ms));
    settings.integration_ms =
        edit_setting("\n  Enter integration period (ms)", settings.integration_ms,
                     INTEGRATION_LOW_MS, INTEGRATION_HIGH_MS, INTEGRATION_LOW_MS);
}

} // namespace

void run_menu(PortIndex port) {
    terminal_mode_enter();
    ScanSettings settings;
    for (;;) {
        char key = 0;
        if (prompt_key("\nZORVI_DLK>", 0, "?ABCDEFGH", &key) == 0) {
            exit_menu(port);
        }
        std::printf("\n");
        switch (key) {
        case '?':
        case 'H':
            print_help();
            break;
        case 'A':
            firmware_command(port);
            break;
        case 'B':
            set_status_leds(port);
            break;
        case 'C':
            print_temperature_humidity();
            break;
        case 'D':
            edit_pre_scans(settings);
            break;
        case 'E':
            edit_data_scans(settings);
            break;
        case 'F':
            edit_integration(settings);
            break;
        case 'G':
            spectrum_command(port, settings);
            break;
        default:
            break; // Enter alone: the prompt comes again
        }
    }
}
