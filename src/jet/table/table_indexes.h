// Keeping a table's physical indexes right: index keys from stored cells,
// whole-index rebuilds from the rows (catalogue tables, after bulk loads) and
// per-row inserts. The B-tree pages themselves belong to the index module;
// this file keeps each index's usage map and the TDEF's unique-entry counts
// [TDEF-6], [UMAP-3].
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/status.h"
#include "jet/format/usage_map.h"
#include "jet/format/page_store.h"
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

// Creates an empty root leaf for a new index of the table at `tdef_page`.
Result<PageNumber> CreateIndexRoot(PageStore& store, PageNumber tdef_page, bool unique,
                                   std::size_t column_count);

// Rebuilds every real index of `def` from the table's rows, records the
// index pages in each index's usage map and updates def->real_indexes'
// unique-entry counts. The caller writes the TDEF afterwards.
Status RebuildIndexes(PageStore& store, TableDef* def);

// Adds the entries of one new row to every real index (Constraint, with
// nothing added, when a unique index already has the key).
Status InsertIndexEntries(PageStore& store, TableDef* def, const std::vector<Cell>& cells,
                          RowPointer where);

// Checks a row against the unique indexes without changing anything.
Status CheckUnique(PageStore& store, const TableDef& def, const std::vector<Cell>& cells,
                   PageNumber page);

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
  class Deferred;
  Status DuplicateIn(std::size_t real_index) const;
  std::string LogicalName(std::size_t real_index) const;
  PageStore& store_;
  TableDef* def_;
  bool defer_requested_ = false;
  bool deferring_ = false;
  std::vector<std::unique_ptr<State>> states_;
  std::vector<std::unique_ptr<Deferred>> deferred_;
  std::vector<std::vector<std::uint8_t>> keys_;
  bool opened_ = false;
  bool checked_ = false;
};

}  // namespace velquin::jet
