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
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

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
        for (int master : masters) {
            close(master);
        }
    }
    std::string entry(int com) const { return dir + "/COM" + std::to_string(com); }
    // A pseudo-terminal's slave path; the master stays open for the test.
    std::string make_pty(int* master_out = nullptr) {
        int master = -1;
        int slave = -1;
        char name[64];
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
            return "";
        }
        masters.push_back(master);
        if (master_out != nullptr) {
            *master_out = master;
        }
        close(slave);
        return name;
    }
    SerialStatus open_com(int com) {
        std::unique_ptr<SerialEndpoint> endpoint;
        return open_endpoint(com - 1, SerialDefaults{}, endpoint);
    }
    std::string dir;
    std::vector<int> masters;
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

// A port file must be a regular file, and nothing else in its place is ever
// opened: a terminal opened would raise DTR and RTS (resetting the board behind
// it), a FIFO could hold the open. inotify tells any open of the targets.
TEST_F(PortDirTest, PortFileThatIsNoRegularFileIsNeverOpened) {
    const std::string slave = make_pty();
    ASSERT_FALSE(slave.empty());
    const std::string fifo = dir + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    auto port_file_of = [&](int com) { return dir + "/port" + std::to_string(com) + ".rfc2217"; };
    ASSERT_EQ(symlink(slave.c_str(), port_file_of(1).c_str()), 0);
    ASSERT_EQ(symlink(fifo.c_str(), port_file_of(2).c_str()), 0);
    ASSERT_EQ(mkfifo(port_file_of(3).c_str(), 0600), 0);
    ASSERT_EQ(mkdir(port_file_of(4).c_str(), 0700), 0);
    ASSERT_EQ(symlink(port_file_of(5).c_str(), port_file_of(5).c_str()), 0);
    const int watcher = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watcher, 0);
    for (const std::string& target : {slave, fifo, port_file_of(3), port_file_of(4)}) {
        ASSERT_GE(inotify_add_watch(watcher, target.c_str(), IN_OPEN), 0) << target;
    }
    EXPECT_EQ(open_com(1), -10) << "a link to a terminal";
    EXPECT_EQ(open_com(2), -10) << "a link to a FIFO";
    EXPECT_EQ(open_com(3), -10) << "a FIFO";
    EXPECT_EQ(open_com(4), -10) << "a directory";
    EXPECT_EQ(open_com(5), -10) << "a link loop";
    char events[4096];
    EXPECT_EQ(read(watcher, events, sizeof events), -1) << "something was opened";
    EXPECT_EQ(errno, EAGAIN);
    close(watcher);
}

TEST_F(PortDirTest, PortFileThatCannotBeReadIsAnOsError) {
    if (geteuid() == 0) {
        GTEST_SKIP() << "root reads any file";
    }
    const std::string path = dir + "/port1.rfc2217";
    std::FILE* out = std::fopen(path.c_str(), "w");
    std::fputs("rfc2217://127.0.0.1:1\n", out);
    std::fclose(out);
    ASSERT_EQ(chmod(path.c_str(), 0), 0);
    EXPECT_EQ(open_com(1), -103);
    std::fclose(std::fopen((dir + "/port2.rfc2217").c_str(), "w"));
    EXPECT_EQ(open_com(2), -10) << "an empty port file";
}

namespace {

// The number of a device as the kernel writes it in a stat line (tty_nr).
long kernel_number(dev_t device) {
    return static_cast<long>((minor(device) & 0xffU) | (major(device) << 8) |
                             ((minor(device) & ~0xffU) << 12));
}

// Swaps COM1 over to `swap_target` at the moment the endpoint opens it.
std::string swap_link;
std::string swap_target;

int open_after_swap(const char* path, int flags) {
    const std::string replacement = swap_link + ".new";
    if (!swap_target.empty() && symlink(swap_target.c_str(), replacement.c_str()) == 0) {
        rename(replacement.c_str(), swap_link.c_str());
    }
    return open(path, flags);
}
int no_serial_info(int, serial_struct*) {
    return errno = ENOTTY, -1;
}
int no_serial_change(int, const serial_struct*) {
    return errno = ENOTTY, -1;
}

// Bytes typed ahead on a terminal, once the far end's have crossed (bounded wait).
int typed_ahead(int fd) {
    int waiting = 0;
    for (int tries = 0; tries < 200 && ioctl(fd, FIONREAD, &waiting) == 0 && waiting < 2; ++tries) {
        usleep(10000);
    }
    return waiting;
}

} // namespace

