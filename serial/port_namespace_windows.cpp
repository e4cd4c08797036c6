// COM numbers to endpoints on Windows.
//
// Without ZORVIDLK_PORT_DIR, COM n is the Windows port \\.\COMn. With it, COM n
// is what that directory holds, as on Linux: the entry COM<n>, a comm device
// file, opens as a comm port (a plain file or a directory there is no port);
// where there is no COM<n>, the port file port<n>.rfc2217 names an RFC 2217
// server on the network (port_file.h); with neither, there is no port. The entry is reached through
// a \\?\ path: under a plain path the names COM1-COM9 would be the system's serial ports
// themselves, whatever the directory. A set but empty variable names no ports at all.
#include "serial/port_namespace.h"

#include "serial/comm_endpoint_windows.h"
#include "serial/port_file_reader.h"
#include "serial/rfc2217_endpoint.h"

#include <vector>
#include <windows.h>

namespace {

constexpr const wchar_t* PORT_DIR_VARIABLE = L"ZORVIDLK_PORT_DIR";

// The variable's value; false when it is not set.
bool port_directory(std::wstring* value) {
    const DWORD needed = GetEnvironmentVariableW(PORT_DIR_VARIABLE, nullptr, 0);
    if (needed == 0) {
        value->clear();
        return GetLastError() != ERROR_ENVVAR_NOT_FOUND;
    }
    std::vector<wchar_t> text(needed);
    const DWORD length = GetEnvironmentVariableW(PORT_DIR_VARIABLE, text.data(), needed);
    value->assign(text.data(), length < needed ? length : 0);
    return true;
}

// The full path of a directory entry, in the \\?\ form that takes every name
// as a file name. GetFullPathNameW would turn a path ending in COM1-COM9 into
// the device \\.\COMn: it sees only the directory, with a separator after it.
std::wstring literal_path(const std::wstring& directory, const std::wstring& name) {
    std::wstring path = directory;
    if (path.rfind(L"\\\\?\\", 0) != 0) {
        if (!path.empty() && path.back() != L'\\' && path.back() != L'/') {
            path += L'\\';
        }
        const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
        if (needed > 0) {
            std::vector<wchar_t> full(needed);
            const DWORD length = GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
            path.assign(full.data(), length < needed ? length : 0);
        }
    }
    if (!path.empty() && path.back() != L'\\') {
        path += L'\\';
    }
    path += name;
    if (path.rfind(L"\\\\?\\", 0) == 0) {
        return path;
    }
    if (path.rfind(L"\\\\", 0) == 0) {
        return L"\\\\?\\UNC\\" + path.substr(2);
    }
    return L"\\\\?\\" + path;
}

// The path of COM n; empty when it names nothing.
std::wstring wide_port_path(PortIndex port) {
    if (port < 0 || port >= SERIAL_PORT_COUNT) {
        return L"";
    }
    const std::wstring name = L"COM" + std::to_wstring(port + 1);
    std::wstring directory;
    if (!port_directory(&directory)) {
        return L"\\\\.\\" + name;
    }
    if (directory.empty()) {
        return L"";
    }
    return literal_path(directory, name);
}

std::string narrow(const std::wstring& text) {
    if (text.empty()) {
        return "";
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size > 0 ? size : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
    return out;
}

std::wstring wide_port_file_path(PortIndex port) {
    std::wstring directory;
    if (port < 0 || port >= SERIAL_PORT_COUNT || !port_directory(&directory) || directory.empty()) {
        return L"";
    }
    return literal_path(directory, L"port" + std::to_wstring(port + 1) + L".rfc2217");
}

} // namespace

std::string port_file_path(PortIndex port) {
    return narrow(wide_port_file_path(port));
}

std::string port_path(PortIndex port) {
    return narrow(wide_port_path(port));
}

SerialStatus open_endpoint(PortIndex port, const SerialDefaults& defaults,
                           std::unique_ptr<SerialEndpoint>& out) {
    if (port < 0 || port >= SERIAL_PORT_COUNT) {
        return -1;
    }
    const std::wstring path = wide_port_path(port);
    if (path.empty()) {
        return -10;
    }
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    if (path.rfind(L"\\\\?\\", 0) == 0) {
        // A port directory entry: a directory is no port (it would open as one
        // that is in use). Whatever else is there, the open tells; a read-only
        // file refuses it as a port in use would (comm_entry_open_status).
        attributes = GetFileAttributesW(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            const DWORD error = GetLastError();
            if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
                return open_port_file(port_file_path(port), defaults, out);
            }
        } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            return -10;
        }
    }
    return comm_open(path, defaults, out, attributes);
}

SerialStatus open_named_endpoint(const std::string& name, const SerialDefaults& defaults,
                                 std::unique_ptr<SerialEndpoint>& out) {
    if (name.rfind("rfc2217://", 0) == 0) {
        return rfc2217_open_port_file(name, defaults, out);
    }
    if (name.empty()) {
        return -10;
    }
    const int needed = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name.data(),
                                           static_cast<int>(name.size()), nullptr, 0);
    if (needed <= 0) {
        return -10;
    }
    std::wstring path(static_cast<size_t>(needed), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name.data(), static_cast<int>(name.size()),
                        path.data(), needed);
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return -10;
    }
    return comm_open(path, defaults, out);
}
