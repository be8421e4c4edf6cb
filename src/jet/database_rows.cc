// Deleting rows, with relationships enforced as Jet enforces them on delete:
// [ROW-8], [CAT-13], [SAFE-4] in docs/jet4-format.md (with [ROW-2],
// [LVAL-*], [UMAP-3], [CAT-12]).
//
// A delete runs in three passes:
//  1. Plan: the rows the filter selects, then, through every relationship
//     whose referenced side is a table with rows to delete, the referencing
//     rows (found through the referencing side's index): cascade-delete
//     relationships add them to the rows to delete (recursively; a row is
//     visited once, so cycles end), set-null ones mark their foreign-key
//     columns to clear, others are violations. A violation whose row is
//     deleted anyway is none. Nothing is written when one remains.
//  2. Prepare: every row to change is read again, its index keys computed
//     and its long-value rows (whole chains) collected, so that a damaged
//     row fails before the first write.
//  3. Write, referencing tables before referenced ones (a stop in between
//     never leaves a row whose related row is gone): set-null rows are
//     rewritten in place on their page (same row number, so every other
//     value, AutoNumber included, stays as it was) and their index entries
//     replaced; deleted rows are marked deleted in their page's offset table
//     (both flag bits, [ROW-2]) and the page repacked so their bytes become
//     free space, then their index entries go, then their long-value rows.
//     Pages left without live rows leave the table's maps and return to the
//     global map; others enter the free-space map, where the writer finds
//     them. The row count and unique-entry counts are written with the TDEF.
#include <algorithm>
#include <deque>
#include <map>
#include <set>

#include "jet/catalog/system_tables.h"
#include "jet/database.h"
#include "jet/format/data_page.h"
#include "jet/index/index_tree.h"
#include "jet/table/long_value.h"
#include "jet/table/table.h"
#include "jet/table/table_indexes.h"

namespace velquin::jet {
namespace {

// A page keeps its place in the free-space map while it can take a small row
// (the threshold the writer uses).
constexpr std::size_t kFreeSpaceThreshold = 64;
constexpr std::uint8_t kCascadeDelete = 1;
constexpr std::uint8_t kCascadeSetNull = 2;

// One row as stored: where its slot is, and where its bytes are (the same
// unless the slot is an overflow pointer).
struct StoredRow {
  RowPointer slot;
  RowPointer data;
  std::vector<std::uint8_t> bytes;  // a copy: cells decoded from it stay valid
};

// Reads the row whose offset entry is `slot` (following overflow pointers).
// False in *live when the row is deleted.
Status ReadStoredRow(PageStore& store, const TableDef& def, RowPointer slot, StoredRow* out,
                     bool* live) {
  out->slot = slot;
  out->data = slot;
  *live = false;
  Page page;
  VELQUIN_RETURN_IF_ERROR(store.ReadPage(slot.page, page));
  DataPage dp(page, slot.page);
  VELQUIN_RETURN_IF_ERROR(dp.Validate());
  if (dp.owner() != def.tdef_page) {
    return PageCorruption(slot.page, "page owner", "row of another table");
  }
  VELQUIN_ASSIGN_OR_RETURN(RowSlot s, dp.Slot(slot.row));
  if (s.deleted) return Status::Ok();
  Bytes row = dp.RowBytes(s);
  Page other;
  if (s.overflow) VELQUIN_RETURN_IF_ERROR(FollowOverflow(store, other, &row, &out->data));
  out->bytes.assign(row.begin(), row.end());
  *live = true;
  return Status::Ok();
}

// The LVAL rows a long-value header uses (a whole chain), checked.
Status CollectLongValueRows(PageStore& store, Bytes header, PageNumber page,
                            std::vector<RowPointer>* out) {
  VELQUIN_ASSIGN_OR_RETURN(LongValueHeader h, DecodeLongValueHeader(header, page));
  return VisitLongValueRows(store, h, page, [&](RowPointer rp, Bytes) {
    out->push_back(rp);
    return Status::Ok();
  });
}

// Column index (position in def.columns) of column number `number`.
std::size_t ColumnIndex(const TableDef& def, std::uint16_t number) {
  for (std::size_t i = 0; i < def.columns.size(); ++i) {
    if (def.columns[i].number == number) return i;
  }
  return def.columns.size();
}

IndexTreeOptions TreeOptions(const TableDef& def, const RealIndex& ri) {
  IndexTreeOptions o;
  o.tdef_page = def.tdef_page;
  o.unique = (ri.flags & 0x01) != 0;
  o.column_count = ri.columns.size();
  return o;
}

// What happens to one table.
struct TablePlan {
  TableDef def;
  std::string name;
  std::vector<std::string> required;                          // NOT NULL columns
  std::vector<RowPointer> deletes;                            // in the order found
  std::set<std::uint32_t> deleting;                           // the same, encoded
  std::map<std::uint32_t, std::set<std::uint16_t>> set_null;  // row -> column numbers
  std::map<std::uint32_t, std::string> set_null_by;           // row -> relationship name
};

struct Violation {
  PageNumber table;
  RowPointer row;
  std::string relationship;
};

// A row prepared for deletion: its keys and its long-value rows.
struct PreparedDelete {
  RowPointer slot;
  RowPointer data;
  std::vector<std::vector<std::uint8_t>> keys;
  std::vector<std::pair<std::size_t, RowPointer>> lv_rows;  // column index, LVAL row
};

struct UsageMaps {
  PageStore& store;
  std::map<std::uint32_t, UsageMap> maps;  // by encoded row pointer

