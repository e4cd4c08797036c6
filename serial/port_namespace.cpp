#include "serial/port_namespace.h"

std::string port_path(PortIndex) { return ""; }

SerialStatus open_endpoint(PortIndex, const SerialDefaults&, std::unique_ptr<SerialEndpoint>&) {
    return -10;
}
