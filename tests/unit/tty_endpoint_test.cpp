#include "serial/tty_endpoint.h"

#include "platform/clock.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <pty.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// A pseudo-terminal: the test plays the far end on the master side.
struct Pty {
    int master = -1;
    std::string slave_path;

    Pty() {
        int slave = -1;
        char name[64];
        if (openpty(&master, &slave, name, nullptr, nullptr) == 0) {
            slave_path = name;
            close(slave);
        }
    }
    ~Pty() { close_master(); }
    void close_master() {
        if (master >= 0) {
            close(master);
            master = -1;
        }
    }
    termios settings() const {
        termios t{};
        tcgetattr(master, &t);
        return t;
    }
};

// rx_count once the bytes the master wrote have crossed the pty (bounded wait).
int wait_rx(SerialEndpoint& port, int wanted) {
    const int64_t deadline = monotonic_ms() + 2000;
    int count = port.rx_count();
    while (count < wanted && monotonic_ms() < deadline) {
        usleep(1000);
        count = port.rx_count();
    }
    return count;
}

// Descriptors this process has open.
int open_descriptors() {
    int count = 0;
    if (DIR* fds = opendir("/proc/self/fd")) {
        while (readdir(fds) != nullptr) {
            ++count;
        }
        closedir(fds);
    }
    return count;
}

class TtyEndpointTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_GE(pty.master, 0);
        ASSERT_EQ(tty_open(pty.slave_path, SerialDefaults{}, port), 0);
        ASSERT_TRUE(port);
    }
    Pty pty;
    std::unique_ptr<SerialEndpoint> port;
};

} // namespace

TEST_F(TtyEndpointTest, OpensRaw8N1WithoutFlowControl) {
    const termios t = pty.settings();
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0U);
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL), 0U);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0U);
    EXPECT_EQ(t.c_oflag & OPOST, 0U);
}

TEST_F(TtyEndpointTest, BaudRatesAreCheckedAndApplied) {
    EXPECT_EQ(port->set_baud(9600), 0);
    EXPECT_EQ(cfgetospeed(&static_cast<const termios&>(pty.settings())), B9600);
    EXPECT_EQ(port->set_baud(115200), 0);
    EXPECT_EQ(cfgetispeed(&static_cast<const termios&>(pty.settings())), B115200);
    for (long rate : {0L, -9600L, 12345L, 9601L}) {
        EXPECT_EQ(port->set_baud(rate), -12) << rate;
    }
    EXPECT_EQ(cfgetospeed(&static_cast<const termios&>(pty.settings())), B115200);
}

TEST_F(TtyEndpointTest, BytesBothWays) {
    ASSERT_EQ(write(pty.master, "abc", 3), 3);
    EXPECT_EQ(wait_rx(*port, 3), 3);
    EXPECT_EQ(port->get_byte(), 'a');
    EXPECT_EQ(port->rx_count(), 2);
    EXPECT_EQ(port->get_byte(), 'b');
    EXPECT_EQ(port->get_byte(), 'c');
    EXPECT_EQ(port->rx_count(), 0);
    EXPECT_EQ(port->get_byte(), -100);

    ASSERT_EQ(write(pty.master, "\xff\x00", 2), 2);
    EXPECT_EQ(wait_rx(*port, 2), 2);
    EXPECT_EQ(port->get_byte(), 0xff);
    EXPECT_EQ(port->get_byte(), 0);

    EXPECT_EQ(port->put_byte('Z'), 0);
    EXPECT_EQ(port->tx_count(), 0);
    char echoed = 0;
    ASSERT_EQ(read(pty.master, &echoed, 1), 1);
    EXPECT_EQ(echoed, 'Z');
}

TEST_F(TtyEndpointTest, ReceiveClearDiscardsWaitingBytes) {
    ASSERT_EQ(write(pty.master, "xyz", 3), 3);
    EXPECT_EQ(wait_rx(*port, 3), 3);
    EXPECT_EQ(port->rx_clear(), 0);
    EXPECT_EQ(port->rx_count(), 0);
    EXPECT_EQ(port->get_byte(), -100);
}

