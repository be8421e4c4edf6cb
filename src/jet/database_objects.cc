// Indexes added to or removed from tables that hold rows, and saved queries
// (views) in the catalogue. Rules [CAT-10] (saved queries) and [CAT-11]
// (index changes by table rebuild) in docs/jet4-format.md.
#include <algorithm>

#include "jet/catalog/system_tables.h"
#include "jet/database.h"
#include "jet/table/table.h"

namespace velquin::jet {
namespace {

bool SameName(std::string_view a, std::string_view b) { return CompareNames(a, b) == 0; }

}  // namespace

const Database::Object* Database::FindObject(std::string_view name, std::int16_t type) const {
  const Object* o = FindInTables(name);
  return o && o->type == type ? o : nullptr;
}

bool Database::NameInUse(std::string_view name) const { return FindInTables(name) != nullptr; }

bool Database::IsQuery(std::string_view name) const {
  return FindObject(name, kObjectTypeQuery) != nullptr;
}

std::vector<std::string> Database::ListQueries() const {
  std::vector<std::string> out;
  for (const auto& o : objects_) {
    if (o.parent_id == kTablesContainerId && o.type == kObjectTypeQuery) out.push_back(o.name);
  }
  return out;
}

Result<TableSpec> Database::TableSpecOf(std::string_view table) {
  const Object* o = FindTable(table);
  if (!o) return Status::NotFound("no table \"" + std::string(table) + "\"");
  PageNumber page = static_cast<PageNumber>(o->id);
  VELQUIN_ASSIGN_OR_RETURN(TableDef def, ReadTableDef(*pages_, page));
  TableSpec spec;
  spec.name = o->name;
  VELQUIN_ASSIGN_OR_RETURN(TableInfo info, Describe(*o));
  std::vector<bool> nn;
  for (const auto& c : info.columns) nn.push_back(c.not_null);
  for (std::size_t i = 0; i < def.columns.size(); ++i) {
    const Column& c = def.columns[i];
    ColumnSpec cs;
    cs.name = c.name;
    cs.type = c.type;
    if (c.type == ColumnType::kText) cs.size = static_cast<std::uint16_t>(c.length / 2);
    if (c.type == ColumnType::kBinary) cs.size = c.length;
    if (c.type == ColumnType::kNumeric) {
      cs.precision = c.precision();
      cs.scale = c.scale();
    }
    cs.auto_increment = (c.flags & kColumnAutoNumber) != 0 && c.type == ColumnType::kLong;
    cs.compressed_unicode = c.compressed();
    cs.not_null = i < nn.size() && nn[i];
    spec.columns.push_back(cs);
  }
  for (const LogicalIndex& li : def.logical_indexes) {
    if (li.index_type == 2 || li.real_index >= def.real_indexes.size()) continue;
    const RealIndex& ri = def.real_indexes[li.real_index];
    IndexSpec is;
    is.name = li.name;
    for (const IndexColumn& ic : ri.columns) {
      // Column numbers become positions in the list.
      for (std::size_t k = 0; k < def.columns.size(); ++k) {
        if (def.columns[k].number == ic.column_number) {
          is.columns.push_back({static_cast<std::uint16_t>(k), ic.ascending});
        }
      }
    }
    is.primary_key = li.index_type == 1;
    is.unique = (ri.flags & 0x01) != 0;
    is.ignore_nulls = (ri.flags & 0x02) != 0;
    is.required = (ri.flags & 0x08) != 0 && !is.primary_key;
    spec.indexes.push_back(is);
  }
  return spec;
}

Status Database::RebuildTable(const std::string& table, TableSpec spec) {
  const Object* o = FindTable(table);
  if (!o) return Status::NotFound("no table \"" + table + "\"");
  const std::string name = o->name;
  const PageNumber old_page = static_cast<PageNumber>(o->id);
  VELQUIN_ASSIGN_OR_RETURN(TableDef old_def, ReadTableDef(*pages_, old_page));
  // [CAT-11] The new table is built under a temporary name, filled with the
  // rows in their order and only then put in the old one's place: a refused
  // row (a duplicate key) drops the copy and leaves the table untouched.
  std::string temp = "~TMPIDX" + std::to_string(old_page);
  for (int k = 0; NameInUse(temp); ++k)
    temp = "~TMPIDX" + std::to_string(old_page) + "_" + std::to_string(k);
  spec.name = temp;
  VELQUIN_RETURN_IF_ERROR(CreateTable(spec));
  const Object* t = FindTable(temp);
  if (!t) return Status::NotFound("the rebuilt table vanished");
  const PageNumber new_page = static_cast<PageNumber>(t->id);
  Status copy = [&]() -> Status {
    VELQUIN_ASSIGN_OR_RETURN(auto w, TableWriter::Open(*pages_, new_page));
    TableCursor cur(*pages_, old_def);
    VELQUIN_RETURN_IF_ERROR(cur.Open());
    std::vector<Value> row;
    for (;;) {
      VELQUIN_ASSIGN_OR_RETURN(bool more, cur.Next(&row));
      if (!more) break;
      VELQUIN_RETURN_IF_ERROR(w->Append(row));
    }
    VELQUIN_RETURN_IF_ERROR(w->Commit());
    VELQUIN_ASSIGN_OR_RETURN(TableDef def, ReadTableDef(*pages_, new_page));
    def.last_autonumber = std::max(def.last_autonumber, old_def.last_autonumber);
    return WriteTableDef(*pages_, def);
  }();
  if (!copy.ok()) {
    (void)DropTable(temp);
    return copy;
  }
  VELQUIN_RETURN_IF_ERROR(DropTable(name));
  return RenameTable(temp, name);
}

Status Database::CreateIndex(std::string_view table, const IndexSpec& index) {
  if (read_only()) return Status::InvalidArgument("the database is open read-only");
  VELQUIN_ASSIGN_OR_RETURN(TableSpec spec, TableSpecOf(table));
  for (const IndexSpec& is : spec.indexes) {
    if (SameName(is.name, index.name)) {
      return Status::InvalidArgument("index \"" + index.name + "\" already exists");
    }
    if (is.primary_key && index.primary_key) {
      return Status::InvalidArgument("table \"" + spec.name + "\" already has a primary key");
    }
  }
  IndexSpec add = index;
  if (add.primary_key) add.unique = true;
  spec.indexes.push_back(add);
  std::string name = spec.name;
  return RebuildTable(name, std::move(spec));
}

Status Database::DropIndex(std::string_view table, std::string_view index) {
  if (read_only()) return Status::InvalidArgument("the database is open read-only");
  VELQUIN_ASSIGN_OR_RETURN(TableSpec spec, TableSpecOf(table));
  auto it = std::find_if(spec.indexes.begin(), spec.indexes.end(),
                         [&](const IndexSpec& is) { return SameName(is.name, index); });
  if (it == spec.indexes.end()) {
    return Status::NotFound("no index \"" + std::string(index) + "\" on table \"" + spec.name +
                            "\"");
  }
  spec.indexes.erase(it);
  std::string name = spec.name;
  return RebuildTable(name, std::move(spec));
}

Status Database::CreateQuery(std::string_view name, std::vector<std::vector<Value>> rows) {
  if (read_only()) return Status::InvalidArgument("the database is open read-only");
  if (NameInUse(name)) {
    return Status::InvalidArgument("an object named \"" + std::string(name) + "\" already exists");
  }
  TableSpec check;
  check.name = std::string(name);
  check.columns.push_back(ColumnSpec{.name = "x"});
  VELQUIN_RETURN_IF_ERROR(ValidateTableSpec(check));
  const Object* q = FindTable("MSysQueries");
  if (!q) return Status::NotSupported("the database has no MSysQueries table");
  const PageNumber qpage = static_cast<PageNumber>(q->id);
  // [CAT-10] Query Ids are synthetic and negative, below every Id in use, so
  // they never meet a table's Id (its definition page).
  std::int32_t id = -1;
  for (const auto& o : objects_) id = std::min(id, o.id - 1);
  // [SAFE-1] The query's rows first, its catalogue row last: until that row
  // exists, the rows belong to no object.
  {
    VELQUIN_ASSIGN_OR_RETURN(auto w, TableWriter::Open(*pages_, qpage));
    for (auto& r : rows) {
      if (r.size() != w->def().columns.size()) {
        return Status::InvalidArgument("an MSysQueries row has the wrong number of values");
      }
      r[0] = Value::Long(id);
      VELQUIN_RETURN_IF_ERROR(w->Append(r));
    }
    VELQUIN_RETURN_IF_ERROR(w->Commit());
  }
  VELQUIN_RETURN_IF_ERROR(RebuildCatalogIndexes(qpage));
  VELQUIN_RETURN_IF_ERROR(AddObjectRow(id, kTablesContainerId, std::string(name), kObjectTypeQuery,
                                       0, kAdminOwner, {}));
  VELQUIN_RETURN_IF_ERROR(AddAceRows(id));
  VELQUIN_RETURN_IF_ERROR(LoadCatalog());
  return Flush();
}

Result<std::vector<std::vector<Value>>> Database::QueryRows(std::string_view name) {
  const Object* o = FindObject(name, kObjectTypeQuery);
  if (!o) return Status::NotFound("no query \"" + std::string(name) + "\"");
  const std::int32_t id = o->id;
  VELQUIN_ASSIGN_OR_RETURN(auto cur, Scan("MSysQueries"));
  std::vector<std::vector<Value>> out;
  std::vector<Value> row;
  for (;;) {
    VELQUIN_ASSIGN_OR_RETURN(bool more, cur->Next(&row));
    if (!more) break;
    std::int64_t oid;
    if (!row.empty() && row[0].AsInt64(&oid) && oid == id) out.push_back(row);
  }
  return out;
}

Status Database::DropQuery(std::string_view name) {
  if (read_only()) return Status::InvalidArgument("the database is open read-only");
  const Object* o = FindObject(name, kObjectTypeQuery);
  if (!o) return Status::NotFound("no query \"" + std::string(name) + "\"");
  Object obj = *o;
  // [SAFE-2] The catalogue row first: the query is gone for every reader;
  // its rows and ACEs follow.
  VELQUIN_RETURN_IF_ERROR(DeleteRows(kMSysObjectsPage, {obj.where}));
  for (const char* table : {"MSysQueries", "MSysACEs"}) {
    const Object* t = FindTable(table);
    if (!t) continue;
    PageNumber page = static_cast<PageNumber>(t->id);
    VELQUIN_ASSIGN_OR_RETURN(TableDef def, ReadTableDef(*pages_, page));
    TableCursor cur(*pages_, def);
    VELQUIN_RETURN_IF_ERROR(cur.Open());
    std::vector<Value> row;
    std::vector<RowPointer> doomed;
    for (;;) {
      VELQUIN_ASSIGN_OR_RETURN(bool more, cur.Next(&row));
      if (!more) break;
      std::int64_t oid;
      if (!row.empty() && row[0].AsInt64(&oid) && oid == obj.id) doomed.push_back(cur.position());
    }
    VELQUIN_RETURN_IF_ERROR(DeleteRows(page, doomed));
  }
  VELQUIN_RETURN_IF_ERROR(LoadCatalog());
  return Flush();
}

}  // namespace velquin::jet
