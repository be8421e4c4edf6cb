#include "app/resume.h"

#include <fmt/format.h>

#include <cstdlib>
#include <set>
#include <utility>

#include "config/condition_file.h"
#include "db/sql_quote.h"
#include "jet/database.h"
#include "jet/sql/names.h"
#include "migrate/copy_marker.h"
#include "migrate/row_copy.h"

namespace velquin {
namespace {

bool Holds(const std::vector<std::string>& names, const std::string& name) {
  for (const std::string& n : names) {
    if (jet::sql::SameObjectName(n, name)) return true;
  }
  return false;
}

Result<uint64_t> SourceCount(Session& source, const std::string& database, const std::string& table,
                             const std::string& condition) {
  std::string sql =
      "SELECT COUNT(*) FROM " + QuoteIdentifier(database) + "." + QuoteIdentifier(table);
  if (!condition.empty()) sql += " WHERE " + condition;
  VELQUIN_ASSIGN_OR_RETURN(auto cursor, source.OpenQuery(sql));
  VELQUIN_ASSIGN_OR_RETURN(bool row, cursor->MoveNext());
  if (!row || cursor->IsNull(0))
    return Status::IOError("COUNT(*) of " + table + " returned no row");
  return std::strtoull(cursor->Value(0).c_str(), nullptr, 10);
}

Result<uint64_t> FileCount(jet::Database& db, const std::string& table) {
  VELQUIN_ASSIGN_OR_RETURN(auto cursor, db.Scan(table));
  std::vector<jet::Value> row;
  uint64_t n = 0;
  for (;;) {
    VELQUIN_ASSIGN_OR_RETURN(bool more, cursor->Next(&row));
    if (!more) return n;
    ++n;
  }
}

// (table, relationship) for every relationship that names one of `tables`.
Result<std::set<std::pair<std::string, std::string>>> RelationshipsOf(
    jet::Database& db, const std::vector<std::string>& tables) {
  std::set<std::pair<std::string, std::string>> out;
  VELQUIN_ASSIGN_OR_RETURN(jet::TableInfo info, db.GetTable("MSysRelationships"));
  std::size_t name = info.columns.size(), child = name, parent = name;
  for (std::size_t i = 0; i < info.columns.size(); ++i) {
    if (jet::sql::SameObjectName(info.columns[i].name, "szRelationship")) name = i;
    if (jet::sql::SameObjectName(info.columns[i].name, "szObject")) child = i;
    if (jet::sql::SameObjectName(info.columns[i].name, "szReferencedObject")) parent = i;
  }
  if (name == info.columns.size() || child == name || parent == name) {
    return Status::Corruption("MSysRelationships lacks its name columns");
  }
  VELQUIN_ASSIGN_OR_RETURN(auto cursor, db.Scan("MSysRelationships"));
  std::vector<jet::Value> row;
  for (;;) {
    VELQUIN_ASSIGN_OR_RETURN(bool more, cursor->Next(&row));
    if (!more) return out;
    const std::string c = row[child].ToString();
    if (Holds(tables, c) || Holds(tables, row[parent].ToString())) {
      out.insert({c, row[name].ToString()});
    }
  }
}

}  // namespace

Result<ResumePlan> PrepareResume(Session& source, const std::string& database,
                                 const std::filesystem::path& target,
                                 const std::filesystem::path& data_dir,
                                 const std::filesystem::path& condition_file,
                                 const std::vector<MigrationPipeline::PlannedObject>& planned,
                                 const std::vector<std::string>& held) {
  ResumePlan plan;
  VELQUIN_ASSIGN_OR_RETURN(auto db, jet::Database::Open(target.string()));
  std::vector<std::string> tables_held;
  for (const auto& o : planned) {
    if (!Holds(held, o.access_name)) continue;
    if (o.kind == ObjectKind::kView && db->IsQuery(o.access_name)) {
      plan.kept_queries.push_back(o.access_name);
      plan.lines.push_back(fmt::format("[{}] kept: the query is in the file", o.access_name));
      continue;
    }
    // A view materialized by the earlier run is a table like the others.
    tables_held.push_back(o.access_name);
    std::string why;
    if (auto marker = HalfCopiedMarker(data_dir, FileStemFor(o.source_name))) {
      why = "its copy did not finish (" + *marker + ")";
    } else {
      std::string condition;
      if (!condition_file.empty() && o.kind == ObjectKind::kTable) {
        VELQUIN_ASSIGN_OR_RETURN(condition,
                                 ConditionFile(condition_file).Read(database, o.source_name));
      }
      VELQUIN_ASSIGN_OR_RETURN(uint64_t in_file, FileCount(*db, o.access_name));
      VELQUIN_ASSIGN_OR_RETURN(uint64_t on_server,
                               SourceCount(source, database, o.source_name, condition));
      if (in_file == on_server) {
        plan.reused.push_back(o.access_name);
        plan.rows[o.access_name] = in_file;
        plan.lines.push_back(fmt::format("[{}] kept: finished by the earlier run ({} rows)",
                                         o.access_name, in_file));
        continue;
      }
      why = fmt::format("the file holds {} of its {} rows", in_file, on_server);
    }
    plan.redone.push_back(o.access_name);
    plan.lines.push_back(fmt::format("[{}] made again: {}", o.access_name, why));
  }
  // Every relationship of the tables held goes: the run makes them again.
  VELQUIN_ASSIGN_OR_RETURN(auto relationships, RelationshipsOf(*db, tables_held));
  for (const auto& [table, name] : relationships) {
    VELQUIN_RETURN_IF_ERROR(db->DropRelationship(table, name));
    plan.lines.push_back(
        fmt::format("relationship [{}] of [{}] dropped, to be made again", name, table));
  }
  if (!plan.redone.empty()) VELQUIN_RETURN_IF_ERROR(db->DropTablesWithRelationships(plan.redone));
  VELQUIN_RETURN_IF_ERROR(db->Flush());
  return plan;
}

}  // namespace velquin
