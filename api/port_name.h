// How zv_open reads its port argument.
#pragma once

#include "serial/serial_service.h"

#include <string>

// A COM number ("3", "COM3", "com3": 1..256 gives PortIndex 0..255, checked
// by the caller), or a name to open as it is.
struct PortName {
    bool is_com_number = false;
    long com_number = 0; // as written: the caller refuses 0 and above 256 (-1)
    std::string name;    // a path or an rfc2217:// address
};

PortName read_port_name(const char* text);
