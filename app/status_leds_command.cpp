// Menu command B: the LED sub-menu, one key for each switch or blink run.
#include "app/status_leds_command.h"

#include "console/prompts.h"
#include "instrument/status_leds.h"

#include <cstdio>

namespace {

// Runs to its end (about ten seconds) and leaves the LED off.
void blink_with_message(DeviceLink& link, const char* message, int led) {
    std::printf("%s", message);
    std::fflush(stdout);
    blink_led(link, led, MENU_BLINK_COUNT, MENU_BLINK_PAUSE_MS);
}

} // namespace

int set_status_leds(PortIndex port) {
    DeviceLink link;
    link.port = port;
    char key = 0;
    // Enter alone, or a cancel, leaves a key outside A-F: the default branch.
    prompt_key("\n Select LED State:\n [A] LED1 ON\n [B] LED1 OFF\n [C] LED2 ON\n [D] LED2 OFF\n"
               " [E] LED1 BLINK\n [F] LED2 BLINK\n Enter>",
               0, "ABCDEF", &key);
    switch (key) {
    case 'A':
        switch_led(link, 1, true);
        break;
    case 'B':
        switch_led(link, 1, false);
        break;
    case 'C':
        switch_led(link, 2, true);
        break;
    case 'D':
        switch_led(link, 2, false);
        break;
    case 'E':
        blink_with_message(link, "\nBLINKING LED1 100 TIMES\n", 1);
        break;
    case 'F':
        blink_with_message(link, "\nBLINKING LED2 100 TIMES\n", 2);
        break;
    default:
        std::printf("\n\nInvalid Selection!\n");
        std::fflush(stdout);
        alert_beep();
        break;
    }
    return 0;
}
