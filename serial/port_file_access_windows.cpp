// Port file access on Windows; see port_file_access.h.
//
// The entry's attributes are read before anything is opened: a directory (or
// a device) is no port file. The file opened is then checked to be a plain
// disk file that is not a directory, whatever the entry had become meanwhile.
#include "serial/port_file_access.h"

#include <vector>
#include <windows.h>

namespace {

std::wstring wide(const std::string& text) {
    if (text.empty()) {
        return L"";
    }
    const int size =
        MultiByteToWideChar(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0);
    std::vector<wchar_t> out(static_cast<size_t>(size > 0 ? size : 0) + 1, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), size);
    return out.data();
}

bool is_absent(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
           error == ERROR_INVALID_NAME;
}

constexpr DWORD NOT_A_FILE = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE;

} // namespace

PortFileOpen port_file_open(const std::string& path, PortFileHandle& handle, int& os_error) {
    const std::wstring name = wide(path);
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        os_error = static_cast<int>(error);
        return is_absent(error) ? PortFileOpen::no_port : PortFileOpen::failed;
    }
    if ((attributes & NOT_A_FILE) != 0) {
        return PortFileOpen::no_port;
    }
    const HANDLE file = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        os_error = static_cast<int>(error);
        return is_absent(error) ? PortFileOpen::no_port : PortFileOpen::failed;
    }
    BY_HANDLE_FILE_INFORMATION information{};
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &information) ||
        (information.dwFileAttributes & NOT_A_FILE) != 0) {
        CloseHandle(file);
        return PortFileOpen::no_port;
    }
    handle.value = reinterpret_cast<intptr_t>(file);
    return PortFileOpen::opened;
}

long port_file_read(PortFileHandle handle, char* buffer, size_t size, int& os_error) {
    DWORD got = 0;
    if (!ReadFile(reinterpret_cast<HANDLE>(handle.value), buffer, static_cast<DWORD>(size), &got,
                  nullptr)) {
        os_error = static_cast<int>(GetLastError());
        return -1;
    }
    return static_cast<long>(got);
}

void port_file_close(PortFileHandle handle) {
    CloseHandle(reinterpret_cast<HANDLE>(handle.value));
}
