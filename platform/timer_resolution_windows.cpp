#include "platform/timer_resolution.h"

#include <windows.h>

namespace {

constexpr UINT TIMER_RESOLUTION_MS = 1;

} // namespace

void timer_resolution_raise() {
    timeBeginPeriod(TIMER_RESOLUTION_MS);
}

void timer_resolution_release() {
    timeEndPeriod(TIMER_RESOLUTION_MS);
}
