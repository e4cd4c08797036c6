// The tone on Windows: the system's Beep. Where Beep returns before the tone's
// length (no speaker, a remote session, wine, which only rings a bell) the
// rest of the length is slept, so the call always takes the tone's duration.
#include "platform/beep.h"

#include "platform/clock.h"
#include "platform/sleep.h"

#include <windows.h>

void platform_beep(unsigned frequency_hz, unsigned duration_ms) {
    const int64_t end_ms = monotonic_ms() + duration_ms;
    Beep(frequency_hz, duration_ms);
    const int64_t left_ms = end_ms - monotonic_ms();
    if (left_ms > 0) {
        sleep_ms(static_cast<uint32_t>(left_ms));
    }
}