// The console, or the operator's terminal as the controlling terminal (which it
// stays with all three standard streams redirected), is a pty of the test's;
// COM1 leads there by its path, or leads elsewhere until the moment of opening.
TEST_F(PortDirTest, ReservedTerminalIsNeverTaken) {
    struct Case {
        const char* what;
        const char* consoles;   // %s: the pty's name under /dev
        const char* foreground; // the foreground virtual terminal, %s as above
        const char* stat;       // %ld: the pty's number
        bool swapped;
        SerialStatus status;
    };
    const Case cases[] = {
        {"console", "tty0 %s\n", "tty1\n", "1 (t) S 1 1 1 0 -1\n", false, -2},
        {"console swapped in", "tty0 %s\n", "tty1\n", "1 (t) S 1 1 1 0 -1\n", true, -2},
        // tty0 in the list is the virtual terminal in the foreground.
        {"foreground terminal", "ttyS0 tty0\n", "%s\n", "1 (t) S 1 1 1 0 -1\n", false, -2},
        {"foreground terminal swapped in", "tty0\n", "%s\n", "1 (t) S 1 1 1 0 -1\n", true, -2},
        {"foreground terminal without tty0", "ttyS0\n", "%s\n", "1 (t) S 1 1 1 0 -1\n", false, 0},
        {"controlling terminal", "tty0\n", "tty1\n", "1 (unit tests) S 1 1 1 %ld -1\n", false, -2},
        {"controlling terminal swapped in", "tty0\n", "tty1\n", "1 (t) S 1 1 1 %ld -1\n", true, -2},
        // Fields count from the last ')': the first would find tty_nr 0.
        {"command name with ') '", "tty0\n", "tty1\n", "1 (x) S 1 1 1 0 y) S 1 1 1 %ld -1\n", false,
         -2},
        {"neither", "tty0\n", "tty1\n", "1 (t) S 1 1 1 0 -1\n", false, 0},
    };
    const TtyDeviceCalls swapping{open_after_swap, no_serial_info, no_serial_change};
    const std::string list = dir + "/active";
    const std::string stat_line = dir + "/stat";
    const std::string foreground = dir + "/foreground";
    const TerminalRecords records{list.c_str(), stat_line.c_str(), foreground.c_str()};
    for (const Case& c : cases) {
        int far_end = -1;
        const std::string reserved = make_pty(&far_end);
        const std::string harmless = make_pty();
        struct stat status {};
        ASSERT_EQ(stat(reserved.c_str(), &status), 0);
        std::FILE* out = std::fopen(list.c_str(), "w");
        std::fprintf(out, c.consoles, reserved.c_str() + 5);
        std::fclose(out);
        out = std::fopen(foreground.c_str(), "w");
        std::fprintf(out, c.foreground, reserved.c_str() + 5);
        std::fclose(out);
        out = std::fopen(stat_line.c_str(), "w");
        std::fprintf(out, c.stat, kernel_number(status.st_rdev));
        std::fclose(out);
        // The operator typed ahead: a refused open must not throw it away.
        const int reader = open(reserved.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
        ASSERT_EQ(write(far_end, "k\n", 2), 2);
        ASSERT_EQ(typed_ahead(reader), 2);
        unlink(entry(1).c_str());
        ASSERT_EQ(symlink((c.swapped ? harmless : reserved).c_str(), entry(1).c_str()), 0);
        swap_link = entry(1);
        swap_target = c.swapped ? reserved : "";
        use_terminal_records(&records);
        tty_use_device_calls(&swapping);
        EXPECT_EQ(open_com(1), c.status) << c.what;
        tty_use_device_calls(nullptr);
        use_terminal_records(nullptr);
        if (c.status < 0) {
            EXPECT_EQ(typed_ahead(reader), 2) << c.what;
        }
        close(reader);
    }
}
