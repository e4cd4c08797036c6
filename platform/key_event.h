// One key event of the Windows console (a KEY_EVENT_RECORD in plain data) to
// the codes the console key reader _getch gives for it, which the line editor
// works in:
//   a character key -> its character in the console's input code page
//     (Enter 13, Backspace 8, Tab 9, Escape 27, Ctrl+C 3, Ctrl+letter 1..26)
//   F1..F10 -> 0, 59..68         F11, F12 -> 224, 133 / 224, 134
//   the grey navigation keys (enhanced) -> 224, code: Home 71, Up 72,
//     Page Up 73, Left 75, Right 77, End 79, Down 80, Page Down 81,
//     Insert 82, Delete 83
//   the same keys on the keypad with NumLock off -> 0, code
//   Shift, Ctrl and Alt variants as that console gives them (Shift+F1 -> 0, 84;
//   Ctrl+Up -> 224, 141; Alt+Up -> 0, 152; Shift+Tab -> 0, 15; ...)
// Nothing for a key release, for Shift, Ctrl, Alt, the Windows keys or a lock
// key pressed alone, for Alt with a character (AltGr, which is Ctrl+Alt, keeps
// its character) and for any other key without a character.
#pragma once

#include "platform/key_decoder.h"

#include <cstddef>
#include <cstdint>

// The console's control key state bits (dwControlKeyState).
constexpr uint32_t KEY_RIGHT_ALT = 0x0001;
constexpr uint32_t KEY_LEFT_ALT = 0x0002;
constexpr uint32_t KEY_RIGHT_CTRL = 0x0004;
constexpr uint32_t KEY_LEFT_CTRL = 0x0008;
constexpr uint32_t KEY_SHIFT = 0x0010;
constexpr uint32_t KEY_NUM_LOCK = 0x0020;
constexpr uint32_t KEY_SCROLL_LOCK = 0x0040;
constexpr uint32_t KEY_CAPS_LOCK = 0x0080;
constexpr uint32_t KEY_ENHANCED = 0x0100;

struct ConsoleKeyEvent {
    bool key_down = true;
    uint16_t repeat_count = 1;
    uint16_t virtual_key = 0;  // VK_ code
    uint16_t character = 0;    // in the input code page; 0 when the key has none
    uint32_t control_keys = 0; // KEY_ bits above
};

// The codes of one press of the key (the repeat count is not applied).
KeyCodes map_key_event(const ConsoleKeyEvent& event);

// All the codes the event gives: one press's codes repeat_count times (a count
// of 0 counts as 1). Writes at most `capacity` codes; returns how many it gives.
size_t key_event_codes(const ConsoleKeyEvent& event, uint8_t* codes, size_t capacity);
