// What the serial service says about itself and about operating-system
// errors, in the words of the system it runs on.
#pragma once

#include <cstddef>

// The service's one-line description (at most 49 characters).
const char* service_description();

// The system's own text for an error code recorded with
// serial_record_os_error (an errno value on POSIX systems, a GetLastError or
// Winsock code on Windows), NUL-terminated in `buffer`.
void describe_os_error(int error_code, char* buffer, size_t size);
