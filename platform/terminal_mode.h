// The operator's terminal during the interactive run.
//
// terminal_mode_enter saves the terminal's settings and switches off echo,
// line buffering, IXON (so Ctrl+S and Ctrl+Q are keys) and IEXTEN (so Ctrl+V
// and Ctrl+O are keys), with reads returning each byte as it comes. Nothing
// else changes: output processing stays, so "\n" still starts a new line.
// Signal keys stay on while commands run, so Ctrl+C then ends the process at
// once; terminal_signal_keys(false) turns them into ordinary keys while an
// entry is read. Every change takes effect at once (TCSANOW), never throwing
// away keys typed ahead.
//
// The saved settings come back on every way out: exit() (atexit), and death
// by SIGINT, SIGQUIT, SIGTERM, SIGHUP or SIGPIPE, whose handlers restore the
// terminal and then let the same signal end the process with its default
// action. SIGTSTP restores the terminal before the process stops; SIGCONT
// applies the mode again (when the process is in the foreground).
//
// All of it applies only when standard input is a terminal; otherwise every
// call does nothing.
//
// The ending-signal handlers also run one restore hook, before the terminal:
// the serial port's, which gives a device back its settings. The hook must
// make async-signal-safe calls only. Setting it installs the ending-signal
// handlers when the terminal mode has not (standard input not a terminal),
// so the port is restored either way.
#pragma once

void terminal_mode_enter();
void terminal_signal_keys(bool enabled);
void terminal_mode_restore();

// Fills the one slot for the hook; nullptr empties it.
void set_ending_signal_hook(void (*hook)());
