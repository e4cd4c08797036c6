// COM numbers to endpoints.
//
// With ZORVIDLK_PORT_DIR set, COM n is $ZORVIDLK_PORT_DIR/COM<n>: a character
// device (or a link to one) opens as a tty, a Unix-domain socket as an RFC
// 2217 peer. Where no COM<n> entry exists, $ZORVIDLK_PORT_DIR/port<n>.rfc2217,
// a port file naming an RFC 2217 server on TCP, serves instead. Without the
// variable, a fixed table of Linux device nodes:
//   COM1-COM32   /dev/ttyS0-31
//   COM33-COM64  /dev/ttyUSB0-31
//   COM65-COM96  /dev/ttyACM0-31
//   COM97-COM256 no device (free for the port directory)
#include "serial/port_namespace.h"

#include "serial/port_file_reader.h"
#include "serial/rfc2217_endpoint.h"
#include "serial/system_console.h"
#include "serial/tty_endpoint.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* PORT_DIR_VARIABLE = "ZORVIDLK_PORT_DIR";

struct DeviceRange {
    int first_index;
    const char* prefix;
};

constexpr int RANGE_SIZE = 32;
constexpr DeviceRange DEVICE_TABLE[] = {
    {0, "/dev/ttyS"},
    {32, "/dev/ttyUSB"},
    {64, "/dev/ttyACM"},
};

std::string table_path(PortIndex port) {
    for (const DeviceRange& range : DEVICE_TABLE) {
        if (port >= range.first_index && port < range.first_index + RANGE_SIZE) {
            return range.prefix + std::to_string(port - range.first_index);
        }
    }
    return "";
}

// The port directory, or "" when there is none.
std::string port_directory() {
    const char* directory = std::getenv(PORT_DIR_VARIABLE);
    return directory == nullptr ? "" : directory;
}

// Opens what the entry at `path` leads to: a character device as a tty, a
// Unix-domain socket as an RFC 2217 peer. An entry that exists but leads
// nowhere (a link to an unplugged device) is a port that is not ready; where
// there is no entry at all, `absent` decides.
template <typename Absent>
SerialStatus open_device_entry(const std::string& path, const SerialDefaults& defaults,
                               std::unique_ptr<SerialEndpoint>& out, Absent absent) {
    struct stat target {};
    if (stat(path.c_str(), &target) != 0) {
        const int error_number = errno;
        struct stat entry {};
        if (error_number == ENOENT || error_number == ENOTDIR) {
            return lstat(path.c_str(), &entry) == 0 ? -13 : absent();
        }
        if (error_number == ELOOP) {
            return -13;
        }
        serial_record_os_error(error_number);
        return -103;
    }
    if (S_ISCHR(target.st_mode)) {
        // Checked here by path, and by tty_open again on the descriptor it opens.
        if (is_reserved_terminal(target.st_rdev)) {
            return -2; // in use by the system, or the operator's own terminal
        }
        return tty_open(path, defaults, out);
    }
    if (S_ISSOCK(target.st_mode)) {
        return rfc2217_open(path, defaults, out);
    }
    return -10; // a regular file, a directory...: no port
}

} // namespace

std::string port_path(PortIndex port) {
    if (port < 0 || port >= SERIAL_PORT_COUNT) {
        return "";
    }
    const char* directory = std::getenv(PORT_DIR_VARIABLE);
    if (directory == nullptr) {
        return table_path(port);
    }
    // Set but empty names no directory: no ports at all, never the fixed table.
    if (*directory == '\0') {
        return "";
    }
    return std::string(directory) + "/COM" + std::to_string(port + 1);
}

std::string port_file_path(PortIndex port) {
    const std::string directory = port_directory();
    if (port < 0 || port >= SERIAL_PORT_COUNT || directory.empty()) {
        return "";
    }
    return directory + "/port" + std::to_string(port + 1) + ".rfc2217";
}

SerialStatus open_endpoint(PortIndex port, const SerialDefaults& defaults,
                           std::unique_ptr<SerialEndpoint>& out) {
    if (port < 0 || port >= SERIAL_PORT_COUNT) {
        return -1;
    }
    const std::string path = port_path(port);
    if (path.empty()) {
        return -10;
    }
    // With no entry at all, a port file may name the port.
    return open_device_entry(path, defaults, out,
                             [&] { return open_port_file(port_file_path(port), defaults, out); });
}

SerialStatus open_named_endpoint(const std::string& name, const SerialDefaults& defaults,
                                 std::unique_ptr<SerialEndpoint>& out) {
    if (name.rfind("rfc2217://", 0) == 0) {
        return rfc2217_open_port_file(name, defaults, out);
    }
    if (name.empty()) {
        return -10;
    }
    return open_device_entry(name, defaults, out, [] { return SerialStatus{-10}; });
}