TEST_F(TtyEndpointTest, NoModemLinesIsNoError) {
    EXPECT_EQ(port->set_rts(true), 0);
    EXPECT_EQ(port->set_rts(false), 0);
    EXPECT_EQ(port->set_dtr(true), 0);
    EXPECT_EQ(port->cts(), 0);
}

TEST_F(TtyEndpointTest, LostDeviceReadsAsNoData) {
    ASSERT_EQ(write(pty.master, "q", 1), 1);
    EXPECT_EQ(wait_rx(*port, 1), 1);
    pty.close_master();
    EXPECT_EQ(port->rx_count(), 0);
    EXPECT_EQ(port->get_byte(), -100);
    EXPECT_EQ(port->cts(), 0);
    EXPECT_EQ(port->set_rts(true), 0);
    EXPECT_EQ(port->rx_clear(), 0);
    EXPECT_EQ(port->tx_count(), 0);
    EXPECT_LT(port->put_byte('x'), 0);
}

TEST_F(TtyEndpointTest, AByteWaitEndsWithTheByteAfterItsTimeOrAtAHangUp) {
    int64_t started = monotonic_us();
    EXPECT_EQ(port->wait_rx(20000), 0) << "nothing written";
    EXPECT_GE(monotonic_us() - started, 20000);

    started = monotonic_us();
    std::thread board([&] {
        usleep(10000);
        EXPECT_EQ(write(pty.master, "z", 1), 1);
    });
    EXPECT_EQ(port->wait_rx(2000000), 1);
    EXPECT_LT(monotonic_us() - started, 1000000);
    board.join();
    EXPECT_EQ(port->get_byte(), 'z');

    // A hang-up ends the wait at once; from then on a wait sleeps out its time.
    started = monotonic_us();
    std::thread unplug([&] {
        usleep(10000);
        pty.close_master();
    });
    EXPECT_EQ(port->wait_rx(2000000), 0);
    EXPECT_LT(monotonic_us() - started, 1000000);
    unplug.join();
    EXPECT_EQ(port->rx_count(), 0);
    started = monotonic_us();
    EXPECT_EQ(port->wait_rx(20000), 0);
    EXPECT_GE(monotonic_us() - started, 20000);
}

TEST_F(TtyEndpointTest, HeldPortIsBusyUntilClosed) {
    std::unique_ptr<SerialEndpoint> second;
    EXPECT_EQ(tty_open(pty.slave_path, SerialDefaults{}, second), -2);
    EXPECT_FALSE(second);
    port.reset();
    // Closing gives the port back, with the settings it had before.
    EXPECT_NE(pty.settings().c_lflag & ICANON, 0U);
    EXPECT_EQ(tty_open(pty.slave_path, SerialDefaults{}, second), 0);
}

TEST(TtyOpen, LockOfAnotherOwnerMeansBusy) {
    Pty pty;
    ASSERT_GE(pty.master, 0);
    const int holder = open(pty.slave_path.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX), 0);
    std::unique_ptr<SerialEndpoint> port;
    EXPECT_EQ(tty_open(pty.slave_path, SerialDefaults{}, port), -2);
    close(holder);
    EXPECT_EQ(tty_open(pty.slave_path, SerialDefaults{}, port), 0);
}

