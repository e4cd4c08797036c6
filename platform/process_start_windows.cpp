// Start-up on Windows: the timer resolution raised to 1 ms for the life of the
// process (every CTS poll of an acquisition is a 1 ms sleep, which the default
// 15.6 ms tick would stretch), and the console input set up (raw at once, and
// the Ctrl+C handler; see key_reader_windows.cpp). A serial port is a handle,
// never a standard stream's number, so closed standard streams need nothing.
#include "platform/process_start.h"

#include "platform/console_input_windows.h"

#include <cstdlib>
#include <windows.h>

namespace {

constexpr UINT TIMER_RESOLUTION_MS = 1;

void end_timer_resolution() {
    timeEndPeriod(TIMER_RESOLUTION_MS);
}

} // namespace

void platform_process_start() {
    if (timeBeginPeriod(TIMER_RESOLUTION_MS) == TIMERR_NOERROR) {
        std::atexit(end_timer_resolution);
    }
    console_input_start();
}
