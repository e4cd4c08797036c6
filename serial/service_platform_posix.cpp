#include "serial/service_platform.h"

#include <cstdio>
#include <cstring>

const char* service_description() {
    return "Linux termios and RFC 2217 serial service";
}

void describe_os_error(int error_code, char* buffer, size_t size) {
    std::snprintf(buffer, size, "%s", std::strerror(error_code));
}