// A pty keeps 8 data bits and no parity whatever is asked: the settings are
// read back, and what did not take is refused.
TEST(TtyOpen, FramingIsReadBack) {
    Pty pty;
    ASSERT_GE(pty.master, 0);
    SerialDefaults defaults;
    defaults.stop_bits = 2;
    std::unique_ptr<SerialEndpoint> port;
    ASSERT_EQ(tty_open(pty.slave_path, defaults, port), 0);
    EXPECT_EQ(pty.settings().c_cflag & (CSIZE | PARENB | CSTOPB),
              static_cast<tcflag_t>(CS8 | CSTOPB));
    EXPECT_EQ(port->set_params(0, 0, 8), 0);
    EXPECT_EQ(pty.settings().c_cflag & (CSIZE | PARENB | CSTOPB), static_cast<tcflag_t>(CS8));
    // Refused by the driver (-5) or found not taken on reading back (-11).
    EXPECT_LT(port->set_params(0, 0, 7), 0);
    EXPECT_LT(port->set_params(2, 0, 8), 0);
    EXPECT_EQ(pty.settings().c_cflag & (CSIZE | PARENB | CSTOPB), static_cast<tcflag_t>(CS8));
    EXPECT_EQ(port->set_params(0, 0, 9), -11);
    EXPECT_EQ(port->set_params(5, 0, 8), -5);
    port.reset();

    defaults.data_bits = 7;
    EXPECT_EQ(tty_open(pty.slave_path, defaults, port), -5);
    EXPECT_FALSE(port);
}

TEST(TtyOpen, NoTerminalIsNoPort) {
    std::unique_ptr<SerialEndpoint> port;
    EXPECT_EQ(tty_open("/dev/null", SerialDefaults{}, port), -10);
    EXPECT_EQ(tty_open("/nonexistent/COM1", SerialDefaults{}, port), -10);
    EXPECT_FALSE(port);
}

TEST(TtyOpen, EveryOutcomeGivesItsDescriptorBack) {
    Pty pty;
    ASSERT_GE(pty.master, 0);
    const int before = open_descriptors();
    SerialDefaults seven_bits;
    seven_bits.data_bits = 7; // a pty keeps 8: refused after the device was opened
    for (int round = 0; round < 3; ++round) {
        std::unique_ptr<SerialEndpoint> port;
        std::unique_ptr<SerialEndpoint> second;
        EXPECT_EQ(tty_open(pty.slave_path, SerialDefaults{}, port), 0);
        EXPECT_EQ(tty_open(pty.slave_path, SerialDefaults{}, second), -2);
        port.reset();
        EXPECT_EQ(tty_open(pty.slave_path, seven_bits, port), -5);
        EXPECT_EQ(tty_open("/dev/null", SerialDefaults{}, port), -10);
    }
    EXPECT_EQ(open_descriptors(), before);
}

namespace {

// A driver's serial info behind the two ioctls. Like the kernel for an
// unprivileged caller, it takes a change only when every field outside the
// user's flags comes back as it was read.
struct FakeDriver {
    serial_struct info{};
    int get_error = 0; // errno of TIOCGSERIAL; 0: it answers
    int set_error = 0; // errno of TIOCSSERIAL
    int sets = 0;
    int report_fd = -1; // the flags of every change taken are written here
};
FakeDriver driver;

int fake_get_serial(int, serial_struct* info) {
    *info = driver.info;
    return driver.get_error != 0 ? (errno = driver.get_error, -1) : 0;
}

int fake_set_serial(int, const serial_struct* info) {
    ++driver.sets;
    const serial_struct& held = driver.info;
    const bool others_kept = info->baud_base == held.baud_base &&
                             info->closing_wait == held.closing_wait && info->line == held.line &&
                             (info->flags & ~ASYNC_USR_MASK) == (held.flags & ~ASYNC_USR_MASK);
    if (driver.set_error != 0 || !others_kept) {
        errno = driver.set_error != 0 ? driver.set_error : EPERM;
        return -1;
    }
    driver.info.flags = info->flags;
    if (driver.report_fd >= 0) {
        (void)!write(driver.report_fd, &info->flags, sizeof info->flags);
    }
    return 0;
}

int system_open(const char* path, int flags) {
    return open(path, flags);
}

constexpr int FOUND_FLAGS = ASYNC_SKIP_TEST | ASYNC_SPD_HI;

// More than the far end's line discipline holds (4 KiB), less than the pty takes:
// written and never read, most of it must be gone after the close.
constexpr int PENDING_BYTES = 6000;

// Bytes the far end can read, until nothing more comes for a while (bounded).
int drain(int master) {
    int total = 0;
    char buffer[4096];
    pollfd ready{master, POLLIN, 0};
    ssize_t got = 0;
    while (poll(&ready, 1, 300) > 0 && (got = read(master, buffer, sizeof buffer)) > 0) {
        total += static_cast<int>(got);
    }
    return total;
}

class LowLatencyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_GE(pty.master, 0);
        driver = FakeDriver{};
        driver.info.line = 3;
        driver.info.baud_base = 3000000;
        driver.info.closing_wait = 3000;
        driver.info.flags = FOUND_FLAGS;
        tty_use_device_calls(&calls);
    }
    void TearDown() override { tty_use_device_calls(nullptr); }
    const TtyDeviceCalls calls{system_open, fake_get_serial, fake_set_serial};
    Pty pty;
};

} // namespace

