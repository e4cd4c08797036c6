// Device transport: command texts out, reply lines and single bytes in, each
// wait bounded. All times come from the monotonic clock, so setting the wall
// clock while a wait runs neither stretches nor cuts it.
#include "serial/transport.h"

#include "platform/clock.h"
#include "platform/sleep.h"

namespace {

// The one start instant shared by stopwatch(0), read_line and read_byte, in
// microseconds on the monotonic clock.
int64_t start_instant_us = 0;

void set_start_instant() {
    start_instant_us = monotonic_us();
}

// Whole milliseconds since the start instant.
int32_t elapsed_ms() {
    return static_cast<int32_t>((monotonic_us() - start_instant_us) / 1000);
}

// One byte takes ten bit times on the line (start, 8 data, stop); at 300 baud,
// the slowest rate offered, that is 33.3 ms.
constexpr int64_t SLOWEST_BYTE_US = 34000;
// Added to the line time so that a busy machine does not cut a wait short.
constexpr int64_t TX_WAIT_MARGIN_US = 1000000;

// read_byte polls the queue this long before it blocks: on a direct line the
// byte of a handshake is back within about 100 us, sooner than a sleep and a
// wake-up would take, while a USB adapter needs 1 to 16 ms.
constexpr int64_t BYTE_SPIN_US = 200;
// The longest single block of a byte wait; the wait is looked at between blocks.
constexpr int64_t BYTE_WAIT_SLICE_US = 10000;

// Blocks until the port reports a received byte or `deadline_us` passes, in
// slices of at most BYTE_WAIT_SLICE_US. An error result of the wait is no
// data: the caller looks at the queue again after a pause of 1 ms.
void wait_for_byte(PortIndex port, int64_t deadline_us) {
    for (;;) {
        const int64_t left_us = deadline_us - monotonic_us();
        if (left_us <= 0) {
            return;
        }
        const SerialStatus waited =
            serial_wait_rx(port, left_us < BYTE_WAIT_SLICE_US ? left_us : BYTE_WAIT_SLICE_US);
        if (waited > 0) {
            return;
        }
        if (waited < 0) {
            sleep_ms(1);
            return;
        }
    }
}

} // namespace

int send_command(PortIndex port, const char* text) {
    int64_t bytes_put = 0;
    for (const char* next = text; *next != '\0'; ++next) {
        const unsigned char byte = static_cast<unsigned char>(*next);
        if (byte == '\n') {
            serial_put_byte(port, '\r');
            ++bytes_put;
        }
        serial_put_byte(port, byte);
        ++bytes_put;
    }
    // Wait, without pausing, until every byte has left the transmit queue. A
    // port that keeps reporting bytes waiting gives up after the time these
    // bytes would take at the slowest rate; an error result ends the wait too.
    const int64_t deadline_us = monotonic_us() + bytes_put * SLOWEST_BYTE_US + TX_WAIT_MARGIN_US;
    while (serial_tx_count(port) > 0 && monotonic_us() < deadline_us) {
    }
    return 1;
}

int read_line(PortIndex port, char* buffer, uint16_t size, uint16_t timeout_ms) {
    set_start_instant();
    if (size == 0) {
        return -1;
    }
    buffer[0] = '\0';
    if (size < 2) {
        return -1; // no room for a character and its terminating NUL
    }
    int count = 0;
    for (;;) {
        if (elapsed_ms() >= timeout_ms) {
            return count > 0 ? count : -1;
        }
        if (serial_rx_count(port) == 0) {
            sleep_ms(1);
            continue;
        }
        // Take bytes for as long as the queue holds some.
        for (;;) {
            const int byte = serial_get_byte(port);
            if (byte < 0) {
                // An error result is no data, never a character.
                sleep_ms(1);
                break;
            }
            if (byte == '\n' || byte == '\r') {
                if (count > 0) {
                    return count;
                }
                // Terminators before the first character are skipped.
            } else {
                buffer[count] = static_cast<char>(byte);
                ++count;
                buffer[count] = '\0';
                if (count >= size - 1) {
                    return count;
                }
            }
            if (serial_rx_count(port) == 0) {
                sleep_ms(1);
                break;
            }
        }
    }
}

int read_byte(PortIndex port, uint16_t timeout_ms) {
    set_start_instant();
    const int64_t deadline_us = start_instant_us + int64_t{timeout_ms} * 1000;
    const int64_t spin_end_us = start_instant_us + BYTE_SPIN_US;
    for (;;) {
        if (elapsed_ms() >= timeout_ms) {
            return -1;
        }
        if (serial_rx_count(port) != 0) {
            const int byte = serial_get_byte(port);
            // An error result is no data: keep looking until a byte or the time-out.
            if (byte >= 0) {
                return byte;
            }
        } else if (monotonic_us() >= spin_end_us) {
            wait_for_byte(port, deadline_us);
        }
    }
}

int32_t stopwatch(int mode) {
    if (mode == 0) {
        set_start_instant();
        return 0;
    }
    return elapsed_ms();
}

void micro_delay(int64_t microseconds) {
    if (microseconds > 0) {
        delay_us(static_cast<uint64_t>(microseconds));
    }
}
