#include "serial/port_namespace.h"
#include "serial/system_console.h"
#include "serial/tty_endpoint.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <pty.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

namespace {

// A private port directory, set as ZORVIDLK_PORT_DIR while the test runs.
class PortDirTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/zvnsXXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        setenv("ZORVIDLK_PORT_DIR", dir.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("ZORVIDLK_PORT_DIR");
        std::system(("rm -rf '" + dir + "'").c_str());
        if (master >= 0) {
            close(master);
        }
    }
    std::string entry(int com) const { return dir + "/COM" + std::to_string(com); }
    // A pseudo-terminal's slave path; the master stays open for the test.
    std::string make_pty() {
        int slave = -1;
        char name[64];
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
            return "";
        }
        close(slave);
        return name;
    }
    SerialStatus open_com(int com) {
        std::unique_ptr<SerialEndpoint> endpoint;
        return open_endpoint(com - 1, SerialDefaults{}, endpoint);
    }
    std::string dir;
    int master = -1;
};

} // namespace

TEST(PortPath, FixedTableWithoutPortDirectory) {
    unsetenv("ZORVIDLK_PORT_DIR");
    EXPECT_EQ(port_path(0), "/dev/ttyS0");
    EXPECT_EQ(port_path(31), "/dev/ttyS31");
    EXPECT_EQ(port_path(32), "/dev/ttyUSB0");
    EXPECT_EQ(port_path(63), "/dev/ttyUSB31");
    EXPECT_EQ(port_path(64), "/dev/ttyACM0");
    EXPECT_EQ(port_path(95), "/dev/ttyACM31");
    EXPECT_EQ(port_path(96), "");
    EXPECT_EQ(port_path(255), "");
    EXPECT_EQ(port_path(-1), "");
    EXPECT_EQ(port_path(256), "");
}

TEST(PortPath, EmptyPortDirectoryNamesNoPorts) {
    setenv("ZORVIDLK_PORT_DIR", "", 1);
    EXPECT_EQ(port_path(0), "");
    std::unique_ptr<SerialEndpoint> endpoint;
    EXPECT_EQ(open_endpoint(0, SerialDefaults{}, endpoint), -10);
    unsetenv("ZORVIDLK_PORT_DIR");
}

TEST_F(PortDirTest, PortDirectoryReplacesTheTable) {
    EXPECT_EQ(port_path(0), entry(1));
    EXPECT_EQ(port_path(9), entry(10));
    EXPECT_EQ(port_path(255), entry(256));
    EXPECT_EQ(port_path(256), "");
}

TEST_F(PortDirTest, EntriesTellWhyAPortDoesNotOpen) {
    const std::string slave = make_pty();
    ASSERT_FALSE(slave.empty());
    ASSERT_EQ(symlink(slave.c_str(), entry(1).c_str()), 0);
    ASSERT_EQ(symlink((dir + "/unplugged").c_str(), entry(2).c_str()), 0);
    ASSERT_EQ(symlink(entry(3).c_str(), entry(3).c_str()), 0);
    std::fclose(std::fopen(entry(4).c_str(), "w"));
    ASSERT_EQ(mkdir(entry(5).c_str(), 0700), 0);

    EXPECT_EQ(open_com(1), 0);
    EXPECT_EQ(open_com(2), -13); // dangling link
    EXPECT_EQ(open_com(3), -13); // link loop
    EXPECT_EQ(open_com(4), -10); // regular file
    EXPECT_EQ(open_com(5), -10); // directory
    EXPECT_EQ(open_com(6), -10); // no entry
    std::unique_ptr<SerialEndpoint> endpoint;
    EXPECT_EQ(open_endpoint(-1, SerialDefaults{}, endpoint), -1);
}

namespace {

// The number of a device as the kernel writes it in a stat line (tty_nr).
long kernel_number(dev_t device) {
    const unsigned long low = minor(device) & 0xffUL;
    const unsigned long high = minor(device) & ~0xffUL;
    return static_cast<long>(low | (major(device) << 8) | (high << 12));
}

// A pseudo-terminal standing in for the console or the operator's terminal.
struct TestTerminal {
    int master = -1;
    std::string path;
    dev_t device = 0;
    TestTerminal() {
        int slave = -1;
        char name[64];
        if (openpty(&master, &slave, name, nullptr, nullptr) == 0) {
            path = name;
            struct stat status {};
            fstat(slave, &status);
            device = status.st_rdev;
            close(slave);
        }
    }
    ~TestTerminal() { close(master); }
    termios settings() const {
        termios t{};
        tcgetattr(master, &t);
        return t;
    }
};

// Records of the test's own, written into its port directory.
struct TestRecords {
    std::string console_list;
    std::string process_stat;
    TerminalRecords records;
    TestRecords(const std::string& dir, const std::string& consoles, const std::string& stat_line)
        : console_list(dir + "/active"), process_stat(dir + "/stat") {
        std::FILE* out = std::fopen(console_list.c_str(), "w");
        std::fputs(consoles.c_str(), out);
        std::fclose(out);
        out = std::fopen(process_stat.c_str(), "w");
        std::fputs(stat_line.c_str(), out);
        std::fclose(out);
        records.console_list = console_list.c_str();
        records.process_stat = process_stat.c_str();
        use_terminal_records(&records);
    }
    ~TestRecords() { use_terminal_records(nullptr); }
};

std::string stat_line(long tty_nr) {
    return "4242 (unit tests) S 1 4242 4242 " + std::to_string(tty_nr) + " -1 4194560\n";
}

} // namespace

