// The Win32 comm endpoint; see comm_endpoint_windows.h.
//
// Reads never wait: ReadIntervalTimeout MAXDWORD with both read totals 0
// returns at once with what the driver holds. Writes cannot be made
// non-blocking by time-outs: a write waits at most COMM_WRITE_TIMEOUT_MS for
// room, and a byte that found none is -107, as on Linux. RTS and DTR go
// through EscapeCommFunction, CTS through GetCommModemStatus; a port without
// modem lines (error 50, as a pseudo-terminal under wine) ignores RTS and
// reads CTS as 0. The previous settings and time-outs come back at close.
#include "serial/comm_endpoint_windows.h"

#include <cstddef>

namespace {

// A device that goes away while open.
bool is_lost(DWORD error) {
    switch (error) {
    case ERROR_NOT_READY:            // 21
    case ERROR_GEN_FAILURE:          // 31
    case ERROR_BAD_COMMAND:          // 22
    case ERROR_DEVICE_NOT_CONNECTED: // 1167
    case ERROR_OPERATION_ABORTED:    // 995
    case ERROR_INVALID_HANDLE:       // 6
        return true;
    default:
        return false;
    }
}

constexpr DWORD ERROR_NO_MODEM_LINES = ERROR_NOT_SUPPORTED; // 50

SerialStatus os_error(DWORD error) {
    serial_record_os_error(static_cast<int>(error));
    return -103;
}

class CommEndpoint final : public SerialEndpoint {
  public:
    explicit CommEndpoint(HANDLE handle) : handle_(handle) {}

    CommEndpoint(const CommEndpoint&) = delete;
    CommEndpoint& operator=(const CommEndpoint&) = delete;

    ~CommEndpoint() override {
        if (saved_valid_ && !lost_) {
            SetCommState(handle_, &saved_settings_);
            SetCommTimeouts(handle_, &saved_timeouts_);
        }
        CloseHandle(handle_);
    }

    SerialStatus configure(const SerialDefaults& defaults) {
        SetupComm(handle_, COMM_QUEUE_SIZE, COMM_QUEUE_SIZE);
        DCB current{};
        current.DCBlength = sizeof current;
        if (!GetCommState(handle_, &current)) {
            // A file or device that is not a comm port (error 6 or 1 here).
            const DWORD error = GetLastError();
            return error == ERROR_INVALID_HANDLE || error == ERROR_INVALID_FUNCTION ||
                           error == ERROR_NOT_SUPPORTED
                       ? -10
                       : comm_open_status(error);
        }
        COMMTIMEOUTS timeouts{};
        if (!GetCommTimeouts(handle_, &timeouts)) {
            return os_error(GetLastError());
        }
        saved_settings_ = current;
        saved_timeouts_ = timeouts;
        saved_valid_ = true;
        const SerialStatus applied = apply(comm_port_settings(current, defaults));
        if (applied < 0) {
            return applied == -11 ? -5 : applied; // defaults the device cannot take
        }
        COMMTIMEOUTS wanted = comm_port_timeouts();
        if (!SetCommTimeouts(handle_, &wanted)) {
            return os_error(GetLastError());
        }
        PurgeComm(handle_, PURGE_RXCLEAR | PURGE_TXCLEAR);
        return 0;
    }

    SerialStatus set_baud(long rate) override {
        if (rate <= 0) {
            return -12;
        }
        DCB settings{};
        settings.DCBlength = sizeof settings;
        if (!GetCommState(handle_, &settings)) {
            return os_error(GetLastError());
        }
        settings.BaudRate = static_cast<DWORD>(rate);
        if (!SetCommState(handle_, &settings)) {
            const DWORD error = GetLastError();
            return error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED
                       ? -12
                       : os_error(error);
        }
        DCB taken{};
        taken.DCBlength = sizeof taken;
        if (!GetCommState(handle_, &taken)) {
            return os_error(GetLastError());
        }
        return taken.BaudRate == static_cast<DWORD>(rate) ? 0 : -12;
    }

    SerialStatus set_params(int parity, int stop_bits, int data_bits) override {
        DCB settings{};
        settings.DCBlength = sizeof settings;
        if (!GetCommState(handle_, &settings)) {
            return os_error(GetLastError());
        }
        SerialDefaults framing;
        framing.parity = parity;
        framing.stop_bits = stop_bits;
        framing.data_bits = data_bits;
        framing.dtr = settings.fDtrControl == DTR_CONTROL_ENABLE ? 1 : 0;
        framing.rts = settings.fRtsControl == RTS_CONTROL_ENABLE ? 1 : 0;
        return apply(comm_port_settings(settings, framing));
    }

