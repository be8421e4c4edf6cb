// Global options of the velquin command that route the output log.
#pragma once

#include <CLI/CLI.hpp>

namespace velquin {

// Adds --log FILE (append every output line to FILE as well) and shows the
// output log's lines on standard output, coloured when it is a terminal.
void RegisterLogOptions(CLI::App& app);

}  // namespace velquin
