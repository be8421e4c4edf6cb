// MigrationPipeline: views, as Access queries or (with --materialize-views)
// as tables of their rows.
#include <fmt/format.h>
#include <fmt/printf.h>

#include <fstream>

#include "db/statements.h"
#include "migrate/pipeline.h"
#include "migrate/sql_text.h"
#include "migrate/view_ddl.h"

namespace velquin {

Result<std::string> MigrationPipeline::ViewAsCreateTable(Session* source,
                                                         const std::string& database,
                                                         const std::string& view) {
  if (!source) return Status::InvalidArgument(std::string(kNoConnection));
  VELQUIN_ASSIGN_OR_RETURN(
      SourceRows rows,
      QueryRows(source,
                "SELECT COLUMN_NAME, COLUMN_TYPE, IS_NULLABLE FROM INFORMATION_SCHEMA.COLUMNS "
                "WHERE TABLE_SCHEMA = " +
                    source->QuoteString(database) + " AND TABLE_NAME = " +
                    source->QuoteString(view) + " ORDER BY ORDINAL_POSITION"));
  if (rows.empty()) return Status::NotFound("the view " + view + " lists no columns");
  std::string text = "CREATE TABLE " + QuoteIdentifier(view) + " (\n";
  for (std::size_t i = 0; i < rows.size(); ++i) {
    text += "  " + QuoteIdentifier(ValueAt(rows[i], 0).value_or("")) + " " +
            std::string(ValueAt(rows[i], 1).value_or("text")) +
            (ValueAt(rows[i], 2).value_or("YES") == "NO" ? " NOT NULL" : " DEFAULT NULL") +
            (i + 1 < rows.size() ? ",\n" : "\n");
  }
  return text + ")";
}

Result<std::string> MigrationPipeline::ShowCreateView(Session* source, const std::string& database,
                                                      const std::string& view) {
  VELQUIN_ASSIGN_OR_RETURN(SourceRows rows,
                           QueryRows(source, "SHOW CREATE VIEW " + QuoteIdentifier(database) + "." +
                                                 QuoteIdentifier(view)));
  if (rows.empty() || !ValueAt(rows.back(), 1)) {
    return Status::NotFound("SHOW CREATE VIEW returned nothing for " + view);
  }
  return std::string(*ValueAt(rows.back(), 1));
}

Result<std::string> MigrationPipeline::ConvertViewDdl(Session* source, const std::string& database,
                                                      const std::string& view) {
  DatabaseState& state = State(source, database);
  VELQUIN_ASSIGN_OR_RETURN(std::string text, ShowCreateView(source, database, view));
  if (!state.names.HasColumns(view)) {
    VELQUIN_ASSIGN_OR_RETURN(std::vector<std::string> aliases, ViewColumnAliases(text));
    state.names.SetColumns(view, aliases);
  }
  ViewNameMapper mapper;
  mapper.object = [&](std::string_view name) -> std::string {
    return state.names.Object(std::string(name));
  };
  mapper.is_object = [&](std::string_view name) { return state.names.HasObject(name); };
  mapper.column = [&](std::string_view table, std::string_view column) -> std::string {
    if (table.empty()) return AccessSafeName(column);
    return ColumnName(source, database, std::string(table), std::string(column));
  };
  mapper.alias = [&](std::string_view name) -> std::string {
    return state.names.Column(view, std::string(name));
  };
  return RewriteViewDefinition(text, state.names.Object(view), mapper);
}

bool MigrationPipeline::MigrateView(Session* source, Session* target, const std::string& database,
                                    const std::string& view) {
  MigrationReport report;
  report.kind = ObjectKind::kView;
  report.source_name = view;
  const auto started = std::chrono::steady_clock::now();
  auto finish = [&](bool ok, const std::string& reason) {
    if (!ok) State(source, database).failed_views.insert(view);
    report.ok = ok;
    report.status = ok ? "migrated" : "failed";
    report.reason = reason;
    report.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    AddReport(report);
    return ok;
  };
  DatabaseState& state = State(source, database);
  report.access_name = state.names.Object(view);
  const std::filesystem::path file = settings_.data_dir / (FileStemFor(view) + ".vw");
  std::ofstream f(file, std::ios::binary | std::ios::trunc);
  if (!f) {
    Out(kLineCharsetHint);
    return finish(false, "the view's script file could not be created");
  }
  if (settings_.object_started) settings_.object_started(ObjectKind::kView, view);
  Out(fmt::sprintf("VIEW: [%s].[%s] Converting..... ", database, view));
  if (settings_.existing != PipelineSettings::Existing::kFail &&
      settings_.existing_objects.count(report.access_name)) {
    Out(fmt::format("[{}] exists in the target: kept", report.access_name));
    report.status = "kept";
    report.ok = true;
    report.reason = "it exists in the target";
    AddReport(report);
    return true;
  }
  auto sql = ConvertViewDdl(source, database, view);
  if (!sql.ok() && settings_.materialize_views &&
      sql.status().code() == StatusCode::kInvalidArgument) {
    // Access cannot express the view: its rows become a table of its name.
    f.close();
    auto text = ViewAsCreateTable(source, database, view);
    if (!text.ok()) {
      Out(fmt::format("E::VIEW [{}] cannot be materialized: {}", view, text.status().message()));
      return finish(false, sql.status().message() + "; " + text.status().message());
    }
    state.create_texts[view] = *text;
    Out(fmt::format("VIEW [{}]: {}: materialized as a table", view, sql.status().message()));
    MigrateTableAs(source, target, database, view, true, sql.status().message());
    MigrationReport* done = FindReport(ObjectKind::kView, view);
    const bool ok = done && done->ok;
    if (!ok) state.failed_views.insert(view);
    return ok;
  }
  if (!sql.ok()) {
    Out(fmt::format("E::VIEW [{}] cannot be converted: {}", view, sql.status().message()));
    Out(fmt::sprintf("Create VIEW [%s] failure!!!", view));
    return finish(false, sql.status().message());
  }
  LogRenames(state);
  f << *sql;
  f.close();
  std::string reason;
  auto span = timings_.Measure("views");
  const bool created = Run(target, *sql, &reason);
  span.Stop();
  if (!created) {
    Out(fmt::sprintf("Create VIEW [%s] failure!!!", view));
    return finish(false, reason.empty() ? "CREATE VIEW failed" : reason);
  }
  Out(fmt::sprintf("Create VIEW [%s] SUCCESSFULLY!!!", view));
  return finish(true, "");
}

int MigrationPipeline::ConvertDatabaseViews(Session* source, Session* target,
                                            const std::string& database) {
  Out(fmt::sprintf("Convert Views of database [%s]", database));
  if (settings_.no_views) return 0;
  auto views = ListObjects(source, database, "VIEW");
  if (!views.ok()) {
    Out("Open views Error: " + views.status().message());
    AddListingFailure(ObjectKind::kView,
                      "the views could not be listed: " + views.status().message());
    return -1;
  }
  DatabaseState& state = State(source, database);
  std::vector<std::string> chosen;
  for (const auto& [name, type] : *views) {
    if (type == "VIEW" && (settings_.only_views.empty() || settings_.only_views.count(name))) {
      chosen.push_back(name);
    }
  }
  // A view is created after the views it reads.
  std::map<std::string, std::vector<std::string>> reads;
  for (const std::string& view : chosen) {
    auto text = ShowCreateView(source, database, view);
    if (!text.ok()) continue;  // MigrateView reads it again and reports the failure
    auto read = ViewReadsObjects(
        *text, [&](std::string_view name) { return state.views.count(std::string(name)) > 0; });
    if (read.ok()) {
      reads[view] = *read;
    } else {
      // Placed in listing order: its conversion reads the text again and reports the failure.
    }
  }
  std::vector<std::string> order;
  std::map<std::string, int> mark;  // 1 being visited, 2 placed
  std::vector<std::string> cycle;
  std::function<bool(const std::string&)> visit = [&](const std::string& view) {
    if (mark[view] == 2) return true;
    if (mark[view] == 1) {
      cycle.push_back(view);
      return false;
    }
    mark[view] = 1;
    bool ok = true;
    for (const std::string& used : reads[view]) {
      if (used != view && std::find(chosen.begin(), chosen.end(), used) != chosen.end()) {
        ok = visit(used) && ok;
      }
    }
    mark[view] = 2;
    if (ok) order.push_back(view);
    if (!ok) cycle.push_back(view);
    return ok;
  };
  for (const std::string& view : chosen) visit(view);

  for (const std::string& view : chosen) {
    if (std::find(order.begin(), order.end(), view) != order.end()) continue;
    std::string why = fmt::format("the view [{}] reads itself through the views", view);
    for (const std::string& c : reads[view]) why += " [" + c + "]";
    FailView(database, view, why);
  }
  bool stopped = false;
  for (const std::string& view : order) {
    if (!stopped && StopRequested()) {
      Out("Views Converting Terminaled!");
      stopped = true;
    }
    if (stopped) {
      AddNotStarted(source, ObjectKind::kView, database, view);
      continue;
    }
    std::string failed_base;
    for (const std::string& used : reads[view]) {
      if (state.failed_views.count(used)) failed_base = used;
    }
    if (!failed_base.empty()) {
      FailView(database, view, fmt::format("the view [{}] it reads was not migrated", failed_base));
    } else {
      MigrateView(source, target, database, view);
    }
  }
  return 0;
}

void MigrationPipeline::FailView(const std::string& database, const std::string& view,
                                 const std::string& why) {
  DatabaseState& state = State(nullptr, database);
  state.failed_views.insert(view);
  Out(fmt::format("E::VIEW [{}] not created: {}", view, why));
  MigrationReport report;
  report.kind = ObjectKind::kView;
  report.source_name = view;
  report.access_name = state.names.Object(view);
  report.status = "failed";
  report.reason = why;
  AddReport(report);
}

}  // namespace velquin
