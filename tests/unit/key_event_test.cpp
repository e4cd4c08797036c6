#include "platform/key_event.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Virtual keys of the table below.
constexpr uint16_t VK_BACK = 0x08, VK_TAB = 0x09, VK_RETURN = 0x0D, VK_SHIFT = 0x10,
                   VK_CONTROL = 0x11, VK_MENU = 0x12, VK_CAPITAL = 0x14, VK_ESCAPE = 0x1B,
                   VK_PRIOR = 0x21, VK_HOME = 0x24, VK_LEFT = 0x25, VK_UP = 0x26, VK_DELETE = 0x2E,
                   VK_LWIN = 0x5B, VK_F1 = 0x70, VK_F10 = 0x79, VK_F11 = 0x7A, VK_F12 = 0x7B,
                   VK_NUMLOCK = 0x90, VK_LSHIFT = 0xA0, VK_OEM_2 = 0xBF;

ConsoleKeyEvent key(uint16_t virtual_key, uint16_t character = 0, uint32_t control_keys = 0) {
    ConsoleKeyEvent event;
    event.virtual_key = virtual_key;
    event.character = character;
    event.control_keys = control_keys;
    return event;
}

ConsoleKeyEvent released(ConsoleKeyEvent event) {
    event.key_down = false;
    return event;
}

ConsoleKeyEvent repeated(ConsoleKeyEvent event, uint16_t count) {
    event.repeat_count = count;
    return event;
}

struct KeyEventCase {
    const char* name;
    ConsoleKeyEvent event;
    std::vector<int> codes;
};

