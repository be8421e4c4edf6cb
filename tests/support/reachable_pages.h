// A check shared by the engine's tests: every page a reader can reach from
// the catalogue (table definitions, their usage maps and bitmap pages, the
// pages those maps list, index trees walked from their roots, long values
// followed from rows) must be in the file and marked used in the global
// usage map, so that no later allocation hands it out again.
#pragma once

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "jet/database.h"
#include "jet/database_internal.h"
#include "jet/format/usage_map.h"
#include "jet/index/index_tree.h"
#include "jet/table/table.h"

namespace velquin::jet {

// Reads through another store and remembers every page read.
class RecordingStore : public PageStore {
 public:
  explicit RecordingStore(PageStore& base) : base_(base) {}
  PageNumber PageCount() const override { return base_.PageCount(); }
  Status ReadPage(PageNumber n, Page& out) override {
    read.insert(n);
    return base_.ReadPage(n, out);
  }
  Status WritePage(PageNumber, const Page&) override {
    return Status::InvalidArgument("the check only reads");
  }
  Result<PageNumber> AllocatePage() override {
    return Status::InvalidArgument("the check only reads");
  }
  Status ReleasePage(PageNumber) override {
    return Status::InvalidArgument("the check only reads");
  }
  std::set<PageNumber> read;

 private:
  PageStore& base_;
};

// `db` must be open for writing (only then is the global map loaded).
inline void CheckReachablePagesUsed(Database& db) {
  ASSERT_FALSE(db.read_only());
  RecordingStore rec(DatabaseInternals::Store(db));
  std::set<PageNumber> listed;
  auto tables = db.ListTables(/*include_system=*/true);
  ASSERT_TRUE(tables.ok()) << tables.status().ToString();
  for (const std::string& name : *tables) {
    SCOPED_TRACE("table " + name);
    auto info = db.GetTable(name);
    ASSERT_TRUE(info.ok()) << info.status().ToString();
    auto tdef_pages = TableDefPages(rec, info->tdef_page);
    ASSERT_TRUE(tdef_pages.ok()) << tdef_pages.status().ToString();
    auto def = ReadTableDef(rec, info->tdef_page);
    ASSERT_TRUE(def.ok()) << def.status().ToString();
    std::vector<RowPointer> maps = {def->owned_map, def->free_map};
    for (const Column& c : def->columns) {
      if (c.is_long_value()) {
        maps.push_back(c.lv_owned);
        maps.push_back(c.lv_free);
      }
    }
    for (const RealIndex& ri : def->real_indexes) maps.push_back(ri.usage_map);
    for (const RowPointer& rp : maps) {
      if (rp.page == 0) continue;
      auto m = LoadUsageMap(rec, rp);
      ASSERT_TRUE(m.ok()) << m.status().ToString();
      for (PageNumber p : m->Pages(DatabaseInternals::Store(db).PageCount())) listed.insert(p);
      for (PageNumber p : m->BitmapPages()) listed.insert(p);
    }
    for (const RealIndex& ri : def->real_indexes) {
      IndexTreeOptions o;
      o.tdef_page = def->tdef_page;
      o.unique = (ri.flags & 1) != 0;
      o.column_count = ri.columns.size();
      IndexTree tree(rec, ri.root, o);
      auto v = tree.Verify();
      ASSERT_TRUE(v.ok()) << v.status().ToString();
    }
    TableCursor cur(rec, *def);
    ASSERT_TRUE(cur.Open().ok());
    std::vector<Value> row;
    for (;;) {
      auto more = cur.Next(&row);
      ASSERT_TRUE(more.ok()) << more.status().ToString();
      if (!*more) break;
    }
  }
  listed.insert(rec.read.begin(), rec.read.end());
  std::vector<PageNumber> free_but_reached;
  for (PageNumber p : listed) {
    if (p < 2) continue;
    ASSERT_LT(p, DatabaseInternals::Store(db).PageCount())
        << "page " << p << " is past the end of the file";
    if (DatabaseInternals::Pages(db).IsFree(p)) free_but_reached.push_back(p);
  }
  EXPECT_TRUE(free_but_reached.empty())
      << free_but_reached.size() << " reachable pages are marked free, the first "
      << free_but_reached.front();
}

}  // namespace velquin::jet
