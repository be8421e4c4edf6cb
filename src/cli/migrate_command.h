// velquin migrate: a whole MySQL database (or some of its tables and views)
// into an Access .mdb file, through the same task routines the GUI runs.
#pragma once

#include <CLI/CLI.hpp>

namespace velquin {

void RegisterMigrateCommand(CLI::App& app);

}  // namespace velquin