const KeyEventCase key_event_cases[] = {
    // Characters, in the input code page, whatever the virtual key.
    {"Letter", key('A', 'a'), {'a'}},
    {"ShiftedCharacter", key(VK_OEM_2, '?', KEY_SHIFT), {'?'}},
    {"CodePageCharacter", key(0xDE, 0xE9), {0xE9}},
    {"CharacterOutsideTheCodePage", key('A', 0x100), {}},
    {"CtrlC", key('C', 3, KEY_LEFT_CTRL), {3}},
    {"CtrlCWithCapsLock", key('C', 3, KEY_RIGHT_CTRL | KEY_CAPS_LOCK), {3}},
    {"Enter", key(VK_RETURN, 13), {13}},
    {"Backspace", key(VK_BACK, 8), {8}},
    {"Tab", key(VK_TAB, 9), {9}},
    {"Escape", key(VK_ESCAPE, 27), {27}},
    // Keys whose character wine leaves out.
    {"EscapeWithoutCharacter", key(VK_ESCAPE), {27}},
    {"EnterWithoutCharacter", key(VK_RETURN), {13}},
    {"BackspaceWithoutCharacter", key(VK_BACK), {8}},
    // Alt with a character is swallowed; AltGr (Ctrl+Alt) types its character.
    {"AltLetter", key('X', 'x', KEY_LEFT_ALT), {}},
    {"AltGrCharacter", key('Q', '@', KEY_RIGHT_ALT | KEY_LEFT_CTRL), {'@'}},
    // Function keys.
    {"F1", key(VK_F1), {0, 59}},
    {"F10", key(VK_F10), {0, 68}},
    {"F11", key(VK_F11), {224, 133}},
    {"F12", key(VK_F12), {224, 134}},
    {"ShiftF1", key(VK_F1, 0, KEY_SHIFT), {0, 84}},
    {"CtrlF10", key(VK_F10, 0, KEY_LEFT_CTRL), {0, 103}},
    {"AltF1", key(VK_F1, 0, KEY_RIGHT_ALT), {0, 104}},
    {"CtrlF12", key(VK_F12, 0, KEY_RIGHT_CTRL), {224, 138}},
    {"F1WithNumLock", key(VK_F1, 0, KEY_NUM_LOCK), {0, 59}},
    // The grey navigation keys (enhanced) and the keypad with NumLock off.
    {"GreyUp", key(VK_UP, 0, KEY_ENHANCED), {224, 72}},
    {"GreyHome", key(VK_HOME, 0, KEY_ENHANCED), {224, 71}},
    {"GreyDelete", key(VK_DELETE, 0, KEY_ENHANCED), {224, 83}},
    {"GreyPageUp", key(VK_PRIOR, 0, KEY_ENHANCED), {224, 73}},
    {"ShiftGreyLeft", key(VK_LEFT, 0, KEY_ENHANCED | KEY_SHIFT), {224, 75}},
    {"CtrlGreyUp", key(VK_UP, 0, KEY_ENHANCED | KEY_LEFT_CTRL), {224, 141}},
    {"AltGreyUp", key(VK_UP, 0, KEY_ENHANCED | KEY_LEFT_ALT), {0, 152}},
    {"KeypadUp", key(VK_UP), {0, 72}},
    {"KeypadDelete", key(VK_DELETE), {0, 83}},
    {"CtrlKeypadHome", key(VK_HOME, 0, KEY_LEFT_CTRL), {0, 119}},
    {"AltKeypadUpEntersACharacterCode", key(VK_UP, 0, KEY_LEFT_ALT), {}},
    {"KeypadDigitWithNumLock", key(0x68, '8', KEY_NUM_LOCK), {'8'}},
    {"ShiftTab", key(VK_TAB, 9, KEY_SHIFT), {0, 15}},
    // Nothing for modifier and lock keys alone, other keys without a character
    // and releases.
    {"ShiftAlone", key(VK_SHIFT, 0, KEY_SHIFT), {}},
    {"LeftShiftAlone", key(VK_LSHIFT, 0, KEY_SHIFT), {}},
    {"CtrlAlone", key(VK_CONTROL, 0, KEY_LEFT_CTRL), {}},
    {"AltAlone", key(VK_MENU, 0, KEY_LEFT_ALT), {}},
    {"CapsLockAlone", key(VK_CAPITAL, 0, KEY_CAPS_LOCK), {}},
    {"NumLockAlone", key(VK_NUMLOCK, 0, KEY_NUM_LOCK | KEY_ENHANCED), {}},
    {"WindowsKeyAlone", key(VK_LWIN, 0, KEY_ENHANCED), {}},
    {"ReleasedLetter", released(key('A', 'a')), {}},
    {"ReleasedF1", released(key(VK_F1)), {}},
    {"ReleasedEscape", released(key(VK_ESCAPE, 27)), {}},
    // A repeat count gives the codes that many times (0 counts as once).
    {"RepeatedLetter", repeated(key('A', 'a'), 3), {'a', 'a', 'a'}},
    {"RepeatedArrow", repeated(key(VK_UP, 0, KEY_ENHANCED), 2), {224, 72, 224, 72}},
    {"RepeatCountZero", repeated(key('B', 'b'), 0), {'b'}},
    {"RepeatedShiftAlone", repeated(key(VK_SHIFT, 0, KEY_SHIFT), 5), {}},
};

class KeyEvents : public ::testing::TestWithParam<KeyEventCase> {};

TEST_P(KeyEvents, GiveWindowsConsoleCodes) {
    const KeyEventCase& c = GetParam();
    uint8_t codes[16];
    const size_t count = key_event_codes(c.event, codes, sizeof codes);
    ASSERT_LE(count, sizeof codes);
    EXPECT_EQ(std::vector<int>(codes, codes + count), c.codes);
}

INSTANTIATE_TEST_SUITE_P(Table, KeyEvents, ::testing::ValuesIn(key_event_cases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(KeyEvents, LongRepeatWritesOnlyWhatFits) {
    uint8_t codes[4] = {0, 0, 0, 0xAA};
    EXPECT_EQ(key_event_codes(repeated(key(VK_UP, 0, KEY_ENHANCED), 300), codes, 3), 600U);
    EXPECT_EQ(std::vector<int>(codes, codes + 4), (std::vector<int>{224, 72, 224, 0xAA}));
}

} // namespace