  Result<UsageMap*> Get(RowPointer where) {
    auto it = maps.find(where.Encode());
    if (it != maps.end()) return &it->second;
    VELQUIN_ASSIGN_OR_RETURN(UsageMap m, LoadUsageMap(store, where));
    return &(maps[where.Encode()] = std::move(m));
  }
  Status Set(RowPointer where, PageNumber page, bool on) {
    VELQUIN_ASSIGN_OR_RETURN(UsageMap * m, Get(where));
    if (m->Contains(page) == on) return Status::Ok();
    return m->Set(page, on, [this]() { return store.AllocatePage(); });
  }
  Status Store() {
    for (auto& [encoded, m] : maps) {
      if (m.dirty()) VELQUIN_RETURN_IF_ERROR(StoreUsageMap(store, RowPointer::Decode(encoded), m));
    }
    return Status::Ok();
  }
};

// Marks rows of one page deleted, repacks it and writes it; records whether
// it still holds live rows and its free space in `maps`. `empty` collects
// pages left without live rows (their map bits cleared).
Status DeleteOnPage(PageStore& store, PageNumber page, const std::vector<std::uint8_t>& rows,
                    std::uint32_t owner, RowPointer owned_map, RowPointer free_map, UsageMaps* maps,
                    std::vector<PageNumber>* empty) {
  Page buf;
  VELQUIN_RETURN_IF_ERROR(store.ReadPage(page, buf));
  DataPage dp(buf, page);
  VELQUIN_RETURN_IF_ERROR(dp.Validate());
  if (dp.owner() != owner) return PageCorruption(page, "page owner", "unexpected owner");
  for (std::uint8_t r : rows) {
    if (r < dp.row_count()) dp.MarkDeleted(r);
  }
  if (!dp.Compact()) return PageCorruption(page, "row offsets", "the page cannot be repacked");
  VELQUIN_RETURN_IF_ERROR(store.WritePage(page, buf));
  if (!dp.HasLiveRows()) {
    VELQUIN_RETURN_IF_ERROR(maps->Set(owned_map, page, false));
    VELQUIN_RETURN_IF_ERROR(maps->Set(free_map, page, false));
    empty->push_back(page);
  } else {
    VELQUIN_RETURN_IF_ERROR(maps->Set(free_map, page, dp.free_space() >= kFreeSpaceThreshold));
  }
  return Status::Ok();
}

// Rewrites set-null rows of one table in place and replaces their index
// entries.
Status ApplySetNull(PageStore& store, TablePlan& plan) {
  if (plan.set_null.empty()) return Status::Ok();
  TableDef& def = plan.def;
  TableIndexWriter indexes(store, &def);
  if (!def.real_indexes.empty()) VELQUIN_RETURN_IF_ERROR(indexes.Open());
  for (const auto& [encoded, columns] : plan.set_null) {
    RowPointer slot = RowPointer::Decode(encoded);
    StoredRow row;
    bool live = false;
    VELQUIN_RETURN_IF_ERROR(ReadStoredRow(store, def, slot, &row, &live));
    if (!live) continue;
    std::vector<Cell> cells;
    VELQUIN_RETURN_IF_ERROR(DecodeRow(def, Bytes(row.bytes), row.data.page, row.data.row, &cells));
    std::vector<std::vector<std::uint8_t>> old_keys;
    if (!def.real_indexes.empty()) {
      VELQUIN_RETURN_IF_ERROR(indexes.Keys(cells, row.data.page, &old_keys));
    }
    for (std::uint16_t number : columns) {
      std::size_t i = ColumnIndex(def, number);
      if (i < cells.size()) cells[i] = Cell{};
    }
    std::vector<std::uint8_t> encoded_row;
    EncodeRow(def, cells, &encoded_row);
    Page buf;
    VELQUIN_RETURN_IF_ERROR(store.ReadPage(row.data.page, buf));
    DataPage dp(buf, row.data.page);
    if (!dp.Replace(row.data.row, Bytes(encoded_row))) {
      return Status::NotSupported("the updated row does not fit its page");
    }
    VELQUIN_RETURN_IF_ERROR(store.WritePage(row.data.page, buf));
    if (!def.real_indexes.empty()) {
      VELQUIN_RETURN_IF_ERROR(indexes.Remove(old_keys, slot));
      VELQUIN_RETURN_IF_ERROR(indexes.Check(cells, row.data.page));
      VELQUIN_RETURN_IF_ERROR(indexes.Insert(slot));
    }
  }
  if (!def.real_indexes.empty()) VELQUIN_RETURN_IF_ERROR(indexes.StoreMaps());
  return WriteTableDef(store, def);
}

// A row whose foreign key becomes NULL must not then clash in a unique
// index that holds the key with other columns.
Status CheckSetNullKeys(PageStore& store, const TablePlan& plan, RowPointer slot,
                        const std::set<std::uint16_t>& columns) {
  const TableDef& def = plan.def;
  StoredRow row;
  bool live = false;
  VELQUIN_RETURN_IF_ERROR(ReadStoredRow(store, def, slot, &row, &live));
  if (!live) return Status::Ok();
  std::vector<Cell> cells;
  VELQUIN_RETURN_IF_ERROR(DecodeRow(def, Bytes(row.bytes), row.data.page, row.data.row, &cells));
  for (std::uint16_t number : columns) {
    std::size_t i = ColumnIndex(def, number);
    if (i < cells.size()) cells[i] = Cell{};
  }
  for (const RealIndex& ri : def.real_indexes) {
    if ((ri.flags & 0x01) == 0) continue;
    bool touched = false;
    for (const IndexColumn& ic : ri.columns) touched = touched || columns.count(ic.column_number);
    if (!touched) continue;
    VELQUIN_ASSIGN_OR_RETURN(auto key, IndexKeyForRow(store, def, ri, cells, row.data.page));
    if (SkipsRow(ri, key) || IsAllNullKey(key, ri.columns.size())) continue;
    IndexTree tree(store, ri.root, TreeOptions(def, ri));
    VELQUIN_ASSIGN_OR_RETURN(bool exists, tree.ContainsKey(key));
    if (exists) {
      return Status::Constraint("setting the foreign key of a row of table \"" + plan.name +
                                "\" to NULL would duplicate a value in a unique index");
    }
  }
  return Status::Ok();
}

Result<std::vector<PreparedDelete>> PrepareDeletes(PageStore& store, TablePlan& plan) {
  std::vector<PreparedDelete> out;
  TableIndexWriter indexes(store, &plan.def);
  for (RowPointer slot : plan.deletes) {
    StoredRow row;
    bool live = false;
    VELQUIN_RETURN_IF_ERROR(ReadStoredRow(store, plan.def, slot, &row, &live));
    if (!live) continue;
    std::vector<Cell> cells;
    VELQUIN_RETURN_IF_ERROR(
        DecodeRow(plan.def, Bytes(row.bytes), row.data.page, row.data.row, &cells));
    PreparedDelete p;
    p.slot = slot;
    p.data = row.data;
    if (!plan.def.real_indexes.empty()) {
      VELQUIN_RETURN_IF_ERROR(indexes.Keys(cells, row.data.page, &p.keys));
    }
    for (std::size_t i = 0; i < plan.def.columns.size(); ++i) {
      const Column& c = plan.def.columns[i];
      if (!c.is_long_value() || !cells[i].present) continue;
      std::vector<RowPointer> lv;
      VELQUIN_RETURN_IF_ERROR(
          CollectLongValueRows(store, cells[i].data, row.data.page, &lv)
              .WithContext("column \"" + c.name + "\" of table \"" + plan.name + "\""));
      for (RowPointer rp : lv) p.lv_rows.push_back({i, rp});
    }
    out.push_back(std::move(p));
  }
  return out;
}

Status ApplyDeletes(PageStore& store, TablePlan& plan, const std::vector<PreparedDelete>& rows) {
  if (rows.empty()) return Status::Ok();
  TableDef& def = plan.def;
  UsageMaps maps{store, {}};
  std::vector<PageNumber> empty;
  // The rows' pages first: from then on the rows are gone for every reader.
  std::map<PageNumber, std::vector<std::uint8_t>> by_page;
  for (const PreparedDelete& p : rows) {
    by_page[p.slot.page].push_back(p.slot.row);
    if (!(p.data == p.slot)) by_page[p.data.page].push_back(p.data.row);
  }
  for (const auto& [page, slots] : by_page) {
    VELQUIN_RETURN_IF_ERROR(DeleteOnPage(store, page, slots, def.tdef_page, def.owned_map,
                                         def.free_map, &maps, &empty));
  }
  // Then their index entries.
  if (!def.real_indexes.empty()) {
    TableIndexWriter indexes(store, &def);
    VELQUIN_RETURN_IF_ERROR(indexes.Open());
    for (const PreparedDelete& p : rows) VELQUIN_RETURN_IF_ERROR(indexes.Remove(p.keys, p.slot));
    VELQUIN_RETURN_IF_ERROR(indexes.StoreMaps());
  }
  // Then their long values.
  std::map<std::pair<std::size_t, PageNumber>, std::vector<std::uint8_t>> lv_pages;
  for (const PreparedDelete& p : rows) {
    for (const auto& [column, rp] : p.lv_rows) lv_pages[{column, rp.page}].push_back(rp.row);
  }
  for (const auto& [key, lv_rows] : lv_pages) {
    const Column& c = def.columns[key.first];
    VELQUIN_RETURN_IF_ERROR(
        DeleteOnPage(store, key.second, lv_rows, kLvalOwner, c.lv_owned, c.lv_free, &maps, &empty));
  }
  VELQUIN_RETURN_IF_ERROR(maps.Store());
  def.row_count =
      def.row_count >= rows.size() ? def.row_count - static_cast<std::uint32_t>(rows.size()) : 0;
  VELQUIN_RETURN_IF_ERROR(WriteTableDef(store, def));
  // Pages no map lists any more go back to the file.
  std::sort(empty.begin(), empty.end());
  empty.erase(std::unique(empty.begin(), empty.end()), empty.end());
  for (PageNumber p : empty) VELQUIN_RETURN_IF_ERROR(store.ReleasePage(p));
  return Status::Ok();
}

}  // namespace

Result<std::uint64_t> Database::Delete(std::string_view table, const RowFilter& match) {
  Statement statement(this);
  if (read_only()) return Status::InvalidArgument("the database is open read-only");
  EndInsertWriter();
  const Object* o = FindTable(table);
  if (!o) return Status::NotFound("no table \"" + std::string(table) + "\"");
  if ((o->flags & 0x80000002u) != 0 ||
      (o->name.size() >= 4 && CompareNames(o->name.substr(0, 4), "MSys") == 0)) {
    return Status::InvalidArgument("rows of system table \"" + o->name + "\" cannot be deleted");
  }
  PageStore& store = *pages_;
  std::map<PageNumber, TablePlan> plans;
  std::vector<PageNumber> order;  // tables in the order the plan reached them
  auto plan_of = [&](PageNumber page) -> Result<TablePlan*> {
    auto it = plans.find(page);
    if (it != plans.end()) return &it->second;
    TablePlan p;
    VELQUIN_ASSIGN_OR_RETURN(p.def, ReadTableDef(store, page));
    p.name = ObjectName(static_cast<std::int32_t>(page));
    for (const auto& obj : objects_) {
      if (obj.id == static_cast<std::int32_t>(page) && obj.type == kObjectTypeTable) {
        VELQUIN_ASSIGN_OR_RETURN(TableInfo info, Describe(obj));
        for (const auto& c : info.columns) {
          if (c.not_null) p.required.push_back(c.name);
        }
      }
    }
    order.push_back(page);
    return &(plans[page] = std::move(p));
  };
  const PageNumber root = static_cast<PageNumber>(o->id);
  std::deque<std::pair<PageNumber, RowPointer>> work;
  {
    VELQUIN_ASSIGN_OR_RETURN(TablePlan * p, plan_of(root));
    TableCursor cur(store, p->def);
    VELQUIN_RETURN_IF_ERROR(cur.Open());
    std::vector<Value> row;
    for (;;) {
      VELQUIN_ASSIGN_OR_RETURN(bool more, cur.Next(&row));
      if (!more) break;
      VELQUIN_ASSIGN_OR_RETURN(bool selected, match(row));
      if (!selected) continue;
      RowPointer at = cur.position();
      p->deletes.push_back(at);
      p->deleting.insert(at.Encode());
      work.push_back({root, at});
    }
  }
  const std::uint64_t selected = plans[root].deletes.size();
  std::vector<Violation> violations;
  // Pass 1: follow the relationships from every row to delete.
  while (!work.empty()) {
    auto [page, at] = work.front();
    work.pop_front();
    VELQUIN_ASSIGN_OR_RETURN(TablePlan * parent, plan_of(page));
    bool referenced = false;
    for (const LogicalIndex& li : parent->def.logical_indexes) {
      referenced = referenced || (li.index_type == 2 && li.related_type == 1);
    }
    if (!referenced) continue;
    StoredRow row;
    bool live = false;
    VELQUIN_RETURN_IF_ERROR(ReadStoredRow(store, parent->def, at, &row, &live));
    if (!live) continue;
    std::vector<Cell> cells;
    VELQUIN_RETURN_IF_ERROR(
        DecodeRow(parent->def, Bytes(row.bytes), row.data.page, row.data.row, &cells));
    // A copy: plan_of below may add tables to `plans` (map nodes stay put,
    // but keep the loop independent of it).
    const std::vector<LogicalIndex> logical = parent->def.logical_indexes;
    const TableDef parent_def = parent->def;
    for (const LogicalIndex& li : logical) {
      if (li.index_type != 2 || li.related_type != 1) continue;
      if (li.real_index >= parent_def.real_indexes.size()) {
        return PageCorruption(parent_def.tdef_page, "logical index", "missing real index");
      }
      const RealIndex& pri = parent_def.real_indexes[li.real_index];
      VELQUIN_ASSIGN_OR_RETURN(TablePlan * child, plan_of(li.related_tdef));
      const LogicalIndex* cli = nullptr;
      for (const auto& x : child->def.logical_indexes) {
        if (static_cast<std::int32_t>(x.number) == li.related_index) cli = &x;
      }
      if (!cli || cli->real_index >= child->def.real_indexes.size() ||
          child->def.real_indexes[cli->real_index].columns.size() != pri.columns.size()) {
        return PageCorruption(li.related_tdef, "logical index",
                              "relationship names a missing index");
      }
      const RealIndex cri = child->def.real_indexes[cli->real_index];
      const std::string relationship = cli->name;
      // A referenced key with a NULL has no referencing rows.
      bool complete = true;
      for (const IndexColumn& ic : pri.columns) {
        std::size_t i = ColumnIndex(parent_def, ic.column_number);
        if (i >= cells.size() ||
            (parent_def.columns[i].type != ColumnType::kBool && !cells[i].present)) {
          complete = false;
        }
      }
      if (!complete) continue;
      // The referenced key encoded the way the referencing index sorts.
      RealIndex probe = pri;
      for (std::size_t k = 0; k < probe.columns.size(); ++k) {
        probe.columns[k].ascending = cri.columns[k].ascending;
      }
      VELQUIN_ASSIGN_OR_RETURN(auto key,
                               IndexKeyForRow(store, parent_def, probe, cells, row.data.page));
      IndexTree tree(store, cri.root, TreeOptions(child->def, cri));
      VELQUIN_ASSIGN_OR_RETURN(IndexCursor c, tree.Seek(key));
      std::vector<RowPointer> found;
      while (c.Valid() && CompareKeys(c.entry().key, key) == 0) {
        found.push_back({c.entry().row.page, c.entry().row.row});
        VELQUIN_RETURN_IF_ERROR(c.Next());
      }
      const std::uint8_t action = li.cascade_delete;
      for (RowPointer r : found) {
        if (action == kCascadeDelete) {
          if (child->deleting.insert(r.Encode()).second) {
            child->deletes.push_back(r);
            work.push_back({li.related_tdef, r});
          }
        } else if (action == kCascadeSetNull) {
          for (const IndexColumn& ic : cri.columns) {
            child->set_null[r.Encode()].insert(ic.column_number);
          }
          child->set_null_by[r.Encode()] = relationship;
        } else {
          violations.push_back({li.related_tdef, r, relationship});
        }
      }
    }
  }
  for (const Violation& v : violations) {
    const TablePlan& p = plans[v.table];
    if (p.deleting.count(v.row.Encode())) continue;  // deleted as well
    // An entry left behind by an interrupted delete names a deleted row.
    StoredRow stale;
    bool live = false;
    VELQUIN_RETURN_IF_ERROR(ReadStoredRow(store, p.def, v.row, &stale, &live));
    if (!live) continue;
    return Status::Constraint("The record cannot be deleted or changed because table '" + p.name +
                              "' includes related records (relationship '" + v.relationship +
                              "').");
  }
  for (PageNumber page : order) {
    TablePlan& p = plans[page];
    for (auto it = p.set_null.begin(); it != p.set_null.end();) {
      if (p.deleting.count(it->first)) {
        it = p.set_null.erase(it);
        continue;
      }
      for (std::uint16_t number : it->second) {
        std::size_t i = ColumnIndex(p.def, number);
        if (i >= p.def.columns.size()) continue;
        const std::string& name = p.def.columns[i].name;
        for (const auto& r : p.required) {
          if (CompareNames(r, name) == 0) {
            return Status::Constraint("The field '" + p.name + "." + name +
                                      "' cannot contain a Null value because the Required "
                                      "property for this field is set to True (relationship '" +
                                      p.set_null_by[it->first] + "').");
          }
        }
      }
      VELQUIN_RETURN_IF_ERROR(
          CheckSetNullKeys(store, p, RowPointer::Decode(it->first), it->second));
      ++it;
    }
  }
  // Pass 2: read every row to delete again, before the first write.
  std::map<PageNumber, std::vector<PreparedDelete>> prepared;
  for (PageNumber page : order) {
    VELQUIN_ASSIGN_OR_RETURN(prepared[page], PrepareDeletes(store, plans[page]));
  }
  // Pass 3: referencing tables first (the reverse of the order found).
  for (auto it = order.rbegin(); it != order.rend(); ++it) {
    VELQUIN_RETURN_IF_ERROR(ApplySetNull(store, plans[*it]));
  }
  for (auto it = order.rbegin(); it != order.rend(); ++it) {
    // The set-null pass may have changed this table's definition counts.
    TablePlan& p = plans[*it];
    if (!p.set_null.empty()) {
      VELQUIN_ASSIGN_OR_RETURN(p.def, ReadTableDef(store, *it));
    }
    VELQUIN_RETURN_IF_ERROR(ApplyDeletes(store, p, prepared[*it]));
  }
  VELQUIN_RETURN_IF_ERROR(Flush());
  return selected;
}

Status Database::DeleteRows(PageNumber tdef_page, const std::vector<RowPointer>& rows) {
  // Catalogue rows go the way user rows do: their pages repacked, their
  // index entries removed and their long values (LvProp) released.
  if (rows.empty()) return Status::Ok();
  TablePlan plan;
  VELQUIN_ASSIGN_OR_RETURN(plan.def, ReadTableDef(*pages_, tdef_page));
  plan.name = "catalogue table";
  for (const Object& o : objects_) {
    if (o.id == static_cast<std::int32_t>(tdef_page)) plan.name = o.name;
  }
  plan.deletes = rows;
  VELQUIN_ASSIGN_OR_RETURN(auto prepared, PrepareDeletes(*pages_, plan));
  return ApplyDeletes(*pages_, plan, prepared);
}

}  // namespace velquin::jet
