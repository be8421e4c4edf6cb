// TaskWorker: the one background thread that runs queued tasks, one at a
// time, in queue order. It exists only while there is work: StartWorker
// creates it, it runs a pass over the queue, sleeps, and runs passes again
// until a stop is requested; the last task's completion requests the stop
// when nothing is pending any more.
//
// Pass: under TaskListLock, repeatedly dispatch the first pending record in
// current queue order that this pass has not taken yet, and run its
// routine. Reading the queue afresh for each record means that a record
// appended during the pass is reached in the same pass, and that moves,
// deletes and clears by the user-interface thread never make the pass lose
// its place or touch a removed record.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "tasks/run_state.h"
#include "tasks/task_list_lock.h"
#include "tasks/task_operations.h"
#include "tasks/task_queue.h"
#include "tasks/worker_observer.h"

namespace velquin {

class OutputLog;

// The worker's waits; the product uses the defaults, tests shorter ones.
struct WorkerTimings {
  std::chrono::milliseconds thread_start_wait{50};   // before the first pass
  std::chrono::milliseconds pass_interval{3000};     // sleep after each pass
  std::chrono::milliseconds routine_wait{50};        // at the start of each routine
  std::chrono::milliseconds start_worker_wait{100};  // in StartWorker, after starting
};

enum class StartResult {
  kStarted,         // a worker thread was started
  kAlreadyRunning,  // RunState was 2: the running worker will reach waiting records
  kStopping,        // RunState was 99: nothing starts; records wait for the next start
  kFailed,          // the thread could not be started ("Main Controller Error!" line)
};

class TaskWorker {
 public:
  TaskWorker(TaskQueue& queue, RunState& run_state, TaskListLock& lock, OutputLog& log,
             WorkerTimings timings = {});
  // Stops the worker and waits for it (see Shutdown).
  ~TaskWorker();
  TaskWorker(const TaskWorker&) = delete;
  TaskWorker& operator=(const TaskWorker&) = delete;

  // Used by the next StartWorker; a running worker keeps the ones it started
  // with. The operations must outlive the worker thread.
  void SetOperations(std::shared_ptr<TaskOperations> ops);
  void SetObserver(std::shared_ptr<WorkerObserver> observer);

  // Starts the worker thread when RunState is 0 (RunState becomes 2 and the
  // button shows its running picture). In every case asks for a redraw of
  // the task list.
  StartResult StartWorker();

  // Requests the stop of a running worker (RunState 2 → 99): it finishes the
  // routine it runs, dispatches nothing more, and ends after its sleep.
  // False when no worker was running (an idle state stays idle).
  bool StopAll();

  // Program exit: requests the stop, cuts the sleep short and waits for the
  // thread. The routine that runs is finished first.
  void Shutdown();

  // Waits until the worker thread has ended (RunState back to 0). False on
  // timeout. For the command line and tests.
  bool WaitUntilIdle(std::chrono::milliseconds timeout);

  const WorkerTimings& timings() const { return timings_; }

 private:
  struct Run {
    std::shared_ptr<TaskOperations> ops;
    std::shared_ptr<WorkerObserver> observer;
  };
  void ThreadMain(const Run& run);
  void RunPass(const Run& run, WorkerObserver& observer);
  // Sleeps, cut short by Shutdown. False when shutting down.
  bool Sleep(std::chrono::milliseconds d);
  void JoinEndedThread();

  TaskQueue& queue_;
  RunState& run_state_;
  TaskListLock& lock_;
  OutputLog& log_;
  const WorkerTimings timings_;

  std::mutex mu_;  // guards ops_, observer_, thread_, shutdown_, ended_
  std::condition_variable cv_;
  std::shared_ptr<TaskOperations> ops_;
  std::shared_ptr<WorkerObserver> observer_;
  std::thread thread_;
  bool shutdown_ = false;
  bool ended_ = true;    // the last started thread has left its loop
  std::mutex start_mu_;  // serialises StartWorker/Shutdown
};

}  // namespace velquin
