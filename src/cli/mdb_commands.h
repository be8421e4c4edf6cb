// `velquin mdb ...`: create, list, describe, export and import Access (.mdb)
// files with the built-in Jet 4 engine, for users without Access on Linux.
#pragma once

#include <CLI/CLI.hpp>

namespace velquin {

// Adds the `mdb` subcommand with create, tables, schema, export and import.
// Further `mdb` subcommands can be added to app.get_subcommand("mdb").
// Exit codes: 0 done; 1 the command failed (file missing or damaged, unknown
// table, rows refused by import); 2 the command line was wrong.
void RegisterMdbCommands(CLI::App& app);

}  // namespace velquin
