#include "serial/rfc2217_endpoint.h"

SerialStatus rfc2217_open(const std::string&, const SerialDefaults&,
                          std::unique_ptr<SerialEndpoint>&) {
    return -13;
}
