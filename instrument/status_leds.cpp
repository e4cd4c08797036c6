// Menu command B: the LED sub-menu. On the board the odd command switches an
// LED off and the even one switches it on.
#include "instrument/firmware.h"

#include "console/prompts.h"
#include "platform/sleep.h"
#include "serial/transport.h"

#include <cstdio>

namespace {

constexpr char LED1_OFF[] = "L1\r";
constexpr char LED1_ON[] = "L2\r";
constexpr char LED2_OFF[] = "L3\r";
constexpr char LED2_ON[] = "L4\r";

constexpr uint32_t SWITCH_PAUSE_MS = 100;
constexpr int BLINK_COUNT = 100;
constexpr uint32_t BLINK_PAUSE_MS = 50;

void switch_led(PortIndex port, const char* command) {
    send_command(port, command);
    sleep_ms(SWITCH_PAUSE_MS);
}

// Runs to its end (about ten seconds) and leaves the LED off.
void blink_led(PortIndex port, const char* message, const char* on, const char* off) {
    std::printf("%s", message);
    std::fflush(stdout);
    for (int run = 0; run < BLINK_COUNT; ++run) {
        send_command(port, on);
        sleep_ms(BLINK_PAUSE_MS);
        send_command(port, off);
        sleep_ms(BLINK_PAUSE_MS);
    }
}

} // namespace

int set_status_leds(PortIndex port) {
    char key = 0;
    // Enter alone, or a cancel, leaves a key outside A-F: the default branch.
    prompt_key("\n Select LED State:\n [A] LED1 ON\n [B] LED1 OFF\n [C] LED2 ON\n [D] LED2 OFF\n"
               " [E] LED1 BLINK\n [F] LED2 BLINK\n Enter>",
               0, "ABCDEF", &key);
    switch (key) {
    case 'A':
        switch_led(port, LED1_ON);
        break;
    case 'B':
        switch_led(port, LED1_OFF);
        break;
    case 'C':
        switch_led(port, LED2_ON);
        break;
    case 'D':
        switch_led(port, LED2_OFF);
        break;
    case 'E':
        blink_led(port, "\nBLINKING LED1 100 TIMES\n", LED1_ON, LED1_OFF);
        break;
    case 'F':
        blink_led(port, "\nBLINKING LED2 100 TIMES\n", LED2_ON, LED2_OFF);
        break;
    default:
        std::printf("\n\nInvalid Selection!\n");
        std::fflush(stdout);
        alert_beep();
        break;
    }
    return 0;
}
