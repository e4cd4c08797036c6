// Serial port on a tty device. The descriptor, its lock, the exclusive mode and
// the settings found at open belong to one TtyEndpoint and are given back
// together when it is destroyed (serial_close, or any failure while opening).
//
// Devices without modem lines (pseudo-terminals) answer the modem ioctls with
// ENOTTY or EINVAL: RTS/DTR changes are then ignored and CTS reads as 0. A device
// that goes away (EIO, hang-up) is marked lost: from then on it reads as no data
// and CTS 0, so every wait of the callers ends with its own time-out.
//
// FTDI adapters hand a lone received byte to the host only when their latency
// timer runs out, 16 ms by default: at one byte per RTS pulse a 512-byte
// spectrum then takes about 8 s instead of about 1 s. The driver's low-latency
// flag sets the timer to 1 ms, and the driver keeps it until the adapter is
// unplugged, so the flag found at open is put back on every way out.
#include "serial/tty_endpoint.h"

#include "platform/clock.h"
#include "platform/terminal_mode.h"
#include "serial/system_console.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace {

int system_open(const char* path, int flags) {
    return open(path, flags);
}

int system_get_serial(int fd, serial_struct* info) {
    return ioctl(fd, TIOCGSERIAL, info);
}

int system_set_serial(int fd, const serial_struct* info) {
    return ioctl(fd, TIOCSSERIAL, const_cast<serial_struct*>(info));
}

constexpr TtyDeviceCalls SYSTEM_CALLS{system_open, system_get_serial, system_set_serial};
const TtyDeviceCalls* device_calls = &SYSTEM_CALLS;

// What a port gets back when it is let go.
struct PortRestore {
    int fd = -1;
    bool held = false; // under our lock: what its queues hold is ours to discard
    bool exclusive = false;
    bool settings_saved = false;
    termios settings{};
    serial_struct serial{};
    volatile std::sig_atomic_t serial_changed = 0; // set once `serial` is whole
    volatile std::sig_atomic_t lost = 0;           // the device went away
};

// Gives a port back: queued output discarded (a USB serial close would wait
// up to 30 s for output the device cannot deliver), the driver's serial info,
// the exclusive mode and the settings as found. A device that went away gets
// only its exclusive mode cleared. Async-signal-safe: the close and the
// handlers of the signals that end the process both take these steps, the
// same ones; only the handlers leave the descriptor open (the process is
// about to end, and the kernel closes it).
void restore_port(const PortRestore& port) {
    const bool present = port.lost == 0;
    if (present && port.held) {
        tcflush(port.fd, TCIOFLUSH);
    }
    if (present && port.serial_changed != 0) {
        device_calls->set_serial(port.fd, &port.serial);
    }
    if (port.exclusive) {
        ioctl(port.fd, TIOCNXCL);
    }
    if (present && port.settings_saved) {
        while (tcsetattr(port.fd, TCSANOW, &port.settings) != 0 && errno == EINTR) {
        }
    }
}

// The handlers' record: for the first port open (a run opens one). Filled
// before the first change to the device and emptied before its descriptor is
// closed.
PortRestore signal_restore;
// Taken by exchange: two threads opening ttys at once claim it only once.
std::atomic<bool> signal_restore_taken{false};

void restore_port_on_signal() {
    restore_port(signal_restore);
}

timespec timespec_of(int64_t microseconds) {
    timespec out{};
    out.tv_sec = static_cast<time_t>(microseconds / 1000000);
    out.tv_nsec = static_cast<long>(microseconds % 1000000 * 1000);
    return out;
}

// A lost device has nothing to deliver: its waits sleep out their time.
void sleep_until(int64_t deadline_us) {
    for (;;) {
        const int64_t left_us = deadline_us - monotonic_us();
        if (left_us <= 0) {
            return;
        }
        const timespec limit = timespec_of(left_us);
        nanosleep(&limit, nullptr);
    }
}

// How long put_byte waits for room in a full output queue before giving up on the byte.
constexpr int64_t WRITE_ROOM_TIMEOUT_MS = 2000;

struct RateEntry {
    long rate;
    speed_t speed;
};

