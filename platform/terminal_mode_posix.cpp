// The terminal mode guard; see terminal_mode.h.
#include "platform/terminal_mode.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <termios.h>
#include <unistd.h>

namespace {

// Read by the signal handlers: `saved` is written before they are installed,
// `current` only while the handlers that apply it (SIGTSTP, SIGCONT) are blocked.
struct TerminalMode {
    bool entered = false;
    termios saved{};   // the operator's settings, restored on the way out
    termios current{}; // the settings the program runs with now
};

TerminalMode terminal;

// Run by the ending-signal handlers before the terminal is restored.
using EndingHook = void (*)();
std::atomic<EndingHook> ending_hook{nullptr};
static_assert(std::atomic<EndingHook>::is_always_lock_free, "read inside signal handlers");

bool ending_handlers_installed = false;

constexpr int ending_signals[] = {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGPIPE};

void apply(const termios& mode) {
    while (tcsetattr(STDIN_FILENO, TCSANOW, &mode) != 0 && errno == EINTR) {
    }
}

// A background process must leave the terminal to the foreground job (and
// would be stopped by SIGTTOU if it tried). A terminal that is not the
// controlling one has no foreground job.
bool in_foreground() {
    const pid_t foreground = tcgetpgrp(STDIN_FILENO);
    return foreground == -1 || foreground == getpgrp();
}

void restore_saved() {
    if (terminal.entered && in_foreground()) {
        apply(terminal.saved);
    }
}

// Async-signal-safe: restore, then die of the same signal by its default action.
void on_ending_signal(int signal_number) {
    const int saved_errno = errno;
    if (const EndingHook hook = ending_hook.load()) {
        hook();
    }
    restore_saved();
    signal(signal_number, SIG_DFL); // also installed with SA_RESETHAND
    raise(signal_number);
    errno = saved_errno;
}

void on_stop_signal(int) {
    const int saved_errno = errno;
    restore_saved();
    signal(SIGTSTP, SIG_DFL);
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTSTP);
    sigprocmask(SIG_UNBLOCK, &stop, nullptr);
    raise(SIGTSTP); // the process stops here until SIGCONT
    // Back after SIGCONT, or at once where the stop was discarded (a process
    // group without a job-control shell): take the terminal again.
    if (in_foreground()) {
        apply(terminal.current);
    }
    struct sigaction action {};
    action.sa_handler = on_stop_signal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTSTP, &action, nullptr);
    errno = saved_errno;
}

void on_continue_signal(int) {
    const int saved_errno = errno;
    // A process continued in the background leaves the terminal alone: setting
    // it would stop the process again. `fg` sends SIGCONT once more.
    if (in_foreground()) {
        apply(terminal.current);
    }
    errno = saved_errno;
}

// Installs a handler unless the signal is ignored (as nohup and background
// shells arrange): an ignored signal stays ignored.
void install(int signal_number, void (*handler)(int), int flags) {
    struct sigaction previous {};
    if (sigaction(signal_number, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN) {
        return;
    }
    struct sigaction action {};
    action.sa_handler = handler;
    action.sa_flags = flags;
    sigemptyset(&action.sa_mask);
    sigaction(signal_number, &action, nullptr);
}

void install_ending_handlers() {
    if (ending_handlers_installed) {
        return;
    }
    ending_handlers_installed = true;
    for (int signal_number : ending_signals) {
        install(signal_number, on_ending_signal, SA_RESETHAND | SA_NODEFER);
    }
}

void restore_at_exit() {
    terminal_mode_restore();
}

} // namespace

void terminal_mode_enter() {
    if (terminal.entered || !isatty(STDIN_FILENO) ||
        tcgetattr(STDIN_FILENO, &terminal.saved) != 0) {
        return;
    }
    termios mode = terminal.saved;
    mode.c_lflag &= ~tcflag_t(ECHO | ICANON | IEXTEN);
    mode.c_lflag |= ISIG;
    mode.c_iflag &= ~tcflag_t(IXON);
    mode.c_cc[VMIN] = 1;
    mode.c_cc[VTIME] = 0;
    terminal.current = mode;
    terminal.entered = true;
    std::atexit(restore_at_exit);
    install_ending_handlers();
    // SA_RESTART: a write of the program's output that the stop interrupted
    // goes on afterwards instead of failing and losing what stdio held.
    install(SIGTSTP, on_stop_signal, SA_RESTART);
    install(SIGCONT, on_continue_signal, SA_RESTART);
    apply(terminal.current);
}

void terminal_signal_keys(bool enabled) {
    if (!terminal.entered) {
        return;
    }
    sigset_t job_control;
    sigemptyset(&job_control);
    sigaddset(&job_control, SIGTSTP);
    sigaddset(&job_control, SIGCONT);
    sigset_t previous;
    sigprocmask(SIG_BLOCK, &job_control, &previous);
    if (enabled) {
        terminal.current.c_lflag |= ISIG;
    } else {
        terminal.current.c_lflag &= ~tcflag_t(ISIG);
    }
    apply(terminal.current);
    sigprocmask(SIG_SETMASK, &previous, nullptr);
}

void terminal_mode_restore() {
    restore_saved();
}

void set_ending_signal_hook(void (*hook)()) {
    if (hook != nullptr) {
        install_ending_handlers();
    }
    ending_hook.store(hook);
}
