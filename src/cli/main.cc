// velquin: the command-line face of the migrator.
#include <CLI/CLI.hpp>
#include <cstdio>

#include "base/version.h"
#include "cli/backup_command.h"
#include "cli/log_options.h"
#include "cli/mdb_commands.h"
#include "cli/mdb_sql_commands.h"
#include "cli/migrate_command.h"

int main(int argc, char** argv) {
  CLI::App app{velquin::ProductLine(), "velquin"};
  app.set_version_flag("--version", velquin::ProductLine());
  app.require_subcommand(0, 1);
  velquin::RegisterLogOptions(app);
  velquin::RegisterMigrateCommand(app);
  velquin::RegisterBackupCommands(app);
  velquin::RegisterMdbCommands(app);
  velquin::RegisterMdbSqlCommands(*app.get_subcommand("mdb"));
  try {
    app.parse(argc, argv);
  } catch (const CLI::RuntimeError& e) {
    return e.get_exit_code();  // a subcommand's own exit code
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : 2;
  }
  if (app.get_subcommands().empty()) {
    std::fputs(app.help().c_str(), stdout);
  }
  return 0;
}