constexpr RateEntry RATES[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

// The termios speed for a bit rate, or B0 when the rate has none (0 included:
// B0 would mean "hang up").
speed_t speed_for(long rate) {
    for (const RateEntry& entry : RATES) {
        if (entry.rate == rate) {
            return entry.speed;
        }
    }
    return B0;
}

// The modem ioctls fail this way on a device without modem lines.
bool no_modem_lines(int error_number) {
    return error_number == ENOTTY || error_number == EINVAL;
}

// The device behind the descriptor has gone (unplugged, pty master closed).
bool device_vanished(int error_number) {
    return error_number == EIO || error_number == ENXIO || error_number == ENODEV;
}

// Legacy 8250 nodes /dev/ttyS* (major 4, minor 64 and up) exist whether or not
// a UART answers behind them.
bool legacy_serial_node(dev_t device) {
    return major(device) == 4 && minor(device) >= 64;
}

bool no_uart_behind(int fd) {
    struct stat status {};
    if (fstat(fd, &status) != 0 || !legacy_serial_node(status.st_rdev)) {
        return false;
    }
    serial_struct info{};
    return ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type == PORT_UNKNOWN;
}

// Sets the character size, parity and stop bits in `settings`. 0, -11 for a
// byte size the port has no setting for, -5 for another parameter out of range.
SerialStatus apply_framing(termios& settings, int parity, int stop_bits, int data_bits) {
    tcflag_t size = 0;
    switch (data_bits) {
    case 5:
        size = CS5;
        break;
    case 6:
        size = CS6;
        break;
    case 7:
        size = CS7;
        break;
    case 8:
        size = CS8;
        break;
    default:
        return -11;
    }
    tcflag_t parity_bits = 0;
    switch (parity) {
    case 0: // none
        break;
    case 1: // odd
        parity_bits = PARENB | PARODD;
        break;
    case 2: // even
        parity_bits = PARENB;
        break;
    case 3: // mark
        parity_bits = PARENB | PARODD | CMSPAR;
        break;
    case 4: // space
        parity_bits = PARENB | CMSPAR;
        break;
    default:
        return -5;
    }
    // 0: one stop bit; 1 (one and a half) and 2: two, the nearest termios has.
    if (stop_bits < 0 || stop_bits > 2) {
        return -5;
    }
    settings.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB);
    settings.c_cflag |= size | parity_bits | (stop_bits != 0 ? CSTOPB : 0);
    return 0;
}

constexpr tcflag_t FRAMING_BITS = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;

class TtyEndpoint final : public SerialEndpoint {
  public:
    explicit TtyEndpoint(int fd) : fd_(fd) {}
    TtyEndpoint(const TtyEndpoint&) = delete;
    TtyEndpoint& operator=(const TtyEndpoint&) = delete;

    ~TtyEndpoint() override {
        PortRestore port;
        port.fd = fd_;
        port.held = locked_;
        port.exclusive = exclusive_;
        port.settings_saved = saved_valid_;
        port.settings = saved_;
        port.serial = saved_serial_;
        port.serial_changed = low_latency_set_ ? 1 : 0;
        port.lost = lost_ ? 1 : 0;
        restore_port(port);
        if (locked_) {
            flock(fd_, LOCK_UN);
        }
        release_signal_restore();
        close(fd_);
    }

    // The steps of tty_open after the descriptor is ours; undone by the destructor.
    SerialStatus take(const SerialDefaults& defaults) {
        // The device opened is checked, not only the path: a link swapped in
        // between, or a path through /dev/tty, can lead elsewhere. Nothing has
        // touched the device yet.
        struct stat status {};
        if ((fstat(fd_, &status) == 0 && is_reserved_terminal(status.st_rdev)) ||
            is_reserved_terminal(terminal_device_number(fd_))) {
            return -2;
        }
        if (no_uart_behind(fd_)) {
            return -10;
        }
        if (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            return errno == EWOULDBLOCK ? -2 : os_error(errno);
        }
        locked_ = true;
        if (ioctl(fd_, TIOCEXCL) == 0) {
            exclusive_ = true;
        } else if (!no_modem_lines(errno)) {
            return os_error(errno);
        }
        if (tcgetattr(fd_, &saved_) != 0) {
            // A character device that is not a terminal is no serial port.
            return errno == ENOTTY || errno == EINVAL ? -10 : os_error(errno);
        }
        saved_valid_ = true;
        claim_signal_restore();
        set_low_latency();
        const SerialStatus configured = configure(defaults);
        if (configured < 0) {
            return configured;
        }
        set_dtr(defaults.dtr != 0);
        set_rts(defaults.rts != 0);
        return lost_ ? os_error(EIO) : 0;
    }

    SerialStatus set_baud(long rate) override {
        const speed_t speed = speed_for(rate);
        if (speed == B0) {
            return -12;
        }
        termios settings{};
        if (tcgetattr(fd_, &settings) != 0) {
            return os_error(errno);
        }
        cfsetispeed(&settings, speed);
        cfsetospeed(&settings, speed);
        if (tcsetattr(fd_, TCSANOW, &settings) != 0) {
            return errno == EINVAL ? -12 : os_error(errno);
        }
        // tcsetattr succeeds when any part of the change was taken: read it back.
        if (tcgetattr(fd_, &settings) != 0) {
            return os_error(errno);
        }
        return cfgetospeed(&settings) == speed ? 0 : -12;
    }

