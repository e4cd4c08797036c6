// Fault injection: each fault is armed from the command line, acts the first
// time the board reaches its point (logging a "fault" event) and is then spent;
// `noise` stays on once given.
#pragma once

#include "sim/events.h"

#include <array>
#include <cstdint>
#include <string>

enum class Fault : uint8_t {
    no_scan_start,        // CTS never asserted after "S\r"
    scan_stuck,           // CTS never released after "S\r"
    no_data_ready,        // no CTS after "g\r"
    stall_at,             // =N: stops answering RTS after N bytes of a transfer
    cts_stuck_after_data, // CTS stays asserted after the last byte
    silent,               // no answer to "V\r"
    slow_reply,           // =MS: answers "V\r" after MS milliseconds
    noise,                // stray bytes after each command and while a scan runs
    disconnect_at,        // =N: drops the connection after N bytes of a transfer
    count
};

struct FaultState {
    bool armed = false;
    uint32_t value = 0;
};

struct Faults {
    std::array<FaultState, static_cast<size_t>(Fault::count)> state{};
    bool noise_reported = false;
    // --fault-after N: the faults wait until the board has sent N spectra.
    uint32_t after_spectra = 0;
    uint32_t spectra_sent = 0;
};

// Arms a fault from "NAME" or "NAME=VALUE"; false with a message in `error`
// for an unknown name or a missing/extra/invalid value.
bool fault_arm(Faults& faults, const std::string& option, std::string& error);

const char* fault_name(Fault fault);
bool fault_armed(const Faults& faults, Fault fault);
uint32_t fault_value(const Faults& faults, Fault fault);

// True when the fault is armed and no longer held back by --fault-after.
// fault_take: true when the fault is armed: it acts now, is logged and (except noise) spent.
bool fault_take(Faults& faults, Fault fault, EventLog& log);
