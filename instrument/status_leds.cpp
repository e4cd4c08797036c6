// The status LEDs. On the board the odd command switches an LED off and the
// even one switches it on.
#include "instrument/status_leds.h"

const char* led_command(int led, bool on) {
    if (led == 1) {
        return on ? "L2\r" : "L1\r";
    }
    return on ? "L4\r" : "L3\r";
}

bool switch_led(DeviceLink& link, int led, bool on) {
    send_command(link, led_command(led, on));
    return link_pause(link, LED_SWITCH_PAUSE_MS);
}

bool blink_led(DeviceLink& link, int led, int count, uint32_t pause_ms) {
    for (int run = 0; run < count; ++run) {
        send_command(link, led_command(led, true));
        const bool lit_through = link_pause(link, pause_ms);
        send_command(link, led_command(led, false));
        if (!lit_through || !link_pause(link, pause_ms)) {
            return false;
        }
    }
    return true;
}
