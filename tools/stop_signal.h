// SIGINT and SIGTERM (Ctrl+C and Ctrl+Break/close on Windows) reach the tool
// as a call of `on_stop` from a thread of its own, never from inside a signal
// handler, so that it may lock and cancel. A closed pipe never ends the
// process: the write fails and the tool says so.
#pragma once

#include <functional>

// Installs the handling; `on_stop(signal_number)` is called once per signal
// (2 for an interrupt, 15 for a termination request). Call before any other
// thread starts.
void stop_signal_install(std::function<void(int)> on_stop);
