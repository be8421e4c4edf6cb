#include "migrate/pipeline.h"

#include <fmt/format.h>
#include <fmt/printf.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <map>

#include "config/condition_file.h"
#include "db/statements.h"
#include "migrate/copy_marker.h"
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

// The column names (lower case) of a table of the target, in order.
Result<std::vector<std::string>> TargetColumnNames(Session* target, const std::string& table) {
  if (!target) return Status::InvalidArgument(std::string(kNoConnection));
  VELQUIN_ASSIGN_OR_RETURN(
      auto cursor,
      target->OpenSchemaRowset(SchemaRowset::kColumns, {std::nullopt, std::nullopt, table}));
  std::size_t at = cursor->Columns().size();
  for (std::size_t i = 0; i < cursor->Columns().size(); ++i) {
    if (cursor->Columns()[i].name == "COLUMN_NAME") at = i;
  }
  if (at == cursor->Columns().size()) {
    return Status::NotSupported("the target lists no column names");
  }
  std::vector<std::string> names;
  for (;;) {
    VELQUIN_ASSIGN_OR_RETURN(bool more, cursor->MoveNext());
    if (!more) break;
    names.push_back(AsciiLower(cursor->Value(at)));
  }
  return names;
}

// The source server's own string quoter (it knows the server's sql_mode).
StringQuoter SourceQuoter(Session* source) {
  return [source](std::string_view text) { return source->QuoteString(text); };
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
      out += QuoteIdentifier(mapped);
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
  auto span = timings_.Measure("source catalogue queries");
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

Result<std::vector<TransformCount>> MigrationPipeline::ZeroDateColumns(
    Session* source, const std::string& database, const std::string& table,
    std::string_view create_text, const std::vector<SourceColumn>& columns, bool probe) {
  std::vector<TransformCount> out;
  const std::vector<std::string> candidates = NotNullDateColumns(columns);
  if (candidates.empty()) return out;
  // Most tables hold no zero date: a probe that stops at the first one
  // decides whether they need counting.
  SourceRows found;
  if (probe) {
    VELQUIN_ASSIGN_OR_RETURN(found,
                             QueryRows(source, ZeroDateProbeQuery(database, table, candidates)));
  }
  SourceRows counts;
  if (!found.empty()) {
    VELQUIN_ASSIGN_OR_RETURN(counts,
                             QueryRows(source, ZeroDateCountQuery(database, table, candidates)));
  }
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    const uint64_t held =
        counts.empty()
            ? 0
            : std::strtoull(std::string(ValueAt(counts[0], i).value_or("0")).c_str(), nullptr, 10);
    std::string zero_default = ZeroDateDefault(create_text, candidates[i]);
    if (held == 0 && zero_default.empty()) continue;
    out.push_back(
        TransformCount{candidates[i], TransformKind::kMadeNullable, held, std::move(zero_default)});
  }
  return out;
}

