// The fixed texts of the status bar and of the worker's state, shared by
// the GUI and the command line.
#pragma once

namespace velquin {

// Status bar pane 1: the worker's state.
inline constexpr const char kStatusIdle[] = "Main Controller:IDLE";
inline constexpr const char kStatusWorking[] = "Some Tasks are WORKING!!!";
inline constexpr const char kStatusNoProcessing[] = "NO PROCESSING!!!";

// Status bar pane 2: the clock, as strftime format.
inline constexpr const char kClockFormat[] = "%H:%M:%S";

// Tool tips of the task list's start/stop button.
inline constexpr const char kToolTipStopTasks[] = "Stop tasks";
inline constexpr const char kToolTipStartTasks[] = "Start tasks";

}  // namespace velquin
