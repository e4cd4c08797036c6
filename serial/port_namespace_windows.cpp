// COM numbers to endpoints on Windows.
//
// Without ZORVIDLK_PORT_DIR, COM n is the Windows port \\.\COMn. With it, COM n
// is the entry COM<n> of that directory and nothing else, as on Linux: a comm
// device file opens as a comm port; a plain file, a directory or no entry at
// all is no port. The entry is reached through a \\?\ path: under a plain
// path the names COM1-COM9 would be the system's serial ports themselves,
// whatever the directory. A set but empty variable names no ports at all.
#include "serial/port_namespace.h"

#include "serial/comm_endpoint_windows.h"

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
// as a file name. Only the directory goes through GetFullPathNameW, which
// would turn a path ending in COM1-COM9 into the device \\.\COMn.
std::wstring literal_path(const std::wstring& directory, const std::wstring& name) {
    const DWORD needed = GetFullPathNameW(directory.c_str(), 0, nullptr, nullptr);
    std::wstring path = directory;
    if (needed > 0) {
        std::vector<wchar_t> full(needed);
        const DWORD length = GetFullPathNameW(directory.c_str(), needed, full.data(), nullptr);
        path.assign(full.data(), length < needed ? length : 0);
    }
    if (!path.empty() && path.back() != L'\\' && path.back() != L'/') {
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

} // namespace

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
    if (path.rfind(L"\\\\?\\", 0) == 0) {
        // A port directory entry: a directory is no port (it would open as one
        // that is in use). Whatever else is there, the open tells.
        const DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            return -10;
        }
    }
    return comm_open(path, defaults, out);
}