    SerialStatus set_params(int parity, int stop_bits, int data_bits) override {
        termios settings{};
        if (tcgetattr(fd_, &settings) != 0) {
            return os_error(errno);
        }
        const SerialStatus framed = apply_framing(settings, parity, stop_bits, data_bits);
        if (framed < 0) {
            return framed;
        }
        return apply(settings);
    }

    SerialStatus put_byte(unsigned char byte) override {
        if (lost_) {
            return os_error(EIO);
        }
        const int64_t deadline = monotonic_ms() + WRITE_ROOM_TIMEOUT_MS;
        for (;;) {
            const ssize_t written = write(fd_, &byte, 1);
            if (written == 1) {
                return 0;
            }
            if (written < 0 && errno == EINTR) {
                continue;
            }
            if (written < 0 && errno != EAGAIN) {
                return os_error(errno);
            }
            const int64_t left = deadline - monotonic_ms();
            if (left <= 0) {
                return -107;
            }
            pollfd room{fd_, POLLOUT, 0};
            poll(&room, 1, static_cast<int>(left));
            if (room.revents & (POLLHUP | POLLERR | POLLNVAL)) {
                mark_lost();
                return os_error(EIO);
            }
        }
    }

    SerialStatus tx_count() override {
        int queued = 0;
        if (lost_ || ioctl(fd_, TIOCOUTQ, &queued) != 0) {
            return 0;
        }
        return queued;
    }

    SerialStatus rx_count() override {
        if (vanished()) {
            return 0;
        }
        int waiting = 0;
        if (ioctl(fd_, FIONREAD, &waiting) != 0) {
            note_failure(errno);
            return 0;
        }
        return waiting;
    }

    SerialStatus get_byte() override {
        if (lost_) {
            return -100;
        }
        unsigned char byte = 0;
        ssize_t got = 0;
        do {
            got = read(fd_, &byte, 1);
        } while (got < 0 && errno == EINTR);
        if (got == 1) {
            return byte;
        }
        if (got < 0) {
            note_failure(errno);
        }
        return -100;
    }

