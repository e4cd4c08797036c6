#include "serial/port_namespace.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <windows.h>

namespace {

void set_port_dir(const char* value) {
    SetEnvironmentVariableA("ZORVIDLK_PORT_DIR", value);
}

struct PathCase {
    const char* name;
    const char* port_dir; // nullptr: the variable not set
    PortIndex port;
    const char* path;
    const char* port_file;
};

const PathCase path_cases[] = {
    {"WindowsPortWithoutDirectory", nullptr, 0, "\\\\.\\COM1", ""},
    {"HighestWindowsPort", nullptr, 255, "\\\\.\\COM256", ""},
    {"IndexOutOfRange", nullptr, 256, "", ""},
    {"EmptyDirectoryNamesNoPorts", "", 0, "", ""},
    // COM1-COM9 are the system's ports under any plain path: \\?\ keeps them files.
    {"DirectoryEntry", "C:\\ports", 4, "\\\\?\\C:\\ports\\COM5", "\\\\?\\C:\\ports\\port5.rfc2217"},
    {"TrailingSeparator", "C:\\ports\\", 199, "\\\\?\\C:\\ports\\COM200",
     "\\\\?\\C:\\ports\\port200.rfc2217"},
    {"ForwardSlashes", "C:/ports", 0, "\\\\?\\C:\\ports\\COM1", "\\\\?\\C:\\ports\\port1.rfc2217"},
    {"DirectoryNamedLikeAPort", "C:\\COM1", 1, "\\\\?\\C:\\COM1\\COM2",
     "\\\\?\\C:\\COM1\\port2.rfc2217"},
    {"NetworkShare", "\\\\server\\ports", 2, "\\\\?\\UNC\\server\\ports\\COM3",
     "\\\\?\\UNC\\server\\ports\\port3.rfc2217"},
};

class PortPaths : public ::testing::TestWithParam<PathCase> {
  protected:
    void TearDown() override { SetEnvironmentVariableA("ZORVIDLK_PORT_DIR", nullptr); }
};

TEST_P(PortPaths, NameTheEntry) {
    const PathCase& c = GetParam();
    SetEnvironmentVariableA("ZORVIDLK_PORT_DIR", c.port_dir);
    EXPECT_EQ(port_path(c.port), c.path);
    EXPECT_EQ(port_file_path(c.port), c.port_file);
}

INSTANTIATE_TEST_SUITE_P(Table, PortPaths, ::testing::ValuesIn(path_cases),
                         [](const auto& p) { return std::string(p.param.name); });

// A private port directory in the system's temporary folder.
class WindowsPortDir : public ::testing::Test {
  protected:
    void SetUp() override {
        char base[MAX_PATH];
        ASSERT_GT(GetTempPathA(sizeof base, base), 0U);
        dir = std::string(base) + "zvns" + std::to_string(GetCurrentProcessId());
        ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr) ||
                    GetLastError() == ERROR_ALREADY_EXISTS);
        set_port_dir(dir.c_str());
    }
    void TearDown() override {
        set_port_dir(nullptr);
        for (const std::string& name : created) {
            const std::string path = "\\\\?\\" + dir + "\\" + name;
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (!DeleteFileA(path.c_str())) {
                RemoveDirectoryA(path.c_str());
            }
        }
        RemoveDirectoryA(dir.c_str());
    }
    void write_file(const std::string& name, const std::string& content) {
        const std::string path = "\\\\?\\" + dir + "\\" + name;
        const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE) << name;
        DWORD written = 0;
        WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
        CloseHandle(file);
        created.push_back(name);
    }
    void make_directory(const std::string& name) {
        ASSERT_TRUE(CreateDirectoryA(("\\\\?\\" + dir + "\\" + name).c_str(), nullptr));
        created.push_back(name);
    }
    SerialStatus open_com(int com) {
        std::unique_ptr<SerialEndpoint> endpoint;
        return open_endpoint(com - 1, SerialDefaults{}, endpoint);
    }
    std::string dir;
    std::vector<std::string> created;
};

TEST_F(WindowsPortDir, EntriesThatAreNoPort) {
    // COM3 is a reserved name anywhere but behind \\?\: the file must be found,
    // never the system's COM3.
    write_file("COM3", "not a port\n");
    make_directory("COM4");
    write_file("COM2", "read-only\n");
    ASSERT_TRUE(SetFileAttributesA(("\\\\?\\" + dir + "\\COM2").c_str(), FILE_ATTRIBUTE_READONLY));
    make_directory("port10.rfc2217");
    write_file("port5.rfc2217", "telnet://127.0.0.1:7000\n");
    write_file("port6.rfc2217", std::string(300, 'x'));
    EXPECT_EQ(open_com(3), -10) << "a plain file";
    EXPECT_EQ(open_com(4), -10) << "a directory";
    EXPECT_EQ(open_com(5), -10) << "a port file of another scheme";
    EXPECT_EQ(open_com(6), -10) << "a port file too long";
    EXPECT_EQ(open_com(7), -10) << "no entry at all";
    EXPECT_EQ(open_com(2), -10) << "a read-only plain file";
    EXPECT_EQ(open_com(10), -10) << "a port file that is a directory";
}

TEST_F(WindowsPortDir, PortFileNamingNobodyIsNotReady) {
    // Port 1 on the loopback: nothing listens there.
    write_file("port8.rfc2217", "rfc2217://127.0.0.1:1\r\n");
    EXPECT_EQ(open_com(8), -13);
}

TEST_F(WindowsPortDir, EntryWinsOverThePortFile) {
    write_file("COM9", "");
    write_file("port9.rfc2217", "rfc2217://127.0.0.1:1\n");
    EXPECT_EQ(open_com(9), -10) << "the plain file COM9 counts, not the port file";
}

} // namespace