Result<std::vector<std::pair<std::string, std::string>>> MigrationPipeline::ListObjects(
    Session* source, const std::string& database, const char* type) {
  if (!source) return Status::InvalidArgument(std::string(kNoConnection));
  auto span = timings_.Measure("source catalogue queries");
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
      for (const auto& [name, type] : *objects) {
        names.push_back(name);
        if (type == "VIEW") state.views.insert(name);
      }
      state.names = DatabaseNames(names);
      state.listed = true;
    } else {
      // Names are then made unique among the objects met so far only; the
      // listing is tried again for the next object.
      Out("E::The tables and views of [" + database +
          "] could not be listed to choose names for Access: " + objects.status().message());
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

void MigrationPipeline::BeginRun() {
  databases_.clear();
  zero_dates_from_copy_ = false;
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

void MigrationPipeline::AddReport(const MigrationReport& report) {
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
                                              const std::string& table, bool follow_references) {
  DatabaseState& state = State(source, database);
  if (auto it = state.plans.find(table); it != state.plans.end()) return it->second;
  if (follow_references && state.planning.count(table)) {
    return PlanTable(source, database, table, false);
  }
  state.planning.insert(table);
  struct Done {
    DatabaseState& s;
    const std::string& t;
    bool own;
    ~Done() {
      if (own) s.planning.erase(t);
    }
  } done{state, table, follow_references};

  std::string text;
  if (auto made = state.create_texts.find(table); made != state.create_texts.end()) {
    text = made->second;
  } else {
    VELQUIN_ASSIGN_OR_RETURN(SourceRows shown,
                             QueryRows(source, ShowCreateTableQuery(database, table)));
    if (shown.empty() || !ValueAt(shown[0], 1)) {
      return Status::NotFound("SHOW CREATE TABLE returned nothing for " + table);
    }
    text = std::string(*ValueAt(shown[0], 1));
  }
  VELQUIN_ASSIGN_OR_RETURN(std::vector<SourceColumn> columns, ParseCreateTableColumns(text));
  std::vector<TransformCount> made_nullable;
  // The NOT NULL date columns kept NOT NULL without asking the server.
  std::vector<std::string> required_dates;
  const bool from_copy = zero_dates_from_copy_ && !state.zero_dates_probed.count(table);
  if (settings_.zero_dates == ZeroDates::kNull) {
    VELQUIN_ASSIGN_OR_RETURN(made_nullable,
                             ZeroDateColumns(source, database, table, text, columns, !from_copy));
    std::set<std::string, CaseInsensitiveLess> names;
    for (const TransformCount& c : made_nullable) names.insert(c.column);
    text = DropNotNull(text, names);
    if (from_copy) {
      for (const std::string& c : NotNullDateColumns(columns)) {
        if (!names.count(c)) required_dates.push_back(c);
      }
    }
  }
  std::vector<std::string> column_names;
  column_names.reserve(columns.size());
  for (const auto& c : columns) column_names.push_back(c.name);
  if (!state.names.HasColumns(table)) state.names.SetColumns(table, column_names);
  std::set<std::string, CaseInsensitiveLess> is_column(column_names.begin(), column_names.end());

  TableDdlInput input;
  std::string facts_query = BuildColumnFactsQuery(database, table, columns);
  if (!facts_query.empty()) {
    VELQUIN_ASSIGN_OR_RETURN(SourceRows facts_rows, QueryRows(source, facts_query));
    VELQUIN_ASSIGN_OR_RETURN(ColumnFactsMap facts, ReadColumnFacts(columns, facts_rows));
    for (auto& [name, f] : facts) input.facts[state.names.Column(table, name)] = f;
  }
  auto fks = ParseForeignKeys(text);
  if (!fks.ok()) {
    // The declarations only steer the types of foreign-key columns (they take
    // the referenced column's type); the relationships themselves are read
    // from the catalogue later, and a type clash fails them loudly there.
    Out(
        fmt::format("E::[{}] the foreign keys of the table could not be read from its "
                    "definition, so its key columns keep their own types: {}",
                    table, fks.status().message()));
  }
  const std::vector<ForeignKeyDecl> no_keys;
  const std::vector<ForeignKeyDecl>& declared = fks.ok() ? *fks : no_keys;
  state.foreign_keys[table] = declared;
  if (follow_references) {
    for (const ForeignKeyDecl& fk : declared) {
      if (!fk.referenced_database.empty() && fk.referenced_database != database) continue;
      if (fk.referenced_table == table) continue;
      auto referenced = PlanTable(source, database, fk.referenced_table);
      // A referenced table that cannot be planned fails on its own turn and
      // fails this table's relationship to it by name; here it only leaves
      // the column's own type.
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
  // Counted by the copy: logged when it ends.
  if (!from_copy) {
    for (const TransformCount& c : made_nullable) {
      ddl.log.push_back(fmt::format("[{}] changed for Access: {}", table, DescribeTransform(c)));
    }
  }
  if (follow_references) {
    state.made_nullable[table] = std::move(made_nullable);
    if (from_copy) {
      state.zero_dates_from_copy.insert(table);
      for (std::string& c : required_dates) c = state.names.Column(table, c);
      state.required_dates[table] = std::move(required_dates);
    } else {
      state.zero_dates_from_copy.erase(table);
      state.required_dates.erase(table);
    }
    state.plans[table] = ddl;
  }
  return ddl;
}

std::string MigrationPipeline::ColumnName(Session* source, const std::string& database,
                                          const std::string& table_or_view,
                                          const std::string& column) {
  DatabaseState& state = State(source, database);
  // Columns not readable: the name is mapped on its own, and the query that
  // uses it reports the missing column when it is created.
  auto fallback = [&] { return state.names.Column(table_or_view, column); };
  if (!state.names.HasColumns(table_or_view) && source) {
    if (state.views.count(table_or_view)) {
      auto shown = QueryRows(source, "SHOW CREATE VIEW " + QuoteIdentifier(database) + "." +
                                         QuoteIdentifier(table_or_view));
      if (!shown.ok() || shown->empty() || !ValueAt(shown->back(), 1)) return fallback();
      auto aliases = ViewColumnAliases(*ValueAt(shown->back(), 1));
      if (!aliases.ok()) return fallback();
      state.names.SetColumns(table_or_view, *aliases);
    } else {
      auto shown = QueryRows(source, ShowCreateTableQuery(database, table_or_view));
      if (!shown.ok() || shown->empty() || !ValueAt((*shown)[0], 1)) return fallback();
      auto columns = ParseCreateTableColumns(*ValueAt((*shown)[0], 1));
      if (!columns.ok()) return fallback();
      std::vector<std::string> names;
      for (const auto& c : *columns) names.push_back(c.name);
      state.names.SetColumns(table_or_view, names);
    }
  }
  return fallback();
}

int MigrationPipeline::MigrateTable(Session* source, Session* target, const std::string& database,
                                    const std::string& table) {
  zero_dates_from_copy_ = true;
  return MigrateTableAs(source, target, database, table, false, "");
}

int MigrationPipeline::MigrateTableAs(Session* source, Session* target, const std::string& database,
                                      const std::string& table, bool materialized_view,
                                      const std::string& why) {
  MigrationReport report;
  report.kind = materialized_view ? ObjectKind::kView : ObjectKind::kTable;
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
  if (settings_.object_started) settings_.object_started(ObjectKind::kTable, table);
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

  if (settings_.existing == PipelineSettings::Existing::kResume &&
      settings_.existing_objects.count(report.access_name) > 0) {
    // An earlier run finished this table: its rows, keys and indexes stay.
    const auto rows = settings_.reused_rows.find(report.access_name);
    report.read = report.written = rows == settings_.reused_rows.end() ? 0 : rows->second;
    report.reason = "finished by an earlier run";
    report.ok = true;
    Out(fmt::format("Table [{}] was finished by an earlier run: kept with its {} rows",
                    report.access_name, report.written));
    finish("reused");
    return 1;
  }
  std::string reason;
  const bool append = settings_.existing == PipelineSettings::Existing::kAppend &&
                      settings_.existing_objects.count(report.access_name) > 0;
  if (append) {
    // The rows go into the table the target holds, when its columns are
    // the ones this table would get.
    auto existing = TargetColumnNames(target, report.access_name);
    std::vector<std::string> planned_columns;
    for (const ColumnPlan& c : ddl.columns) planned_columns.push_back(AsciiLower(c.name));
    if (!existing.ok() || *existing != planned_columns) {
      std::string why = fmt::format(
          "the table [{}] exists in the target with other columns: its rows are not added",
          report.access_name);
      if (!existing.ok()) why = existing.status().message();
      Out("E::" + why);
      state.failed_tables.insert(table);
      fail(why);
      finish("failed");
      return -1;
    }
    Out(fmt::format("Table [{}] exists: its rows are added", report.access_name));
  } else if (![&] {
               auto create_span = timings_.Measure("create tables");
               return Run(target, ddl.sql, &reason);
             }()) {
    Out(fmt::sprintf("E::TABLE: Create [%s].[%s] ERROR !", database, table));
    state.failed_tables.insert(table);
    if (auto earlier = HalfCopiedMarker(settings_.data_dir, stem)) {
      // Most likely the table an earlier run left half copied: say so.
      const std::string hint = fmt::format(
          "an earlier run left this table half copied ({}); drop it from the target and run "
          "again to copy it whole",
          *earlier);
      Out(fmt::format("E::[{}] {}", table, hint));
      reason = hint + (reason.empty() ? "" : " (" + reason + ")");
    }
    fail(reason.empty() ? "CREATE TABLE failed" : reason);
    finish("failed");
    return -1;
  } else {
    Out(fmt::sprintf("Create table [%s] SUCCESSFULLY!!!", table));
  }
  report.ok = true;
  if (materialized_view) report.reason = why;

  auto keys_span = timings_.Measure("primary keys and indexes");
  if (!append && !materialized_view) {
    // Keys: the SHOW INDEX rows with names as they go into Access.
    auto index_rows = QueryRows(source, ShowIndexQuery(database, table));
    if (!index_rows.ok()) {
      Out(index_rows.status().message());
      fail("the indexes could not be read: " + index_rows.status().message());
    }
    SourceRows rows = index_rows.ok() ? *index_rows : SourceRows{};
    {
      // Indexes that only back a foreign key are made by its relationship.
      std::vector<ForeignKeyColumns> foreign_keys;
      for (const ForeignKeyDecl& fk : state.foreign_keys[table]) {
        if (!fk.referenced_database.empty() && fk.referenced_database != database) continue;
        foreign_keys.push_back({fk.name, fk.columns});
      }
      std::vector<std::string> notes;
      rows = WithoutForeignKeyIndexes(rows, foreign_keys, &notes);
      for (const auto& note : notes) Out(note);
    }
    for (SourceRow& row : rows) {
      if (row.size() > 4) {
        row[0] = report.access_name;
        if (row[2] && *row[2] != "PRIMARY") row[2] = state.names.Index(table, *row[2]);
        if (row[4]) row[4] = state.names.Column(table, *row[4]);
      }
    }
    LogRenames(state);

    // Text keys that Access takes as equal (it ignores letter case and
    // trailing blanks) are found as the unique index is built from the rows:
    // the later rows of such a key are refused with the reason.
    Out("Primary Keys Migrating..... ");
    auto pk = BuildPrimaryKeySql(report.access_name, rows);
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
    auto indexes = BuildIndexSql(report.access_name, rows);
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
  }

  keys_span.Stop();

  // Rows.
  CopyRowsOptions copy;
  copy.database = database;
  copy.table = table;
  copy.access_table = report.access_name;
  copy.columns = ddl.columns;
  for (const auto& c : ddl.columns) copy.access_columns.push_back(c.name);
  copy.data_dir = settings_.data_dir;
  copy.data_file = settings_.data_files;
  copy.file_stem = stem;
  copy.chunk_rows = settings_.chunk_rows;
  copy.inserter_factory = settings_.inserter_factory;
  copy.stop_requested = settings_.stop_requested;
  copy.zero_dates = settings_.zero_dates;
  if (auto it = state.required_dates.find(table); it != state.required_dates.end() && !append) {
    copy.required_dates = it->second;
  }
  if (!settings_.condition_file.empty()) {
    auto condition = ConditionFile(settings_.condition_file).Read(database, table);
    if (!condition.ok()) {
      // Copying every row instead would not be what was asked for.
      const std::string why =
          "the row condition could not be read: " + condition.status().message();
      Out(fmt::format("E::[{}] {}", table, why));
      fail(why);
      finish("failed");
      return 1;
    }
    copy.condition = *condition;
  }
  if (auto estimate = QueryRows(source,
                                "SELECT TABLE_ROWS FROM INFORMATION_SCHEMA.TABLES WHERE "
                                "TABLE_SCHEMA = " +
                                    source->QuoteString(database) +
                                    " AND TABLE_NAME = " + source->QuoteString(table));
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
  // The marker only lets a later run name this table if the copy does not
  // end whole; without it the run itself is unharmed, so a failure to write
  // it is logged and the copy goes on.
  if (Status marked = MarkCopyStarted(settings_.data_dir, stem); !marked.ok()) {
    Out("E::" + marked.message());
  }
  auto rows_span = timings_.Measure("rows " + table);
  CopyRowsResult rows_result = CopyTableRows(source, target, copy, out_);
  rows_span.Stop();
  if (!rows_result.zero_date_column.empty() && !state.zero_dates_probed.count(table)) {
    // A NOT NULL date column holds zero dates (rare): the server counts them
    // in every such column, and the table is made again with those nullable.
    state.zero_dates_probed.insert(table);
    state.plans.erase(table);
    std::string dropped;
    if (!Run(target, "DROP TABLE " + QuoteJetNameInText(report.access_name), &dropped)) {
      const std::string why_not = "the table could not be made again for its zero dates: " +
                                  (dropped.empty() ? std::string("DROP TABLE failed") : dropped);
      Out(fmt::format("E::[{}] {}", table, why_not));
      state.failed_tables.insert(table);
      fail(why_not);
      finish("failed");
      return -1;
    }
    return MigrateTableAs(source, target, database, table, materialized_view, why);
  }
  {
    const bool whole = rows_result.status.ok() && !rows_result.stopped;
    std::string how = fmt::format("{} after {} of its rows",
                                  rows_result.stopped ? "stopped" : "failed", rows_result.written);
    if (!rows_result.status.ok()) how += ": " + rows_result.status.message();
    // As above: only the later hint depends on it.
    if (Status ended = MarkCopyEnded(settings_.data_dir, stem, whole, how); !ended.ok()) {
      Out("E::" + ended.message());
    }
  }
  report.read = rows_result.read;
  report.written = rows_result.written;
  report.refused = rows_result.refused;
  report.stopped = rows_result.stopped;
  report.data_file = rows_result.data_file;
  report.rejects_file = rows_result.rejects_file;
  report.transforms = state.made_nullable[table];
  if (state.zero_dates_from_copy.count(table)) {
    // Columns made nullable for their zero-date default: the copy counted
    // the zero dates they hold.
    for (TransformCount& made : report.transforms) {
      if (made.kind != TransformKind::kMadeNullable) continue;
      const std::string column = AsciiLower(state.names.Column(table, made.column));
      for (const TransformCount& c : rows_result.transforms) {
        if (c.kind == TransformKind::kZeroDateToNull && AsciiLower(c.column) == column) {
          made.count = c.count;
        }
      }
      Out(fmt::format("[{}] changed for Access: {}", table, DescribeTransform(made)));
    }
  }
  for (const TransformCount& c : rows_result.transforms) report.transforms.push_back(c);
  if (!rows_result.status.ok()) fail(rows_result.status.message());
  if (rows_result.refused) fail(std::to_string(rows_result.refused) + " rows refused");
  std::string status = materialized_view ? "materialized" : "migrated";
  if (materialized_view && report.ok) {
    report.reason = fmt::format("{}: materialized as a table of {} rows", why, report.written);
  }
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
  MigrationReport* report = FindReport(ObjectKind::kTable, table);
  auto mark_failed = [&](const std::string& why) {
    std::lock_guard<std::mutex> lock(reports_mu_);
    if (report) {
      if (report->ok) report->status = "failed";
      report->ok = false;
      if (report->reason.empty()) report->reason = why;
    }
  };
  auto rows = source ? QueryRows(source, ForeignKeyQuery(database, table, SourceQuoter(source)))
                     : Result<SourceRows>(Status::InvalidArgument(std::string(kNoConnection)));
  if (!rows.ok()) {
    Out(rows.status().message());
    Out("E::Create Relationship failure!");
    mark_failed("the foreign keys could not be read: " + rows.status().message());
    return;
  }
  if (settings_.existing == PipelineSettings::Existing::kAppend &&
      settings_.existing_objects.count(state.names.Object(table))) {
    return;  // the table's relationships are in the target already
  }
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
  auto span = timings_.Measure("relationships " + table);
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

int MigrationPipeline::ConvertDatabaseTables(Session* source, Session* target,
                                             const std::string& database) {
  Out(fmt::sprintf("Convert Tables of database [%s]", database));
  auto tables = ListObjects(source, database, "TABLE");
  if (!tables.ok()) {
    Out("Open tables Error: " + tables.status().message());
    AddListingFailure(ObjectKind::kTable,
                      "the tables could not be listed: " + tables.status().message());
    return -1;
  }
  std::vector<std::string> chosen;
  for (const auto& [name, type] : *tables) {
    if (type == "VIEW") continue;
    if (!settings_.only_tables.empty() && !settings_.only_tables.count(name)) continue;
    chosen.push_back(name);
  }
  for (std::size_t i = 0; i < chosen.size(); ++i) {
    if (StopRequested()) {
      Out("Tables Converting Terminaled!");
      for (; i < chosen.size(); ++i) AddNotStarted(source, ObjectKind::kTable, database, chosen[i]);
      break;
    }
    if (settings_.table_started) settings_.table_started(i, chosen.size());
    MigrateTable(source, target, database, chosen[i]);
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

void MigrationPipeline::AddListingFailure(ObjectKind kind, const std::string& reason) {
  MigrationReport report;
  report.kind = kind;
  report.source_name = report.access_name = kind == ObjectKind::kTable ? "(tables)" : "(views)";
  report.status = "failed";
  report.reason = reason;
  AddReport(report);
}

bool MigrationPipeline::StopRequested() const {
  return settings_.stop_requested && settings_.stop_requested();
}

void MigrationPipeline::AddNotStarted(Session* source, ObjectKind kind, const std::string& database,
                                      const std::string& name) {
  MigrationReport report;
  report.kind = kind;
  report.source_name = name;
  report.access_name = State(source, database).names.Object(name);
  report.status = "not started";
  report.reason = "the run was stopped before it";
  AddReport(report);
}

int MigrationPipeline::ConvertDatabaseRelationships(Session* source, Session* target,
                                                    const std::string& database) {
  if (StopRequested()) {
    // Relationships need every table whole; a stopped run leaves them out.
    Out("E::Relationships not created: the run was stopped");
    return 0;
  }
  Out(fmt::sprintf("Convert Relationships of database [%s]", database));
  auto tables = ListObjects(source, database, "TABLE");
  if (!tables.ok()) {
    Out("Open tables Error: " + tables.status().message());
    AddListingFailure(ObjectKind::kTable,
                      "the relationships were not made: the tables could "
                      "not be listed: " +
                          tables.status().message());
    return -1;
  }
  for (const auto& [name, type] : *tables) {
    if (type == "VIEW") continue;
    if (!settings_.only_tables.empty() && !settings_.only_tables.count(name)) continue;
    if (StopRequested()) {
      Out("E::Relationships Converting Terminaled!");
      break;
    }
    Out(fmt::sprintf("Relationships of [%s]", name));
    MigrateForeignKeys(source, target, database, name);
  }
  return 0;
}

}  // namespace velquin
