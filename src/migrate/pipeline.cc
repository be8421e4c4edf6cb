#include "migrate/pipeline.h"

#include <fmt/format.h>
#include <fmt/printf.h>

#include <algorithm>
#include <fstream>

#include "config/condition_file.h"
#include "db/statements.h"
#include "migrate/key_sql.h"
#include "migrate/sql_text.h"
#include "migrate/view_ddl.h"

namespace velquin {
namespace {

bool AppendToFile(const std::filesystem::path& path, const std::string& text) {
  std::ofstream f(path, std::ios::binary | std::ios::app);
  f << text;
  return static_cast<bool>(f);
}

}  // namespace

std::string RenameInCreateTable(std::string_view text,
                                const std::function<std::string(const std::string&)>& table_name,
                                const std::function<std::string(const std::string&)>& column_name) {
  std::string out;
  bool first = true;
  for (std::size_t i = 0; i < text.size();) {
    char c = text[i];
    if (c == '\'' || c == '"') {
      std::size_t j = i + 1;
      while (j < text.size()) {
        if (text[j] == '\\') {
          j += 2;
          continue;
        }
        if (text[j] == c) {
          if (j + 1 < text.size() && text[j + 1] == c) {
            j += 2;
            continue;
          }
          break;
        }
        ++j;
      }
      j = std::min(j + 1, text.size());
      out.append(text.substr(i, j - i));
      i = j;
    } else if (c == '`') {
      std::string name;
      std::size_t j = i + 1;
      for (; j < text.size(); ++j) {
        if (text[j] == '`') {
          if (j + 1 < text.size() && text[j + 1] == '`') {
            name += '`';
            ++j;
            continue;
          }
          break;
        }
        name += text[j];
      }
      std::string mapped = first ? table_name(name) : column_name(name);
      first = false;
      out += QuoteMySqlName(mapped);
      i = std::min(j + 1, text.size());
    } else {
      out += c;
      ++i;
    }
  }
  return out;
}

Result<SourceRows> MigrationPipeline::QueryRows(Session* source, const std::string& sql) {
  if (!source) return Status::InvalidArgument(std::string(kNoConnection));
  VELQUIN_ASSIGN_OR_RETURN(auto cursor, source->OpenQuery(sql));
  SourceRows rows;
  const std::size_t n = cursor->Columns().size();
  for (;;) {
    VELQUIN_ASSIGN_OR_RETURN(bool more, cursor->MoveNext());
    if (!more) break;
    SourceRow row(n);
    for (std::size_t c = 0; c < n; ++c) {
      if (!cursor->IsNull(c)) row[c] = cursor->Value(c);
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

Result<std::vector<std::pair<std::string, std::string>>> MigrationPipeline::ListObjects(
    Session* source, const std::string& database, const char* type) {
  if (!source) return Status::InvalidArgument(std::string(kNoConnection));
  SchemaRestrictions restrictions = {database, std::nullopt, std::nullopt,
                                     type ? std::optional<std::string>(type) : std::nullopt};
  VELQUIN_ASSIGN_OR_RETURN(auto cursor,
                           source->OpenSchemaRowset(SchemaRowset::kTables, restrictions));
  std::vector<std::pair<std::string, std::string>> out;  // name, type
  for (;;) {
    VELQUIN_ASSIGN_OR_RETURN(bool more, cursor->MoveNext());
    if (!more) break;
    std::string schema = cursor->IsNull(1) ? "" : cursor->Value(1);
    if (schema == "sys" || schema == "INFORMATION_SCHEMA") continue;
    out.emplace_back(cursor->Value(2), cursor->Value(3));
  }
  return out;
}

MigrationPipeline::DatabaseState& MigrationPipeline::State(Session* source,
                                                           const std::string& database) {
  DatabaseState& state = databases_[database];
  if (!state.listed && source) {
    auto objects = ListObjects(source, database, nullptr);
    if (objects.ok()) {
      std::vector<std::string> names;
      for (const auto& [name, type] : *objects) names.push_back(name);
      state.names = DatabaseNames(names);
      state.listed = true;
    }
  }
  return state;
}

void MigrationPipeline::LogRenames(DatabaseState& state) {
  for (const std::string& line : state.names.RenameLines()) {
    bool seen = false;
    for (const auto& r : state.reported_renames) seen = seen || r == line;
    if (seen) continue;
    state.reported_renames.push_back(line);
    Out("Renamed for Access: " + line);
  }
}

std::vector<MigrationReport> MigrationPipeline::Reports() const {
  std::lock_guard<std::mutex> lock(reports_mu_);
  return reports_;
}

std::vector<std::string> MigrationPipeline::RenameLines() const {
  std::vector<std::string> out;
  for (const auto& [db, state] : databases_) {
    for (const auto& line : state.names.RenameLines()) out.push_back(line);
  }
  return out;
}

void MigrationPipeline::AddReport(MigrationReport report) {
  {
    std::lock_guard<std::mutex> lock(reports_mu_);
    reports_.push_back(report);
  }
  if (settings_.object_done) settings_.object_done(report);
}

MigrationReport* MigrationPipeline::FindReport(ObjectKind kind, const std::string& name) {
  std::lock_guard<std::mutex> lock(reports_mu_);
  for (auto it = reports_.rbegin(); it != reports_.rend(); ++it) {
    if (it->kind == kind && it->source_name == name) return &*it;
  }
  return nullptr;
}

bool MigrationPipeline::Run(Session* target, const std::string& statement, std::string* reason) {
  std::string provider_text;
  bool ok = ExecuteStatement(target, statement, true, [&](const std::string& line) {
    if (line.rfind("T::", 0) == 0 || line.rfind("E::", 0) == 0) provider_text = line.substr(3);
    Out(line);
  });
  if (!ok && reason && reason->empty()) *reason = provider_text;
  return ok;
}

Result<TableDdl> MigrationPipeline::PlanTable(Session* source, const std::string& database,
                                              const std::string& table) {
  DatabaseState& state = State(source, database);
  if (auto it = state.plans.find(table); it != state.plans.end()) return it->second;
  if (state.planning.count(table)) return Status::InvalidArgument("reference cycle");
  state.planning.insert(table);
  struct Done {
    DatabaseState& s;
    const std::string& t;
    ~Done() { s.planning.erase(t); }
  } done{state, table};

  VELQUIN_ASSIGN_OR_RETURN(SourceRows shown,
                           QueryRows(source, ShowCreateTableQuery(database, table)));
  if (shown.empty() || !ValueAt(shown[0], 1)) {
    return Status::NotFound("SHOW CREATE TABLE returned nothing for " + table);
  }
  std::string text(*ValueAt(shown[0], 1));
  VELQUIN_ASSIGN_OR_RETURN(std::vector<SourceColumn> columns, ParseCreateTableColumns(text));
  std::vector<std::string> column_names;
  for (const auto& c : columns) column_names.push_back(c.name);
  state.names.SetColumns(table, column_names);
  std::set<std::string, CaseInsensitiveLess> is_column(column_names.begin(), column_names.end());

  TableDdlInput input;
  std::string facts_query = BuildColumnFactsQuery(database, table, columns);
  if (!facts_query.empty()) {
    VELQUIN_ASSIGN_OR_RETURN(SourceRows facts_rows, QueryRows(source, facts_query));
    VELQUIN_ASSIGN_OR_RETURN(ColumnFactsMap facts, ReadColumnFacts(columns, facts_rows));
    for (auto& [name, f] : facts) input.facts[state.names.Column(table, name)] = f;
  }
  auto fks = ParseForeignKeys(text);
  if (fks.ok()) {
    for (const ForeignKeyDecl& fk : *fks) {
      if (!fk.referenced_database.empty() && fk.referenced_database != database) continue;
      if (fk.referenced_table == table) continue;
      auto referenced = PlanTable(source, database, fk.referenced_table);
      if (!referenced.ok()) continue;
      for (std::size_t i = 0; i < fk.columns.size() && i < fk.referenced_columns.size(); ++i) {
        std::string want = state.names.Column(fk.referenced_table, fk.referenced_columns[i]);
        for (const ColumnPlan& p : referenced->columns) {
          if (AsciiLower(p.name) == AsciiLower(want)) {
            input.referenced[state.names.Column(table, fk.columns[i])] = p;
          }
        }
      }
    }
  }
  std::string renamed = RenameInCreateTable(
      text, [&](const std::string&) { return state.names.Object(table); },
      [&](const std::string& name) {
        return is_column.count(name) ? state.names.Column(table, name) : name;
      });
  VELQUIN_ASSIGN_OR_RETURN(TableDdl ddl, ConvertTableDdl(renamed, input));
  state.plans[table] = ddl;
  return ddl;
}

int MigrationPipeline::MigrateTable(Session* source, Session* target, const std::string& database,
                                    const std::string& table) {
  MigrationReport report;
  report.kind = ObjectKind::kTable;
  report.source_name = table;
  const auto started = std::chrono::steady_clock::now();
  auto finish = [&](const std::string& status) {
    report.status = status;
    report.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    AddReport(report);
  };
  auto fail = [&](const std::string& reason) {
    if (report.reason.empty()) report.reason = reason;
    report.ok = false;
  };

  DatabaseState& state = State(source, database);
  report.access_name = state.names.Object(table);
  const std::string stem = FileStemFor(table);
  const std::filesystem::path script = settings_.data_dir / stem;
  {
    std::ofstream f(script, std::ios::binary | std::ios::trunc);
    if (!f) {
      Out(kLineCharsetHint);
      state.failed_tables.insert(table);
      fail("the script file could not be created");
      finish("failed");
      return -2;
    }
  }
  Out(fmt::sprintf("TABLE: [%s].[%s] Migrating..... ", database, table));

  auto planned = PlanTable(source, database, table);
  if (!planned.ok()) {
    Out("T::" + planned.status().message());
    Out(fmt::sprintf("E::TABLE: Create [%s].[%s] ERROR !", database, table));
    state.failed_tables.insert(table);
    fail(planned.status().message());
    finish("failed");
    return -3;
  }
  const TableDdl& ddl = *planned;
  LogRenames(state);
  for (const std::string& line : ddl.log) Out(line);
  AppendToFile(script, ddl.sql);

  std::string reason;
  if (!Run(target, ddl.sql, &reason)) {
    Out(fmt::sprintf("E::TABLE: Create [%s].[%s] ERROR !", database, table));
    state.failed_tables.insert(table);
    fail(reason.empty() ? "CREATE TABLE failed" : reason);
    finish("failed");
    return -1;
  }
  Out(fmt::sprintf("Create table [%s] SUCCESSFULLY!!!", table));
  report.ok = true;

  // Keys: the SHOW INDEX rows with names as they go into Access.
  auto index_rows = QueryRows(source, ShowIndexQuery(database, table));
  if (!index_rows.ok()) {
    Out(index_rows.status().message());
    fail("the indexes could not be read: " + index_rows.status().message());
  }
  SourceRows rows = index_rows.ok() ? *index_rows : SourceRows{};
  bool primary_clash = false;
  std::vector<std::string> clashing;
  if (auto keys = UniqueKeys(rows); keys.ok()) {
    // Only text keys can clash: Access compares text without regard to case
    // and trailing blanks, every other type as MySQL does. The query groups
    // the whole table, so it is not sent for keys without a text column.
    auto is_text = [&](const std::string& column) {
      for (const ColumnPlan& c : ddl.columns) {
        if (AsciiLower(c.name) == AsciiLower(column)) {
          return c.type == AccessType::kText || c.type == AccessType::kMemo ||
                 c.type == AccessType::kUnknown;
        }
      }
      return true;  // not found: check it to be safe
    };
    for (const UniqueKey& key : *keys) {
      if (std::none_of(key.columns.begin(), key.columns.end(), is_text)) continue;
      auto found = QueryRows(source, UniqueKeyClashQuery(database, table, key.columns));
      if (found.ok() && !found->empty()) {
        if (key.name == "PRIMARY")
          primary_clash = true;
        else
          clashing.push_back(state.names.Index(table, key.name));
      }
    }
  }
  for (SourceRow& row : rows) {
    if (row.size() > 4) {
      row[0] = report.access_name;
      if (row[2] && *row[2] != "PRIMARY") row[2] = state.names.Index(table, *row[2]);
      if (row[4]) row[4] = state.names.Column(table, *row[4]);
    }
  }
  LogRenames(state);

  Out("Primary Keys Migrating..... ");
  auto pk = BuildPrimaryKeySql(report.access_name, rows, primary_clash);
  if (!pk.ok()) {
    Out("E::Create PK failure!");
    fail(pk.status().message());
  } else {
    for (const auto& note : pk->notes) Out(note);
    if (pk->statements.empty()) {
      Out("NO PRIMARY KEY(S)!");
    } else {
      AppendToFile(script, pk->Text());
      bool all = true;
      for (const auto& s : pk->statements) all = Run(target, s, &reason) && all;
      if (all) {
        Out("Create PRIMARY KEY SUCCESSFULLY!!!");
      } else {
        Out("E::Create PK failure!");
        fail("the primary key could not be created: " + reason);
      }
    }
  }

  Out("Unique Keys Migrating..... ");
  auto indexes = BuildIndexSql(report.access_name, rows, clashing);
  if (!indexes.ok()) {
    Out("Create Index failure!");
    fail(indexes.status().message());
  } else {
    for (const auto& note : indexes->notes) Out(note);
    if (indexes->statements.empty()) {
      Out("NO Index(es)!");
    } else {
      AppendToFile(script, indexes->Text());
      for (const auto& s : indexes->statements) {
        std::string why;
        if (Run(target, s, &why)) {
          Out("Create Index SUCCESSFULLY!!!");
        } else {
          Out("E::Create Index failure!");
          fail("an index could not be created: " + why);
        }
      }
    }
  }

  // Rows.
  CopyRowsOptions copy;
  copy.database = database;
  copy.table = table;
  copy.access_table = report.access_name;
  copy.columns = ddl.columns;
  for (const auto& c : ddl.columns) copy.access_columns.push_back(c.name);
  copy.data_dir = settings_.data_dir;
  copy.file_stem = stem;
  copy.chunk_rows = settings_.chunk_rows;
  copy.inserter_factory = settings_.inserter_factory;
  copy.stop_requested = settings_.stop_requested;
  if (!settings_.condition_file.empty()) {
    auto condition = ConditionFile(settings_.condition_file).Read(database, table);
    if (!condition.ok()) {
      // Copying every row instead would be a silent change of what the
      // user asked for.
      Out("E::" + condition.status().message());
      fail(condition.status().message());
      finish("failed");
      return 1;
    }
    copy.condition = *condition;
  }
  if (auto estimate = QueryRows(source,
                                "SELECT TABLE_ROWS FROM INFORMATION_SCHEMA.TABLES WHERE "
                                "TABLE_SCHEMA = " +
                                    QuoteMySqlString(database) +
                                    " AND TABLE_NAME = " + QuoteMySqlString(table));
      estimate.ok() && !estimate->empty() && ValueAt((*estimate)[0], 0)) {
    copy.rows_expected =
        std::strtoull(std::string(*ValueAt((*estimate)[0], 0)).c_str(), nullptr, 10);
  }
  if (settings_.rows_started) settings_.rows_started(table, copy.rows_expected);
  if (settings_.rows_progress) {
    copy.progress = [&](uint64_t read, uint64_t expected) {
      settings_.rows_progress(table, read, expected);
    };
  }
  CopyRowsResult rows_result = CopyTableRows(source, target, copy, out_);
  report.read = rows_result.read;
  report.written = rows_result.written;
  report.refused = rows_result.refused;
  report.stopped = rows_result.stopped;
  report.data_file = rows_result.data_file;
  report.rejects_file = rows_result.rejects_file;
  if (!rows_result.status.ok()) fail(rows_result.status.message());
  if (rows_result.refused) fail(std::to_string(rows_result.refused) + " rows refused");
  std::string status = "migrated";
  if (!report.ok)
    status = rows_result.refused && rows_result.status.ok() ? "refused rows" : "failed";
  if (rows_result.stopped) {
    report.ok = false;
    status = "stopped";
    if (report.reason.empty()) report.reason = "stopped by request";
  }
  finish(status);
  return 1;
}

void MigrationPipeline::MigrateForeignKeys(Session* source, Session* target,
                                           const std::string& database, const std::string& table) {
  DatabaseState& state = State(source, database);
  const std::filesystem::path script = settings_.data_dir / FileStemFor(table);
  {
    std::ofstream f(script, std::ios::binary | std::ios::app);
    if (!f) {
      Out(kLineCharsetHint);
      return;
    }
  }
  auto rows = QueryRows(source, ForeignKeyQuery(database, table));
  if (!rows.ok()) {
    Out(rows.status().message());
    Out("E::Create Relationship failure!");
    return;
  }
  MigrationReport* report = FindReport(ObjectKind::kTable, table);
  auto mark_failed = [&](const std::string& why) {
    std::lock_guard<std::mutex> lock(reports_mu_);
    if (report) {
      if (report->ok) report->status = "failed";
      report->ok = false;
      if (report->reason.empty()) report->reason = why;
    }
  };
  if (state.failed_tables.count(table)) {
    if (!rows->empty()) {
      Out(fmt::format("E::Relationships of table [{}] not created: the table was not migrated",
                      table));
    }
    return;
  }
  // Relationships to tables that failed: reported once each, by name.
  SourceRows kept;
  std::set<std::string> reported;
  for (SourceRow& row : *rows) {
    std::string name(ValueAt(row, 0).value_or(""));
    std::string schema(ValueAt(row, 2).value_or(""));
    std::string referenced(ValueAt(row, 3).value_or(""));
    if (schema == database && state.failed_tables.count(referenced)) {
      if (reported.insert(name).second) {
        std::string why = fmt::format(
            "Relationship [{}] of table [{}] not created: the table [{}] "
            "it references was not migrated",
            name, table, referenced);
        Out("E::" + why);
        mark_failed(why);
      }
      continue;
    }
    if (row.size() > 4) {
      row[0] = state.names.Relationship(name);
      if (row[1]) row[1] = state.names.Column(table, *row[1]);
      if (schema == database && row[3]) row[3] = state.names.Object(referenced);
      if (row[4]) row[4] = state.names.Column(referenced, *row[4]);
    }
    kept.push_back(std::move(row));
  }
  LogRenames(state);
  auto fk = BuildForeignKeySql(database, state.names.Object(table), kept);
  if (!fk.ok()) {
    Out("T::" + fk.status().message());
    Out("E::Create Relationship failure!");
    mark_failed(fk.status().message());
    return;
  }
  for (const auto& note : fk->notes) Out(note);
  AppendToFile(script, fk->Text());
  if (fk->statements.empty()) {
    if (reported.empty()) Out("No Relationship(s)!");
    return;
  }
  for (const std::string& statement : fk->statements) {
    std::string why;
    if (Run(target, statement, &why)) {
      Out("Create FOREIGN KEY SUCCESSFULLY!!!");
    } else {
      Out("E::Create Relationship failure!");
      mark_failed("a relationship could not be created: " + why);
    }
  }
}

Result<std::string> MigrationPipeline::ConvertViewDdl(Session* source, const std::string& database,
                                                      const std::string& view) {
  DatabaseState& state = State(source, database);
  VELQUIN_ASSIGN_OR_RETURN(SourceRows rows,
                           QueryRows(source, "SHOW CREATE VIEW " + QuoteMySqlName(database) + "." +
                                                 QuoteMySqlName(view)));
  if (rows.empty() || !ValueAt(rows.back(), 1)) {
    return Status::NotFound("SHOW CREATE VIEW returned nothing for " + view);
  }
  ViewNameMapper mapper;
  mapper.object = [&](std::string_view name) -> std::string {
    return state.names.Object(std::string(name));
  };
  mapper.column = [](std::string_view name) { return AccessSafeName(name); };
  return RewriteViewDefinition(*ValueAt(rows.back(), 1), state.names.Object(view), mapper);
}

bool MigrationPipeline::MigrateView(Session* source, Session* target, const std::string& database,
                                    const std::string& view) {
  MigrationReport report;
  report.kind = ObjectKind::kView;
  report.source_name = view;
  const auto started = std::chrono::steady_clock::now();
  auto finish = [&](bool ok, const std::string& reason) {
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
  Out(fmt::sprintf("VIEW: [%s].[%s] Converting..... ", database, view));
  auto sql = ConvertViewDdl(source, database, view);
  if (!sql.ok()) {
    Out(fmt::format("E::VIEW [{}] cannot be converted: {}", view, sql.status().message()));
    Out(fmt::sprintf("Create VIEW [%s] failure!!!", view));
    return finish(false, sql.status().message());
  }
  LogRenames(state);
  f << *sql;
  f.close();
  std::string reason;
  if (!Run(target, *sql, &reason)) {
    Out(fmt::sprintf("Create VIEW [%s] failure!!!", view));
    return finish(false, reason.empty() ? "CREATE VIEW failed" : reason);
  }
  Out(fmt::sprintf("Create VIEW [%s] SUCCESSFULLY!!!", view));
  return finish(true, "");
}

int MigrationPipeline::ConvertDatabaseTables(Session* source, Session* target,
                                             const std::string& database) {
  Out(fmt::sprintf("Convert Tables of database [%s]", database));
  auto tables = ListObjects(source, database, "TABLE");
  if (!tables.ok()) {
    Out("Open tables Error: " + tables.status().message());
    return -1;
  }
  std::vector<std::string> chosen;
  for (const auto& [name, type] : *tables) {
    if (type == "VIEW") continue;
    if (!settings_.only_tables.empty() && !settings_.only_tables.count(name)) continue;
    chosen.push_back(name);
  }
  for (std::size_t i = 0; i < chosen.size(); ++i) {
    if (settings_.table_started) settings_.table_started(i, chosen.size());
    MigrateTable(source, target, database, chosen[i]);
    if (settings_.stop_requested && settings_.stop_requested()) {
      Out("Tables Converting Terminaled!");
      break;
    }
  }
  // A stopped conversion creates no relationships: on large tables they
  // take minutes, and a stop has to end the task promptly.
  if (settings_.stop_requested && settings_.stop_requested()) {
    Out("E::Relationships of database [" + database + "] not converted: stopped by request");
    return 0;
  }
  ConvertDatabaseRelationships(source, target, database);
  return 0;
}

int MigrationPipeline::ConvertDatabaseRelationships(Session* source, Session* target,
                                                    const std::string& database) {
  Out(fmt::sprintf("Convert Relationships of database [%s]", database));
  auto tables = ListObjects(source, database, "TABLE");
  if (!tables.ok()) {
    Out("Open tables Error: " + tables.status().message());
    return -1;
  }
  for (const auto& [name, type] : *tables) {
    if (type == "VIEW") continue;
    if (!settings_.only_tables.empty() && !settings_.only_tables.count(name)) continue;
    if (settings_.stop_requested && settings_.stop_requested()) {
      Out("Relationships Converting Terminaled!");
      break;
    }
    Out(fmt::sprintf("Relationships of [%s]", name));
    MigrateForeignKeys(source, target, database, name);
  }
  return 0;
}

int MigrationPipeline::ConvertDatabaseViews(Session* source, Session* target,
                                            const std::string& database) {
  Out(fmt::sprintf("Convert Views of database [%s]", database));
  if (settings_.no_views) return 0;
  auto views = ListObjects(source, database, "VIEW");
  if (!views.ok()) {
    Out("Open views Error: " + views.status().message());
    return -1;
  }
  for (const auto& [name, type] : *views) {
    if (type == "VIEW" && (settings_.only_views.empty() || settings_.only_views.count(name))) {
      MigrateView(source, target, database, name);
    }
    if (settings_.stop_requested && settings_.stop_requested()) {
      Out("Views Converting Terminaled!");
      break;
    }
  }
  return 0;
}

}  // namespace velquin
