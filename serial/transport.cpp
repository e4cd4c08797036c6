// Device transport: command texts out, reply lines and single bytes in, each
// wait bounded. All times come from the monotonic clock, so setting the wall
// clock while a wait runs neither stretches nor cuts it.
#include "serial/transport.h"

#include "platform/cancel_signal.h"
#include "platform/clock.h"
#include "platform/sleep.h"

namespace {

// The start instant shared by stopwatch(0), read_line and read_byte on one
// link, in microseconds on the monotonic clock.
void set_start_instant(DeviceLink& link) {
    link.start_instant_us = monotonic_us();
}

// Whole milliseconds since the link's start instant.
int32_t elapsed_ms(const DeviceLink& link) {
    return static_cast<int32_t>((monotonic_us() - link.start_instant_us) / 1000);
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
// slices of at most BYTE_WAIT_SLICE_US with the link's cancel signal looked
// at between them. An error result of the wait is no data: the caller looks
// at the queue again after a pause of 1 ms.
void wait_for_byte(const DeviceLink& link, int64_t deadline_us) {
    const PortIndex port = link.port;
    for (;;) {
        const int64_t left_us = deadline_us - monotonic_us();
        if (left_us <= 0 || link_cancelled(link)) {
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

int32_t scaled_ms(const DeviceLink& link, int32_t milliseconds) {
    return static_cast<int32_t>(static_cast<int64_t>(milliseconds) * link.timeout_scale_percent /
                                100);
}

bool link_cancelled(const DeviceLink& link) {
    return link.cancel != nullptr && link.cancel->raised();
}

bool link_pause(DeviceLink& link, uint32_t milliseconds) {
    if (link.cancel == nullptr) {
        sleep_ms(milliseconds);
        return true;
    }
    return link.cancel->pause_ms(milliseconds);
}

int send_command(DeviceLink& link, const char* text) {
    const PortIndex port = link.port;
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

int read_line(DeviceLink& link, char* buffer, uint16_t size, uint16_t timeout_ms) {
    const PortIndex port = link.port;
    set_start_instant(link);
    if (size == 0) {
        return -1;
    }
    buffer[0] = '\0';
    if (size < 2) {
        return -1; // no room for a character and its terminating NUL
    }
    int count = 0;
    for (;;) {
        if (elapsed_ms(link) >= timeout_ms || link_cancelled(link)) {
            return count > 0 ? count : -1;
        }
        if (serial_rx_count(port) == 0) {
            link_pause(link, 1);
            continue;
        }
        // Take bytes for as long as the queue holds some.
        for (;;) {
            const int byte = serial_get_byte(port);
            if (byte < 0) {
                // An error result is no data, never a character.
                link_pause(link, 1);
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
                link_pause(link, 1);
                break;
            }
        }
    }
}

int read_byte(DeviceLink& link, uint16_t timeout_ms) {
    const PortIndex port = link.port;
    set_start_instant(link);
    const int64_t deadline_us = link.start_instant_us + int64_t{timeout_ms} * 1000;
    const int64_t spin_end_us = link.start_instant_us + BYTE_SPIN_US;
    for (;;) {
        if (elapsed_ms(link) >= timeout_ms || link_cancelled(link)) {
            return -1;
        }
        if (serial_rx_count(port) != 0) {
            const int byte = serial_get_byte(port);
            // An error result is no data: keep looking until a byte or the time-out.
            if (byte >= 0) {
                return byte;
            }
        } else if (monotonic_us() >= spin_end_us) {
            wait_for_byte(link, deadline_us);
        }
    }
}

int32_t stopwatch(DeviceLink& link, int mode) {
    if (mode == 0) {
        set_start_instant(link);
        return 0;
    }
    return elapsed_ms(link);
}

void micro_delay(int64_t microseconds) {
    if (microseconds > 0) {
        delay_us(static_cast<uint64_t>(microseconds));
    }
}
