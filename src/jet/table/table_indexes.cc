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

Result<PageNumber> CreateIndexRoot(PageStore& store, PageNumber tdef_page, bool unique,
                                   std::size_t column_count) {
  IndexTreeOptions o;
  o.tdef_page = tdef_page;
  o.unique = unique;
  o.column_count = column_count;
  VELQUIN_ASSIGN_OR_RETURN(IndexTree tree, IndexTree::Create(store, o));
  return tree.root();
}

Status RebuildIndexes(PageStore& store, TableDef* def) {
  if (def->real_indexes.empty()) return Status::Ok();
  std::vector<std::vector<IndexEntry>> entries(def->real_indexes.size());
  {
    TableCursor cur(store, *def);
    VELQUIN_RETURN_IF_ERROR(cur.Open());
    std::vector<Cell> cells;
    for (;;) {
      VELQUIN_ASSIGN_OR_RETURN(bool more, cur.NextCells(&cells));
      if (!more) break;
      RowPointer where = cur.position();
      for (std::size_t k = 0; k < def->real_indexes.size(); ++k) {
        VELQUIN_ASSIGN_OR_RETURN(
            auto key, IndexKeyForRow(store, *def, def->real_indexes[k], cells, where.page));
        if (SkipsRow(def->real_indexes[k], key)) continue;
        entries[k].push_back(IndexEntry{std::move(key), RowId{where.page, where.row}});
      }
    }
  }
  for (std::size_t k = 0; k < def->real_indexes.size(); ++k) {
    RealIndex& ri = def->real_indexes[k];
    std::sort(entries[k].begin(), entries[k].end(), EntryLess);
    VELQUIN_ASSIGN_OR_RETURN(UsageMap map, LoadUsageMap(store, ri.usage_map));
    MapObserver obs(store, map);
    IndexTree tree(store, ri.root, Options(*def, ri, &obs));
    VELQUIN_ASSIGN_OR_RETURN(std::uint64_t distinct, tree.BulkLoad(entries[k]));
    ri.unique_entries = static_cast<std::uint32_t>(distinct);
    if (map.dirty()) VELQUIN_RETURN_IF_ERROR(StoreUsageMap(store, ri.usage_map, map));
  }
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
      : map(std::move(m)), observer(store, map), tree(store, ri.root, Options(def, ri, &observer)) {}
  UsageMap map;
  MapObserver observer;
  IndexTree tree;
};

// The entries of one index collected in bulk mode: key bytes in one buffer,
// 12 bytes of bookkeeping per entry. Unique keys are checked against the
// last key while keys arrive in ascending order (the usual case: rows
// copied in key order) and through a hash table of entry numbers once they
// do not.
class TableIndexWriter::Deferred : public IndexEntrySource {
 public:
  Deferred(bool unique, std::size_t column_count) : unique_(unique), columns_(column_count) {}

  std::size_t size() const override { return items_.size(); }
  void Get(std::size_t i, IndexEntry* out) const override {
    const Item& it = items_[i];
    out->key.assign(bytes_.begin() + it.offset, bytes_.begin() + it.offset + it.length);
    out->row = RowId{it.page_row >> 8, static_cast<std::uint8_t>(it.page_row & 0xFF)};
  }

