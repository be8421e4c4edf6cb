// Statement dispatch and the statements that define and change data:
// CREATE/DROP TABLE, ALTER TABLE, CREATE/DROP INDEX, INSERT, CREATE/DROP
// VIEW and DELETE. SELECT is in select.cc.
#include "jet/sql/executor.h"

#include "jet/sql/default_value.h"
#include "jet/sql/executor_internal.h"
#include "jet/sql/names.h"
#include "jet/sql/parser.h"
#include "jet/sql/saved_query.h"
#include "jet/sql/value_ops.h"

namespace velquin::jet::sql {
namespace {

// Access's message for a failure the engine reports in its own words.
Status TranslateEngineError(const Status& s, std::string_view table) {
  if (s.ok()) return s;
  const std::string& m = s.message();
  if (m.find("duplicate value in unique index") != std::string::npos)
    return Fail(DuplicateValuesMessage());
  if (m.find("cannot be NULL") != std::string::npos) {
    // column "c" of table "t" cannot be NULL
    auto q1 = m.find('"'), q2 = m.find('"', q1 + 1);
    std::string col =
        q1 != std::string::npos && q2 != std::string::npos ? m.substr(q1 + 1, q2 - q1 - 1) : "";
    return Fail("The field '" + std::string(table) + "." + col +
                "' cannot contain a Null value because the Required property for this field is set "
                "to True.  Enter a value in this field.");
  }
  return s;
}

Database::RelationshipSpec RelationshipOf(const std::string& table, const ConstraintDef& k) {
  Database::RelationshipSpec r;
  r.name = k.name;
  r.table = table;
  r.columns = k.columns;
  r.referenced_table = k.ref_table;
  r.referenced_columns = k.ref_columns;
  r.cascade_update = k.on_update == ReferentialAction::kCascade;
  r.cascade_delete = k.on_delete == ReferentialAction::kCascade;
  r.cascade_set_null = k.on_delete == ReferentialAction::kSetNull;
  return r;
}

}  // namespace

std::string TableExistsMessage(std::string_view table) {
  return "Table '" + std::string(table) + "' already exists.";
}

std::string NoSuchInputMessage(std::string_view name) {
  return "The Microsoft Jet database engine cannot find the input table or query '" +
         std::string(name) + "'.  Make sure it exists and that its name is spelled correctly.";
}

std::string DuplicateValuesMessage() {
  return "The changes you requested to the table were not successful because they would create "
         "duplicate values in the index, primary key, or relationship.  Change the data in the "
         "field or fields that contain duplicate data, remove the index, or redefine the index to "
         "permit duplicate entries and try again.";
}

Result<const TableInfo*> Executor::Table(std::string_view name) {
  std::string key = LowerAscii(name);
  auto it = tables_.find(key);
  if (it != tables_.end()) return &it->second;
  auto info = db_->GetTable(name);
  if (!info.ok()) {
    if (info.status().code() == StatusCode::kNotFound) return Fail(NoSuchInputMessage(name));
    return info.status();
  }
  return &(tables_[key] = std::move(*info));
}

Result<ExecResult> Executor::Execute(std::string_view sql) {
  VELQUIN_ASSIGN_OR_RETURN(Statement st, ParseStatement(sql));
  return Run(st);
}

Result<ExecResult> Executor::Run(const Statement& statement) {
  if (!std::holds_alternative<Insert>(statement) && !std::holds_alternative<Select>(statement)) {
    tables_.clear();
  }
  return std::visit(
      [&](const auto& st) -> Result<ExecResult> {
        using T = std::decay_t<decltype(st)>;
        if constexpr (std::is_same_v<T, CreateTable>) return RunCreateTable(st);
        if constexpr (std::is_same_v<T, AlterTableAddConstraint>) return RunAlter(st);
        if constexpr (std::is_same_v<T, AlterTableDropConstraint>) return RunDropConstraint(st);
        if constexpr (std::is_same_v<T, CreateIndex>) return RunCreateIndex(st);
        if constexpr (std::is_same_v<T, DropIndex>) return RunDropIndex(st);
        if constexpr (std::is_same_v<T, DropTable>) return RunDropTable(st);
        if constexpr (std::is_same_v<T, DropView>) return RunDropView(st);
        if constexpr (std::is_same_v<T, Insert>) return RunInsert(st);
        if constexpr (std::is_same_v<T, CreateView>) return RunCreateView(st);
        if constexpr (std::is_same_v<T, Select>) return RunSelect(st);
        if constexpr (std::is_same_v<T, Delete>) return RunDelete(st);
      },
      statement);
}

Result<ExecResult> Executor::RunCreateTable(const CreateTable& st) {
  if (db_->NameInUse(st.table)) return Fail(TableExistsMessage(st.table));
  TableSpec spec;
  spec.name = st.table;
  for (const ColumnDef& c : st.columns) {
    ColumnSpec cs;
    cs.name = c.name;
    cs.type = static_cast<ColumnType>(static_cast<std::uint8_t>(c.type.type));
    cs.size = static_cast<std::uint16_t>(c.type.size);
    if (c.type.type == DataType::kText && cs.size == 0) cs.size = 255;
    if (c.type.type == DataType::kBinary && cs.size == 0) cs.size = 255;
    if (c.type.type == DataType::kDecimal) {
      cs.precision = static_cast<std::uint8_t>(c.type.precision ? c.type.precision : 18);
      cs.scale = static_cast<std::uint8_t>(c.type.scale);
    }
    cs.auto_increment = c.type.auto_increment;
    cs.not_null = c.not_null;
    if (c.default_value) cs.default_value = DefaultValueText(*c.default_value);
    spec.columns.push_back(cs);
  }
  auto column_number = [&](const std::string& name) -> Result<std::uint16_t> {
    for (std::size_t i = 0; i < spec.columns.size(); ++i) {
      if (SameName(spec.columns[i].name, name)) return static_cast<std::uint16_t>(i);
    }
    return Fail("Column '" + name + "' in the index is not a field of table '" + st.table + "'.");
  };
  int unnamed = 0;
  for (const ConstraintDef& k : st.constraints) {
    if (k.kind == ConstraintKind::kForeignKey) continue;  // after the table exists
    IndexSpec is;
    is.name = !k.name.empty()                         ? k.name
              : k.kind == ConstraintKind::kPrimaryKey ? "PrimaryKey"
                                                      : "Index" + std::to_string(++unnamed);
    for (const std::string& col : k.columns) {
      VELQUIN_ASSIGN_OR_RETURN(std::uint16_t n, column_number(col));
      is.columns.push_back({n, true});
      if (k.kind == ConstraintKind::kPrimaryKey) spec.columns[n].not_null = true;
    }
    is.primary_key = k.kind == ConstraintKind::kPrimaryKey;
    is.unique = true;
    spec.indexes.push_back(is);
  }
  Status s = db_->CreateTable(spec);
  if (!s.ok()) return s;
  for (const ConstraintDef& k : st.constraints) {
    if (k.kind != ConstraintKind::kForeignKey) continue;
    if (!db_->NameInUse(k.ref_table)) {
      (void)db_->DropTable(st.table);  // nothing half-made stays behind
      return Fail(NoSuchInputMessage(k.ref_table));
    }
    Status r = db_->CreateRelationship(RelationshipOf(st.table, k));
    if (!r.ok()) {
      (void)db_->DropTable(st.table);  // nothing half-made stays behind
      return r;
    }
  }
  return ExecResult{};
}

Status Executor::AddIndex(const std::string& table, const std::string& name,
                          const std::vector<std::string>& columns,
                          const std::vector<bool>& descending, bool primary, bool unique,
                          bool required, bool ignore_nulls) {
  VELQUIN_ASSIGN_OR_RETURN(const TableInfo* info, Table(table));
  IndexSpec is;
  is.name = name;
  for (std::size_t k = 0; k < columns.size(); ++k) {
    bool found = false;
    for (std::size_t i = 0; i < info->columns.size(); ++i) {
      if (SameName(info->columns[i].name, columns[k])) {
        if (info->columns[i].type == ColumnType::kOle ||
            info->columns[i].type == ColumnType::kMemo) {
          return Fail("Cannot index the field '" + info->columns[i].name +
                      "' because of its data type (Memo or OLE Object).");
        }
        is.columns.push_back(
            {static_cast<std::uint16_t>(i), !(k < descending.size() && descending[k])});
        found = true;
      }
    }
    if (!found) {
      return Fail("Column '" + columns[k] + "' in the index is not a field of table '" +
                  info->name + "'.");
    }
  }
  for (const IndexInfo& ix : info->indexes) {
    if (SameName(ix.name, name)) return Fail("Index '" + name + "' already exists.");
    if (primary && ix.primary_key) return Fail("Primary key already exists.");
  }
  is.primary_key = primary;
  is.unique = unique || primary;
  is.required = required;
  is.ignore_nulls = ignore_nulls;
  const std::string table_name = info->name;
  tables_.clear();
  return TranslateEngineError(db_->CreateIndex(table_name, is), table_name);
}

Result<ExecResult> Executor::RunAlter(const AlterTableAddConstraint& st) {
  const ConstraintDef& k = st.constraint;
  VELQUIN_ASSIGN_OR_RETURN(const TableInfo* info, Table(st.table));
  if (k.kind == ConstraintKind::kForeignKey) {
    const std::string table = info->name;
    if (!db_->NameInUse(k.ref_table)) return Fail(NoSuchInputMessage(k.ref_table));
    tables_.clear();
    VELQUIN_RETURN_IF_ERROR(db_->CreateRelationship(RelationshipOf(table, k)));
    return ExecResult{};
  }
  std::string name = k.name;
  if (name.empty()) {
    name = k.kind == ConstraintKind::kPrimaryKey ? "PrimaryKey" : "Index";
    if (k.kind != ConstraintKind::kPrimaryKey) {
      for (const auto& c : k.columns) name += "_" + c;
    }
  }
  std::string table = info->name;
  VELQUIN_RETURN_IF_ERROR(AddIndex(table, name, k.columns, {},
                                   k.kind == ConstraintKind::kPrimaryKey, true, false, false));
  return ExecResult{};
}

// A relationship goes with its catalogue row, its MSysRelationships rows and
// the indexes it added on both sides; a constraint that is an index goes as
// DROP INDEX would take it.
Result<ExecResult> Executor::RunDropConstraint(const AlterTableDropConstraint& st) {
  VELQUIN_ASSIGN_OR_RETURN(const TableInfo* info, Table(st.table));
  const std::string table = info->name;
  tables_.clear();
  Status s = db_->DropRelationship(table, st.name);
  if (s.code() == StatusCode::kNotFound) {
    auto index = db_->DropIndex(table, st.name);
    if (index.code() == StatusCode::kNotFound) {
      return Fail("Constraint '" + st.name + "' does not exist.");
    }
    VELQUIN_RETURN_IF_ERROR(index);
    return ExecResult{};
  }
  VELQUIN_RETURN_IF_ERROR(s);
  return ExecResult{};
}

Result<ExecResult> Executor::RunCreateIndex(const CreateIndex& st) {
  std::vector<std::string> cols;
  std::vector<bool> desc;
  for (const auto& c : st.columns) {
    cols.push_back(c.name);
    desc.push_back(c.descending);
  }
  VELQUIN_RETURN_IF_ERROR(AddIndex(st.table, st.name, cols, desc, st.primary, st.unique,
                                   st.disallow_null, st.ignore_null));
  return ExecResult{};
}

Result<ExecResult> Executor::RunDropIndex(const DropIndex& st) {
  VELQUIN_ASSIGN_OR_RETURN(const TableInfo* info, Table(st.table));
  bool found = false;
  for (const IndexInfo& ix : info->indexes) found = found || SameName(ix.name, st.name);
  if (!found) return Fail("'" + st.name + "' isn't an index in this table.");
  std::string table = info->name;
  tables_.clear();
  VELQUIN_RETURN_IF_ERROR(db_->DropIndex(table, st.name));
  return ExecResult{};
}

Result<ExecResult> Executor::RunDropTable(const DropTable& st) {
  auto info = db_->GetTable(st.table);
  if (!info.ok()) {
    if (db_->IsQuery(st.table)) return Fail("Table '" + st.table + "' does not exist.");
    return Fail("Table '" + st.table + "' does not exist.");
  }
  if (info->system)
    return Fail("Could not delete; system table '" + info->name + "' cannot be dropped.");
  for (const IndexInfo& ix : info->indexes) {
    if (ix.foreign_key) {
      return Fail(
          "Cannot delete this index or table.  It is either the current index or it is "
          "used in a relationship.");
    }
  }
  VELQUIN_RETURN_IF_ERROR(db_->DropTable(info->name));
  return ExecResult{};
}

Result<ExecResult> Executor::RunDropView(const DropView& st) {
  if (!db_->IsQuery(st.view)) return Fail("Query '" + st.view + "' does not exist.");
  VELQUIN_RETURN_IF_ERROR(db_->DropQuery(st.view));
  return ExecResult{};
}

Status Executor::InsertRow(std::string_view table, const std::vector<Value>& row) {
  VELQUIN_ASSIGN_OR_RETURN(const TableInfo* info, Table(table));
  if (row.size() != info->columns.size()) {
    return Fail("Number of query values and destination fields are not the same.");
  }
  return TranslateEngineError(db_->Insert(info->name, row), info->name);
}

Result<ExecResult> Executor::RunInsert(const Insert& st) {
  VELQUIN_ASSIGN_OR_RETURN(const TableInfo* info, Table(st.table));
  const std::size_t n = info->columns.size();
  std::vector<Value> row(n);
  std::vector<bool> given(n, false);
  if (st.columns.empty()) {
    if (st.values.size() != n)
      return Fail("Number of query values and destination fields are not the same.");
    for (std::size_t i = 0; i < n; ++i) {
      VELQUIN_ASSIGN_OR_RETURN(row[i], ConvertLiteral(st.values[i], info->columns[i]));
    }
  } else {
    if (st.values.size() != st.columns.size()) {
      return Fail("Number of query values and destination fields are not the same.");
    }
    for (std::size_t k = 0; k < st.columns.size(); ++k) {
      std::size_t i = 0;
      while (i < n && !SameName(info->columns[i].name, st.columns[k])) ++i;
      if (i == n) {
        return Fail(
            "The INSERT INTO statement contains the following unknown field name: '" +
            st.columns[k] +
            "'.  Make sure you have typed the name correctly, and try the operation again.");
      }
      if (given[i]) return Fail("Duplicate output destination '" + info->columns[i].name + "'.");
      given[i] = true;
      VELQUIN_ASSIGN_OR_RETURN(row[i], ConvertLiteral(st.values[k], info->columns[i]));
    }
    // Columns the statement leaves out get their default, as in Access.
    const DateTimeValue now = LocalNow();
    for (std::size_t i = 0; i < n; ++i) {
      if (given[i] || info->columns[i].default_value.empty()) continue;
      VELQUIN_ASSIGN_OR_RETURN(row[i], EvaluateDefault(info->columns[i], info->name, now));
    }
  }
  VELQUIN_RETURN_IF_ERROR(TranslateEngineError(db_->Insert(info->name, row), info->name));
  ExecResult r;
  r.rows_affected = 1;
  return r;
}

Result<ExecResult> Executor::RunCreateView(const CreateView& st) {
  if (db_->NameInUse(st.view)) return Fail(TableExistsMessage(st.view));
  std::vector<const Select*> parts = {&st.select};
  for (const UnionPart& u : st.select.unions) parts.push_back(&u.select);
  for (const Select* part : parts) {
    for (const FromItem& f : part->from) {
      if (!f.is_join && f.subquery.empty() && !db_->NameInUse(f.table)) {
        return Fail(NoSuchInputMessage(f.table));
      }
    }
  }
  VELQUIN_ASSIGN_OR_RETURN(std::vector<QueryRow> rows, ViewToQueryRows(st));
  // MSysQueries: ObjectId, Attribute, Order, Name1, Name2, Expression, Flag, LvExtra.
  std::vector<std::vector<Value>> stored;
  std::map<int, std::uint32_t> order;
  for (const QueryRow& q : rows) {
    std::vector<Value> v(8);
    v[1] = Value::Byte(static_cast<std::uint8_t>(q.attribute));
    std::uint32_t seq = ++order[static_cast<int>(q.attribute)];
    v[2] =
        Value::Binary({static_cast<std::uint8_t>(seq >> 24), static_cast<std::uint8_t>(seq >> 16),
                       static_cast<std::uint8_t>(seq >> 8), static_cast<std::uint8_t>(seq)});
    if (q.name1) v[3] = Value::Text(*q.name1);
    if (q.name2) v[4] = Value::Text(*q.name2);
    if (q.expression) v[5] = Value::Text(*q.expression);
    if (q.flag) v[6] = Value::Short(*q.flag);
    stored.push_back(std::move(v));
  }
  VELQUIN_RETURN_IF_ERROR(db_->CreateQuery(st.view, std::move(stored), QueryObjectFlags(rows)));
  return ExecResult{};
}

Result<ExecResult> Executor::RunDelete(const Delete& st) {
  auto info = db_->GetTable(st.table);
  if (!info.ok()) {
    if (db_->IsQuery(st.table)) return Fail("Could not delete from specified tables.");
    return Fail(NoSuchInputMessage(st.table));
  }
  if (info->system) return Fail("Could not delete from specified tables.");
  Binding b;
  Source s;
  s.table = info->name;
  s.alias = info->name;
  s.info = std::move(*info);
  b.width = s.info.columns.size();
  b.sources.push_back(std::move(s));
  RowFilter match = [&](const std::vector<Value>& row) -> Result<bool> {
    if (!st.where) return true;
    VELQUIN_ASSIGN_OR_RETURN(Value w, Eval(*st.where, b, row));
    auto t = AsTruth(w);
    return t && *t;
  };
  VELQUIN_ASSIGN_OR_RETURN(std::uint64_t n, db_->Delete(b.sources[0].table, match));
  ExecResult r;
  r.rows_affected = n;
  return r;
}

// SELECT ... INTO: a new table of the query's columns, filled with its rows.
Result<ExecResult> Executor::RunSelectInto(const Select& st, ExecResult result) {
  if (db_->NameInUse(st.into)) return Fail(TableExistsMessage(st.into));
  TableSpec spec;
  spec.name = st.into;
  for (const ResultColumn& c : result.columns) {
    for (const ColumnSpec& have : spec.columns) {
      if (SameName(have.name, c.name))
        return Fail("Duplicate output destination '" + c.name + "'.");
    }
    ColumnSpec cs;
    cs.name = c.name;
    cs.type = c.type;
    cs.size = c.size;
    spec.columns.push_back(cs);
  }
  // Decimal columns keep their precision and scale.
  for (const FromItem& f : st.from) {
    auto info = db_->GetTable(f.table);
    if (!info.ok()) continue;
    for (ColumnSpec& cs : spec.columns) {
      for (const auto& c : info->columns) {
        if (SameName(c.name, cs.name) && c.type == ColumnType::kNumeric &&
            cs.type == ColumnType::kNumeric) {
          cs.precision = c.precision;
          cs.scale = c.scale;
        }
      }
    }
  }
  VELQUIN_RETURN_IF_ERROR(db_->CreateTable(spec));
  Status s = [&]() -> Status {
    VELQUIN_ASSIGN_OR_RETURN(auto w, db_->BulkAppend(st.into));
    for (const auto& row : result.rows) VELQUIN_RETURN_IF_ERROR(w->Append(row));
    return w->Finish();
  }();
  if (!s.ok()) {
    // The half-made table goes; the load's failure is the one to report.
    (void)db_->DropTable(st.into);
    return s;
  }
  ExecResult r;
  r.rows_affected = result.rows.size();
  return r;
}

}  // namespace velquin::jet::sql