    // Sleeps in poll until the descriptor is readable or the time has passed.
    SerialStatus wait_rx(int64_t microseconds) override {
        const int64_t deadline_us = monotonic_us() + microseconds;
        if (lost_) {
            sleep_until(deadline_us);
            return 0;
        }
        for (;;) {
            const int64_t left_us = deadline_us - monotonic_us();
            pollfd input{fd_, POLLIN, 0};
            const timespec limit = timespec_of(left_us < 0 ? 0 : left_us);
            const int ready = ppoll(&input, 1, &limit, nullptr);
            if (ready < 0 && errno == EINTR) {
                continue;
            }
            if (ready <= 0) {
                return 0;
            }
            if ((input.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
                lost_ = true;
                return 0;
            }
            return (input.revents & POLLIN) != 0 ? 1 : 0;
        }
    }

    SerialStatus rx_clear() override {
        if (!lost_ && tcflush(fd_, TCIFLUSH) != 0) {
            note_failure(errno);
        }
        return 0;
    }

    SerialStatus cts() override {
        if (vanished()) {
            return 0;
        }
        int lines = 0;
        if (ioctl(fd_, TIOCMGET, &lines) != 0) {
            note_failure(errno);
            return 0;
        }
        return (lines & TIOCM_CTS) != 0 ? 1 : 0;
    }

    SerialStatus set_rts(bool on) override { return modem_line(TIOCM_RTS, on); }
    SerialStatus set_dtr(bool on) override { return modem_line(TIOCM_DTR, on); }
    bool lost() const override { return lost_; }

  private:
    // From the settings found at open.
    SerialStatus configure(const SerialDefaults& defaults) {
        termios settings = saved_;
        cfmakeraw(&settings);
        settings.c_cflag |= CLOCAL | CREAD;
        settings.c_cflag &= ~CRTSCTS;
        settings.c_iflag &= ~(IXON | IXOFF | IXANY);
        settings.c_cc[VMIN] = 0;
        settings.c_cc[VTIME] = 0;
        const SerialStatus framed =
            apply_framing(settings, defaults.parity, defaults.stop_bits, defaults.data_bits);
        if (framed < 0) {
            return -5;
        }
        // Defaults the device cannot take are an error in the defaults.
        const SerialStatus applied = apply(settings);
        return applied == -11 ? -5 : applied;
    }

    // Applies the settings and checks that the framing and the line control took.
    SerialStatus apply(const termios& wanted) {
        if (tcsetattr(fd_, TCSANOW, &wanted) != 0) {
            return errno == EINVAL ? -5 : os_error(errno); // EINVAL: the driver refused them
        }
        termios taken{};
        if (tcgetattr(fd_, &taken) != 0) {
            return os_error(errno);
        }
        if ((taken.c_cflag & CSIZE) != (wanted.c_cflag & CSIZE)) {
            return -11;
        }
        constexpr tcflag_t checked = FRAMING_BITS | CRTSCTS | CLOCAL | CREAD;
        return (taken.c_cflag & checked) == (wanted.c_cflag & checked) ? 0 : -5;
    }

    // The driver's serial info goes back with the flag set and every other
    // field as read (an unprivileged caller may change only the flag's group).
    // A driver that refuses it (ENOTTY, EINVAL, EPERM) or ignores it is no error.
    void set_low_latency() {
        serial_struct info{};
        if (device_calls->get_serial(fd_, &info) != 0 || (info.flags & ASYNC_LOW_LATENCY) != 0) {
            return; // no serial info, or already set by someone else: left as found
        }
        saved_serial_ = info;
        if (owns_signal_restore_) {
            signal_restore.serial = info;
            std::atomic_signal_fence(std::memory_order_release);
            signal_restore.serial_changed = 1;
        }
        info.flags |= ASYNC_LOW_LATENCY;
        low_latency_set_ = device_calls->set_serial(fd_, &info) == 0;
        if (owns_signal_restore_ && !low_latency_set_) {
            signal_restore.serial_changed = 0;
        }
    }

    // Takes the signal handlers' record when no other port holds it.
    void claim_signal_restore() {
        if (signal_restore_taken.exchange(true)) {
            return;
        }
        owns_signal_restore_ = true;
        signal_restore.fd = fd_;
        signal_restore.held = locked_;
        signal_restore.exclusive = exclusive_;
        signal_restore.settings_saved = saved_valid_;
        signal_restore.settings = saved_;
        signal_restore.serial_changed = 0;
        signal_restore.lost = 0;
        set_ending_signal_hook(restore_port_on_signal);
    }

    // Before the descriptor closes: its number may be reused at once.
    void release_signal_restore() {
        if (owns_signal_restore_) {
            set_ending_signal_hook(nullptr);
            signal_restore.serial_changed = 0;
            owns_signal_restore_ = false;
            signal_restore_taken.store(false);
        }
    }

    SerialStatus modem_line(int line, bool on) {
        if (lost_) {
            return 0;
        }
        if (ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &line) == 0 || no_modem_lines(errno)) {
            return 0;
        }
        if (device_vanished(errno)) {
            mark_lost();
            return 0;
        }
        return os_error(errno);
    }

    // True once the device has gone; notices a hang-up without reading.
    bool vanished() {
        if (!lost_) {
            pollfd check{fd_, POLLIN, 0};
            if (poll(&check, 1, 0) > 0 && (check.revents & (POLLHUP | POLLERR | POLLNVAL))) {
                mark_lost();
            }
        }
        return lost_;
    }

    // From then on the device reads as no data, and is given back only its
    // exclusive mode (restore_port), by the close or by a signal's handler.
    void mark_lost() {
        lost_ = true;
        if (owns_signal_restore_) {
            signal_restore.lost = 1;
        }
    }

    void note_failure(int error_number) {
        if (device_vanished(error_number)) {
            mark_lost();
        }
    }

    SerialStatus os_error(int error_number) {
        note_failure(error_number);
        serial_record_os_error(error_number);
        return -103;
    }

    int fd_;
    termios saved_{};
    bool saved_valid_ = false;
    serial_struct saved_serial_{};
    bool low_latency_set_ = false;
    bool owns_signal_restore_ = false;
    bool locked_ = false;
    bool exclusive_ = false;
    bool lost_ = false;
};

} // namespace

void tty_use_device_calls(const TtyDeviceCalls* calls) {
    device_calls = calls != nullptr ? calls : &SYSTEM_CALLS;
}

SerialStatus tty_open(const std::string& path, const SerialDefaults& defaults,
                      std::unique_ptr<SerialEndpoint>& out) {
    const int fd =
        device_calls->open_device(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error_number = errno;
        if (error_number == EBUSY) {
            return -2; // held in exclusive mode (TIOCEXCL) by another process
        }
        if (device_vanished(error_number) || error_number == ENOENT) {
            return -10; // no UART or no driver behind the node
        }
        serial_record_os_error(error_number);
        return -103;
    }
    auto endpoint = std::make_unique<TtyEndpoint>(fd);
    const SerialStatus taken = endpoint->take(defaults);
    if (taken < 0) {
        return taken;
    }
    out = std::move(endpoint);
    return 0;
}
