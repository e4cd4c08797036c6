// The simulator's command line.
#pragma once

#include "sim/adapter_model.h"
#include "sim/faults.h"

#include <cstdint>
#include <string>

struct SimOptions {
    std::string socket_path;
    bool tcp = false;
    std::string tcp_address; // a loopback address (see loopback_address)
    uint16_t tcp_port = 0;
    std::string events_path;
    std::string firmware = "ZORVI DLK firmware 2.3.1";
    uint64_t seed = 1;
    Faults faults;
    const AdapterParams* adapter = adapter_find("ideal");
};

// 0: options parsed; 1: --help printed; -1: error printed on stderr.
int parse_sim_options(int argc, char** argv, SimOptions& options);
