// Windows console key events to console key codes; see key_event.h for the map.
#include "platform/key_event.h"

namespace {

// Virtual key codes of the keys the map knows by their virtual key.
constexpr uint16_t VK_BACK = 0x08;
constexpr uint16_t VK_TAB = 0x09;
constexpr uint16_t VK_RETURN = 0x0D;
constexpr uint16_t VK_ESCAPE = 0x1B;
constexpr uint16_t VK_PRIOR = 0x21;
constexpr uint16_t VK_DELETE = 0x2E;
constexpr uint16_t VK_F1 = 0x70;
constexpr uint16_t VK_F10 = 0x79;
constexpr uint16_t VK_F11 = 0x7A;
constexpr uint16_t VK_F12 = 0x7B;

constexpr uint32_t ALT = KEY_LEFT_ALT | KEY_RIGHT_ALT;
constexpr uint32_t CTRL = KEY_LEFT_CTRL | KEY_RIGHT_CTRL;

enum Column : uint8_t { PLAIN = 0, SHIFT, CONTROL, ALTERNATE };

// The second codes of a navigation key: plain, with Shift, with Ctrl, with Alt.
struct NavigationKey {
    uint16_t virtual_key;
    uint8_t code[4];
};

// Page Up 0x21, Page Down 0x22, End 0x23, Home 0x24, Left 0x25, Up 0x26,
// Right 0x27, Down 0x28, Insert 0x2D, Delete 0x2E.
constexpr NavigationKey NAVIGATION_KEYS[] = {
    {0x21, {73, 73, 134, 153}}, {0x22, {81, 81, 118, 161}}, {0x23, {79, 79, 117, 159}},
    {0x24, {71, 71, 119, 151}}, {0x25, {75, 75, 115, 155}}, {0x26, {72, 72, 141, 152}},
    {0x27, {77, 77, 116, 157}}, {0x28, {80, 80, 145, 160}}, {0x2D, {82, 82, 146, 162}},
    {0x2E, {83, 83, 147, 163}},
};

Column column_of(uint32_t control_keys) {
    if (control_keys & ALT) {
        return ALTERNATE;
    }
    if (control_keys & CTRL) {
        return CONTROL;
    }
    if (control_keys & KEY_SHIFT) {
        return SHIFT;
    }
    return PLAIN;
}

KeyCodes one(uint8_t code) {
    KeyCodes out;
    out.count = 1;
    out.code[0] = code;
    return out;
}

KeyCodes two(uint8_t prefix, uint8_t code) {
    KeyCodes out;
    out.count = 2;
    out.code[0] = prefix;
    out.code[1] = code;
    return out;
}

KeyCodes function_key(uint16_t virtual_key, Column column) {
    if (virtual_key >= VK_F1 && virtual_key <= VK_F10) {
        const uint8_t n = static_cast<uint8_t>(virtual_key - VK_F1 + 1);
        static constexpr uint8_t base[4] = {58, 83, 93, 103};
        return two(0, static_cast<uint8_t>(base[column] + n));
    }
    static constexpr uint8_t f11[4] = {133, 135, 137, 139};
    static constexpr uint8_t f12[4] = {134, 136, 138, 140};
    return two(224, virtual_key == VK_F11 ? f11[column] : f12[column]);
}

KeyCodes navigation_key(const NavigationKey& key, uint32_t control_keys) {
    const Column column = column_of(control_keys);
    if (control_keys & KEY_ENHANCED) {
        // The grey keys: 224 first, except with Alt.
        return two(column == ALTERNATE ? 0 : 224, key.code[column]);
    }
    // The keypad with NumLock off. With Alt the keypad enters character codes
    // instead, which the console delivers as a character of their own.
    if (column == ALTERNATE) {
        return {};
    }
    return two(0, key.code[column]);
}

} // namespace

KeyCodes map_key_event(const ConsoleKeyEvent& event) {
    if (!event.key_down) {
        return {};
    }
    const uint16_t vk = event.virtual_key;
    const uint32_t keys = event.control_keys;
    if (vk >= VK_F1 && vk <= VK_F12) {
        return function_key(vk, column_of(keys));
    }
    if (vk >= VK_PRIOR && vk <= VK_DELETE) {
        for (const NavigationKey& key : NAVIGATION_KEYS) {
            if (key.virtual_key == vk) {
                return navigation_key(key, keys);
            }
        }
    }
    if (vk == VK_TAB && (keys & KEY_SHIFT) && !(keys & (ALT | CTRL))) {
        return two(0, 15);
    }
    if (event.character != 0) {
        if (event.character > 0xFF) {
            return {}; // no single byte in the input code page
        }
        // Alt with a character gives nothing; AltGr (Ctrl with Alt) types one.
        const bool alt_only = (keys & ALT) != 0 && (keys & CTRL) == 0;
        return alt_only ? KeyCodes{} : one(static_cast<uint8_t>(event.character));
    }
    // Keys whose character some consoles leave out (wine gives Escape none).
    switch (vk) {
    case VK_BACK:
        return one(8);
    case VK_TAB:
        return one(9);
    case VK_RETURN:
        return one(13);
    case VK_ESCAPE:
        return one(27);
    default:
        return {}; // Shift, Ctrl, Alt, the lock keys and every other key alone
    }
}

size_t key_event_codes(const ConsoleKeyEvent& event, uint8_t* codes, size_t capacity) {
    const KeyCodes press = map_key_event(event);
    const size_t presses = event.repeat_count == 0 ? 1 : event.repeat_count;
    size_t total = 0;
    for (size_t i = 0; i < presses; ++i) {
        for (uint8_t c = 0; c < press.count; ++c) {
            if (total < capacity) {
                codes[total] = press.code[c];
            }
            ++total;
        }
    }
    return total;
}
