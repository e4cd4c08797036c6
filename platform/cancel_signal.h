// A signal that one thread raises to cut short the waits of another: the
// pauses of a running board operation end at once when it is raised.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

class CancelSignal {
  public:
    // Raised stays raised until cleared; every pause then ends at once.
    void raise();
    void clear();
    bool raised() const { return raised_.load(std::memory_order_acquire); }
    // Sleeps `milliseconds` on the monotonic clock; false, at once, when the
    // signal is (or gets) raised.
    bool pause_ms(uint32_t milliseconds);

  private:
    std::atomic<bool> raised_{false};
    std::mutex mutex_;
    std::condition_variable wake_;
};
