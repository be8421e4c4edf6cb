// `velquin mdb exec` and `velquin mdb query`: Jet SQL on a database file.
#pragma once

#include <CLI/CLI.hpp>

namespace velquin {

// Adds `exec` and `query` to the `mdb` subcommand.
void RegisterMdbSqlCommands(CLI::App& mdb);

}  // namespace velquin
