// RunState: whether a worker thread exists and whether it was asked to stop.
// Read and written by the user-interface thread, the worker and the long
// pipeline loops (which stop early when they see a stop request).
#pragma once

#include <atomic>
#include <cstdint>

namespace velquin {

enum class RunStateValue : uint8_t {
  kIdle = 0,            // no worker thread
  kRunning = 2,         // a worker thread exists
  kStopRequested = 99,  // the worker ends after its current pass
};

class RunState {
 public:
  RunStateValue Load() const { return value_.load(std::memory_order_acquire); }
  void Store(RunStateValue v) { value_.store(v, std::memory_order_release); }
  bool IsIdle() const { return Load() == RunStateValue::kIdle; }
  bool IsRunning() const { return Load() == RunStateValue::kRunning; }
  bool StopRequested() const { return Load() == RunStateValue::kStopRequested; }

  // Moves from `expected` to `desired`; false when the state was not
  // `expected` (then nothing changes).
  bool Transition(RunStateValue expected, RunStateValue desired) {
    return value_.compare_exchange_strong(expected, desired, std::memory_order_acq_rel);
  }

 private:
  std::atomic<RunStateValue> value_{RunStateValue::kIdle};
};

}  // namespace velquin
