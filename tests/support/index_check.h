// A check shared by the engine's tests: every real index of every user
// table and of the catalogue tables (MSysObjects, MSysACEs) against a full
// scan of its rows. The B-tree walked in key order must
// hold exactly one entry per row (keys as the rows give them, ignore-nulls
// indexes leaving out all-NULL keys), the tree's shape must verify, and the
// table definition's unique-entry count must match.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "jet/database.h"
#include "jet/database_internal.h"
#include "jet/format/usage_map.h"
#include "jet/index/index_tree.h"
#include "jet/table/table.h"
#include "jet/table/table_indexes.h"

namespace velquin::jet {

// Every real index of every user and catalogue table against its rows.
// Access keeps an index's unique-entry count as a statistic that deletes do
// not lower; in a file Access wrote, the count may only be too high
// (`exact_counts` false). This engine keeps it exact.
inline void CheckIndexes(Database& db, bool exact_counts = true) {
  auto tables = db.ListTables();
  ASSERT_TRUE(tables.ok());
  std::vector<std::string> names = *tables;
  for (const char* system : {"MSysObjects", "MSysACEs"}) {
    if (db.GetTable(system).ok()) names.push_back(system);
  }
  for (const std::string& name : names) {
    SCOPED_TRACE("table " + name);
    auto info = db.GetTable(name);
    ASSERT_TRUE(info.ok());
    auto def = ReadTableDef(DatabaseInternals::Store(db), info->tdef_page);
    ASSERT_TRUE(def.ok()) << def.status().ToString();
    for (std::size_t k = 0; k < def->real_indexes.size(); ++k) {
      const RealIndex& ri = def->real_indexes[k];
      std::vector<IndexEntry> expected;
      TableCursor cur(DatabaseInternals::Store(db), *def);
      ASSERT_TRUE(cur.Open().ok());
      std::vector<Cell> cells;
      for (;;) {
        auto more = cur.NextCells(&cells);
        ASSERT_TRUE(more.ok());
        if (!*more) break;
        RowPointer at = cur.position();
        auto key = IndexKeyForRow(DatabaseInternals::Store(db), *def, ri, cells, at.page);
        ASSERT_TRUE(key.ok());
        if (SkipsRow(ri, *key)) continue;
        expected.push_back(IndexEntry{*key, RowId{at.page, at.row}});
      }
      std::sort(expected.begin(), expected.end(), [](const IndexEntry& a, const IndexEntry& b) {
        if (a.key != b.key) return a.key < b.key;
        return std::pair(a.row.page, a.row.row) < std::pair(b.row.page, b.row.row);
      });
      IndexTreeOptions o;
      o.tdef_page = def->tdef_page;
      o.unique = (ri.flags & 1) != 0;
      o.column_count = ri.columns.size();
      IndexTree tree(DatabaseInternals::Store(db), ri.root, o);
      auto all = tree.ReadAll();
      ASSERT_TRUE(all.ok()) << all.status().ToString();
      ASSERT_EQ(all->size(), expected.size()) << "index " << k;
      std::size_t distinct = 0;
      for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ((*all)[i].key, expected[i].key) << "index " << k << " entry " << i;
        EXPECT_EQ((*all)[i].row.page, expected[i].row.page);
        EXPECT_EQ((*all)[i].row.row, expected[i].row.row);
        if (i == 0 || expected[i].key != expected[i - 1].key) ++distinct;
        if (o.unique && i > 0 && !IsAllNullKey(expected[i].key, o.column_count)) {
          EXPECT_NE(expected[i].key, expected[i - 1].key);
        }
      }
      if (exact_counts) {
        EXPECT_EQ(ri.unique_entries, distinct) << "index " << k;
      } else {
        EXPECT_GE(ri.unique_entries, distinct) << "index " << k;
      }
      EXPECT_TRUE(tree.Verify().ok()) << "index " << k;
      // The index's usage map holds its root and every leaf page.
      auto map = LoadUsageMap(DatabaseInternals::Store(db), ri.usage_map);
      ASSERT_TRUE(map.ok()) << map.status().ToString();
      EXPECT_TRUE(map->Contains(ri.root)) << "index " << k << " root " << ri.root;
      auto walk = tree.Begin();
      ASSERT_TRUE(walk.ok());
      PageNumber last_leaf = 0;
      while (walk->Valid()) {
        if (walk->leaf_page() != last_leaf) {
          last_leaf = walk->leaf_page();
          EXPECT_TRUE(map->Contains(last_leaf)) << "index " << k << " leaf " << last_leaf;
        }
        ASSERT_TRUE(walk->Next().ok());
      }
    }
  }
}

}  // namespace velquin::jet
