#include "serial/service_platform.h"

#include <cstdio>
#include <windows.h>

const char* service_description() {
    return "Win32 comm and RFC 2217 serial service";
}

void describe_os_error(int error_code, char* buffer, size_t size) {
    if (size == 0) {
        return;
    }
    const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    DWORD length = FormatMessageA(flags, nullptr, static_cast<DWORD>(error_code),
                                  MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buffer,
                                  static_cast<DWORD>(size), nullptr);
    if (length == 0) {
        std::snprintf(buffer, size, "system error %d", error_code);
        return;
    }
    // The system's texts end in a line end (and sometimes a blank): the
    // message printed around them has its own.
    while (length > 0 && (buffer[length - 1] == '\n' || buffer[length - 1] == '\r' ||
                          buffer[length - 1] == ' ')) {
        --length;
    }
    buffer[length] = '\0';
}
