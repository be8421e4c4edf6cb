// `velquin backup FILE.mdb --to DIR` and `velquin restore DIR --target NEW.mdb`.
#pragma once

#include <CLI/CLI.hpp>

namespace velquin {

void RegisterBackupCommands(CLI::App& app);

}  // namespace velquin
