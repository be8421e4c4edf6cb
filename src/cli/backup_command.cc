#include "cli/backup_command.h"

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "backup/backup.h"
#include "backup/restore.h"
#include "cli/log_options.h"
#include "cli/progress_bar.h"
#include "db/jet_session.h"
#include "jet/sql/names.h"
#include "log/output_log.h"

namespace velquin {
namespace {

namespace fs = std::filesystem;

struct BackupArgs {
  std::string file;
  std::string to;
  std::string tables;
  std::string views;
  bool no_data = false;
  std::string encoding = "utf-8";
};

struct RestoreArgs {
  std::string dir;
  std::string target;
  std::string encoding = "utf-8";
};

std::atomic<bool> g_stop{false};
extern "C" void OnBackupInterrupt(int) { g_stop.store(true); }

std::vector<std::string> SplitNames(const std::string& list) {
  std::vector<std::string> out;
  std::string item;
  std::stringstream in(list);
  while (std::getline(in, item, ',')) {
    if (!item.empty()) out.push_back(item);
  }
  return out;
}

bool EncodingOf(const std::string& name, backup::ScriptEncoding* out) {
  if (name == "utf-8" || name == "utf8") {
    *out = backup::ScriptEncoding::kUtf8;
  } else if (name == "windows-1252" || name == "cp1252") {
    *out = backup::ScriptEncoding::kWindows1252;
  } else {
    return false;
  }
  return true;
}

int Usage(const char* command, const std::string& message) {
  std::fprintf(stderr, "velquin %s: %s\n", command, message.c_str());
  return 2;
}

// The progress bar when standard output is a terminal; null otherwise.
std::shared_ptr<ProgressBar> TerminalBar(OutputLog& log) {
  if (isatty(fileno(stdout)) != 1) return nullptr;
  std::shared_ptr<LogSink> terminal = StdoutLogSink();
  auto bar = std::make_shared<ProgressBar>(terminal);
  if (terminal) log.RemoveSink(terminal);
  log.AddSink(bar);
  return bar;
}

const char* StatusText(backup::ObjectStatus s) {
  switch (s) {
    case backup::ObjectStatus::kDone:
      return "ok";
    case backup::ObjectStatus::kFailed:
      return "FAILED";
    case backup::ObjectStatus::kStopped:
      return "stopped";
  }
  return "";
}

int RunBackup(const BackupArgs& args) {
  OutputLog& log = OutputLog::Global();
  backup::BackupOptions options;
  if (!EncodingOf(args.encoding, &options.encoding)) {
    return Usage("backup", "--encoding takes utf-8 or windows-1252");
  }
  if (!fs::is_regular_file(args.file)) return Usage("backup", args.file + " is not a file");
  auto session = JetSession::Open(args.file);
  if (!session.ok())
    return Usage("backup", "cannot open " + args.file + ": " + session.status().message());
  std::error_code ec;
  fs::create_directories(args.to, ec);
  if (ec) return Usage("backup", "cannot create " + args.to + ": " + ec.message());

  std::shared_ptr<ProgressBar> bar = TerminalBar(log);
  std::string current;
  options.write_data = !args.no_data;
  options.out = [&log](const std::string& line) { log.Write(line); };
  options.stop_requested = [] { return g_stop.load(std::memory_order_relaxed); };
  if (bar) {
    options.rows_progress = [bar, &current](const std::string& table, std::uint64_t rows,
                                            std::uint64_t expected) {
      if (table != current) {
        current = table;
        bar->Start(table, expected);
      }
      bar->Update(rows, expected);
    };
  }
  backup::Backup run(fs::absolute(args.to), options);
  const std::string database = fs::path(args.file).replace_extension().string();
  const std::vector<std::string> tables = SplitNames(args.tables);
  const std::vector<std::string> views = SplitNames(args.views);
  const bool all = tables.empty() && views.empty();
  g_stop = false;
  std::signal(SIGINT, OnBackupInterrupt);
  int walked = 0;
  if (all || !tables.empty()) {
    walked |= run.BackupDatabaseTables(session->get(), database, all ? nullptr : &tables);
  }
  if (bar) bar->End();
  if ((all || !views.empty()) && !g_stop) {
    walked |= run.BackupDatabaseViews(session->get(), database, all ? nullptr : &views);
  }
  std::signal(SIGINT, SIG_DFL);

  // Names asked for that the database does not have.
  std::vector<std::string> missing;
  for (const auto* list : {&tables, &views}) {
    for (const std::string& name : *list) {
      bool found = false;
      for (const auto& r : run.reports()) found = found || jet::sql::SameObjectName(r.name, name);
      if (!found) missing.push_back(name);
    }
  }

  std::size_t width = 4;
  for (const auto& r : run.reports()) width = std::max(width, r.name.size());
  std::printf("\nBackup of %s in %s:\n", args.file.c_str(), run.position().string().c_str());
  std::printf("%-5s %-*s %10s %12s  %s\n", "kind", static_cast<int>(width), "name", "rows", "bytes",
              "status");
  for (const auto& r : run.reports()) {
    std::printf("%-5s %-*s %10llu %12llu  %s%s\n", r.view ? "view" : "table",
                static_cast<int>(width), r.name.c_str(), static_cast<unsigned long long>(r.rows),
                static_cast<unsigned long long>(r.bytes), StatusText(r.status),
                r.message.empty() ? "" : (": " + r.message).c_str());
  }
  for (const std::string& name : missing) {
    std::printf("%-5s %-*s %10s %12s  FAILED: no such table or view\n", "?",
                static_cast<int>(width), name.c_str(), "-", "-");
  }
  std::fflush(stdout);
  return walked == 0 && run.AllDone() && missing.empty() && !g_stop ? 0 : 1;
}

int RunRestore(const RestoreArgs& args) {
  OutputLog& log = OutputLog::Global();
  backup::RestoreOptions options;
  if (!EncodingOf(args.encoding, &options.encoding)) {
    return Usage("restore", "--encoding takes utf-8 or windows-1252");
  }
  auto dir = backup::FindScriptsDirectory(args.dir);
  if (!dir.ok()) return Usage("restore", dir.status().message());
  if (fs::exists(args.target)) {
    return Usage("restore", args.target + " exists; restore into a new file");
  }
  auto session = JetSession::Open(args.target, /*create=*/true);
  if (!session.ok())
    return Usage("restore", "cannot create " + args.target + ": " + session.status().message());
  options.out = [&log](const std::string& line) { log.Write(line); };
  auto report = backup::Restore(*dir, **session, options);
  if (!report.ok()) {
    log.Write("E::" + report.status().message());
    return 1;
  }
  std::printf(
      "\nRestored %s into %s: %llu tables, %llu rows, %llu keys and indexes, %llu "
      "relationships, %llu views; %llu statements refused\n",
      dir->string().c_str(), args.target.c_str(), static_cast<unsigned long long>(report->tables),
      static_cast<unsigned long long>(report->rows),
      static_cast<unsigned long long>(report->indexes),
      static_cast<unsigned long long>(report->relationships),
      static_cast<unsigned long long>(report->views),
      static_cast<unsigned long long>(report->refused));
  std::fflush(stdout);
  return report->refused == 0 ? 0 : 1;
}

}  // namespace

void RegisterBackupCommands(CLI::App& app) {
  auto b = std::make_shared<BackupArgs>();
  CLI::App* sub = app.add_subcommand(
      "backup", "Back up the tables, rows and views of an .mdb file into script files");
  sub->fallthrough();
  sub->add_option("FILE", b->file, "The .mdb file")->required();
  sub->add_option("--to", b->to, "The backup folder (the database gets a folder in it)")
      ->required();
  sub->add_option("--tables", b->tables, "Only these tables (comma-separated)");
  sub->add_option("--views", b->views, "Only these views (comma-separated)");
  sub->add_flag("--no-data", b->no_data, "Write no data scripts (as with AutoBackup off)");
  sub->add_option("--encoding", b->encoding, "utf-8 (default) or windows-1252");
  sub->callback([b] {
    // Exit code: 0 everything written, 1 an object failed or the run was
    // stopped, 2 usage errors.
    const int code = RunBackup(*b);
    std::fflush(stdout);
    std::exit(code);
  });

  auto r = std::make_shared<RestoreArgs>();
  CLI::App* res =
      app.add_subcommand("restore", "Recreate a database from a backup folder in a new .mdb file");
  res->fallthrough();
  res->add_option("DIR", r->dir, "The backup folder (or the database's folder in it)")->required();
  res->add_option("--target", r->target, "The new .mdb file")->required();
  res->add_option("--encoding", r->encoding, "The scripts' encoding: utf-8 or windows-1252");
  res->callback([r] {
    // Exit code: 0 restored whole, 1 statements refused, 2 usage errors.
    const int code = RunRestore(*r);
    std::fflush(stdout);
    std::exit(code);
  });
}

}  // namespace velquin
