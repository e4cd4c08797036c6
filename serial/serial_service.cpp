// The serial service's operations: a table of open endpoints indexed by
// PortIndex, the defaults for ports opened later, and the last OS error.
//
// Two ports may be used from two threads at once: the table and the defaults
// are guarded by one lock, taken only to find, fill or empty a slot; each
// endpoint is then used by the one thread that drives that port. The last OS
// error is kept per thread.
#include "serial/serial_service.h"

#include "serial/port_namespace.h"
#include "serial/serial_endpoint.h"
#include "serial/service_platform.h"

#include <array>
#include <cstring>
#include <memory>
#include <mutex>

namespace {

constexpr int SLOT_COUNT = SERIAL_PORT_COUNT + SERIAL_NAMED_PORT_COUNT;

std::mutex table_lock;
std::array<std::unique_ptr<SerialEndpoint>, SLOT_COUNT> open_ports;
// A slot being opened: taken, so that a second open of the same COM number
// is refused, but not usable yet.
std::array<bool, SLOT_COUNT> opening{};
SerialDefaults defaults;
thread_local int last_os_error = 0;

bool valid_index(PortIndex port) {
    return port >= 0 && port < SERIAL_PORT_COUNT;
}
bool valid_slot(PortIndex port) {
    return port >= 0 && port < SLOT_COUNT;
}

SerialEndpoint* endpoint_of(PortIndex port) {
    if (!valid_slot(port)) {
        return nullptr;
    }
    const std::lock_guard<std::mutex> lock(table_lock);
    return open_ports[port].get();
}

constexpr SerialStatus NOT_OPEN = -3;

// Opens COM `port` outside the lock (a connect may take a second) with its
// slot reserved meanwhile.
SerialStatus open_slot(PortIndex port, const SerialDefaults& settings) {
    if (!valid_index(port)) {
        return -1;
    }
    {
        const std::lock_guard<std::mutex> lock(table_lock);
        if (open_ports[port] || opening[port]) {
            return -2;
        }
        opening[port] = true;
    }
    std::unique_ptr<SerialEndpoint> endpoint;
    SerialStatus status = open_endpoint(port, settings, endpoint);
    if (status >= 0 && !endpoint) {
        status = -3;
    }
    const std::lock_guard<std::mutex> lock(table_lock);
    opening[port] = false;
    if (status < 0) {
        return status;
    }
    open_ports[port] = std::move(endpoint);
    return 0;
}

} // namespace

void serial_record_os_error(int error_number) {
    last_os_error = error_number;
}

const SerialDefaults& serial_defaults() {
    return defaults;
}

SerialStatus serial_attach(PortIndex port, std::unique_ptr<SerialEndpoint> endpoint) {
    if (!valid_index(port)) {
        return -1;
    }
    const std::lock_guard<std::mutex> lock(table_lock);
    if (open_ports[port] || opening[port]) {
        return -2;
    }
    open_ports[port] = std::move(endpoint);
    return 0;
}

SerialStatus serial_attach_named(std::unique_ptr<SerialEndpoint> endpoint, PortIndex& port) {
    const std::lock_guard<std::mutex> lock(table_lock);
    for (PortIndex slot = SERIAL_PORT_COUNT; slot < SLOT_COUNT; ++slot) {
        if (!open_ports[slot]) {
            open_ports[slot] = std::move(endpoint);
            port = slot;
            return 0;
        }
    }
    return -2;
}

SerialStatus serial_open_with(PortIndex port, const SerialDefaults& settings) {
    return open_slot(port, settings);
}

bool serial_port_lost(PortIndex port) {
    SerialEndpoint* endpoint = endpoint_of(port);
    return endpoint != nullptr && endpoint->lost();
}

SerialStatus serial_reset(PortIndex port, int rx_queue_or_dtr, int tx_queue_or_rts) {
    if (port == -1) {
        const std::lock_guard<std::mutex> lock(table_lock);
        defaults.dtr = rx_queue_or_dtr != 0 ? 1 : 0;
        defaults.rts = tx_queue_or_rts != 0 ? 1 : 0;
        return 0;
    }
    SerialDefaults settings;
    {
        const std::lock_guard<std::mutex> lock(table_lock);
        settings = defaults;
    }
    return open_slot(port, settings);
}

