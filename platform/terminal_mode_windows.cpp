// The terminal mode guard on Windows. While the menu runs, the console's line
// input and echo are off (keys typed ahead stay single keys); processed input
// is switched off only around each key read (key_reader_windows.cpp), so a
// Ctrl+C while a command runs gets the system's default handling. A Ctrl+C
// that wine raises as an event while a prompt reads its entry is a key, as
// the signal keys are off on a terminal then. The mode comes back at exit().
#include "platform/terminal_mode.h"

#include "platform/console_input_windows.h"

#include <cstdlib>

namespace {

bool entered = false;

void restore_at_exit() {
    terminal_mode_restore();
}

} // namespace

void terminal_mode_enter() {
    if (entered) {
        return;
    }
    entered = true;
    console_line_editing(false);
    std::atexit(restore_at_exit);
}

void terminal_signal_keys(bool enabled) {
    console_ctrl_c_is_key(!enabled);
}

void terminal_mode_restore() {
    if (entered) {
        console_line_editing(true);
    }
}
