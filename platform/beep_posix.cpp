// The tone stand-in: on a Linux virtual console the speaker plays the real tone
// (KDMKTONE: the kernel ends the tone itself after the duration, so a process
// killed during a beep never leaves the speaker sounding); elsewhere the controlling terminal's bell rings once at the start.
// Never writes to standard output, which carries the program's data. Either way
// the call returns when the duration has passed, also with no terminal at all.
#include "platform/beep.h"

#include "platform/sleep.h"

#include <fcntl.h>
#include <linux/kd.h>
#include <sys/ioctl.h>
#include <unistd.h>

void platform_beep(unsigned frequency_hz, unsigned duration_ms) {
    const int tty = open("/dev/tty", O_WRONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    bool tone = false;
    if (tty >= 0 && frequency_hz > 0) {
        // The console timer's clock divided by the frequency gives the tone;
        // the duration in milliseconds goes in the upper 16 bits.
        const unsigned long divisor = (1193180UL / frequency_hz) & 0xFFFFUL;
        const unsigned long ms = duration_ms > 0xFFFFU ? 0xFFFFUL : duration_ms;
        tone = ioctl(tty, KDMKTONE, (ms << 16) | divisor) == 0;
        if (!tone) {
            const char bell = '\a';
            (void)!write(tty, &bell, 1);
        }
    }
    sleep_ms(duration_ms);
    if (tty >= 0) {
        close(tty);
    }
}
