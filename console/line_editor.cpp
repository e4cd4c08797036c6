// The line editor: the one place where the operator's keystrokes are read.
// It writes every echo itself; nothing it prints erases anything on the screen.
#include "console/line_editor.h"

#include "platform/key_reader.h"
#include "platform/terminal_mode.h"

#include <cstdio>

namespace {

constexpr int KEY_FUNCTION = 0; // first code of a key without a character
constexpr int KEY_CANCEL = 3;   // Ctrl+C
constexpr int KEY_BACKSPACE = 8;
constexpr int KEY_LINE_FEED = 10;
constexpr int KEY_RETURN = 13;
constexpr int KEY_RETYPE = 18; // Ctrl+R
constexpr int KEY_ERASE = 21;  // Ctrl+U

int edit(char* buffer, int capacity) {
    int length = 0;
    for (;;) {
        std::fflush(stdout);
        const int code = read_key();
        switch (code) {
        case KEY_FUNCTION:
        case KEY_CANCEL:
            buffer[0] = '\0';
            return 0;
        case KEY_BACKSPACE:
            if (length > 0) {
                --length;
                std::putchar(KEY_BACKSPACE);
            }
            break;
        case KEY_LINE_FEED:
        case KEY_RETURN:
            buffer[length] = '\0';
            return 1;
        case KEY_RETYPE:
            std::putchar('\n');
            for (int i = 0; i < length; ++i) {
                std::putchar(static_cast<unsigned char>(buffer[i]));
            }
            break;
        case KEY_ERASE:
            for (; length > 0; --length) {
                std::putchar(KEY_BACKSPACE);
            }
            break;
        default:
            if (length < capacity) {
                buffer[length++] = static_cast<char>(code);
            } else {
                // A full entry keeps its length: the last character gives way.
                buffer[length - 1] = static_cast<char>(code);
                std::putchar(KEY_BACKSPACE);
            }
            std::putchar(code);
            break;
        }
    }
}

} // namespace

int edit_line(char* buffer, short size) {
    if (buffer == nullptr || size < 1) {
        return 0;
    }
    if (size < 2) {
        buffer[0] = '\0'; // no room for a character: nothing to read
        return 0;
    }
    // Ctrl+C and the other signal keys are keys while the entry is read.
    terminal_signal_keys(false);
    const int result = edit(buffer, size - 1);
    terminal_signal_keys(true);
    return result;
}
