// The key reader: one keystroke code per call, blocking, without echo, in the
// codes of the Windows console key reader (see key_decoder.h).
//
// On a terminal the bytes go through the key decoder; an Escape that nothing
// follows within KEY_ESCAPE_WAIT_MS reads as 27. From a pipe or a file each
// byte is one code (127 still reads as 8). The end of input (a read of 0
// bytes, EIO or a hang-up) reads as 3, a cancel, on every later call too, so a
// script that runs out of keys or a closed terminal ends the program through
// its Ctrl+C path instead of spinning.
#pragma once

constexpr int KEY_ESCAPE_WAIT_MS = 50;

// Returns the next keystroke code, 0..255.
int read_key();

// Replaces where read_key takes its codes from; nullptr goes back to standard
// input. Tests script the operator's keys with it.
using KeySource = int (*)();
void set_key_source(KeySource source);