SerialStatus serial_set_params(PortIndex port, int parity, int stop_bits, int data_bits) {
    if (data_bits < 5 || data_bits > 8) {
        return -11;
    }
    if (parity < 0 || parity > 4 || stop_bits < 0 || stop_bits > 2) {
        return -5;
    }
    if (port == -1) {
        const std::lock_guard<std::mutex> lock(table_lock);
        defaults.parity = parity;
        defaults.stop_bits = stop_bits;
        defaults.data_bits = data_bits;
        return 0;
    }
    SerialEndpoint* endpoint = endpoint_of(port);
    return endpoint ? endpoint->set_params(parity, stop_bits, data_bits) : NOT_OPEN;
}

SerialStatus serial_set_baud(PortIndex port, long rate) {
    SerialEndpoint* endpoint = endpoint_of(port);
    return endpoint ? endpoint->set_baud(rate) : NOT_OPEN;
}

SerialStatus serial_close(PortIndex port) {
    if (!valid_slot(port)) {
        return -1;
    }
    std::unique_ptr<SerialEndpoint> closing;
    {
        const std::lock_guard<std::mutex> lock(table_lock);
        if (!open_ports[port]) {
            return NOT_OPEN;
        }
        closing = std::move(open_ports[port]);
    }
    closing.reset(); // the close itself (a flush, a socket shutdown) runs outside the lock
    return 0;
}

SerialStatus serial_info(int selector) {
    switch (selector) {
    case 'V':
        return SERIAL_SERVICE_VERSION;
    case 'B':
        return SERIAL_SERVICE_BUILD;
    default:
        return -101;
    }
}

SerialStatus serial_info_text(char* buffer, int size) {
    const char* text = service_description();
    const size_t length = std::strlen(text);
    if (buffer == nullptr || size < 1 || length >= static_cast<size_t>(size)) {
        return -101;
    }
    std::memcpy(buffer, text, length + 1);
    return static_cast<SerialStatus>(length);
}

SerialStatus serial_error_text(char* buffer, int size) {
    if (buffer == nullptr || size < 1) {
        return -101;
    }
    describe_os_error(last_os_error, buffer, static_cast<size_t>(size));
    return 0;
}

SerialStatus serial_put_byte(PortIndex port, int byte) {
    SerialEndpoint* endpoint = endpoint_of(port);
    return endpoint ? endpoint->put_byte(static_cast<unsigned char>(byte)) : NOT_OPEN;
}

SerialStatus serial_tx_count(PortIndex port) {
    SerialEndpoint* endpoint = endpoint_of(port);
    return endpoint ? endpoint->tx_count() : NOT_OPEN;
}

SerialStatus serial_rx_count(PortIndex port) {
    SerialEndpoint* endpoint = endpoint_of(port);
    return endpoint ? endpoint->rx_count() : NOT_OPEN;
}

SerialStatus serial_get_byte(PortIndex port) {
    SerialEndpoint* endpoint = endpoint_of(port);
    return endpoint ? endpoint->get_byte() : NOT_OPEN;
}

SerialStatus serial_wait_rx(PortIndex port, int64_t microseconds) {
    SerialEndpoint* endpoint = endpoint_of(port);
    return endpoint ? endpoint->wait_rx(microseconds) : NOT_OPEN;
}

SerialStatus serial_rx_clear(PortIndex port) {
    SerialEndpoint* endpoint = endpoint_of(port);
    return endpoint ? endpoint->rx_clear() : NOT_OPEN;
}

SerialStatus serial_cts(PortIndex port) {
    SerialEndpoint* endpoint = endpoint_of(port);
    return endpoint ? endpoint->cts() : NOT_OPEN;
}

SerialStatus serial_rts(PortIndex port, int command) {
    SerialEndpoint* endpoint = endpoint_of(port);
    if (!endpoint) {
        return NOT_OPEN;
    }
    switch (command) {
    case 'S':
        return endpoint->set_rts(true);
    case 'C':
        return endpoint->set_rts(false);
    default:
        return -101;
    }
}
