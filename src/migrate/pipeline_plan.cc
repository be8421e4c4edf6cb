// MigrationPipeline: the plan of a run (what would be made, and how big) and
// the verification of one migrated table against its source.
#include <algorithm>
#include <map>

#include "config/condition_file.h"
#include "jet/database.h"
#include "migrate/pipeline.h"
#include "migrate/verify_checksum.h"
#include "migrate/view_ddl.h"

namespace velquin {

Result<MigrationPlan> MigrationPipeline::Plan(Session* source, const std::string& database,
                                              uint64_t size_limit, bool sizes_only) {
  MigrationPlan plan;
  plan.database = database;
  plan.size_limit = size_limit;
  VELQUIN_ASSIGN_OR_RETURN(std::vector<PlannedObject> objects, PlannedObjects(source, database));
  DatabaseState& state = State(source, database);
  // Row counts and sizes as the server estimates them.
  struct Sizes {
    uint64_t rows = 0, avg_row = 0, index_bytes = 0;
  };
  std::map<std::string, Sizes> sizes;
  VELQUIN_ASSIGN_OR_RETURN(
      SourceRows stats,
      QueryRows(source,
                "SELECT TABLE_NAME, TABLE_ROWS, AVG_ROW_LENGTH, INDEX_LENGTH FROM "
                "INFORMATION_SCHEMA.TABLES WHERE TABLE_SCHEMA = " +
                    source->QuoteString(database)));
  auto number = [](const SourceRow& row, std::size_t i) -> uint64_t {
    auto v = ValueAt(row, i);
    return v ? std::strtoull(std::string(*v).c_str(), nullptr, 10) : 0;
  };
  for (const SourceRow& row : stats) {
    sizes[std::string(ValueAt(row, 0).value_or(""))] = {number(row, 1), number(row, 2),
                                                        number(row, 3)};
  }
  auto plan_table = [&](const PlannedObject& o, bool materialized) {
    PlannedTable t;
    t.name = o.source_name;
    t.access_name = o.access_name;
    t.materialized_view = materialized;
    const Sizes s = sizes[o.source_name];
    t.rows = s.rows;
    // A quarter more than MySQL's rows for page slack, and its index bytes.
    t.projected_bytes = s.rows * s.avg_row * 5 / 4 + (materialized ? 0 : s.index_bytes);
    plan.projected_bytes += t.projected_bytes;
    plan.estimated_seconds += static_cast<double>(s.rows) / kPlannedRowsPerSecond + 0.05;
    if (sizes_only) {
      plan.tables.push_back(std::move(t));
      return;
    }
    auto ddl = PlanTable(source, database, o.source_name);
    if (!ddl.ok()) {
      t.error = ddl.status().message();
      plan.tables.push_back(std::move(t));
      return;
    }
    for (const ColumnPlan& c : ddl->columns) {
      PlannedColumn pc;
      pc.access_name = c.name;
      pc.declared = c.declared;
      pc.access_type = c.access_type;
      pc.note = c.reason;
      t.columns.push_back(std::move(pc));
    }
    // The plan's columns carry the Access names; the source's are those mapped to them.
    for (PlannedColumn& c : t.columns) {
      c.name = c.access_name;
      for (const std::string& source_name : state.names.SourceColumns(o.source_name)) {
        if (state.names.Column(o.source_name, source_name) == c.access_name) c.name = source_name;
      }
    }
    for (const TransformCount& c : state.made_nullable[o.source_name]) {
      for (PlannedColumn& pc : t.columns) {
        if (AsciiLower(pc.name) != AsciiLower(c.column)) continue;
        pc.note += (pc.note.empty() ? "" : "; ") + DescribeTransform(c);
      }
    }
    t.notes = ddl->log;
    plan.tables.push_back(std::move(t));
  };
  for (const PlannedObject& o : objects) {
    if (o.kind == ObjectKind::kTable && Chosen(o)) plan_table(o, false);
  }
  for (const PlannedObject& o : objects) {
    if (o.kind != ObjectKind::kView || !Chosen(o) || sizes_only) continue;
    PlannedView v;
    v.name = o.source_name;
    v.access_name = o.access_name;
    auto sql = ConvertViewDdl(source, database, o.source_name);
    v.query = sql.ok();
    if (!sql.ok()) {
      v.reason = sql.status().message();
      const bool expressible_never = sql.status().code() == StatusCode::kInvalidArgument;
      if (expressible_never && settings_.materialize_views) {
        auto text = ViewAsCreateTable(source, database, o.source_name);
        if (text.ok()) {
          v.reason += "; it becomes a table of its rows (--materialize-views)";
          state.create_texts[o.source_name] = *text;
          plan_table(o, true);
        } else {
          v.reason += "; it cannot become a table of its rows either: " + text.status().message();
        }
      } else if (expressible_never) {
        v.reason += "; with --materialize-views it would become a table of its rows";
      }
    }
    plan.estimated_seconds += 0.02;
    plan.views.push_back(std::move(v));
  }
  plan.renames = state.names.RenameLines();
  return plan;
}

Result<CopyRowsOptions> MigrationPipeline::VerifyReadOptions(Session* source,
                                                             const std::string& database,
                                                             const std::string& name) {
  DatabaseState& state = State(source, database);
  if (state.views.count(name) && !state.create_texts.count(name)) {
    VELQUIN_ASSIGN_OR_RETURN(std::string text, ViewAsCreateTable(source, database, name));
    state.create_texts[name] = text;
  }
  // The columns' types and transforms do not depend on whether a NOT NULL
  // date column holds zero dates (only its nullability does, which the
  // comparison does not use; the row copy makes a zero date NULL either
  // way): no scan of the table for them, as a migration's own plan.
  const bool from_copy = zero_dates_from_copy_;
  zero_dates_from_copy_ = true;
  auto planned = PlanTable(source, database, name);
  zero_dates_from_copy_ = from_copy;
  if (!planned.ok()) return planned.status();
  CopyRowsOptions how;
  how.database = database;
  how.table = name;
  how.access_table = state.names.Object(name);
  how.columns = planned->columns;
  for (const auto& c : planned->columns) how.access_columns.push_back(c.name);
  how.zero_dates = settings_.zero_dates;
  how.stop_requested = settings_.stop_requested;
  if (!settings_.condition_file.empty()) {
    VELQUIN_ASSIGN_OR_RETURN(how.condition,
                             ConditionFile(settings_.condition_file).Read(database, name));
  }
  return how;
}

TableVerification MigrationPipeline::VerifyTable(Session* source, jet::Database& target,
                                                 const std::string& database,
                                                 const std::string& name,
                                                 quick_check::SumsAhead* ahead) {
  auto how = VerifyReadOptions(source, database, name);
  if (!how.ok()) {
    TableVerification failed;
    failed.status = how.status();
    return failed;
  }
  return VerifyTableRows(source, target, *how, ahead);
}

std::string MigrationPipeline::VerifySumsQuery(Session* source, jet::Database& target,
                                               const std::string& database, const std::string& name,
                                               bool as_view) {
  const std::string access_name = State(source, database).names.Object(name);
  if (as_view && !target.GetTable(access_name).ok()) {
    return quick_check::ViewSumsQuery(source, database, name);
  }
  auto how = VerifyReadOptions(source, database, name);
  // Without them VerifyTable fails the same way and says why.
  return how.ok() ? quick_check::TableSumsQuery(*how) : "";
}

Result<std::vector<MigrationPipeline::PlannedObject>> MigrationPipeline::PlannedObjects(
    Session* source, const std::string& database) {
  VELQUIN_ASSIGN_OR_RETURN(auto objects, ListObjects(source, database, nullptr));
  DatabaseState& state = State(source, database);
  std::vector<PlannedObject> out;
  out.reserve(objects.size());
  for (const auto& [name, type] : objects) {
    out.push_back(
        {type == "VIEW" ? ObjectKind::kView : ObjectKind::kTable, name, state.names.Object(name)});
  }
  return out;
}

bool MigrationPipeline::Chosen(const PlannedObject& o) const {
  if (o.kind == ObjectKind::kView) {
    return !settings_.no_views &&
           (settings_.only_views.empty() || settings_.only_views.count(o.source_name));
  }
  return settings_.only_tables.empty() || settings_.only_tables.count(o.source_name);
}

Result<std::vector<std::string>> MigrationPipeline::PlannedNames(Session* source,
                                                                 const std::string& database) {
  VELQUIN_ASSIGN_OR_RETURN(std::vector<PlannedObject> objects, PlannedObjects(source, database));
  std::vector<std::string> out;
  for (const PlannedObject& o : objects) {
    if (Chosen(o)) out.push_back(o.access_name);
  }
  return out;
}

TableVerification MigrationPipeline::VerifyView(Session* source, jet::Database& target,
                                                const std::string& database,
                                                const std::string& name,
                                                quick_check::SumsAhead* ahead) {
  const std::string access_name = State(source, database).names.Object(name);
  if (target.GetTable(access_name).ok()) return VerifyTable(source, target, database, name, ahead);
  const std::vector<std::string> queries = target.ListQueries();
  if (std::find(queries.begin(), queries.end(), access_name) == queries.end()) {
    TableVerification absent;
    absent.status = Status::NotSupported("the file holds no query `" + access_name + "`");
    return absent;
  }
  return VerifyQueryRows(source, target, database, name, access_name, ahead);
}

}  // namespace velquin
