// Ctrl-C (SIGINT) and SIGTERM during `velquin migrate`: the first asks the
// run to stop (the current table ends at its next batch, what is left is
// skipped and the summary is written); a second one ends the program at
// once with the same exit code (the Access file stays sound: its writes are
// ordered so that an interrupted run leaves earlier work intact).
#pragma once

// The summary of a stopped run: CompleteStoppedReports.
#include "app/migration_run.h"

namespace velquin {

// Installs the handlers. The run watches StopSignalReceived().
void InstallStopSignals();

// Puts the default handlers back.
void RemoveStopSignals();

// The first stop signal received since InstallStopSignals (SIGINT or
// SIGTERM), or 0.
int StopSignalReceived();

// The exit code for a run stopped by `signal`: 128 + its number (130 for
// SIGINT, 143 for SIGTERM).
inline int StopExitCode(int signal) { return 128 + signal; }

}  // namespace velquin
