// Ctrl-C (SIGINT) and SIGTERM during `velquin migrate`: the first asks the
// run to stop (the current table ends at its next batch, what is left is
// skipped and the summary is written); a second one ends the program at
// once with the same exit code (the Access file stays sound: its writes are
// ordered so that an interrupted run leaves earlier work intact).
#pragma once

#include <string>
#include <vector>

#include "migrate/pipeline.h"

namespace velquin {

// Installs the handlers. The run watches StopSignalReceived().
void InstallStopSignals();

// Puts the default handlers back.
void RemoveStopSignals();

// The first stop signal received since InstallStopSignals (SIGINT or
// SIGTERM), or 0.
int StopSignalReceived();

// The reports of a run that was stopped, completed with a line for every
// planned object that has none: the object being migrated (`current_kind`,
// `current`; "" for none) as "stopped", every other one as "not started".
std::vector<MigrationReport> CompleteStoppedReports(std::vector<MigrationReport> reports,
                                                    const std::vector<std::string>& tables,
                                                    const std::vector<std::string>& views,
                                                    ObjectKind current_kind,
                                                    const std::string& current);

// The exit code for a run stopped by `signal`: 128 + its number (130 for
// SIGINT, 143 for SIGTERM).
inline int StopExitCode(int signal) { return 128 + signal; }

}  // namespace velquin
