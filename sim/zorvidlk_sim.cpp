// zorvidlk-sim: the simulated board, served over RFC 2217 to one client at a
// time. One thread, one poll loop; timers are deadlines on the monotonic clock
// (scan end, the next byte's stop bit, a delayed reply, noise).
#include "platform/clock.h"
#include "sim/adapter_model.h"
#include "sim/board.h"
#include "sim/events.h"
#include "sim/line_stream.h"
#include "sim/listener.h"
#include "sim/options.h"
#include "sim/rfc2217_server.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

// Output the client has not taken yet beyond this much means it stopped reading.
constexpr size_t MAX_PENDING = 1U << 20;
// Back-pressure: the client's bytes are not read while the simulator holds
// this much for it (reply bytes, line entries, RTS changes, bytes in the
// adapter), until that drains. Nothing is dropped.
constexpr size_t HOLD_LIMIT = 4096;
// Nor while the RTS changes on their way need this long to reach the board:
// they go one control transfer at a time (up to 2 ms each), and a real server
// is held up by them the same way.
constexpr int64_t RTS_BACKLOG_LIMIT_NS = 50'000'000;
constexpr size_t READ_CHUNK = 4096;
constexpr int64_t SPIN_LIMIT_NS = 200'000;
// How long after the client's last message the loop keeps polling during a
// transfer: the next RTS edge normally follows within a byte time (87 us at
// 115200 baud); a client that takes longer is not running, and spinning would
// only take the processor from it.
constexpr int64_t TRANSFER_SPIN_NS = 300'000;

struct Client {
    int fd = -1;
    TelnetBytes pending;
    size_t pending_head = 0;
    std::vector<uint8_t> inbox; // read from the socket, not yet taken by the session
    size_t inbox_head = 0;
    Rfc2217Session session;
};

struct Simulator {
    int unix_fd = -1;
    int tcp_fd = -1;
    int signal_fd = -1; // SIGINT and SIGTERM, read in the poll loop
    Client client;
    Board board;
    LineStream line;
    AdapterModel adapter;
    EventLog events;
    int64_t last_input_ns = 0; // when the client last sent something
};

int64_t now_ns() {
    return monotonic_us() * 1000;
}

void drop_client(Simulator& sim) {
    if (sim.client.fd < 0) {
        return;
    }
    close(sim.client.fd);
    sim.client.fd = -1;
    sim.client.pending.clear();
    sim.client.pending_head = 0;
    sim.client.inbox.clear();
    sim.client.inbox_head = 0;
    board_client_gone(sim.board);
    line_reset(sim.line, SIM_DEFAULT_BAUD);
    adapter_reset(sim.adapter);
    event_client(sim.events, "gone");
}

// Sends what the socket takes now; false when the client is gone.
bool flush_client(Client& client) {
    while (client.pending_head < client.pending.size()) {
        const ssize_t sent =
            send(client.fd, client.pending.data() + client.pending_head,
                 client.pending.size() - client.pending_head, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            client.pending_head += static_cast<size_t>(sent);
            continue;
        }
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return client.pending.size() - client.pending_head <= MAX_PENDING;
        }
        return false;
    }
    client.pending.clear();
    client.pending_head = 0;
    return true;
}

// Everything held for the client: the board's output on the line, RTS
// changes and bytes in the adapter, what waits for the socket.
size_t held_for_client(const Simulator& sim) {
    return sim.line.entries.size() + adapter_held_items(sim.adapter) +
           (sim.client.pending.size() - sim.client.pending_head);
}

// True while the client's bytes wait for what is held to drain.
bool client_backlogged(const Simulator& sim, int64_t now) {
    return held_for_client(sim) >= HOLD_LIMIT ||
           adapter_rts_backlog_ns(sim.adapter, now) >= RTS_BACKLOG_LIMIT_NS;
}

void accept_on(Simulator& sim, int listen_fd) {
    const int fd = accept_connection(listen_fd);
    if (fd < 0) {
        return;
    }
    if (sim.client.fd >= 0) {
        // One client at a time: a second one is closed at once.
        close(fd);
        return;
    }
    sim.client.fd = fd;
    sim.client.pending.clear();
    sim.client.pending_head = 0;
    sim.client.inbox.clear();
    sim.client.inbox_head = 0;
    adapter_reset(sim.adapter);
    session_start(sim.client.session, sim.line, sim.client.pending);
    BoardIo io{sim.line, sim.events, monotonic_us()};
    board_client_connected(sim.board, io);
    event_client(sim.events, "connected");
}

