// Reads keystroke codes from the Windows console; see key_reader.h.
//
// The keys come from ReadConsoleInputW on CONIN$ and go through the key event
// map (key_event.h): _getch loses Escape and the function keys under wine.
// The console input mode changes only around each key read: processed input,
// line input and echo off while the read waits, the previous mode back as soon
// as it has a key.
//
// Ctrl+C: with processed input off the console delivers it as a key with the
// character 3. Wine raises CTRL_C_EVENT whatever the mode, so one control
// handler is installed: while a key read waits it queues a key event with the
// character 3 and reports the event handled (as it does while a prompt reads
// its entry, between two key reads); at any other time it declines,
// and the default handling ends the process, as an unhandled Ctrl+C does.
#include "platform/key_reader.h"

#include "platform/console_input_windows.h"
#include "platform/key_event.h"

#include <atomic>
#include <windows.h>

namespace {

KeySource key_source = nullptr;

struct ConsoleKeys {
    HANDLE input = INVALID_HANDLE_VALUE;
    bool opened = false;
    bool ended = false;
    KeyCodes press;            // the codes of the key being handed out
    uint8_t next = 0;          // the next of them
    uint32_t presses_left = 0; // further presses of it (its repeat count)
};

ConsoleKeys console_keys;

// The console's input mode before console_line_editing(false).
DWORD line_mode_saved = 0;
bool line_mode_changed = false;

// Read by the control handler, which runs on a thread of its own: a key read
// waits, or a prompt reads an entry.
std::atomic<bool> key_read_waiting{false};
std::atomic<bool> entry_reading{false};
std::atomic<HANDLE> handler_input{INVALID_HANDLE_VALUE};

HANDLE console_input() {
    if (!console_keys.opened) {
        console_keys.opened = true;
        console_keys.input =
            CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, OPEN_EXISTING, 0, nullptr);
        handler_input.store(console_keys.input);
    }
    return console_keys.input;
}

BOOL WINAPI on_console_control(DWORD control) {
    const HANDLE input = handler_input.load();
    const bool keys_wanted = key_read_waiting.load() || entry_reading.load();
    if (control != CTRL_C_EVENT || !keys_wanted || input == INVALID_HANDLE_VALUE) {
        return FALSE;
    }
    INPUT_RECORD record{};
    record.EventType = KEY_EVENT;
    record.Event.KeyEvent.bKeyDown = TRUE;
    record.Event.KeyEvent.wRepeatCount = 1;
    record.Event.KeyEvent.wVirtualKeyCode = 'C';
    record.Event.KeyEvent.uChar.UnicodeChar = 3;
    record.Event.KeyEvent.dwControlKeyState = LEFT_CTRL_PRESSED;
    DWORD written = 0;
    WriteConsoleInputW(input, &record, 1, &written);
    return TRUE;
}

// The character of a key event in the console's input code page, 0 for none.
uint16_t input_code_page_character(const KEY_EVENT_RECORD& key) {
    const wchar_t wide = key.uChar.UnicodeChar;
    if (wide == 0) {
        return 0;
    }
    if (wide < 0x80) {
        return static_cast<uint16_t>(wide);
    }
    char bytes[8];
    BOOL lossy = FALSE;
    const int count =
        WideCharToMultiByte(GetConsoleCP(), 0, &wide, 1, bytes, sizeof bytes, nullptr, &lossy);
    if (count != 1 || lossy) {
        return 0x100; // no single byte: the map gives nothing
    }
    return static_cast<uint8_t>(bytes[0]);
}

// Wine's console on a Unix terminal: the terminal sends the same sequences for
// the keypad's navigation keys as for the grey ones, and wine marks neither as
// enhanced. They are taken as the grey keys there, as the Linux build's
// decoder takes them; otherwise every arrow would cancel an entry.
bool console_on_unix_terminal() {
    static const bool wine = [] {
        const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
    }();
    return wine;
}

