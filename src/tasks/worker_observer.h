// WorkerObserver: how the worker reaches the window. The GUI implements it
// by queueing signals to its own thread; the defaults do nothing.
//
// Calls come from the worker thread (status text, tool tip, picture) and
// from the thread that calls StartWorker (picture, redraw). An
// implementation must not block waiting for the user-interface thread.
#pragma once

#include <string_view>

namespace velquin {

// The looks of the task list's start/stop button.
enum class StartStopPicture { kIdle, kRunning, kStopping };

class WorkerObserver {
 public:
  virtual ~WorkerObserver() = default;
  // Status bar pane 1: "Some Tasks are WORKING!!!" / "NO PROCESSING!!!".
  virtual void OnStatusText(std::string_view /*text*/) {}
  // The start/stop button's tool tip: "Stop tasks" / "Start tasks".
  virtual void OnStartStopToolTip(std::string_view /*text*/) {}
  virtual void OnStartStopPicture(StartStopPicture /*picture*/) {}
  // The task list should be rebuilt now.
  virtual void OnTaskListChanged() {}
};

}  // namespace velquin