// Hands the session what it can take of the bytes read: data no faster than
// the line carries it, nothing while the client is backlogged.
void process_inbox(Simulator& sim) {
    Client& client = sim.client;
    if (client.fd < 0 || client.inbox_head >= client.inbox.size()) {
        return;
    }
    BoardIo io{sim.line, sim.events, monotonic_us()};
    if (client_backlogged(sim, io.now_us * 1000)) {
        return;
    }
    const SessionRoom room{client.pending.size() + (HOLD_LIMIT - held_for_client(sim)),
                           RTS_BACKLOG_LIMIT_NS};
    const size_t taken = session_receive(client.session, client.inbox.data() + client.inbox_head,
                                         client.inbox.size() - client.inbox_head, sim.board,
                                         sim.adapter, io, client.pending, room);
    if (taken > 0) {
        sim.last_input_ns = now_ns();
    }
    client.inbox_head += taken;
    if (client.inbox_head >= client.inbox.size()) {
        client.inbox.clear();
        client.inbox_head = 0;
    }
}

bool reading_client(const Simulator& sim) {
    return sim.client.fd >= 0 && sim.client.inbox.empty() && !client_backlogged(sim, now_ns());
}

void read_client(Simulator& sim) {
    std::array<uint8_t, READ_CHUNK> buffer{};
    for (;;) {
        const ssize_t got = recv(sim.client.fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (got > 0) {
            // Appended: on a hang-up the socket is read whatever the inbox holds.
            sim.client.inbox.insert(sim.client.inbox.end(), buffer.begin(), buffer.begin() + got);
            process_inbox(sim);
            return;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return;
        }
        drop_client(sim);
        return;
    }
}

// Runs what is due and sends it; the next deadline in nanoseconds.
Deadline run_due(Simulator& sim) {
    const int64_t now = now_ns();
    BoardIo io{sim.line, sim.events, now / 1000};
    board_tick(sim.board, io);
    Deadline next = board_next_deadline_us(sim.board);
    if (next) {
        *next *= 1000;
    }
    if (sim.client.fd < 0) {
        return next;
    }
    bool rts = false;
    while (adapter_take_rts(sim.adapter, now, rts)) {
        board_set_rts(sim.board, rts, io);
    }
    process_inbox(sim);
    const bool disconnect = adapter_forward(sim.adapter, sim.line, now, sim.client.pending);
    if (!flush_client(sim.client) || disconnect) {
        drop_client(sim);
        return next;
    }
    next = earliest(next, line_next_due_ns(sim.line));
    next = earliest(next, adapter_next_due_ns(sim.adapter));
    const Client& client = sim.client;
    if (client.inbox_head < client.inbox.size() && !client_backlogged(sim, now)) {
        // Bytes read wait for the session: data for the line to the board,
        // anything else for the room the answers just left.
        next = earliest(next, session_ready_ns(client.session, client.inbox[client.inbox_head], now,
                                               sim.line.byte_time_ns));
    }
    return next;
}

// True when a stop signal has arrived.
bool stop_signalled(int signal_fd) {
    signalfd_siginfo info{};
    return read(signal_fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info);
}

void serve(Simulator& sim) {
    for (;;) {
        const Deadline next = run_due(sim);
        std::array<pollfd, 4> fds{};
        fds[0] = pollfd{sim.signal_fd, POLLIN, 0};
        nfds_t count = 1;
        const nfds_t listen_slot = count;
        for (const int fd : {sim.unix_fd, sim.tcp_fd}) {
            if (fd >= 0) {
                fds[count++] = pollfd{fd, POLLIN, 0};
            }
        }
        const nfds_t client_slot = count;
        if (sim.client.fd >= 0) {
            const short events = static_cast<short>(
                (reading_client(sim) ? POLLIN : 0) |
                (sim.client.pending.size() > sim.client.pending_head ? POLLOUT : 0));
            fds[count++] = pollfd{sim.client.fd, events, 0};
        }
        timespec timeout{};
        bool timed = false;
        if (next) {
            // A kernel wake-up comes tens of microseconds late: sleep through
            // long waits, and poll without sleeping through the last stretch
            // (a byte's stop bit at 115200 baud is 87 us away).
            const int64_t wait = *next - now_ns() - SPIN_LIMIT_NS / 2;
            timed = true;
            if (wait > SPIN_LIMIT_NS / 2) {
                timeout.tv_sec = static_cast<time_t>(wait / 1'000'000'000);
                timeout.tv_nsec = static_cast<long>(wait % 1'000'000'000);
            }
        }
        // While a transfer runs, the next RTS edge is due within microseconds:
        // a wake-up from a blocking poll would add 20-50 us to every byte, so
        // the loop polls without sleeping for a short while after each message.
        const bool awaiting_edge = sim.board.phase == BoardPhase::transfer && !sim.board.stalled &&
                                   now_ns() - sim.last_input_ns < TRANSFER_SPIN_NS;
        const timespec no_wait{};
        const int ready = ppoll(fds.data(), count,
                                awaiting_edge ? &no_wait : (timed ? &timeout : nullptr), nullptr);
        if (ready <= 0) {
            continue;
        }
        if ((fds[0].revents & POLLIN) != 0 && stop_signalled(sim.signal_fd)) {
            return;
        }
        if (sim.client.fd >= 0 && fds[client_slot].revents != 0) {
            if (reading_client(sim) || (fds[client_slot].revents & (POLLHUP | POLLERR)) != 0) {
                read_client(sim);
            }
        }
        for (nfds_t i = listen_slot; i < client_slot; ++i) {
            if ((fds[i].revents & POLLIN) != 0) {
                accept_on(sim, fds[i].fd);
            }
        }
    }
}

// Listens on the socket path and on TCP as the options say; `ready`
// receives what the ready line names.
bool open_listeners(Simulator& sim, const SimOptions& options, std::string& ready,
                    std::string& error) {
    if (!options.socket_path.empty()) {
        sim.unix_fd = listen_unix(options.socket_path, error);
        if (sim.unix_fd < 0) {
            return false;
        }
        ready += " " + options.socket_path;
    }
    if (options.tcp) {
        uint16_t port = 0;
        sim.tcp_fd = listen_tcp(options.tcp_address, options.tcp_port, port, error);
        if (sim.tcp_fd < 0) {
            return false;
        }
        const bool v6 = options.tcp_address.find(':') != std::string::npos;
        ready += " tcp " + (v6 ? "[" + options.tcp_address + "]" : options.tcp_address) + ":" +
                 std::to_string(port);
    }
    return true;
}

void close_listeners(Simulator& sim, const SimOptions& options) {
    if (sim.tcp_fd >= 0) {
        close(sim.tcp_fd);
        sim.tcp_fd = -1;
    }
    if (sim.unix_fd >= 0) {
        close(sim.unix_fd);
        sim.unix_fd = -1;
        unlink(options.socket_path.c_str());
    }
}

} // namespace

int main(int argc, char** argv) {
    SimOptions options;
    const int parsed = parse_sim_options(argc, argv, options);
    if (parsed != 0) {
        return parsed > 0 ? 0 : 2;
    }

    // SIGINT and SIGTERM arrive as a readable descriptor in the poll loop,
    // which ends at the next pass whatever it was doing (every pass is short);
    // writes never raise SIGPIPE.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    sigprocmask(SIG_BLOCK, &stop_signals, nullptr);
    Simulator sim;
    sim.signal_fd = signalfd(-1, &stop_signals, SFD_NONBLOCK | SFD_CLOEXEC);
    if (sim.signal_fd < 0) {
        std::perror("zorvidlk-sim: signalfd");
        return 1;
    }
    std::signal(SIGPIPE, SIG_IGN);
    // Deadlines a few microseconds apart must not be merged by the kernel.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);

    std::string ready;
    std::string error;
    if (!open_listeners(sim, options, ready, error)) {
        std::fprintf(stderr, "zorvidlk-sim: %s\n", error.c_str());
        close_listeners(sim, options);
        return 1;
    }
    // Opened only now: a simulator that cannot start leaves the log of the
    // one already serving this socket alone.
    if (!options.events_path.empty() &&
        !events_open(sim.events, options.events_path, monotonic_us())) {
        std::perror(("zorvidlk-sim: " + options.events_path).c_str());
        close_listeners(sim, options);
        return 1;
    }
    sim.events.start_us = monotonic_us();
    board_init(sim.board, options.firmware, options.seed);
    adapter_init(sim.adapter, *options.adapter, options.seed, sim.events.start_us * 1000);
    const AdapterParams& params = *options.adapter;
    event_adapter(sim.events, params.name,
                  params.seeded_phase ? static_cast<double>(sim.adapter.phase_ns) / 1e9 : -1.0,
                  static_cast<double>(params.cts_ns) / 1e9);
    sim.board.faults = options.faults;
    line_reset(sim.line, SIM_DEFAULT_BAUD);
    std::fprintf(stderr, "zorvidlk-sim: ready on%s\n", ready.c_str());
    std::fflush(stderr);

    serve(sim);

    if (sim.client.fd >= 0) {
        close(sim.client.fd);
    }
    close_listeners(sim, options);
    events_close(sim.events);
    close(sim.signal_fd);
    return 0;
}
