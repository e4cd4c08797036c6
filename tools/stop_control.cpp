#include "tools/stop_control.h"

#include <zorvidlk/zorvidlk.h>

void StopControl::request(int signal_number) {
    std::unique_lock lock(mutex_);
    if (signal_ == 0) {
        signal_ = signal_number;
    }
    changed_.notify_all();
    for (int attempt = 0; attempt < 40 && busy_ != nullptr; ++attempt) {
        zv_cancel(busy_);
        changed_.wait_for(lock, std::chrono::milliseconds(50));
    }
}

int StopControl::signal() const {
    std::lock_guard lock(mutex_);
    return signal_;
}

void StopControl::set_busy_board(zv_board* board) {
    std::lock_guard lock(mutex_);
    busy_ = board;
    changed_.notify_all();
}

bool StopControl::wait_until(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    changed_.wait_until(lock, deadline, [this] { return signal_ != 0; });
    return signal_ != 0;
}
