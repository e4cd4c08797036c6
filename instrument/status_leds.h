// The board's two status LEDs: switched on or off by one command each, or
// blinked by a run of such commands.
#pragma once

#include "serial/transport.h"

#include <cstdint>

// The pause after a single switch, and the menu's blink: 100 runs of on and
// off, each state held 50 ms (about ten seconds in all).
constexpr uint32_t LED_SWITCH_PAUSE_MS = 100;
constexpr int MENU_BLINK_COUNT = 100;
constexpr uint32_t MENU_BLINK_PAUSE_MS = 50;

// The command for LED 1 or 2: the odd one switches it off, the even one on.
const char* led_command(int led, bool on);

// Sends the switch and pauses; false when the link's cancel signal cut the
// pause short.
bool switch_led(DeviceLink& link, int led, bool on);

// `count` runs of on, a pause, off, a pause; the LED ends off. False when the
// link's cancel signal ended it early (the LED is then switched off).
bool blink_led(DeviceLink& link, int led, int count, uint32_t pause_ms);
