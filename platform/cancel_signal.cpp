#include "platform/cancel_signal.h"

#include <chrono>

void CancelSignal::raise() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        raised_.store(true, std::memory_order_release);
    }
    wake_.notify_all();
}

void CancelSignal::clear() {
    const std::lock_guard<std::mutex> lock(mutex_);
    raised_.store(false, std::memory_order_release);
}

bool CancelSignal::pause_ms(uint32_t milliseconds) {
    std::unique_lock<std::mutex> lock(mutex_);
    return !wake_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                           [this] { return raised_.load(std::memory_order_acquire); });
}