constexpr WORD FIRST_NAVIGATION_KEY = VK_PRIOR;
constexpr WORD LAST_NAVIGATION_KEY = VK_DELETE;

ConsoleKeyEvent to_key_event(const KEY_EVENT_RECORD& key) {
    ConsoleKeyEvent event;
    event.key_down = key.bKeyDown != FALSE;
    event.repeat_count = key.wRepeatCount;
    event.virtual_key = key.wVirtualKeyCode;
    event.character = input_code_page_character(key);
    event.control_keys = key.dwControlKeyState;
    if (console_on_unix_terminal() && key.uChar.UnicodeChar == 0 &&
        key.wVirtualKeyCode >= FIRST_NAVIGATION_KEY && key.wVirtualKeyCode <= LAST_NAVIGATION_KEY) {
        event.control_keys |= KEY_ENHANCED;
    }
    return event;
}

bool take_queued(ConsoleKeys& keys, int* code) {
    if (keys.next >= keys.press.count) {
        if (keys.presses_left == 0) {
            return false;
        }
        --keys.presses_left;
        keys.next = 0;
    }
    *code = keys.press.code[keys.next++];
    return true;
}

// Waits for the next key event that gives codes and queues them; false when
// the console is gone.
bool read_console_key(ConsoleKeys& keys, HANDLE input) {
    DWORD saved_mode = 0;
    const bool has_mode = GetConsoleMode(input, &saved_mode) != FALSE;
    if (has_mode) {
        SetConsoleMode(input, saved_mode & ~DWORD(ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT |
                                                  ENABLE_ECHO_INPUT));
    }
    key_read_waiting.store(true);
    bool got = false;
    for (;;) {
        INPUT_RECORD record{};
        DWORD count = 0;
        if (!ReadConsoleInputW(input, &record, 1, &count) || count == 0) {
            break;
        }
        if (record.EventType != KEY_EVENT) {
            continue;
        }
        const ConsoleKeyEvent event = to_key_event(record.Event.KeyEvent);
        const KeyCodes press = map_key_event(event);
        if (press.count == 0) {
            continue;
        }
        keys.press = press;
        keys.next = 0;
        keys.presses_left = event.repeat_count > 1 ? event.repeat_count - 1U : 0U;
        got = true;
        break;
    }
    key_read_waiting.store(false);
    if (has_mode) {
        SetConsoleMode(input, saved_mode);
    }
    return got;
}

} // namespace

void console_input_start() {
    const HANDLE input = console_input();
    if (input == INVALID_HANDLE_VALUE) {
        return;
    }
    INPUT_RECORD record{};
    DWORD count = 0;
    PeekConsoleInputW(input, &record, 1, &count);
    SetConsoleCtrlHandler(on_console_control, TRUE);
}

void console_line_editing(bool enabled) {
    const HANDLE input = console_input();
    DWORD mode = 0;
    if (input == INVALID_HANDLE_VALUE || !GetConsoleMode(input, &mode)) {
        return;
    }
    if (!enabled) {
        line_mode_saved = mode;
        line_mode_changed = true;
        SetConsoleMode(input, mode & ~DWORD(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT));
    } else if (line_mode_changed) {
        line_mode_changed = false;
        SetConsoleMode(input, line_mode_saved);
    }
}

void console_ctrl_c_is_key(bool is_key) {
    entry_reading.store(is_key);
}

void set_key_source(KeySource source) {
    key_source = source;
}

int read_key() {
    if (key_source != nullptr) {
        const int code = key_source();
        return code >= 0 && code <= 255 ? code : 3;
    }
    int code = 0;
    if (take_queued(console_keys, &code)) {
        return code;
    }
    const HANDLE input = console_input();
    // No console at all, or one that went away: the end of input reads as
    // Ctrl+C, on every later call too.
    if (console_keys.ended || input == INVALID_HANDLE_VALUE ||
        !read_console_key(console_keys, input)) {
        console_keys.ended = true;
        return 3;
    }
    take_queued(console_keys, &code);
    return code;
}
