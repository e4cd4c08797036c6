// Reading a port file; see port_file_reader.h.
#include "serial/port_file_reader.h"

#include "serial/port_file.h"
#include "serial/port_file_access.h"
#include "serial/rfc2217_endpoint.h"

SerialStatus read_port_file(const std::string& path, std::string& content) {
    PortFileHandle handle;
    int os_error = 0;
    switch (port_file_open(path, handle, os_error)) {
    case PortFileOpen::opened:
        break;
    case PortFileOpen::no_port:
        return -10;
    case PortFileOpen::failed:
        serial_record_os_error(os_error);
        return -103;
    }
    // One byte more than a port file may hold tells a longer file.
    char buffer[PORT_FILE_MAX_SIZE + 1];
    size_t size = 0;
    while (size < sizeof buffer) {
        const long got = port_file_read(handle, buffer + size, sizeof buffer - size, os_error);
        if (got < 0) {
            port_file_close(handle);
            serial_record_os_error(os_error);
            return -103;
        }
        if (got == 0) {
            break;
        }
        size += static_cast<size_t>(got);
    }
    port_file_close(handle);
    if (size > PORT_FILE_MAX_SIZE) {
        return -10;
    }
    content.assign(buffer, size);
    return 0;
}

SerialStatus open_port_file(const std::string& path, const SerialDefaults& defaults,
                            std::unique_ptr<SerialEndpoint>& out) {
    if (path.empty()) {
        return -10;
    }
    std::string content;
    const SerialStatus read_status = read_port_file(path, content);
    if (read_status < 0) {
        return read_status;
    }
    return rfc2217_open_port_file(content, defaults, out);
}
