// The Windows console input behind the key reader: set up once at start-up.
#pragma once

// Opens CONIN$, peeks at it once (input is raw from then on, so keys typed
// before the first prompt are not line-edited) and installs the console
// control handler that turns Ctrl+C into a key while a key read waits.
void console_input_start();

// While a prompt reads keys (from the start of its entry to its end), a
// Ctrl+C that wine raises as an event is queued as the key 3; at any other
// time it ends the process by the default handling.
void console_ctrl_c_is_key(bool is_key);

// Line input and echo off (false) for as long as the menu runs, and back
// (true). Processed input stays as it is: a Ctrl+C while a command runs gets
// the default handling. Wine's console edits the keys typed between two key
// reads as a line while line input is on, and loses them.
void console_line_editing(bool enabled);
