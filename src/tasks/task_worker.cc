#include "tasks/task_worker.h"

#include <system_error>
#include <unordered_set>
#include <utility>

#include "log/output_log.h"
#include "log/status_texts.h"
#include "log/system_error.h"
#include "tasks/task_routines.h"

namespace velquin {

TaskWorker::TaskWorker(TaskQueue& queue, RunState& run_state, TaskListLock& lock, OutputLog& log,
                       WorkerTimings timings)
    : queue_(queue), run_state_(run_state), lock_(lock), log_(log), timings_(timings) {}

TaskWorker::~TaskWorker() { Shutdown(); }

void TaskWorker::SetOperations(std::shared_ptr<TaskOperations> ops) {
  std::lock_guard<std::mutex> lock(mu_);
  ops_ = std::move(ops);
}

void TaskWorker::SetObserver(std::shared_ptr<WorkerObserver> observer) {
  std::lock_guard<std::mutex> lock(mu_);
  observer_ = std::move(observer);
}

void TaskWorker::JoinEndedThread() {
  // Called with start_mu_ held and RunState 0: the previous thread has left
  // its loop (or is about to return), so the join is short.
  std::thread old;
  {
    std::lock_guard<std::mutex> lock(mu_);
    old = std::move(thread_);
  }
  if (old.joinable()) old.join();
}

StartResult TaskWorker::StartWorker() {
  std::lock_guard<std::mutex> start_lock(start_mu_);
  Run run;
  {
    std::lock_guard<std::mutex> lock(mu_);
    run.ops = ops_;
    run.observer = observer_ ? observer_ : std::make_shared<WorkerObserver>();
    if (shutdown_) {
      run.observer->OnTaskListChanged();
      return StartResult::kStopping;
    }
  }
  StartResult result;
  // 0 → 2 before the thread exists, so the thread's own stop request can
  // never be overwritten by this call.
  if (!run_state_.Transition(RunStateValue::kIdle, RunStateValue::kRunning)) {
    result = run_state_.StopRequested() ? StartResult::kStopping : StartResult::kAlreadyRunning;
  } else {
    JoinEndedThread();
    run.observer->OnStartStopPicture(StartStopPicture::kRunning);
    int error = 0;
    if (!run.ops) {
      error = EINVAL;  // no operations plugged in: nothing could run
    } else {
      try {
        std::lock_guard<std::mutex> lock(mu_);
        ended_ = false;
        thread_ = std::thread(&TaskWorker::ThreadMain, this, run);
      } catch (const std::system_error& e) {
        error = e.code().value();
      }
    }
    if (error != 0) {
      {
        std::lock_guard<std::mutex> lock(mu_);
        run_state_.Store(RunStateValue::kIdle);
        ended_ = true;
      }
      cv_.notify_all();
      run.observer->OnStartStopPicture(StartStopPicture::kIdle);
      WriteOutputTo(log_, "%s", SystemErrorText("Main Controller Error!", error));
      result = StartResult::kFailed;
    } else {
      if (timings_.start_worker_wait.count() > 0) {
        std::this_thread::sleep_for(timings_.start_worker_wait);
      }
      result = StartResult::kStarted;
    }
  }
  run.observer->OnTaskListChanged();
  return result;
}

bool TaskWorker::StopAll() {
  return run_state_.Transition(RunStateValue::kRunning, RunStateValue::kStopRequested);
}

bool TaskWorker::Sleep(std::chrono::milliseconds d) {
  std::unique_lock<std::mutex> lock(mu_);
  cv_.wait_for(lock, d, [this] { return shutdown_; });
  return !shutdown_;
}

void TaskWorker::ThreadMain(const Run& run) {
  WorkerObserver& observer = *run.observer;
  try {
    if (Sleep(timings_.thread_start_wait)) {
      observer.OnStartStopToolTip(kToolTipStopTasks);
      observer.OnStatusText(kStatusWorking);
      for (;;) {
        {
          std::lock_guard<TaskListLock> pass(lock_);
          RunPass(run, observer);
        }
        // A worker with nothing left to do ends by itself, also when it was
        // started with nothing pending (a routine's completion only covers
        // the case where a task ran).
        if (!queue_.HasPending() &&
            run_state_.Transition(RunStateValue::kRunning, RunStateValue::kStopRequested)) {
          observer.OnStartStopPicture(StartStopPicture::kIdle);
        }
        if (!Sleep(timings_.pass_interval)) break;
        if (run_state_.StopRequested()) break;
      }
    }
    observer.OnStartStopToolTip(kToolTipStartTasks);
    observer.OnStatusText(kStatusNoProcessing);
  } catch (...) {
    // Whatever escaped, the worker must end cleanly and report idle.
  }
  {
    // RunState 0 and the end flag change together, so a StartWorker that
    // sees 0 finds this thread done with everything but returning.
    std::lock_guard<std::mutex> lock(mu_);
    run_state_.Store(RunStateValue::kIdle);
    ended_ = true;
  }
  cv_.notify_all();
}

void TaskWorker::RunPass(const Run& run, WorkerObserver& observer) {
  WorkerContext ctx;
  ctx.queue = &queue_;
  ctx.run_state = &run_state_;
  ctx.lock = &lock_;
  ctx.ops = run.ops.get();
  ctx.observer = &observer;
  ctx.log = &log_;
  ctx.routine_wait = timings_.routine_wait;

  std::unordered_set<TaskId> taken;
  for (;;) {
    // After a stop request nothing more is dispatched: the records the pass
    // has not reached stay waiting. (Running them would only give them a
    // pipeline that stops early and a misleading result.)
    if (run_state_.StopRequested()) break;
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (shutdown_) break;
    }
    std::optional<TaskRecord> record = queue_.DispatchNext(taken);
    if (!record) break;
    taken.insert(record->id);
    ctx.Load(*record);
    if (ctx.ops) ctx.ops->BeginTask(*record);
    RunTaskRoutine(record->kind, ctx);  // a kind without routine runs nothing
  }
}

void TaskWorker::Shutdown() {
  std::lock_guard<std::mutex> start_lock(start_mu_);
  StopAll();
  std::thread t;
  {
    std::lock_guard<std::mutex> lock(mu_);
    shutdown_ = true;
    t = std::move(thread_);
  }
  cv_.notify_all();
  if (t.joinable()) t.join();
}

bool TaskWorker::WaitUntilIdle(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mu_);
  return cv_.wait_for(lock, timeout, [this] { return ended_ && run_state_.IsIdle(); });
}

}  // namespace velquin
