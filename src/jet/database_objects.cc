// Indexes added to or removed from tables that hold rows, and saved queries
// (views) in the catalogue. Rules [CAT-10] (saved queries) and [CAT-11]
// (index changes by table rebuild) in docs/jet4-format.md.
#include <algorithm>
#include <limits>
#include <map>
#include <set>

#include "jet/catalog/system_tables.h"
#include "jet/database.h"
#include "jet/format/data_page.h"
#include "jet/index/index_tree.h"
#include "jet/table/row_codec.h"
#include "jet/table/table.h"
#include "jet/table/table_indexes.h"

namespace velquin::jet {
namespace {

bool SameName(std::string_view a, std::string_view b) { return CompareNames(a, b) == 0; }

// The key a row of `def` gives for the columns of `ri`, encoded with the
// directions of `directions` (the referenced side's index), so that it can be
// looked up there. False in *complete when a key column is NULL.
Result<std::vector<std::uint8_t>> ReferenceKey(PageStore& store, const TableDef& def,
                                               const RealIndex& ri, const RealIndex& directions,
                                               const std::vector<Cell>& cells, PageNumber page,
                                               bool* complete) {
  RealIndex k = ri;
  for (std::size_t i = 0; i < k.columns.size() && i < directions.columns.size(); ++i) {
    k.columns[i].ascending = directions.columns[i].ascending;
  }
  *complete = true;
  for (const IndexColumn& ic : k.columns) {
    for (std::size_t i = 0; i < def.columns.size(); ++i) {
      if (def.columns[i].number == ic.column_number && def.columns[i].type != ColumnType::kBool &&
          !cells[i].present) {
        *complete = false;
      }
    }
  }
  return IndexKeyForRow(store, def, k, cells, page);
}

// Rows of a child table that have no related row, found by walking the
// child's keys (sorted, encoded with the directions of the referenced index)
// together with the referenced unique index, both in key order: one pass
// over each instead of a tree lookup per row.
bool RowBefore(const RowId& a, const RowId& b) {
  return a.page != b.page ? a.page < b.page : a.row < b.row;
}

struct Orphans {
  std::uint64_t count = 0;
  std::vector<RowId> first;  // the first few, in key order
};

Result<Orphans> FindOrphans(PageStore& store, PageNumber parent_tdef, const RealIndex& key_index,
                            const IndexEntryCollector& child,
                            const std::vector<RowId>& rows_with_null) {
  IndexTreeOptions o;
  o.tdef_page = parent_tdef;
  o.unique = true;
  o.column_count = key_index.columns.size();
  IndexTree tree(store, key_index.root, o);
  VELQUIN_ASSIGN_OR_RETURN(IndexCursor parent, tree.Begin());
  Orphans out;
  for (std::size_t i = 0; i < child.size(); ++i) {
    std::span<const std::uint8_t> key = child.KeyAt(i);
    int c = -1;
    while (parent.Valid() && (c = CompareKeys(parent.entry().key, key)) < 0) {
      VELQUIN_RETURN_IF_ERROR(parent.Next());
    }
    if (parent.Valid() && c == 0) continue;
    const RowId row = child.RowAt(i);
    // A row with a NULL in its foreign key needs no related row.
    if (std::binary_search(rows_with_null.begin(), rows_with_null.end(), row, RowBefore)) continue;
    ++out.count;
    if (out.first.size() < 3) out.first.push_back(row);
  }
  return out;
}

// "col = value, col2 = value" for the columns `numbers` of the row at `where`.
Result<std::string> DescribeRow(PageStore& store, const TableDef& def,
                                const std::vector<IndexColumn>& numbers, RowId where) {
  Page p;
  VELQUIN_RETURN_IF_ERROR(store.ReadPage(where.page, p));
  DataPage dp(p, where.page);
  VELQUIN_ASSIGN_OR_RETURN(RowSlot s, dp.Slot(where.row));
  std::vector<Cell> cells;
  VELQUIN_RETURN_IF_ERROR(DecodeRow(def, dp.RowBytes(s), where.page, where.row, &cells));
  std::string out;
  for (const IndexColumn& ic : numbers) {
    for (std::size_t i = 0; i < def.columns.size(); ++i) {
      if (def.columns[i].number != ic.column_number) continue;
      VELQUIN_ASSIGN_OR_RETURN(Value v,
                               DecodeCellValue(store, def.columns[i], cells[i], where.page));
      if (!out.empty()) out += ", ";
      out += def.columns[i].name + " = " + v.ToString();
    }
  }
  return out;
}

const char kRelatedRecordRequired[] =
    "You cannot add or change a record because a related record is required in table '";

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
    // An AutoNumber column takes no default (a file may still carry one).
    if (i < info.columns.size() && !cs.auto_increment) {
      cs.default_value = info.columns[i].default_value;
    }
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

Status Database::CreateIndex(std::string_view table, const IndexSpec& index) {
  Statement statement(this);
  EndInsertWriter();
  if (read_only()) return Status::InvalidArgument("the database is open read-only");
  VELQUIN_ASSIGN_OR_RETURN(TableSpec spec, TableSpecOf(table));
  const Object* o = FindTable(table);
  if (!o) return Status::NotFound("no table \"" + std::string(table) + "\"");
  VELQUIN_ASSIGN_OR_RETURN(TableDef def, ReadTableDef(*pages_, static_cast<PageNumber>(o->id)));
  for (const LogicalIndex& li : def.logical_indexes) {
    if (SameName(li.name, index.name)) {
      return Status::InvalidArgument("index \"" + index.name + "\" already exists");
    }
    if (li.index_type == 1 && index.primary_key) {
      return Status::InvalidArgument("table \"" + spec.name + "\" already has a primary key");
    }
  }
  IndexSpec add = index;
  if (add.primary_key) add.unique = true;
  spec.indexes.push_back(add);
  VELQUIN_RETURN_IF_ERROR(ValidateIndexes(spec));
  if (def.real_indexes.size() >= 32 || def.logical_indexes.size() >= 32) {
    return Status::InvalidArgument("a table can have at most 32 indexes");
  }
  // The index is added to the table as it stands: its entries are gathered
  // (and a repeated key of a unique index refused) before anything is
  // written, then the tree is built in one pass.
  RealIndex shape;
  for (const IndexColumn& ic : add.columns) {
    shape.columns.push_back({def.columns[ic.column_number].number, ic.ascending});
  }
  shape.flags = static_cast<std::uint8_t>((add.unique ? 0x01 : 0) | (add.ignore_nulls ? 0x02 : 0) |
                                          (add.required || add.primary_key ? 0x08 : 0) | 0x80);
  VELQUIN_ASSIGN_OR_RETURN(auto entries, GatherIndexEntries(*pages_, def, shape, add.name));
  std::uint32_t real = 0;
  VELQUIN_RETURN_IF_ERROR(AppendRealIndex(&def, shape, &real));
  VELQUIN_RETURN_IF_ERROR(LoadIndex(*pages_, &def, real, *entries));
  LogicalIndex li;
  li.name = add.name;
  li.number = static_cast<std::uint32_t>(def.logical_indexes.size());
  li.real_index = real;
  li.index_type = add.primary_key ? 1 : 0;
  def.logical_indexes.push_back(li);
  VELQUIN_RETURN_IF_ERROR(WriteTableDef(*pages_, def));
  return Flush();
}

Status Database::DropIndex(std::string_view table, std::string_view index) {
  Statement statement(this);
  EndInsertWriter();
  if (read_only()) return Status::InvalidArgument("the database is open read-only");
  const Object* o = FindTable(table);
  if (!o) return Status::NotFound("no table \"" + std::string(table) + "\"");
  const PageNumber tdef = static_cast<PageNumber>(o->id);
  VELQUIN_ASSIGN_OR_RETURN(TableDef def, ReadTableDef(*pages_, tdef));
  auto it = std::find_if(def.logical_indexes.begin(), def.logical_indexes.end(),
                         [&](const LogicalIndex& li) { return SameName(li.name, index); });
  if (it == def.logical_indexes.end()) {
    return Status::NotFound("no index \"" + std::string(index) + "\" on table \"" + o->name + "\"");
  }
  // An index a relationship stands on stays, as in Access: the relationship's
  // own logical index, or any index sharing its physical index with one.
  for (const LogicalIndex& li : def.logical_indexes) {
    if (li.real_index == it->real_index && (li.index_type == 2 || li.related_type != 0)) {
      return Status::InvalidArgument(
          "Cannot delete this index or table.  It is either the current index or it is used in "
          "a relationship.");
    }
  }
  VELQUIN_RETURN_IF_ERROR(RemoveLogicalIndex(tdef, it->name));
  return Flush();
}

// Removes the logical index `name` of the table at `tdef`, and its physical
// index when no other logical index uses it.
Status Database::RemoveLogicalIndex(PageNumber tdef, std::string_view name) {
  VELQUIN_ASSIGN_OR_RETURN(TableDef def, ReadTableDef(*pages_, tdef));
  auto it = std::find_if(def.logical_indexes.begin(), def.logical_indexes.end(),
                         [&](const LogicalIndex& li) { return SameName(li.name, name); });
  if (it == def.logical_indexes.end()) {
    return PageCorruption(tdef, "logical index", "no index \"" + std::string(name) + "\"");
  }
  const std::uint32_t number = it->number;
  const std::uint32_t real = it->real_index;
  // [CAT-11] The logical index goes and the ones after it move down a
  // number; a relationship's partner index (in this table or the other one)
  // learns the new number.
  def.logical_indexes.erase(it);
  std::map<PageNumber, TableDef> partners;
  for (LogicalIndex& li : def.logical_indexes) {
    if (li.number < number) continue;
    --li.number;
    if (li.related_type == 0) continue;
    TableDef* other = nullptr;
    if (li.related_tdef == tdef) {
      other = &def;
    } else {
      auto p = partners.find(li.related_tdef);
      if (p == partners.end()) {
        VELQUIN_ASSIGN_OR_RETURN(TableDef d, ReadTableDef(*pages_, li.related_tdef));
        p = partners.emplace(li.related_tdef, std::move(d)).first;
      }
      other = &p->second;
    }
    for (LogicalIndex& x : other->logical_indexes) {
      if (x.related_tdef == tdef && x.related_index == static_cast<std::int32_t>(li.number + 1)) {
        x.related_index = static_cast<std::int32_t>(li.number);
      }
    }
  }
  // The physical index goes too when no other logical index uses it: its
  // pages are released and its usage-map row deleted.
  const bool shared = std::any_of(def.logical_indexes.begin(), def.logical_indexes.end(),
                                  [&](const LogicalIndex& li) { return li.real_index == real; });
  std::vector<PageNumber> release;
  RowPointer map_row;
  if (!shared) {
    const RealIndex& ri = def.real_indexes[real];
    IndexTreeOptions opts;
    opts.tdef_page = tdef;
    opts.column_count = ri.columns.size();
    IndexTree tree(*pages_, ri.root, opts);
    VELQUIN_ASSIGN_OR_RETURN(auto entries, tree.ReadAll());  // walks (and so checks) the tree
    (void)entries;
    map_row = ri.usage_map;
    VELQUIN_RETURN_IF_ERROR(tree.Free());
    def.real_indexes.erase(def.real_indexes.begin() + real);
    for (LogicalIndex& li : def.logical_indexes) {
      if (li.real_index > real) --li.real_index;
    }
  }
  VELQUIN_RETURN_IF_ERROR(WriteTableDef(*pages_, def));
  for (auto& [page, d] : partners) VELQUIN_RETURN_IF_ERROR(WriteTableDef(*pages_, d));
  if (map_row.page != 0) {
    Page p;
    VELQUIN_RETURN_IF_ERROR(pages_->ReadPage(map_row.page, p));
    DataPage dp(p, map_row.page);
    VELQUIN_RETURN_IF_ERROR(dp.Validate());
    if (map_row.row < dp.row_count()) {
      dp.MarkDeleted(map_row.row);
      VELQUIN_RETURN_IF_ERROR(pages_->WritePage(map_row.page, p));
    }
  }
  return Status::Ok();
}

std::string Database::ObjectName(std::int32_t id) const {
  for (const auto& o : objects_) {
    if (o.id == id && o.type == kObjectTypeTable) return o.name;
  }
  return std::to_string(id);
}

Status Database::CheckReferences(const TableDef& def, const std::vector<Value>& row) {
  for (const LogicalIndex& li : def.logical_indexes) {
    if (li.index_type != 2 || li.related_type != 2 || li.real_index >= def.real_indexes.size()) {
      continue;
    }
    const RealIndex& ri = def.real_indexes[li.real_index];
    std::vector<Cell> cells(def.columns.size());
    std::vector<std::vector<std::uint8_t>> bufs(def.columns.size());
    bool complete = true;
    for (const IndexColumn& ic : ri.columns) {
      for (std::size_t i = 0; i < def.columns.size() && i < row.size(); ++i) {
        const Column& c = def.columns[i];
        if (c.number != ic.column_number) continue;
        if (row[i].is_null()) {
          complete = false;
        } else if (c.type == ColumnType::kBool) {
          cells[i].present = row[i].kind() == ValueKind::kBool ? row[i].bool_value() : true;
        } else if (!c.is_long_value()) {
          if (!EncodeCellValue(c, row[i], &bufs[i]).ok())
            return Status::Ok();  // the writer reports it
          cells[i].present = true;
          cells[i].data = Bytes(bufs[i]);
        }
      }
    }
    if (!complete) continue;  // a key with a NULL needs no related row
    VELQUIN_ASSIGN_OR_RETURN(TableDef parent, ReadTableDef(*pages_, li.related_tdef));
    const LogicalIndex* pli = nullptr;
    for (const auto& x : parent.logical_indexes) {
      if (static_cast<std::int32_t>(x.number) == li.related_index) pli = &x;
    }
    if (!pli || pli->real_index >= parent.real_indexes.size()) {
      return PageCorruption(def.tdef_page, "logical index", "relationship names a missing index");
    }
    const RealIndex& pri = parent.real_indexes[pli->real_index];
    VELQUIN_ASSIGN_OR_RETURN(auto key, ReferenceKey(*pages_, def, ri, pri, cells, 0, &complete));
    IndexTreeOptions o;
    o.tdef_page = parent.tdef_page;
    o.unique = (pri.flags & 0x01) != 0;
    o.column_count = pri.columns.size();
    IndexTree tree(*pages_, pri.root, o);
    VELQUIN_ASSIGN_OR_RETURN(bool exists, tree.ContainsKey(key));
    if (!exists) {
      return Status::Constraint(kRelatedRecordRequired +
                                ObjectName(static_cast<std::int32_t>(li.related_tdef)) + "'.");
    }
  }
  return Status::Ok();
}

Status Database::AppendRealIndex(TableDef* def, const RealIndex& shape, std::uint32_t* index) {
  PageStore& store = *pages_;
  VELQUIN_ASSIGN_OR_RETURN(
      PageNumber root,
      CreateIndexRoot(store, def->tdef_page, (shape.flags & 0x01) != 0, shape.columns.size()));
  UsageMap map = NewIndexUsageMap(root);
  VELQUIN_ASSIGN_OR_RETURN(auto bytes, map.Save(store));
  // The index's usage map is a row on the page of the table's maps, or on a
  // new page of its own when that one is full.
  RowPointer where;
  Page p;
  PageNumber page = def->owned_map.page;
  VELQUIN_RETURN_IF_ERROR(store.ReadPage(page, p));
  bool fits = DataPage(p, page).CanAdd(bytes.size());
  if (!fits) {
    VELQUIN_ASSIGN_OR_RETURN(page, store.AllocatePage());
    p = Page{};
    DataPage(p, page).Init(0);
  }
  DataPage dp(p, page);
  where.page = page;
  where.row = dp.Add(Bytes(bytes));
  VELQUIN_RETURN_IF_ERROR(store.WritePage(page, p));
  RealIndex ri = shape;
  ri.usage_map = where;
  ri.root = root;
  ri.unique_entries = 0;
  def->real_indexes.push_back(ri);
  *index = static_cast<std::uint32_t>(def->real_indexes.size() - 1);
  return Status::Ok();
}

Status Database::AddRealIndex(TableDef* def, const std::vector<IndexColumn>& columns,
                              std::uint32_t* index) {
  RealIndex shape;
  shape.columns = columns;
  shape.flags = 0x80;
  VELQUIN_ASSIGN_OR_RETURN(auto entries, GatherIndexEntries(*pages_, *def, shape, ""));
  VELQUIN_RETURN_IF_ERROR(AppendRealIndex(def, shape, index));
  return LoadIndex(*pages_, def, *index, *entries);
}

Status Database::CreateRelationship(const RelationshipSpec& spec) {
  Statement statement(this);
  EndInsertWriter();
  if (read_only()) return Status::InvalidArgument("the database is open read-only");
  const Object* oc = FindTable(spec.table);
  if (!oc) return Status::NotFound("no table \"" + spec.table + "\"");
  const Object* op = FindTable(spec.referenced_table);
  if (!op) return Status::NotFound("no table \"" + spec.referenced_table + "\"");
  const std::string child_name = oc->name, parent_name = op->name;
  const PageNumber child_page = static_cast<PageNumber>(oc->id);
  const PageNumber parent_page = static_cast<PageNumber>(op->id);
  const bool self = child_page == parent_page;
  VELQUIN_ASSIGN_OR_RETURN(TableDef child, ReadTableDef(*pages_, child_page));
  VELQUIN_ASSIGN_OR_RETURN(TableDef parent_read, ReadTableDef(*pages_, parent_page));
  auto number_of = [](const TableDef& d, const std::string& name,
                      const std::string& table) -> Result<std::uint16_t> {
    const Column* c = d.FindColumn(name);
    if (!c) return Status::InvalidArgument("Field '" + name + "' is not in table '" + table + "'.");
    return c->number;
  };
  std::vector<IndexColumn> child_cols;
  for (const auto& n : spec.columns) {
    VELQUIN_ASSIGN_OR_RETURN(std::uint16_t num, number_of(child, n, child_name));
    child_cols.push_back({num, true});
  }
  // The referenced side: the named columns, or the primary key.
  const TableDef& pdef = self ? child : parent_read;
  std::vector<std::uint16_t> parent_numbers;
  for (const auto& n : spec.referenced_columns) {
    VELQUIN_ASSIGN_OR_RETURN(std::uint16_t num, number_of(pdef, n, parent_name));
    parent_numbers.push_back(num);
  }
  const LogicalIndex* key = nullptr;
  for (const LogicalIndex& li : pdef.logical_indexes) {
    if (li.index_type == 2 || li.real_index >= pdef.real_indexes.size()) continue;
    const RealIndex& ri = pdef.real_indexes[li.real_index];
    if ((ri.flags & 0x01) == 0) continue;
    std::vector<std::uint16_t> nums;
    for (const auto& ic : ri.columns) nums.push_back(ic.column_number);
    if (parent_numbers.empty() ? li.index_type == 1 : nums == parent_numbers) {
      key = &li;
      if (parent_numbers.empty()) parent_numbers = nums;
      break;
    }
  }
  if (!key) {
    return Status::InvalidArgument(
        "No unique index found for the referenced field of the primary table.");
  }
  if (parent_numbers.size() != child_cols.size() || child_cols.empty() || child_cols.size() > 10) {
    return Status::InvalidArgument(
        "The relationship must be on the same number of fields with the same data types.");
  }
  for (std::size_t k = 0; k < child_cols.size(); ++k) {
    const Column* a = nullptr;
    const Column* b = nullptr;
    for (const auto& c : child.columns) {
      if (c.number == child_cols[k].column_number) a = &c;
    }
    for (const auto& c : pdef.columns) {
      if (c.number == parent_numbers[k]) b = &c;
    }
    if (!a || !b || a->type != b->type || a->is_long_value()) {
      return Status::InvalidArgument(
          "The relationship must be on the same number of fields with the same data types.");
    }
  }
  std::string name = spec.name.empty() ? parent_name + child_name : spec.name;
  if (name.size() > 64) name.resize(64);
  for (const auto& o : objects_) {
    if (o.parent_id == kRelationshipsContainerId && SameName(o.name, name)) {
      return Status::InvalidArgument("Relationship '" + name + "' already exists.");
    }
  }
  for (const auto& li : child.logical_indexes) {
    if (SameName(li.name, name)) {
      return Status::InvalidArgument("Index '" + name + "' already exists.");
    }
  }
  const std::uint32_t key_real = key->real_index;
  const std::uint32_t key_number = key->number;
  const RealIndex key_index = pdef.real_indexes[key_real];
  // Rows already there must have their related row. Their keys are
  // gathered in the referenced index's directions; when those are all
  // ascending, the same entries build the referencing side's new index.
  RealIndex probe;
  probe.columns = child_cols;
  probe.flags = 0x80;  // as AddRealIndex makes it
  bool ascending = true;
  for (std::size_t i = 0; i < probe.columns.size(); ++i) {
    probe.columns[i].ascending = key_index.columns[i].ascending;
    ascending = ascending && key_index.columns[i].ascending;
  }
  std::vector<RowId> rows_with_null;
  VELQUIN_ASSIGN_OR_RETURN(auto child_keys,
                           GatherIndexEntries(*pages_, child, probe, name, &rows_with_null));
  VELQUIN_ASSIGN_OR_RETURN(
      Orphans orphans, FindOrphans(*pages_, parent_page, key_index, *child_keys, rows_with_null));
  if (orphans.count > 0) {
    std::string message =
        "Data in the table '" + child_name + "' violates referential integrity rules. " +
        std::to_string(orphans.count) + (orphans.count == 1 ? " row has" : " rows have") +
        " no related record in table '" + parent_name + "'";
    for (std::size_t k = 0; k < orphans.first.size(); ++k) {
      VELQUIN_ASSIGN_OR_RETURN(std::string row,
                               DescribeRow(*pages_, child, child_cols, orphans.first[k]));
      message += (k == 0 ? ": " : "; ") + row;
    }
    if (orphans.count > orphans.first.size()) {
      message += "; and " + std::to_string(orphans.count - orphans.first.size()) + " more";
    }
    return Status::Constraint(message + ".");
  }
  // [CAT-12] The referencing side's index: an index on exactly these columns
  // if there is one, else a new one.
  std::uint32_t child_real = 0;
  bool found = false;
  for (std::uint32_t k = 0; k < child.real_indexes.size(); ++k) {
    const auto& ri = child.real_indexes[k];
    if (ri.columns.size() != child_cols.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < child_cols.size(); ++i) {
      same = same && ri.columns[i].column_number == child_cols[i].column_number;
    }
    if (same) {
      child_real = k;
      found = true;
      break;
    }
  }
  if (!found && ascending) {
    // The gathered keys are the new index's entries.
    VELQUIN_RETURN_IF_ERROR(AppendRealIndex(&child, probe, &child_real));
    VELQUIN_RETURN_IF_ERROR(LoadIndex(*pages_, &child, child_real, *child_keys));
  } else if (!found) {
    VELQUIN_RETURN_IF_ERROR(AddRealIndex(&child, child_cols, &child_real));
  }
  child_keys.reset();
  std::uint8_t cascade_update = spec.cascade_update ? 1 : 0;
  std::uint8_t cascade_delete = spec.cascade_delete ? 1 : (spec.cascade_set_null ? 2 : 0);
  LogicalIndex lc;
  lc.name = name;
  lc.number = static_cast<std::uint32_t>(child.logical_indexes.size());
  lc.real_index = child_real;
  lc.related_type = 2;
  lc.related_tdef = parent_page;
  lc.cascade_update = cascade_update;
  lc.cascade_delete = cascade_delete;
  lc.index_type = 2;
  TableDef& pd = self ? child : parent_read;
  std::string rname;
  for (char c = 'B'; c <= 'Z' && rname.empty(); ++c) {
    std::string n = std::string(".r") + c;
    bool used = false;
    for (const auto& li : pd.logical_indexes) used = used || SameName(li.name, n);
    for (const auto& li : child.logical_indexes) used = used || SameName(li.name, n);
    if (!used) rname = n;
  }
  if (rname.empty())
    return Status::NotSupported("table \"" + parent_name + "\" has too many relationships");
  LogicalIndex lp;
  lp.name = rname;
  lp.real_index = key_real;
  lp.related_type = 1;
  lp.related_tdef = child_page;
  lp.cascade_update = cascade_update;
  lp.cascade_delete = cascade_delete;
  lp.index_type = 2;
  if (self) {
    child.logical_indexes.push_back(lc);
    lp.number = static_cast<std::uint32_t>(child.logical_indexes.size());
    child.logical_indexes.push_back(lp);
  } else {
    child.logical_indexes.push_back(lc);
    lp.number = static_cast<std::uint32_t>(pd.logical_indexes.size());
    pd.logical_indexes.push_back(lp);
  }
  child.logical_indexes[lc.number].related_index = static_cast<std::int32_t>(lp.number);
  (self ? child : pd).logical_indexes[lp.number].related_index =
      static_cast<std::int32_t>(lc.number);
  (void)key_number;
  VELQUIN_RETURN_IF_ERROR(WriteTableDef(*pages_, child));
  if (!self) VELQUIN_RETURN_IF_ERROR(WriteTableDef(*pages_, pd));
  // The catalogue: one MSysRelationships row per column pair, then the object.
  const Object* rel = FindTable("MSysRelationships");
  if (!rel) return Status::NotSupported("the database has no MSysRelationships table");
  const PageNumber rel_page = static_cast<PageNumber>(rel->id);
  {
    VELQUIN_ASSIGN_OR_RETURN(auto w, TableWriter::Open(*pages_, rel_page));
    const TableDef& rd = w->def();
    auto col = [&](const char* n) -> std::size_t {
      for (std::size_t i = 0; i < rd.columns.size(); ++i) {
        if (SameName(rd.columns[i].name, n)) return i;
      }
      return rd.columns.size();
    };
    std::int32_t grbit = (spec.cascade_update ? 0x100 : 0) | (spec.cascade_delete ? 0x1000 : 0) |
                         (spec.cascade_set_null ? 0x2000 : 0);
    auto column_name = [](const TableDef& d, std::uint16_t number) {
      for (const auto& c : d.columns) {
        if (c.number == number) return c.name;
      }
      return std::string();
    };
    for (std::size_t k = 0; k < child_cols.size(); ++k) {
      std::vector<Value> row(rd.columns.size());
      auto put = [&](const char* n, Value v) {
        std::size_t i = col(n);
        if (i < row.size()) row[i] = std::move(v);
      };
      put("szRelationship", Value::Text(name));
      put("grbit", Value::Long(grbit));
      put("ccolumn", Value::Long(static_cast<std::int32_t>(child_cols.size())));
      put("icolumn", Value::Long(static_cast<std::int32_t>(k)));
      put("szObject", Value::Text(child_name));
      put("szColumn", Value::Text(column_name(child, child_cols[k].column_number)));
      put("szReferencedObject", Value::Text(parent_name));
      put("szReferencedColumn", Value::Text(column_name(self ? child : pd, parent_numbers[k])));
      VELQUIN_RETURN_IF_ERROR(w->Append(row));
    }
    VELQUIN_RETURN_IF_ERROR(w->Commit());
  }
  VELQUIN_ASSIGN_OR_RETURN(std::int32_t id, NextSyntheticId());
  VELQUIN_RETURN_IF_ERROR(AddObjectRow(id, kRelationshipsContainerId, name, kObjectTypeRelationship,
                                       0, kAdminOwner, {}));
  VELQUIN_RETURN_IF_ERROR(LoadCatalog());
  return Flush();
}

Status Database::DropRelationship(std::string_view table, std::string_view name) {
  Statement statement(this);
  EndInsertWriter();
  if (read_only()) return Status::InvalidArgument("the database is open read-only");
  const Object* oc = FindTable(table);
  if (!oc) return Status::NotFound("no table \"" + std::string(table) + "\"");
  const PageNumber child_page = static_cast<PageNumber>(oc->id);
  const Object* found = nullptr;
  for (const auto& o : objects_) {
    if (o.parent_id == kRelationshipsContainerId && o.type == kObjectTypeRelationship &&
        SameName(o.name, name)) {
      found = &o;
    }
  }
  // The referencing side's logical index carries the relationship's name.
  VELQUIN_ASSIGN_OR_RETURN(TableDef child, ReadTableDef(*pages_, child_page));
  const LogicalIndex* lc = nullptr;
  for (const LogicalIndex& li : child.logical_indexes) {
    if (li.related_type == 2 && SameName(li.name, name)) lc = &li;
  }
  if (!found || !lc) {
    return Status::NotFound("no relationship \"" + std::string(name) + "\" on table \"" + oc->name +
                            "\"");
  }
  const Object obj = *found;
  const PageNumber parent_page = lc->related_tdef;
  std::string partner;
  {
    VELQUIN_ASSIGN_OR_RETURN(TableDef parent, ReadTableDef(*pages_, parent_page));
    for (const LogicalIndex& li : parent.logical_indexes) {
      if (li.related_type == 1 && li.related_tdef == child_page &&
          li.related_index == static_cast<std::int32_t>(lc->number)) {
        partner = li.name;
      }
    }
  }
  const std::string own = lc->name;
  // Every MSysRelationships row of the relationship, found before anything
  // changes.
  const Object* rel = FindTable("MSysRelationships");
  if (!rel) return Status::NotSupported("the database has no MSysRelationships table");
  const PageNumber rel_page = static_cast<PageNumber>(rel->id);
  std::vector<RowPointer> rows;
  {
    VELQUIN_ASSIGN_OR_RETURN(TableDef rd, ReadTableDef(*pages_, rel_page));
    const Column* col = rd.FindColumn("szRelationship");
    if (!col) return PageCorruption(rel_page, "MSysRelationships", "no column szRelationship");
    const std::size_t at = static_cast<std::size_t>(col - rd.columns.data());
    TableCursor cur(*pages_, rd);
    VELQUIN_RETURN_IF_ERROR(cur.Open());
    std::vector<Value> row;
    for (;;) {
      VELQUIN_ASSIGN_OR_RETURN(bool more, cur.Next(&row));
      if (!more) break;
      if (row[at].kind() == ValueKind::kText && SameName(row[at].text_value(), obj.name)) {
        rows.push_back(cur.position());
      }
    }
  }
  // [SAFE-2] The catalogue row first: the relationship is gone for every
  // reader; its rows and its indexes follow.
  VELQUIN_RETURN_IF_ERROR(DeleteRows(kMSysObjectsPage, {obj.where}));
  VELQUIN_RETURN_IF_ERROR(DeleteRows(rel_page, rows));
  VELQUIN_RETURN_IF_ERROR(RemoveLogicalIndex(child_page, own));
  if (!partner.empty()) VELQUIN_RETURN_IF_ERROR(RemoveLogicalIndex(parent_page, partner));
  VELQUIN_RETURN_IF_ERROR(LoadCatalog());
  return Flush();
}

// [CAT-10] Objects without a definition page (queries, relationships) get
// negative Ids, counted upwards from -2147483648 as Access counts them: the
// highest negative Id in use plus one. Ids that MSysQueries or MSysACEs rows
// name are in use too, so a new object never takes over rows left without a
// catalogue row. When the top is taken (files whose Ids count down from -1),
// the lowest free negative Id. Nothing here can overflow.
Result<std::int32_t> Database::NextSyntheticId() {
  std::set<std::int64_t> used;
  for (const auto& o : objects_) {
    if (o.id < 0) used.insert(o.id);
  }
  for (const char* table : {"MSysQueries", "MSysACEs"}) {
    if (!FindTable(table)) continue;
    VELQUIN_ASSIGN_OR_RETURN(auto cur, Scan(table));
    std::vector<Value> row;
    for (;;) {
      VELQUIN_ASSIGN_OR_RETURN(bool more, cur->Next(&row));
      if (!more) break;
      std::int64_t oid;
      if (!row.empty() && row[0].AsInt64(&oid) && oid < 0) used.insert(oid);
    }
  }
  constexpr std::int64_t kFirst = std::numeric_limits<std::int32_t>::min();
  if (used.empty()) return static_cast<std::int32_t>(kFirst);
  if (*used.rbegin() < -1) return static_cast<std::int32_t>(*used.rbegin() + 1);
  std::int64_t id = kFirst;
  for (std::int64_t u : used) {
    if (u != id) break;
    ++id;
  }
  if (id >= 0) return Status::NotSupported("the database has no free object Id left");
  return static_cast<std::int32_t>(id);
}

Status Database::CreateQuery(std::string_view name, std::vector<std::vector<Value>> rows,
                             std::int32_t flags) {
  Statement statement(this);
  EndInsertWriter();
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
  VELQUIN_ASSIGN_OR_RETURN(std::int32_t id, NextSyntheticId());
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
  VELQUIN_RETURN_IF_ERROR(AddObjectRow(id, kTablesContainerId, std::string(name), kObjectTypeQuery,
                                       flags, kAdminOwner, {}));
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
  Statement statement(this);
  EndInsertWriter();
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