  // Whether a collected entry subject to uniqueness has exactly this key.
  bool Contains(std::span<const std::uint8_t> key) {
    if (items_.empty()) return false;
    if (!hashed_ && sorted_) {
      int c = CompareKeys(key, KeyOf(items_.back()));
      if (c > 0) return false;
      if (c == 0 && !IsAllNullKey(key, columns_)) return true;
    }
    if (!hashed_) BuildHash();
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t s = Hash(key) & mask;; s = (s + 1) & mask) {
      if (slots_[s] == 0) return false;
      if (CompareKeys(key, KeyOf(items_[slots_[s] - 1])) == 0) return true;
    }
  }

  Status Add(std::span<const std::uint8_t> key, RowId row) {
    if (key.size() > kMaxIndexKeySize) {
      return Status::InvalidArgument("index key of " + std::to_string(key.size()) +
                                     " bytes is too long");
    }
    if (bytes_.size() + key.size() > 0xFFFFFFFFu || items_.size() >= 0xFFFFFFFEu) {
      return Status::NotSupported("too many index entries for one load");
    }
    Item it{static_cast<std::uint32_t>(bytes_.size()), (row.page << 8) | row.row,
            static_cast<std::uint16_t>(key.size())};
    if (sorted_ && !items_.empty() && Less(it, key, items_.back()) == false) sorted_ = false;
    bytes_.insert(bytes_.end(), key.begin(), key.end());
    items_.push_back(it);
    if (hashed_) HashIn(items_.size() - 1);
    return Status::Ok();
  }

  // Puts the entries in index order (key, then row) for BulkLoad.
  void Sort() {
    slots_.clear();
    slots_.shrink_to_fit();
    hashed_ = false;
    if (sorted_) return;
    std::sort(items_.begin(), items_.end(), [this](const Item& a, const Item& b) {
      int c = CompareKeys(KeyOf(a), KeyOf(b));
      return c != 0 ? c < 0 : a.page_row < b.page_row;
    });
    sorted_ = true;
  }

 private:
  struct Item {
    std::uint32_t offset;
    std::uint32_t page_row;  // page << 8 | row (pages fit 24 bits in an entry)
    std::uint16_t length;
  };
  std::span<const std::uint8_t> KeyOf(const Item& it) const {
    return {bytes_.data() + it.offset, it.length};
  }
  // Whether `last` sorts before the new entry (`it`, whose key is `key`).
  bool Less(const Item& it, std::span<const std::uint8_t> key, const Item& last) const {
    int c = CompareKeys(KeyOf(last), key);
    return c != 0 ? c < 0 : last.page_row < it.page_row;
  }
  static std::size_t Hash(std::span<const std::uint8_t> key) {
    return std::hash<std::string_view>{}(
        std::string_view(reinterpret_cast<const char*>(key.data()), key.size()));
  }
  void HashIn(std::size_t i) {
    if (!unique_ || IsAllNullKey(KeyOf(items_[i]), columns_)) return;
    if ((used_ + 1) * 2 > slots_.size()) Rehash(std::max<std::size_t>(1024, slots_.size() * 2));
    const std::size_t mask = slots_.size() - 1;
    std::size_t s = Hash(KeyOf(items_[i])) & mask;
    while (slots_[s] != 0) s = (s + 1) & mask;
    slots_[s] = static_cast<std::uint32_t>(i + 1);
    ++used_;
  }
  void Rehash(std::size_t size) {
    std::vector<std::uint32_t> old = std::move(slots_);
    slots_.assign(size, 0);
    const std::size_t mask = size - 1;
    for (std::uint32_t v : old) {
      if (v == 0) continue;
      std::size_t s = Hash(KeyOf(items_[v - 1])) & mask;
      while (slots_[s] != 0) s = (s + 1) & mask;
      slots_[s] = v;
    }
  }
  void BuildHash() {
    std::size_t size = 1024;
    while (size < items_.size() * 2 + 2) size *= 2;
    slots_.assign(size, 0);
    used_ = 0;
    hashed_ = true;
    for (std::size_t i = 0; i < items_.size(); ++i) HashIn(i);
  }

  bool unique_;
  std::size_t columns_;
  std::vector<std::uint8_t> bytes_;
  std::vector<Item> items_;
  bool sorted_ = true;  // entries so far in index order
  bool hashed_ = false;
  std::vector<std::uint32_t> slots_;  // entry number + 1; 0 = empty
  std::size_t used_ = 0;
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
        deferred_.push_back(std::make_unique<Deferred>((ri.flags & 0x01) != 0, ri.columns.size()));
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
    Deferred& d = *deferred_[k];
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
  return Status::Constraint("duplicate value in unique index \"" + LogicalName(real_index) +
                            "\"");
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
    Status st = states_[k]->tree.Insert(IndexEntry{keys_[k], RowId{where.page, where.row}},
                                        &new_key);
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
