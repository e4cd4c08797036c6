// The -l request: probes every COM number once, in order, and lists those that
// open (each closed again before the next probe) and those that exist but are
// not ready. Any other refusal is no port and is passed over in silence.
#include "serial/port_scan.h"

#include "serial/connection.h"
#include "serial/serial_service.h"

#include <cstdio>

namespace {

constexpr SerialStatus NOT_READY = -13;

} // namespace

void scan_ports() {
    init_serial();
    std::printf("\nChecking COM%1d through COM%1d...\n", 1, SERIAL_PORT_COUNT);
    int found = 0;
    int not_ready = 0;
    for (PortIndex port = 0; port < SERIAL_PORT_COUNT; ++port) {
        const SerialStatus status = serial_reset(port, 1024, 1024);
        if (status >= 0) {
            ++found;
            std::printf("COM%1d: OK, port exists\n", port + 1);
            serial_close(port);
        } else if (status == NOT_READY) {
            ++not_ready;
            std::printf("COM%1d: Port exists but not enabled (event I/O error %d)\n", port + 1,
                        NOT_READY);
        }
    }
    std::printf("\n%d port(s) found\n", found);
    if (not_ready > 0) {
        std::printf("%d 'not ready' port(s) found (virtual port not ready?)\n", not_ready);
    }
    fatal_exit(0);
}
