// Keeping a table's physical indexes right: index keys from stored cells,
// one-pass builds from gathered entries (bulk loads, new indexes) and
// per-row inserts and removals. The B-tree pages themselves belong to the index module;
// this file keeps each index's usage map and the TDEF's unique-entry counts
// [TDEF-6], [UMAP-3].
#pragma once

#include <algorithm>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "jet/format/page_store.h"
#include "jet/format/usage_map.h"
#include "jet/index/index_tree.h"
#include "jet/table/row_codec.h"
#include "jet/table/table_def.h"

namespace velquin::jet {

// The key of one row for real index `ri`; long values are read through `store`.
Result<std::vector<std::uint8_t>> IndexKeyForRow(PageStore& store, const TableDef& def,
                                                 const RealIndex& ri,
                                                 const std::vector<Cell>& cells, PageNumber page);

// The same into `key` (its storage reused).
Status IndexKeyForRowInto(PageStore& store, const TableDef& def, const RealIndex& ri,
                          const std::vector<Cell>& cells, PageNumber page,
                          std::vector<std::uint8_t>* key);

// Whether a row whose key is `key` is left out of the index (ignore-nulls
// indexes skip rows whose key columns are all NULL).
bool SkipsRow(const RealIndex& ri, const std::vector<std::uint8_t>& key);

// The usage map of a new index holding only its root: inline, starting at
// page 0 when that covers the root (as Jet writes it), else at the root.
UsageMap NewIndexUsageMap(PageNumber root);

// Creates an empty root leaf for a new index of the table at `tdef_page`.
Result<PageNumber> CreateIndexRoot(PageStore& store, PageNumber tdef_page, bool unique,
                                   std::size_t column_count);

// Adds the entries of one new row to every real index (Constraint, with
// nothing added, when a unique index already has the key).
Status InsertIndexEntries(PageStore& store, TableDef* def, const std::vector<Cell>& cells,
                          RowPointer where);

// Checks a row against the unique indexes without changing anything.
Status CheckUnique(PageStore& store, const TableDef& def, const std::vector<Cell>& cells,
                   PageNumber page);

// The entries of one index gathered in memory before its tree is built:
// key bytes in one buffer, 12 bytes of bookkeeping per entry. Keys of a
// unique index are checked against the last key while keys arrive in
// ascending order (the usual case: rows copied in key order) and through a
// hash table of entry numbers once they do not.
class IndexEntryCollector : public IndexEntrySource {
 public:
  IndexEntryCollector(bool unique, std::size_t column_count)
      : unique_(unique), columns_(column_count) {}

  std::size_t size() const override { return items_.size(); }
  // The key and the row of entry `i`, without copying.
  std::span<const std::uint8_t> KeyAt(std::size_t i) const { return KeyOf(items_[i]); }
  RowId RowAt(std::size_t i) const {
    return RowId{items_[i].page_row >> 8, static_cast<std::uint8_t>(items_[i].page_row & 0xFF)};
  }
  void Get(std::size_t i, IndexEntry* out) const override {
    const Item& it = items_[i];
    out->key.assign(bytes_.begin() + it.offset, bytes_.begin() + it.offset + it.length);
    out->row = RowId{it.page_row >> 8, static_cast<std::uint8_t>(it.page_row & 0xFF)};
  }

