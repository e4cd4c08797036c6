// One open port of the serial service. Each kind of endpoint (a tty device, an
// RFC 2217 peer on a socket, a scripted port in the unit tests) implements this
// interface; the service's operations dispatch to it by PortIndex.
#pragma once

#include "serial/serial_service.h"

#include <cstdint>
#include <memory>

// Settings the service applies to every port it opens (set through PortIndex -1).
struct SerialDefaults {
    int dtr = 1;       // 1: DTR asserted at open
    int rts = 1;       // 1: RTS asserted at open
    int parity = 0;    // 0: none
    int stop_bits = 0; // 0: one stop bit
    int data_bits = 8;
};

class SerialEndpoint {
  public:
    virtual ~SerialEndpoint() = default;
    // 0, or -12 for a rate the port cannot take, or -103 after an OS error.
    virtual SerialStatus set_baud(long rate) = 0;
    virtual SerialStatus set_params(int parity, int stop_bits, int data_bits) = 0;
    virtual SerialStatus put_byte(unsigned char byte) = 0;
    // Bytes not yet handed on (0 once all are sent).
    virtual SerialStatus tx_count() = 0;
    // Received bytes waiting; a lost device reads as 0.
    virtual SerialStatus rx_count() = 0;
    // The next received byte (0..255); -100 when none is waiting.
    virtual SerialStatus get_byte() = 0;
    // Blocks up to `microseconds` until a received byte is waiting: 1 then, 0
    // when the time passed first. A device or peer that goes away ends the
    // wait with 0; once gone, a wait sleeps out its time (nothing can arrive).
    virtual SerialStatus wait_rx(int64_t microseconds) = 0;
    virtual SerialStatus rx_clear() = 0;
    // 1 while CTS is asserted, 0 otherwise (and on a lost device).
    virtual SerialStatus cts() = 0;
    virtual SerialStatus set_rts(bool on) = 0;
    virtual SerialStatus set_dtr(bool on) = 0;
    // True once the port itself is gone (device removed, hang-up, the peer
    // closed the connection): it then reads as no data and CTS released.
    virtual bool lost() const { return false; }
};

// The service's record of the last operating-system error (errno value), read
// back as text by serial_error_text(). Kept per thread: ports opened on two
// threads at once each report their own.
void serial_record_os_error(int error_number);

// The current defaults for ports opened from now on.
const SerialDefaults& serial_defaults();

// Puts an already opened endpoint at a PortIndex (used by the unit tests to
// script a port). Returns -1 for an index outside 0..255, -2 when the index is
// taken.
SerialStatus serial_attach(PortIndex port, std::unique_ptr<SerialEndpoint> endpoint);

// Ports opened by a name rather than a COM number (a device path, an RFC 2217
// address) live in slots after the COM numbers' own: PortIndex
// SERIAL_PORT_COUNT and up, which no COM number reaches.
constexpr int SERIAL_NAMED_PORT_COUNT = 256;
// Puts an opened endpoint in a free named slot: 0 with `port` set, or -2 when
// every slot is taken.
SerialStatus serial_attach_named(std::unique_ptr<SerialEndpoint> endpoint, PortIndex& port);

// Opens COM `port` (0..255) with the given settings rather than the service's
// defaults, so that two threads opening ports at once share nothing. The
// results are those of serial_reset.
SerialStatus serial_open_with(PortIndex port, const SerialDefaults& settings);

// True when the port at `port` is open and its device or peer is gone.
bool serial_port_lost(PortIndex port);
