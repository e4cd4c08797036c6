#include "sim/faults.h"

#include <cerrno>
#include <cstdlib>

namespace {

struct FaultInfo {
    const char* name;
    bool takes_value;
};

constexpr std::array<FaultInfo, static_cast<size_t>(Fault::count)> FAULTS = {{
    {"no-scan-start", false},
    {"scan-stuck", false},
    {"no-data-ready", false},
    {"stall-at", true},
    {"cts-stuck-after-data", false},
    {"silent", false},
    {"slow-reply", true},
    {"noise", false},
    {"disconnect-at", true},
}};

size_t index_of(Fault fault) {
    return static_cast<size_t>(fault);
}

} // namespace

const char* fault_name(Fault fault) {
    return FAULTS[index_of(fault)].name;
}

bool fault_arm(Faults& faults, const std::string& option, std::string& error) {
    const size_t equals = option.find('=');
    const std::string name = option.substr(0, equals);
    for (size_t i = 0; i < FAULTS.size(); ++i) {
        if (name != FAULTS[i].name) {
            continue;
        }
        if (!FAULTS[i].takes_value) {
            if (equals != std::string::npos) {
                error = "fault " + name + " takes no value";
                return false;
            }
            faults.state[i].armed = true;
            return true;
        }
        if (equals == std::string::npos || equals + 1 >= option.size()) {
            error = "fault " + name + " needs a value: " + name + "=N";
            return false;
        }
        const std::string text = option.substr(equals + 1);
        char* end = nullptr;
        errno = 0;
        const unsigned long value = std::strtoul(text.c_str(), &end, 10);
        if (errno != 0 || *end != '\0' || text[0] == '-' || value > 0xFFFFFFFFUL) {
            error = "fault " + name + ": not a number: " + text;
            return false;
        }
        faults.state[i].armed = true;
        faults.state[i].value = static_cast<uint32_t>(value);
        return true;
    }
    error = "unknown fault: " + name +
            " (known: no-scan-start, scan-stuck, no-data-ready, stall-at=N, "
            "cts-stuck-after-data, silent, slow-reply=MS, noise, disconnect-at=N)";
    return false;
}

bool fault_armed(const Faults& faults, Fault fault) {
    return faults.state[index_of(fault)].armed && faults.spectra_sent >= faults.after_spectra;
}

uint32_t fault_value(const Faults& faults, Fault fault) {
    return faults.state[index_of(fault)].value;
}

bool fault_take(Faults& faults, Fault fault, EventLog& log) {
    FaultState& state = faults.state[index_of(fault)];
    if (!fault_armed(faults, fault)) {
        return false;
    }
    if (fault == Fault::noise) {
        if (!faults.noise_reported) {
            faults.noise_reported = true;
            event_fault(log, fault_name(fault));
        }
        return true;
    }
    state.armed = false;
    event_fault(log, fault_name(fault));
    return true;
}
