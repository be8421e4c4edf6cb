// TaskListLock: held by the worker for each whole pass over the queue and
// entered again by the running routine for its completion step (it is
// re-entrant for its owner).
//
// The user-interface thread never takes it: its queue edits take only the
// queue's own short lock (see task_queue.h), so the window never waits for
// the length of a task. Code that must not overlap a pass (for example a
// caller waiting until no task is being dispatched) may take it.
#pragma once

#include <mutex>

namespace velquin {

class TaskListLock {
 public:
  void lock() { mu_.lock(); }
  void unlock() { mu_.unlock(); }
  bool try_lock() { return mu_.try_lock(); }

 private:
  std::recursive_mutex mu_;
};

}  // namespace velquin