TEST_F(PortDirTest, RecordsNameTheReservedTerminals) {
    TestTerminal terminal;
    ASSERT_GE(terminal.master, 0);
    const std::string name = terminal.path.substr(std::string("/dev/").size()); // "pts/N"
    const long number = kernel_number(terminal.device);
    struct Case {
        const char* what;
        std::string consoles;
        std::string stat;
        bool reserved;
    };
    const Case cases[] = {
        {"listed as a console", "tty0 " + name + "\n", stat_line(0), true},
        {"not in the console list", "tty0\n", stat_line(0), false},
        {"the controlling terminal", "", stat_line(number), true},
        {"another controlling terminal", "", stat_line(number + 1), false},
        // Fields count from the last ')': the first would find tty_nr 0.
        {"a command name with ') '", "",
         "4242 (x) S 1 1 1 0 y) S 1 4242 4242 " + std::to_string(number) + " -1\n", true},
        {"an unreadable stat line", "", "4242 (unit tests) S 1\n", false},
    };
    for (const Case& c : cases) {
        TestRecords records(dir, c.consoles, c.stat);
        EXPECT_EQ(is_reserved_terminal(terminal.device), c.reserved) << c.what;
        EXPECT_FALSE(is_reserved_terminal(0)) << c.what;
    }
    TestRecords no_list(dir, "", stat_line(0));
    no_list.records.console_list = "/nonexistent/active";
    EXPECT_FALSE(is_system_console(terminal.device)) << "no console list";
}

namespace {

// Swaps COM1 to the reserved terminal when the endpoint opens it: the moment
// between the path check and the open.
struct LinkSwap {
    std::string link;
    std::string target;
    int opens = 0;
};
LinkSwap swap;

int open_after_swap(const char* path, int flags) {
    ++swap.opens;
    const std::string replacement = swap.link + ".new";
    if (symlink(swap.target.c_str(), replacement.c_str()) == 0) {
        rename(replacement.c_str(), swap.link.c_str());
    }
    return open(path, flags);
}

// Bytes waiting on the terminal once what the far end wrote has crossed (bounded wait).
int typed_ahead(int fd) {
    int waiting = 0;
    for (int tries = 0; tries < 200 && ioctl(fd, FIONREAD, &waiting) == 0 && waiting < 2; ++tries) {
        usleep(10000);
    }
    return waiting;
}

int no_serial_info(int, serial_struct*) {
    errno = ENOTTY;
    return -1;
}
int no_serial_change(int, const serial_struct*) {
    errno = ENOTTY;
    return -1;
}

} // namespace

TEST_F(PortDirTest, ReservedTerminalIsNeverTaken) {
    struct Case {
        const char* what;
        bool as_console; // else as the controlling terminal (all streams redirected)
        bool swapped;    // COM1 leads to another tty until the moment of opening
    };
    const Case cases[] = {
        {"console by path", true, false},
        {"controlling terminal by path", false, false},
        {"console swapped in at the open", true, true},
        {"controlling terminal swapped in at the open", false, true},
    };
    const TtyDeviceCalls swapping{open_after_swap, no_serial_info, no_serial_change};
    for (const Case& c : cases) {
        TestTerminal reserved;
        TestTerminal harmless;
        ASSERT_GE(reserved.master, 0);
        ASSERT_GE(harmless.master, 0);
        const std::string name = reserved.path.substr(std::string("/dev/").size());
        TestRecords records(dir, c.as_console ? name + "\n" : "",
                            stat_line(c.as_console ? 0 : kernel_number(reserved.device)));
        // The operator typed ahead: a refused open must not throw it away.
        const int reader = open(reserved.path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
        ASSERT_EQ(write(reserved.master, "k\n", 2), 2);
        ASSERT_EQ(typed_ahead(reader), 2);
        const termios before = reserved.settings();
        unlink(entry(1).c_str());
        ASSERT_EQ(symlink((c.swapped ? harmless : reserved).path.c_str(), entry(1).c_str()), 0);
        swap = LinkSwap{entry(1), reserved.path, 0};
        tty_use_device_calls(&swapping);

        EXPECT_EQ(open_com(1), -2) << c.what;
        tty_use_device_calls(nullptr);

        EXPECT_EQ(swap.opens, c.swapped ? 1 : 0) << c.what;
        const termios after = reserved.settings();
        EXPECT_EQ(after.c_lflag, before.c_lflag) << c.what;
        EXPECT_EQ(after.c_iflag, before.c_iflag) << c.what;
        EXPECT_EQ(after.c_cflag, before.c_cflag) << c.what;
        EXPECT_EQ(typed_ahead(reader), 2) << c.what;
        close(reader);
        EXPECT_NE(harmless.settings().c_lflag & ICANON, 0U) << c.what;
    }
}
