// The series' stop request: set from the signal thread, which also cancels
// the acquisition in progress; waits between acquisitions end at once on it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

struct zv_board;

class StopControl {
  public:
    // From the signal thread: remembers the first signal, cancels the board's
    // operation (again every 50 ms for up to 2 s, until the series lets go of
    // the board: a cancel that came just before the operation began is not
    // lost) and wakes any wait.
    void request(int signal_number);

    // 0, or the signal that asked for the stop.
    int signal() const;

    // The board an operation is running on (nullptr: none).
    void set_busy_board(zv_board* board);

    // Waits until `deadline` or a stop; true when stopped.
    bool wait_until(std::chrono::steady_clock::time_point deadline);

  private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    int signal_ = 0;
    zv_board* busy_ = nullptr;
};
