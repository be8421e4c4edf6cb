// Index upkeep: see table_indexes.h.
#include "jet/table/table_indexes.h"

#include <algorithm>
#include <functional>
#include <string_view>

#include "jet/format/usage_map.h"
#include "jet/index/index_key.h"
#include "jet/table/long_value.h"
#include "jet/table/table.h"
#include "jet/table/text_codec.h"

namespace velquin::jet {
namespace {

// Records the pages an index tree takes or gives back in its usage map.
class MapObserver : public IndexPageObserver {
 public:
  MapObserver(PageStore& store, UsageMap& map) : store_(store), map_(map) {}
  Status OnIndexPageAllocated(PageNumber page) override {
    return map_.Set(page, true, [this]() { return store_.AllocatePage(); });
  }
  Status OnIndexPageReleased(PageNumber page) override {
    return map_.Set(page, false, [this]() { return store_.AllocatePage(); });
  }

 private:
  PageStore& store_;
  UsageMap& map_;
};

const Column* ColumnByNumber(const TableDef& def, std::uint16_t number, std::size_t* index) {
  for (std::size_t i = 0; i < def.columns.size(); ++i) {
    if (def.columns[i].number == number) {
      *index = i;
      return &def.columns[i];
    }
  }
  return nullptr;
}

IndexTreeOptions Options(const TableDef& def, const RealIndex& ri, IndexPageObserver* obs) {
  IndexTreeOptions o;
  o.tdef_page = def.tdef_page;
  o.unique = (ri.flags & 0x01) != 0;
  o.column_count = ri.columns.size();
  o.observer = obs;
  return o;
}

}  // namespace

Status IndexKeyForRowInto(PageStore& store, const TableDef& def, const RealIndex& ri,
                          const std::vector<Cell>& cells, PageNumber page,
                          std::vector<std::uint8_t>* key) {
  key->clear();
  if (ri.columns.empty() || ri.columns.size() > kMaxIndexColumns) {
    return PageCorruption(def.tdef_page, "index columns",
                          std::to_string(ri.columns.size()) + " columns");
  }
  for (std::size_t n = 0; n < ri.columns.size(); ++n) {
    const IndexColumn& ic = ri.columns[n];
    std::size_t i = 0;
    const Column* c = ColumnByNumber(def, ic.column_number, &i);
    if (!c) return PageCorruption(def.tdef_page, "index column", "missing column");
    if (!IsIndexableType(static_cast<std::uint8_t>(c->type))) {
      return Status::NotSupported("column \"" + c->name + "\" cannot be indexed");
    }
    const KeyColumn kc{static_cast<KeyColumnType>(c->type), ic.ascending};
    const Cell& cell = cells[i];
    if (cell.present && c->type != ColumnType::kBool &&
        AppendStoredKeyColumn(kc, cell.data, *key)) {
      continue;  // a number or date, keyed straight from its stored bytes
    }
    KeyValue kv;
    if (c->type == ColumnType::kBool) {
      kv = cell.present;
    } else if (!cell.present) {
      kv = std::monostate{};
    } else if (c->type == ColumnType::kText || c->type == ColumnType::kMemo) {
      VELQUIN_ASSIGN_OR_RETURN(Value v, DecodeCellValue(store, *c, cell, page));
      VELQUIN_ASSIGN_OR_RETURN(std::u16string u, Utf8ToUtf16(v.text_value()));
      kv = std::move(u);
    } else {
      VELQUIN_ASSIGN_OR_RETURN(kv, KeyValueFromStored(kc.type, cell.data));
    }
    Status st = AppendKeyColumn(kc, kv, *key);
    if (!st.ok()) return st.WithContext("column " + std::to_string(n + 1));
  }
  return Status::Ok();
}

Result<std::vector<std::uint8_t>> IndexKeyForRow(PageStore& store, const TableDef& def,
                                                 const RealIndex& ri,
                                                 const std::vector<Cell>& cells, PageNumber page) {
  std::vector<std::uint8_t> key;
  VELQUIN_RETURN_IF_ERROR(IndexKeyForRowInto(store, def, ri, cells, page, &key));
  return key;
}

bool SkipsRow(const RealIndex& ri, const std::vector<std::uint8_t>& key) {
  return (ri.flags & 0x02) != 0 && IsAllNullKey(key, ri.columns.size());
}

UsageMap NewIndexUsageMap(PageNumber root) {
  PageAllocator no_alloc = []() -> Result<PageNumber> {
    return Status::InvalidArgument("no allocation");
  };
  UsageMap map = UsageMap::NewInline(0);
  if (map.Set(root, true, no_alloc).ok()) return map;
  map = UsageMap::NewInline(root);
  (void)map.Set(root, true, no_alloc);  // the first bit of its own map: always fits
  return map;
}

Result<PageNumber> CreateIndexRoot(PageStore& store, PageNumber tdef_page, bool unique,
                                   std::size_t column_count) {
  IndexTreeOptions o;
  o.tdef_page = tdef_page;
  o.unique = unique;
  o.column_count = column_count;
  VELQUIN_ASSIGN_OR_RETURN(IndexTree tree, IndexTree::Create(store, o));
  return tree.root();
}

Result<std::unique_ptr<IndexEntryCollector>> GatherIndexEntries(
    PageStore& store, const TableDef& def, const RealIndex& ri, const std::string& name,
    std::vector<RowId>* rows_with_null) {
  auto entries = std::make_unique<IndexEntryCollector>((ri.flags & 0x01) != 0, ri.columns.size());
  // Positions in the row of the key columns that can be NULL.
  std::vector<std::size_t> nullable;
  for (const IndexColumn& ic : ri.columns) {
    for (std::size_t i = 0; i < def.columns.size(); ++i) {
      if (def.columns[i].number == ic.column_number && def.columns[i].type != ColumnType::kBool) {
        nullable.push_back(i);
      }
    }
  }
  bool nulls_in_order = true;
  TableCursor cur(store, def);
  VELQUIN_RETURN_IF_ERROR(cur.Open());
  std::vector<Cell> cells;
  std::vector<std::uint8_t> key;
  for (;;) {
    VELQUIN_ASSIGN_OR_RETURN(bool more, cur.NextCells(&cells));
    if (!more) break;
    RowPointer where = cur.position();
    if (rows_with_null) {
      for (std::size_t i : nullable) {
        if (i < cells.size() && cells[i].present) continue;
        RowId id{where.page, where.row};
        const RowId& last = rows_with_null->empty() ? id : rows_with_null->back();
        if (last.page > id.page || (last.page == id.page && last.row > id.row)) {
          nulls_in_order = false;
        }
        rows_with_null->push_back(id);
        break;
      }
    }
    VELQUIN_RETURN_IF_ERROR(IndexKeyForRowInto(store, def, ri, cells, where.page, &key));
    // Room for every row's entry and, for short keys, its key bytes (longer
    // keys vary too much to guess their total from the first).
    if (entries->size() == 0) {
      entries->Reserve(def.row_count,
                       std::size_t{def.row_count} * std::min<std::size_t>(key.size(), 16));
    }
    if (SkipsRow(ri, key)) continue;
    if (key.size() > kMaxIndexKeySize) {
      return Status::Constraint("the values of index \"" + name + "\" are too long (" +
                                std::to_string(key.size()) + " key bytes, at most " +
                                std::to_string(kMaxIndexKeySize) + ")");
    }
    VELQUIN_RETURN_IF_ERROR(entries->Add(key, RowId{where.page, where.row}));
  }
  if (rows_with_null && !nulls_in_order) {
    std::sort(rows_with_null->begin(), rows_with_null->end(), [](const RowId& a, const RowId& b) {
      return a.page != b.page ? a.page < b.page : a.row < b.row;
    });
  }
  entries->Sort();
  if (entries->HasDuplicate()) {
    return Status::Constraint("duplicate value in unique index \"" + name + "\"");
  }
  return entries;
}

Status LoadIndex(PageStore& store, TableDef* def, std::size_t real_index,
                 const IndexEntryCollector& sorted) {
  RealIndex& ri = def->real_indexes[real_index];
  VELQUIN_ASSIGN_OR_RETURN(UsageMap map, LoadUsageMap(store, ri.usage_map));
  MapObserver obs(store, map);
  IndexTree tree(store, ri.root, Options(*def, ri, &obs));
  VELQUIN_ASSIGN_OR_RETURN(std::uint64_t distinct, tree.BulkLoad(sorted));
  ri.unique_entries = static_cast<std::uint32_t>(distinct);
  if (map.dirty()) VELQUIN_RETURN_IF_ERROR(StoreUsageMap(store, ri.usage_map, map));
  return Status::Ok();
}

Status CheckUnique(PageStore& store, const TableDef& def, const std::vector<Cell>& cells,
                   PageNumber page) {
  for (const RealIndex& ri : def.real_indexes) {
    if ((ri.flags & 0x01) == 0) continue;
    VELQUIN_ASSIGN_OR_RETURN(auto key, IndexKeyForRow(store, def, ri, cells, page));
    if (SkipsRow(ri, key) || IsAllNullKey(key, ri.columns.size())) continue;
    IndexTree tree(store, ri.root, Options(def, ri, nullptr));
    VELQUIN_ASSIGN_OR_RETURN(bool exists, tree.ContainsKey(key));
    if (exists) {
      std::string name;
      for (const auto& li : def.logical_indexes) {
        if (&def.real_indexes[li.real_index] == &ri) name = li.name;
      }
      return Status::Constraint("duplicate value in unique index \"" + name + "\"");
    }
  }
  return Status::Ok();
}

Status InsertIndexEntries(PageStore& store, TableDef* def, const std::vector<Cell>& cells,
                          RowPointer where) {
  for (RealIndex& ri : def->real_indexes) {
    VELQUIN_ASSIGN_OR_RETURN(auto key, IndexKeyForRow(store, *def, ri, cells, where.page));
    if (SkipsRow(ri, key)) continue;
    VELQUIN_ASSIGN_OR_RETURN(UsageMap map, LoadUsageMap(store, ri.usage_map));
    MapObserver obs(store, map);
    IndexTree tree(store, ri.root, Options(*def, ri, &obs));
    bool new_key = false;
    VELQUIN_RETURN_IF_ERROR(
        tree.Insert(IndexEntry{std::move(key), RowId{where.page, where.row}}, &new_key));
    if (new_key) ++ri.unique_entries;
    if (map.dirty()) VELQUIN_RETURN_IF_ERROR(StoreUsageMap(store, ri.usage_map, map));
  }
  return Status::Ok();
}

struct TableIndexWriter::State {
  State(PageStore& store, const TableDef& def, const RealIndex& ri, UsageMap m)
      : map(std::move(m)),
        observer(store, map),
        tree(store, ri.root, Options(def, ri, &observer)) {}
  UsageMap map;
  MapObserver observer;
  IndexTree tree;
};

TableIndexWriter::TableIndexWriter(PageStore& store, TableDef* def, bool defer)
    : store_(store), def_(def), defer_requested_(defer) {}

TableIndexWriter::~TableIndexWriter() = default;

Status TableIndexWriter::Open() {
  if (opened_) return Status::Ok();
  states_.clear();
  deferred_.clear();
  for (const RealIndex& ri : def_->real_indexes) {
    VELQUIN_ASSIGN_OR_RETURN(UsageMap map, LoadUsageMap(store_, ri.usage_map));
    states_.push_back(std::make_unique<State>(store_, *def_, ri, std::move(map)));
  }
  deferring_ = false;
  if (defer_requested_ && !states_.empty()) {
    bool all_empty = true;
    for (auto& st : states_) {
      VELQUIN_ASSIGN_OR_RETURN(IndexCursor first, st->tree.Begin());
      if (first.Valid()) all_empty = false;
    }
    if (all_empty) {
      for (const RealIndex& ri : def_->real_indexes) {
        deferred_.push_back(
            std::make_unique<IndexEntryCollector>((ri.flags & 0x01) != 0, ri.columns.size()));
      }
      deferring_ = true;
    }
  }
  opened_ = true;
  return Status::Ok();
}

Status TableIndexWriter::Finalize() {
  if (!deferring_) return Status::Ok();
  deferring_ = false;
  for (std::size_t k = 0; k < deferred_.size(); ++k) {
    IndexEntryCollector& d = *deferred_[k];
    d.Sort();
    auto distinct = states_[k]->tree.BulkLoad(d);
    deferred_[k].reset();
    if (!distinct.ok()) {
      states_[k]->tree.DropCachedPages();
      return distinct.status();
    }
    def_->real_indexes[k].unique_entries = static_cast<std::uint32_t>(*distinct);
  }
  deferred_.clear();
  return Status::Ok();
}

Status TableIndexWriter::Check(const std::vector<Cell>& cells, PageNumber page) {
  checked_ = false;
  VELQUIN_RETURN_IF_ERROR(Open());
  keys_.resize(def_->real_indexes.size());
  for (std::size_t k = 0; k < def_->real_indexes.size(); ++k) {
    VELQUIN_RETURN_IF_ERROR(
        IndexKeyForRowInto(store_, *def_, def_->real_indexes[k], cells, page, &keys_[k]));
  }
  for (std::size_t k = 0; k < def_->real_indexes.size(); ++k) {
    if (keys_[k].size() > kMaxIndexKeySize) {
      return Status::Constraint("the values of index \"" + LogicalName(k) + "\" are too long (" +
                                std::to_string(keys_[k].size()) + " key bytes, at most " +
                                std::to_string(kMaxIndexKeySize) + ")");
    }
  }
  for (std::size_t k = 0; k < def_->real_indexes.size(); ++k) {
    const RealIndex& ri = def_->real_indexes[k];
    if ((ri.flags & 0x01) == 0) continue;
    if (SkipsRow(ri, keys_[k]) || IsAllNullKey(keys_[k], ri.columns.size())) continue;
    if (deferring_) {
      if (deferred_[k]->Contains(keys_[k])) return DuplicateIn(k);
      continue;
    }
    auto exists = states_[k]->tree.ContainsKey(keys_[k]);
    if (!exists.ok()) {
      states_[k]->tree.DropCachedPages();
      return exists.status();
    }
    if (*exists) return DuplicateIn(k);
  }
  checked_ = true;
  return Status::Ok();
}

std::string TableIndexWriter::LogicalName(std::size_t real_index) const {
  std::string name;
  for (const auto& li : def_->logical_indexes) {
    if (li.real_index == real_index) name = li.name;
  }
  return name;
}

Status TableIndexWriter::DuplicateIn(std::size_t real_index) const {
  std::string message = "duplicate value in unique index \"" + LogicalName(real_index) + "\"";
  // Text keys are equal without regard to letter case and trailing blanks:
  // say so, since the values may not look the same.
  bool text = false;
  for (const IndexColumn& ic : def_->real_indexes[real_index].columns) {
    for (const Column& c : def_->columns) {
      text = text || (c.number == ic.column_number &&
                      (c.type == ColumnType::kText || c.type == ColumnType::kMemo));
    }
  }
  if (text)
    message += " (Access compares text keys without regard to letter case and trailing blanks)";
  return Status::Constraint(message);
}

Status TableIndexWriter::Insert(RowPointer where) {
  if (!checked_) return Status::InvalidArgument("index keys were not checked before the insert");
  checked_ = false;
  for (std::size_t k = 0; k < def_->real_indexes.size(); ++k) {
    RealIndex& ri = def_->real_indexes[k];
    if (SkipsRow(ri, keys_[k])) continue;
    if (deferring_) {
      VELQUIN_RETURN_IF_ERROR(deferred_[k]->Add(keys_[k], RowId{where.page, where.row}));
      continue;
    }
    bool new_key = false;
    Status st =
        states_[k]->tree.Insert(IndexEntry{keys_[k], RowId{where.page, where.row}}, &new_key);
    if (!st.ok()) {
      // A failed insert may have left pages half-changed: read them afresh.
      states_[k]->tree.DropCachedPages();
      return st;
    }
    if (new_key) ++ri.unique_entries;
  }
  return Status::Ok();
}

Status TableIndexWriter::Keys(const std::vector<Cell>& cells, PageNumber page,
                              std::vector<std::vector<std::uint8_t>>* keys) {
  keys->resize(def_->real_indexes.size());
  for (std::size_t k = 0; k < def_->real_indexes.size(); ++k) {
    VELQUIN_RETURN_IF_ERROR(
        IndexKeyForRowInto(store_, *def_, def_->real_indexes[k], cells, page, &(*keys)[k]));
  }
  return Status::Ok();
}

Status TableIndexWriter::Remove(const std::vector<std::vector<std::uint8_t>>& keys,
                                RowPointer where) {
  VELQUIN_RETURN_IF_ERROR(Open());
  if (deferring_) {
    return Status::InvalidArgument("index entries cannot be removed during a bulk load");
  }
  if (keys.size() != def_->real_indexes.size()) {
    return Status::InvalidArgument("one key per index is needed to remove a row's entries");
  }
  for (std::size_t k = 0; k < def_->real_indexes.size(); ++k) {
    RealIndex& ri = def_->real_indexes[k];
    if (SkipsRow(ri, keys[k])) continue;
    bool last = false;
    Status st = states_[k]->tree.Remove(IndexEntry{keys[k], RowId{where.page, where.row}}, &last);
    if (!st.ok()) {
      states_[k]->tree.DropCachedPages();
      if (st.code() == StatusCode::kNotFound) {
        return PageCorruption(ri.root, "index entry",
                              "index \"" + LogicalName(k) + "\" has no entry for row " +
                                  std::to_string(where.row) + " of page " +
                                  std::to_string(where.page));
      }
      return st;
    }
    if (last && ri.unique_entries > 0) --ri.unique_entries;
  }
  return Status::Ok();
}

Status TableIndexWriter::StoreMaps() {
  if (!opened_) return Status::Ok();
  for (std::size_t k = 0; k < states_.size(); ++k) {
    UsageMap& map = states_[k]->map;
    if (map.dirty()) {
      VELQUIN_RETURN_IF_ERROR(StoreUsageMap(store_, def_->real_indexes[k].usage_map, map));
    }
  }
  return Status::Ok();
}

}  // namespace velquin::jet
