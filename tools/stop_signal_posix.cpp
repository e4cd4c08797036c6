#include "tools/stop_signal.h"

#include <csignal>
#include <pthread.h>
#include <thread>

void stop_signal_install(std::function<void(int)> on_stop) {
    std::signal(SIGPIPE, SIG_IGN);
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    // Blocked here, before any thread exists, so every later thread (the
    // library's included) inherits the mask and only the watcher takes them.
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);
    std::thread watcher([stops, on_stop = std::move(on_stop)] {
        while (true) {
            int number = 0;
            if (sigwait(&stops, &number) == 0) {
                on_stop(number);
            }
        }
    });
    watcher.detach();
}