  // Makes room for `entries` entries of `key_bytes` key bytes in all, so a
  // load of known size does not copy its entries as they grow.
  void Reserve(std::size_t entries, std::size_t key_bytes) {
    items_.reserve(entries);
    bytes_.reserve(key_bytes);
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

  // After Sort: whether two entries of a unique index have the same key
  // (all-NULL keys exempt), and which.
  bool HasDuplicate(std::size_t* at = nullptr) const {
    if (!unique_) return false;
    for (std::size_t i = 1; i < items_.size(); ++i) {
      std::span<const std::uint8_t> k = KeyOf(items_[i]);
      if (CompareKeys(KeyOf(items_[i - 1]), k) == 0 && !IsAllNullKey(k, columns_)) {
        if (at) *at = i;
        return true;
      }
    }
    return false;
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

// The entries of real index `ri` (which need not be part of `def` yet) for
// every row of the table, sorted. Constraint naming the index (`name`) when
// a unique index would hold a key twice or a key is too long; nothing is
// written either way. `rows_with_null` (optional) receives, in ascending
// order, the rows that have a NULL in some key column (BOOL columns are never
// NULL): such a row needs no related row in a relationship.
Result<std::unique_ptr<IndexEntryCollector>> GatherIndexEntries(
    PageStore& store, const TableDef& def, const RealIndex& ri, const std::string& name,
    std::vector<RowId>* rows_with_null = nullptr);

// Writes gathered entries into the empty tree of def->real_indexes[real_index]
// and its usage map, and sets its unique-entry count. The caller writes the
// TDEF afterwards.
Status LoadIndex(PageStore& store, TableDef* def, std::size_t real_index,
                 const IndexEntryCollector& sorted);

// Keeps the indexes of one table open across many row inserts: one IndexTree
// per real index (so its decoded pages stay cached between rows) and each
// index's usage map in memory until StoreMaps. Its owner must be the only
// writer of the table while it is in use, and must call StoreMaps before it
// writes the TDEF.
//
// Bulk mode (`defer`): when every index of the table is empty as the writer
// opens, the entries are collected in memory instead, uniqueness is checked
// there, and Finalize builds each tree in one pass, leaf pages filled
// densely. Until then the trees in the file stay empty, so the owner must not
// write the TDEF (which would count rows the indexes lack) before Finalize.
class TableIndexWriter {
 public:
  // `def` must outlive the writer; its unique-entry counts are kept up to date.
  TableIndexWriter(PageStore& store, TableDef* def, bool defer = false);
  ~TableIndexWriter();
  TableIndexWriter(const TableIndexWriter&) = delete;
  TableIndexWriter& operator=(const TableIndexWriter&) = delete;

  // Loads the usage maps and opens the trees (done by Check when needed);
  // in bulk mode, finds whether every index is empty.
  Status Open();
  // Computes the row's keys and checks them against the unique indexes
  // without changing anything (Constraint naming the index on a duplicate).
  Status Check(const std::vector<Cell>& cells, PageNumber page);
  // Adds the keys computed by the last successful Check for the row at `where`.
  Status Insert(RowPointer where);
  // The key of the row for every real index (in real-index order), computed
  // from its stored cells, for a later Remove.
  Status Keys(const std::vector<Cell>& cells, PageNumber page,
              std::vector<std::vector<std::uint8_t>>* keys);
  // Removes the entries `keys` (from Keys) of the row at `where` from every
  // real index, keeping the unique-entry counts right. Corruption naming the
  // index when one lacks the entry.
  Status Remove(const std::vector<std::vector<std::uint8_t>>& keys, RowPointer where);
  // Writes the usage maps that changed since the last call.
  Status StoreMaps();
  // Builds the trees from the entries collected in bulk mode and leaves it
  // (later rows go straight into the trees). Nothing to do otherwise.
  Status Finalize();
  // Whether entries are being collected in memory (see bulk mode).
  bool deferring() const { return deferring_; }

 private:
  struct State;
  Status DuplicateIn(std::size_t real_index) const;
  std::string LogicalName(std::size_t real_index) const;
  PageStore& store_;
  TableDef* def_;
  bool defer_requested_ = false;
  bool deferring_ = false;
  std::vector<std::unique_ptr<State>> states_;
  std::vector<std::unique_ptr<IndexEntryCollector>> deferred_;
  std::vector<std::vector<std::uint8_t>> keys_;
  bool opened_ = false;
  bool checked_ = false;
};

}  // namespace velquin::jet