    SerialStatus put_byte(unsigned char byte) override {
        if (lost_) {
            return os_error(ERROR_DEVICE_NOT_CONNECTED);
        }
        DWORD written = 0;
        if (!WriteFile(handle_, &byte, 1, &written, nullptr)) {
            const DWORD error = GetLastError();
            lost_ = is_lost(error);
            return comm_write_status(error);
        }
        return written == 1 ? 0 : -107;
    }

    SerialStatus tx_count() override {
        COMSTAT status{};
        if (!queue_status(&status)) {
            return 0;
        }
        return static_cast<SerialStatus>(status.cbOutQue);
    }

    SerialStatus rx_count() override {
        if (next_ < held_) {
            return static_cast<SerialStatus>(held_ - next_);
        }
        COMSTAT status{};
        if (!queue_status(&status)) {
            return 0;
        }
        return static_cast<SerialStatus>(status.cbInQue);
    }

    SerialStatus get_byte() override {
        if (next_ >= held_) {
            next_ = held_ = 0;
            DWORD got = 0;
            if (lost_ || !ReadFile(handle_, buffer_, sizeof buffer_, &got, nullptr)) {
                if (!lost_) {
                    note_failure(GetLastError());
                }
                return -100;
            }
            held_ = got;
        }
        if (next_ >= held_) {
            return -100;
        }
        return buffer_[next_++];
    }

    // One ReadFile of one byte with time-outs that return on the first byte or
    // after the time (no overlapped I/O); the byte is kept in the look-ahead,
    // where rx_count and get_byte find it first.
    SerialStatus wait_rx(int64_t microseconds) override {
        if (next_ < held_) {
            return 1;
        }
        if (microseconds <= 0) {
            return rx_count() > 0 ? 1 : 0;
        }
        const DWORD limit_ms = comm_wait_ms(microseconds);
        if (lost_) {
            Sleep(limit_ms); // nothing can arrive: the caller's time-out is the end
            return 0;
        }
        COMMTIMEOUTS waiting = comm_wait_timeouts(limit_ms);
        if (!SetCommTimeouts(handle_, &waiting)) {
            note_failure(GetLastError());
            return 0;
        }
        next_ = held_ = 0;
        DWORD got = 0;
        const BOOL read = ReadFile(handle_, buffer_, 1, &got, nullptr);
        const DWORD error = read ? ERROR_SUCCESS : GetLastError();
        COMMTIMEOUTS immediate = comm_port_timeouts();
        SetCommTimeouts(handle_, &immediate);
        if (!read) {
            note_failure(error);
            return 0;
        }
        held_ = got;
        return got > 0 ? 1 : 0;
    }

    SerialStatus rx_clear() override {
        next_ = held_ = 0;
        if (!lost_ && !PurgeComm(handle_, PURGE_RXCLEAR)) {
            note_failure(GetLastError());
        }
        return 0;
    }

    SerialStatus cts() override {
        if (lost_ || !modem_lines_) {
            return 0;
        }
        DWORD lines = 0;
        if (!GetCommModemStatus(handle_, &lines)) {
            note_modem_failure(GetLastError());
            return 0;
        }
        return (lines & MS_CTS_ON) != 0 ? 1 : 0;
    }

    SerialStatus set_rts(bool on) override { return modem_line(on ? SETRTS : CLRRTS); }
    SerialStatus set_dtr(bool on) override { return modem_line(on ? SETDTR : CLRDTR); }
    bool lost() const override { return lost_; }

  private:
    // Applies the settings and checks that the device took them.
    SerialStatus apply(DCB wanted) {
        if (!SetCommState(handle_, &wanted)) {
            const DWORD error = GetLastError();
            return error == ERROR_INVALID_PARAMETER ? -5 : os_error(error);
        }
        DCB taken{};
        taken.DCBlength = sizeof taken;
        if (!GetCommState(handle_, &taken)) {
            return os_error(GetLastError());
        }
        if (taken.ByteSize != wanted.ByteSize) {
            return -11;
        }
        if (taken.Parity != wanted.Parity || taken.StopBits != wanted.StopBits) {
            return -5;
        }
        return 0;
    }

    bool queue_status(COMSTAT* status) {
        if (lost_) {
            return false;
        }
        DWORD errors = 0;
        if (!ClearCommError(handle_, &errors, status)) {
            note_failure(GetLastError());
            return false;
        }
        return true;
    }