TEST_F(LowLatencyTest, FlagIsSetWhereTakenAndTheCloseGivesThePortBack) {
    struct Case {
        const char* what;
        int found_flags;
        int get_error;
        int set_error;
        int flags_while_open;
        int sets;
    };
    const Case cases[] = {
        {"taken", FOUND_FLAGS, 0, 0, FOUND_FLAGS | ASYNC_LOW_LATENCY, 2},
        // Someone set it before: it stays set after the close.
        {"already set", FOUND_FLAGS | ASYNC_LOW_LATENCY, 0, 0, FOUND_FLAGS | ASYNC_LOW_LATENCY, 0},
        {"no serial info", FOUND_FLAGS, ENOTTY, 0, FOUND_FLAGS, 0},
        {"refused as not privileged", FOUND_FLAGS, 0, EPERM, FOUND_FLAGS, 1},
        {"refused by the driver", FOUND_FLAGS, 0, EINVAL, FOUND_FLAGS, 1},
    };
    for (const Case& c : cases) {
        driver.info.flags = c.found_flags;
        driver.get_error = c.get_error;
        driver.set_error = c.set_error;
        driver.sets = 0;
        std::unique_ptr<SerialEndpoint> port;
        ASSERT_EQ(tty_open(pty.slave_path, SerialDefaults{}, port), 0) << c.what;
        EXPECT_EQ(driver.info.flags, c.flags_while_open) << c.what;
        EXPECT_EQ(pty.settings().c_lflag & ICANON, 0U) << c.what;
        for (int i = 0; i < PENDING_BYTES; ++i) {
            port->put_byte('x');
        }
        port.reset();
        EXPECT_EQ(driver.info.flags, c.found_flags) << c.what;
        EXPECT_EQ(driver.sets, c.sets) << c.what;
        EXPECT_NE(pty.settings().c_lflag & ICANON, 0U) << c.what;
        EXPECT_LT(drain(pty.master), PENDING_BYTES) << c.what;
    }
}

// A process ended by a signal gives the port back from the handler, which the
// port installs itself (no terminal mode here): output discarded, the flag and
// the settings as found.
TEST_F(LowLatencyTest, EndingSignalGivesThePortBack) {
    const termios before = pty.settings();
    int report[2];
    ASSERT_EQ(pipe(report), 0);
    driver.report_fd = report[1];
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::unique_ptr<SerialEndpoint> port;
        if (tty_open(pty.slave_path, SerialDefaults{}, port) != 0) {
            _exit(2);
        }
        for (int i = 0; i < PENDING_BYTES; ++i) {
            port->put_byte('x');
        }
        raise(SIGTERM);
        _exit(3); // the signal did not end the process
    }
    close(report[1]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << std::hex << status;
    std::vector<int> changes(3);
    const ssize_t got = read(report[0], changes.data(), changes.size() * sizeof(int));
    close(report[0]);
    changes.resize(static_cast<size_t>(got > 0 ? got : 0) / sizeof(int));
    EXPECT_EQ(changes, (std::vector<int>{FOUND_FLAGS | ASYNC_LOW_LATENCY, FOUND_FLAGS}));
    EXPECT_EQ(pty.settings().c_lflag, before.c_lflag);
    EXPECT_EQ(pty.settings().c_iflag, before.c_iflag);
    EXPECT_LT(drain(pty.master), PENDING_BYTES);
}
