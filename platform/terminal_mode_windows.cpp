// The terminal mode guard on Windows: nothing to do. The console input mode
// changes only around each key read (key_reader_windows.cpp) and is restored
// right after it, so no exit path leaves the console changed; output needs no
// mode, and Ctrl+C while a command runs gets the system's default handling.
#include "platform/terminal_mode.h"

void terminal_mode_enter() {}

void terminal_signal_keys(bool) {}

void terminal_mode_restore() {}
