// Global options of the velquin command that route the output log.
#pragma once

#include <CLI/CLI.hpp>
#include <memory>
#include <string>

#include "base/status.h"
#include "log/output_log.h"

namespace velquin {

// Adds --log FILE (append every output line to FILE as well) and shows the
// output log's lines on standard output, coloured when it is a terminal.
void RegisterLogOptions(CLI::App& app);

// The sink that shows the lines on standard output (null before parsing), so
// a command can put its own terminal output (a progress bar) around them.
std::shared_ptr<LogSink> StdoutLogSink();

// The --log FILE given ("" when none), so a command can refuse outputs that
// would be the same file.
std::string LogFilePath();

// Ok, or the first failed write to the --log file.
Status LogFileStatus();

}  // namespace velquin
