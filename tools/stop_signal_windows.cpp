#include "tools/stop_signal.h"

#include <windows.h>

namespace {

std::function<void(int)>& stop_callback() {
    static std::function<void(int)> callback;
    return callback;
}

// The console calls this on a thread of its own.
BOOL WINAPI console_control(DWORD type) {
    switch (type) {
    case CTRL_C_EVENT:
        stop_callback()(2);
        return TRUE;
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        stop_callback()(15);
        // Windows ends the process once a close handler returns: give the
        // series its moment to finish the record in hand.
        if (type != CTRL_BREAK_EVENT) {
            Sleep(4000);
        }
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

void stop_signal_install(std::function<void(int)> on_stop) {
    stop_callback() = std::move(on_stop);
    SetConsoleCtrlHandler(console_control, TRUE);
}