    SerialStatus modem_line(DWORD function) {
        if (lost_ || !modem_lines_) {
            return 0;
        }
        if (!EscapeCommFunction(handle_, function)) {
            return note_modem_failure(GetLastError());
        }
        return 0;
    }

    SerialStatus note_modem_failure(DWORD error) {
        if (error == ERROR_NO_MODEM_LINES) {
            modem_lines_ = false; // RTS ignored, CTS never asserted
            return 0;
        }
        return note_failure(error);
    }

    // A lost device reads as no data from then on; other errors are reported.
    SerialStatus note_failure(DWORD error) {
        if (is_lost(error)) {
            lost_ = true;
        }
        return os_error(error);
    }

    HANDLE handle_;
    DCB saved_settings_{};
    COMMTIMEOUTS saved_timeouts_{};
    bool saved_valid_ = false;
    bool lost_ = false;
    bool modem_lines_ = true;
    unsigned char buffer_[COMM_QUEUE_SIZE];
    DWORD held_ = 0;
    DWORD next_ = 0;
};

} // namespace

SerialStatus comm_open_status(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return -10;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return -2;
    case ERROR_NOT_READY:
    case ERROR_GEN_FAILURE:
    case ERROR_SEM_TIMEOUT:
    case ERROR_DEVICE_NOT_CONNECTED:
        return -13;
    default:
        return os_error(error);
    }
}

SerialStatus comm_entry_open_status(DWORD error, DWORD attributes) {
    if (error == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
        return -10;
    }
    return comm_open_status(error);
}

bool comm_error_is_lost_device(DWORD error) {
    return is_lost(error);
}

SerialStatus comm_write_status(DWORD error) {
    return error == ERROR_SEM_TIMEOUT ? -107 : os_error(error);
}

DCB comm_port_settings(const DCB& current, const SerialDefaults& defaults) {
    static constexpr BYTE PARITIES[] = {NOPARITY, ODDPARITY, EVENPARITY, MARKPARITY, SPACEPARITY};
    static constexpr BYTE STOP_BITS[] = {ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS};
    DCB settings = current;
    settings.DCBlength = sizeof settings;
    settings.fBinary = TRUE;
    settings.fParity = defaults.parity != 0 ? TRUE : FALSE;
    settings.Parity =
        defaults.parity >= 0 && defaults.parity <= 4 ? PARITIES[defaults.parity] : NOPARITY;
    settings.StopBits = defaults.stop_bits >= 0 && defaults.stop_bits <= 2
                            ? STOP_BITS[defaults.stop_bits]
                            : ONESTOPBIT;
    settings.ByteSize = static_cast<BYTE>(defaults.data_bits);
    settings.fOutxCtsFlow = FALSE;
    settings.fOutxDsrFlow = FALSE;
    settings.fDsrSensitivity = FALSE;
    settings.fOutX = FALSE;
    settings.fInX = FALSE;
    settings.fErrorChar = FALSE;
    settings.fNull = FALSE;
    // With abort-on-error on, one framing error would stop all I/O until
    // ClearCommError.
    settings.fAbortOnError = FALSE;
    settings.fTXContinueOnXoff = TRUE;
    settings.fDtrControl = defaults.dtr != 0 ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    settings.fRtsControl = defaults.rts != 0 ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
    return settings;
}

COMMTIMEOUTS comm_port_timeouts() {
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = COMM_WRITE_TIMEOUT_MS;
    return timeouts;
}

COMMTIMEOUTS comm_wait_timeouts(DWORD limit_ms) {
    COMMTIMEOUTS timeouts = comm_port_timeouts();
    // Both MAXDWORD with a constant: a read returns at once with what is
    // there, else with the first byte that arrives, else after the constant.
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = limit_ms;
    return timeouts;
}

DWORD comm_wait_ms(int64_t microseconds) {
    if (microseconds <= 0) {
        return 1;
    }
    const int64_t milliseconds = (microseconds + 999) / 1000;
    return milliseconds >= MAXDWORD - 1 ? MAXDWORD - 1 : static_cast<DWORD>(milliseconds);
}

SerialStatus comm_open(const std::wstring& path, const SerialDefaults& defaults,
                       std::unique_ptr<SerialEndpoint>& out, DWORD entry_attributes) {
    const HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return comm_entry_open_status(GetLastError(), entry_attributes);
    }
    auto endpoint = std::make_unique<CommEndpoint>(handle);
    const SerialStatus status = endpoint->configure(defaults);
    if (status < 0) {
        return status;
    }
    out = std::move(endpoint);
    return 0;
}
