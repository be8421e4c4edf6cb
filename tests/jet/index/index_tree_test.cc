// IndexTree over an in-memory page store: bulk build, insert, delete and
// iteration compared against a sorted std::vector, with the tree's shape
// checked by Verify() after every phase.
#include "jet/index/index_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

#include "jet/index/index_key.h"
#include "memory_page_store.h"

namespace velquin::jet {
namespace {

using testing::MemoryPageStore;

constexpr PageNumber kTdef = 42;

std::vector<std::uint8_t> LongKey(std::int64_t v, bool asc = true) {
  KeyColumn col{KeyColumnType::kLong, asc};
  KeyValue val = v;
  return *EncodeKey(std::span(&col, 1), std::span(&val, 1));
}

std::vector<std::uint8_t> TextKey(const std::u16string& s) {
  KeyColumn col{KeyColumnType::kText, true};
  KeyValue val = s;
  return *EncodeKey(std::span(&col, 1), std::span(&val, 1));
}

IndexEntry Entry(std::vector<std::uint8_t> key, PageNumber page, std::uint8_t row) {
  return IndexEntry{std::move(key), RowId{page, row}};
}

IndexTreeOptions Options(bool unique = false) {
  IndexTreeOptions o;
  o.tdef_page = kTdef;
  o.unique = unique;
  o.column_count = 1;
  return o;
}

void ExpectSameContent(IndexTree& tree, std::vector<IndexEntry> expected) {
  std::sort(expected.begin(), expected.end(), EntryLess);
  auto all = tree.ReadAll();
  ASSERT_TRUE(all.ok()) << all.status().ToString();
  ASSERT_EQ(all->size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    ASSERT_EQ((*all)[i], expected[i]) << "at " << i;
  }
  auto stats = tree.Verify();
  ASSERT_TRUE(stats.ok()) << stats.status().ToString();
  EXPECT_EQ(stats->entries, expected.size());
}

TEST(IndexTree, NewIndexIsOneEmptyLeaf) {
  MemoryPageStore store;
  auto tree = IndexTree::Create(store, Options());
  ASSERT_TRUE(tree.ok());
  Page raw;
  ASSERT_TRUE(store.ReadPage(tree->root(), raw).ok());
  EXPECT_EQ(raw[0], 0x04);
  EXPECT_EQ(raw[2] | raw[3] << 8, 3616);  // free space of an empty leaf
  EXPECT_EQ(raw[4], kTdef);
  auto stats = tree->Verify();
  ASSERT_TRUE(stats.ok());
  EXPECT_EQ(stats->entries, 0u);
  EXPECT_EQ(stats->depth, 1u);
  auto c = tree->Begin();
  ASSERT_TRUE(c.ok());
  EXPECT_FALSE(c->Valid());
}

TEST(IndexTree, RandomInsertsThenDeletesMatchSortedVector) {
  MemoryPageStore store;
  auto created = IndexTree::Create(store, Options());
  ASSERT_TRUE(created.ok());
  IndexTree tree = *created;
  std::mt19937 rng(1234);
  std::vector<IndexEntry> model;
  for (int i = 0; i < 6000; ++i) {
    // Many duplicate keys (values 0..999) with distinct rows.
    auto e = Entry(LongKey(static_cast<std::int64_t>(rng() % 1000) - 500),
                   1 + static_cast<PageNumber>(i / 200), static_cast<std::uint8_t>(i % 200));
    bool new_key = false;
    ASSERT_TRUE(tree.Insert(e, &new_key).ok()) << i;
    const bool present = std::any_of(model.begin(), model.end(),
                                     [&](const IndexEntry& m) { return m.key == e.key; });
    EXPECT_EQ(new_key, !present);
    model.push_back(e);
  }
  ExpectSameContent(tree, model);
  auto stats = tree.Verify();
  ASSERT_TRUE(stats.ok());
  EXPECT_GE(stats->depth, 2u);
  EXPECT_LE(stats->distinct_keys, 1000u);

  std::shuffle(model.begin(), model.end(), rng);
  const std::size_t half = model.size() / 2;
  for (std::size_t i = 0; i < half; ++i) {
    bool last = false;
    ASSERT_TRUE(tree.Remove(model.back(), &last).ok()) << i;
    const IndexEntry gone = model.back();
    model.pop_back();
    const bool still = std::any_of(model.begin(), model.end(),
                                   [&](const IndexEntry& m) { return m.key == gone.key; });
    EXPECT_EQ(last, !still);
  }
  ExpectSameContent(tree, model);
  // Removing what is not there changes nothing.
  EXPECT_EQ(tree.Remove(Entry(LongKey(99999), 1, 1)).code(), StatusCode::kNotFound);

  for (const auto& e : model) ASSERT_TRUE(tree.Remove(e).ok());
  ExpectSameContent(tree, {});
  // Every page but the root went back to the store.
  EXPECT_EQ(store.InUse(), 1u);
}

TEST(IndexTree, LongTextKeysGrowSeveralLevels) {
  MemoryPageStore store;
  IndexTree tree = *IndexTree::Create(store, Options(true));
  std::mt19937 rng(99);
  std::vector<IndexEntry> model;
  for (int i = 0; i < 3000; ++i) {
    std::u16string s(150, u'a');
    for (int k = 0; k < 6; ++k)
      s[static_cast<std::size_t>(k) * 25] = static_cast<char16_t>(u'a' + rng() % 26);
    const std::string number = std::to_string(i);
    s += u"#" + std::u16string(number.begin(), number.end());
    auto e = Entry(TextKey(s), 1000 + static_cast<PageNumber>(i), 0);
    ASSERT_TRUE(tree.Insert(e).ok()) << i;
    model.push_back(e);
    if (i % 500 == 0) {
      ASSERT_TRUE(tree.Verify().ok()) << i;
    }
  }
  ExpectSameContent(tree, model);
  EXPECT_GE(tree.Verify()->depth, 3u);
  std::shuffle(model.begin(), model.end(), rng);
  while (model.size() > 40) {
    ASSERT_TRUE(tree.Remove(model.back()).ok());
    model.pop_back();
    if (model.size() % 400 == 0) {
      ASSERT_TRUE(tree.Verify().ok()) << model.size();
    }
  }
  ExpectSameContent(tree, model);
}

// Removing a page's greatest entry puts the next one into the parent as its
// separator. With keys of very different lengths that entry can be far
// longer, so a node page that lost nothing overflows and must split; pages
// built densely by a bulk load have no room to spare.
TEST(IndexTree, RemovalsThatLengthenSeparatorsSplitTheirNodes) {
  MemoryPageStore store;
  IndexTree tree = *IndexTree::Create(store, Options());
  std::mt19937 rng(7);
  std::vector<IndexEntry> model;
  for (int i = 0; i < 30000; ++i) {
    // Mostly short keys, one in eight of 250 characters (about the longest
    // a text key takes).
    const std::size_t length = rng() % 8 == 0 ? 250 : 1 + rng() % 6;
    std::u16string s(length, u'a');
    for (auto& c : s) c = static_cast<char16_t>(u'a' + rng() % 26);
    model.push_back(Entry(TextKey(s), 1 + static_cast<PageNumber>(i / 200),
                          static_cast<std::uint8_t>(i % 200)));
  }
  std::sort(model.begin(), model.end(), EntryLess);
  model.erase(std::unique(model.begin(), model.end()), model.end());
  ASSERT_TRUE(tree.BulkLoad(model).ok());
  ExpectSameContent(tree, model);
  std::shuffle(model.begin(), model.end(), rng);
  while (!model.empty()) {
    Status st = tree.Remove(model.back());
    ASSERT_TRUE(st.ok()) << st.ToString() << " with " << model.size() << " left";
    model.pop_back();
    if (model.size() % 5000 == 0) {
      ASSERT_NO_FATAL_FAILURE(ExpectSameContent(tree, model));
    }
  }
  EXPECT_EQ(store.InUse(), 1u);
}

TEST(IndexTree, AscendingAndDescendingInsertionOrders) {
  for (bool ascending_order : {true, false}) {
    MemoryPageStore store;
    IndexTree tree = *IndexTree::Create(store, Options(true));
    std::vector<IndexEntry> model;
    for (int i = 0; i < 5000; ++i) {
      const int v = ascending_order ? i : 5000 - i;
      model.push_back(Entry(LongKey(v), 7, 0));
      ASSERT_TRUE(tree.Insert(model.back()).ok());
    }
    ExpectSameContent(tree, model);
  }
}

TEST(IndexTree, UniqueIndexRefusesDuplicateAndWritesNothing) {
  MemoryPageStore store;
  IndexTree tree = *IndexTree::Create(store, Options(true));
  for (int i = 0; i < 3000; ++i) ASSERT_TRUE(tree.Insert(Entry(LongKey(i * 2), 5, 1)).ok());
  const auto before = store.pages();
  const auto writes = store.writes();
  // Same key, another row: on the first page, the last page and across a
  // leaf boundary.
  for (int v : {0, 2998, 5998, 1200}) {
    Status st = tree.Insert(Entry(LongKey(v), 6, 9));
    EXPECT_EQ(st.code(), StatusCode::kConstraint) << v;
    EXPECT_NE(st.message().find("duplicate"), std::string::npos);
  }
  EXPECT_EQ(store.writes(), writes);
  EXPECT_TRUE(store.pages() == before);
  // Every leaf boundary: the first key of each leaf is refused too.
  auto cursor = tree.Begin();
  ASSERT_TRUE(cursor.ok());
  PageNumber leaf = 0;
  int boundaries = 0;
  while (cursor->Valid()) {
    if (cursor->leaf_page() != leaf) {
      leaf = cursor->leaf_page();
      EXPECT_EQ(tree.Insert(Entry(cursor->entry().key, 99, 0)).code(), StatusCode::kConstraint);
      ++boundaries;
    }
    ASSERT_TRUE(cursor->Next().ok());
  }
  EXPECT_GT(boundaries, 2);
  // CheckInsert answers the same without writing.
  EXPECT_EQ(tree.CheckInsert(Entry(LongKey(1200), 6, 9)).code(), StatusCode::kConstraint);
  EXPECT_EQ(tree.CheckInsert(Entry(LongKey(1200), 5, 1)).code(), StatusCode::kInvalidArgument);
  EXPECT_TRUE(tree.CheckInsert(Entry(LongKey(1201), 6, 9)).ok());
  EXPECT_EQ(store.writes(), writes);
  // All-NULL keys may repeat in a unique index.
  std::vector<std::uint8_t> null_key = {0x00};
  EXPECT_TRUE(tree.Insert(Entry(null_key, 1, 1)).ok());
  EXPECT_TRUE(tree.Insert(Entry(null_key, 1, 2)).ok());
  // The same (key, row) twice is a caller error, never stored twice.
  EXPECT_EQ(tree.Insert(Entry(null_key, 1, 2)).code(), StatusCode::kInvalidArgument);
  EXPECT_TRUE(tree.CheckInsert(Entry(null_key, 1, 3)).ok());
  EXPECT_EQ(tree.CheckInsert(Entry(null_key, 1, 1)).code(), StatusCode::kInvalidArgument);
  EXPECT_TRUE(tree.Verify().ok());
}

TEST(IndexTree, UniqueTextIgnoresCaseAndTrailingSpacesButNotAccents) {
  MemoryPageStore store;
  IndexTree tree = *IndexTree::Create(store, Options(true));
  ASSERT_TRUE(tree.Insert(Entry(TextKey(u"abc"), 1, 0)).ok());
  EXPECT_EQ(tree.Insert(Entry(TextKey(u"ABC"), 1, 1)).code(), StatusCode::kConstraint);
  EXPECT_EQ(tree.Insert(Entry(TextKey(u"abc   "), 1, 2)).code(), StatusCode::kConstraint);
  EXPECT_TRUE(tree.Insert(Entry(TextKey(u"ab\u00e7"), 1, 3)).ok());  // abç
  EXPECT_TRUE(tree.Insert(Entry(TextKey(u"a-bc"), 1, 4)).ok());
  EXPECT_TRUE(tree.Insert(Entry(TextKey(u" abc"), 1, 5)).ok());
  EXPECT_EQ(tree.ReadAll()->size(), 4u);
}

TEST(IndexTree, BulkLoadBuildsAFullTreeThenAcceptsChanges) {
  MemoryPageStore store;
  IndexTree tree = *IndexTree::Create(store, Options());
  std::vector<IndexEntry> model;
  for (int i = 0; i < 60000; ++i) {
    model.push_back(Entry(LongKey(i / 3), 10 + static_cast<PageNumber>(i / 250),
                          static_cast<std::uint8_t>(i % 250)));
  }
  auto distinct = tree.BulkLoad(model);
  ASSERT_TRUE(distinct.ok()) << distinct.status().ToString();
  EXPECT_EQ(*distinct, 20000u);
  ExpectSameContent(tree, model);
  EXPECT_EQ(tree.Verify()->distinct_keys, 20000u);
  // Insert and delete on top of the bulk-built tree.
  std::mt19937 rng(5);
  for (int i = 0; i < 2000; ++i) {
    auto e = Entry(LongKey(static_cast<std::int64_t>(rng() % 30000)), 50000,
                   static_cast<std::uint8_t>(i % 256));
    e.row.page += static_cast<PageNumber>(i / 256);
    ASSERT_TRUE(tree.Insert(e).ok());
    model.push_back(e);
  }
  std::shuffle(model.begin(), model.end(), rng);
  for (int i = 0; i < 30000; ++i) {
    ASSERT_TRUE(tree.Remove(model.back()).ok());
    model.pop_back();
  }
  ExpectSameContent(tree, model);
  // Rebuilding replaces the content and gives the old pages back.
  std::sort(model.begin(), model.end(), EntryLess);
  model.resize(100);
  ASSERT_TRUE(tree.BulkLoad(model).ok());
  ExpectSameContent(tree, model);
  EXPECT_EQ(store.InUse(), 1u);  // 100 small entries fit in the root leaf
  ASSERT_TRUE(tree.BulkLoad({}).ok());
  ExpectSameContent(tree, {});
}

TEST(IndexTree, BulkLoadRefusesBadInputWithoutWriting) {
  MemoryPageStore store;
  IndexTree tree = *IndexTree::Create(store, Options(true));
  const auto writes = store.writes();
  std::vector<IndexEntry> dup = {Entry(LongKey(1), 1, 0), Entry(LongKey(1), 1, 1)};
  EXPECT_EQ(tree.BulkLoad(dup).status().code(), StatusCode::kConstraint);
  std::vector<IndexEntry> unsorted = {Entry(LongKey(2), 1, 0), Entry(LongKey(1), 1, 1)};
  EXPECT_EQ(tree.BulkLoad(unsorted).status().code(), StatusCode::kInvalidArgument);
  std::vector<IndexEntry> too_long = {Entry(std::vector<std::uint8_t>(3000, 0x7F), 1, 0)};
  EXPECT_EQ(tree.BulkLoad(too_long).status().code(), StatusCode::kInvalidArgument);
  EXPECT_EQ(tree.Insert(too_long[0]).code(), StatusCode::kInvalidArgument);
  EXPECT_EQ(tree.Insert(Entry(LongKey(1), 0x1000000, 0)).code(), StatusCode::kInvalidArgument);
  EXPECT_EQ(store.writes(), writes);
  std::vector<IndexEntry> nulls = {Entry({0x00}, 1, 0), Entry({0x00}, 1, 1)};
  EXPECT_TRUE(tree.BulkLoad(nulls).ok());
}

TEST(IndexTree, SeekFindsFirstEntryOfAKey) {
  MemoryPageStore store;
  IndexTree tree = *IndexTree::Create(store, Options());
  std::vector<IndexEntry> sorted;
  for (int i = 0; i < 20000; ++i)
    sorted.push_back(Entry(LongKey(i / 4 * 10), 3, static_cast<std::uint8_t>(i % 4)));
  std::sort(sorted.begin(), sorted.end(), EntryLess);
  ASSERT_TRUE(tree.BulkLoad(sorted).ok());
  auto c = tree.Seek(LongKey(12340));
  ASSERT_TRUE(c.ok());
  ASSERT_TRUE(c->Valid());
  EXPECT_EQ(c->entry().key, LongKey(12340));
  EXPECT_EQ(c->entry().row.row, 0);
  // Between keys: the next key.
  c = tree.Seek(LongKey(12341));
  ASSERT_TRUE(c.ok() && c->Valid());
  EXPECT_EQ(c->entry().key, LongKey(12350));
  EXPECT_TRUE(*tree.ContainsKey(LongKey(49990)));
  EXPECT_FALSE(*tree.ContainsKey(LongKey(49991)));
  c = tree.Seek(LongKey(1 << 30));
  ASSERT_TRUE(c.ok());
  EXPECT_FALSE(c->Valid());
}

class CountingObserver : public IndexPageObserver {
 public:
  Status OnIndexPageAllocated(PageNumber n) override {
    if (!owned.insert(n).second) return Status::InvalidArgument("allocated twice");
    return Status::Ok();
  }
  Status OnIndexPageReleased(PageNumber n) override {
    if (owned.erase(n) != 1) return Status::InvalidArgument("released a page not owned");
    return Status::Ok();
  }
  std::set<PageNumber> owned;
};

TEST(IndexTree, ObserverSeesEveryPageAndFreeReleasesAll) {
  MemoryPageStore store;
  CountingObserver observer;
  IndexTreeOptions o = Options();
  o.observer = &observer;
  IndexTree tree = *IndexTree::Create(store, o);
  std::mt19937 rng(3);
  std::vector<IndexEntry> model;
  for (int i = 0; i < 8000; ++i) {
    model.push_back(
        Entry(LongKey(static_cast<std::int32_t>(rng())), 2, static_cast<std::uint8_t>(i)));
    model.back().row.page += static_cast<PageNumber>(i / 256);
    ASSERT_TRUE(tree.Insert(model.back()).ok());
  }
  EXPECT_EQ(observer.owned.size(), store.InUse());
  for (std::size_t i = 0; i < 7000; ++i) ASSERT_TRUE(tree.Remove(model[i]).ok());
  EXPECT_EQ(observer.owned.size(), store.InUse());
  ASSERT_TRUE(tree.Free().ok());
  EXPECT_TRUE(observer.owned.empty());
  EXPECT_EQ(store.InUse(), 0u);
}

TEST(IndexTree, MakeIndexEntryForACatalogueRow) {
  // MSysObjects' ParentIdName index: (ParentId LONG, Name TEXT), ascending.
  std::vector<KeyColumn> columns = {{KeyColumnType::kLong, true}, {KeyColumnType::kText, true}};
  std::vector<KeyValue> values = {std::int64_t{0x0F000000}, std::u16string(u"MSysObjects")};
  auto entry = MakeIndexEntry(columns, values, RowId{14, 4});
  ASSERT_TRUE(entry.ok());
  EXPECT_EQ(entry->row, (RowId{14, 4}));
  // 7F + (0x0F000000 with the top bit flipped) + 7F + M S Y S O B J E C T S + 01 00.
  // Letter codes: M 60, S 6B, Y 76, O 64, B 4C, J 5B, E 51, C 4D, T 6D.
  std::vector<std::uint8_t> expected = {0x7F, 0x8F, 0x00, 0x00, 0x00, 0x7F, 0x60, 0x6B, 0x76, 0x6B,
                                        0x64, 0x4C, 0x5B, 0x51, 0x4D, 0x6D, 0x6B, 0x01, 0x00};
  EXPECT_EQ(entry->key, expected);
  EXPECT_FALSE(MakeIndexEntry(columns, values, RowId{0x1000000, 0}).ok());
}

TEST(IndexTree, DescendingKeysIterateInReverseValueOrder) {
  MemoryPageStore store;
  IndexTree tree = *IndexTree::Create(store, Options());
  for (int v = -2000; v <= 2000; ++v) ASSERT_TRUE(tree.Insert(Entry(LongKey(v, false), 1, 0)).ok());
  auto all = tree.ReadAll();
  ASSERT_TRUE(all.ok());
  ASSERT_EQ(all->size(), 4001u);
  EXPECT_EQ(all->front().key, LongKey(2000, false));
  EXPECT_EQ(all->back().key, LongKey(-2000, false));
}

}  // namespace
}  // namespace velquin::jet
