// Index page layout: exact bytes of small pages, round trips with prefix
// compression, and damaged pages giving Corruption (never a crash or hang).
#include "jet/index/index_page.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "jet/index/index_key.h"
#include "jet/index/index_tree.h"
#include "memory_page_store.h"
#include "test_util.h"

namespace velquin::jet {
namespace {

using testing::Hex;
using testing::MemoryPageStore;

IndexEntry E(const std::string& key_hex, PageNumber page, std::uint8_t row) {
  return IndexEntry{Hex(key_hex), RowId{page, row}};
}

TEST(IndexPage, LeafBytesFollowTheLayout) {
  IndexPage leaf;
  leaf.leaf = true;
  leaf.tdef_page = 0x11;
  leaf.prev = 7;
  leaf.next = 9;
  leaf.entries = {E("7F 80 00 00 01", 0x123456, 3), E("7F 90 00 00 01", 0x10, 4)};
  auto page = EncodeIndexPage(leaf);
  ASSERT_TRUE(page.ok());
  const Page& p = *page;
  EXPECT_EQ(p[0], 0x04);
  EXPECT_EQ(p[1], 0x01);
  EXPECT_EQ(p[4], 0x11);
  EXPECT_EQ(p[12], 7);
  EXPECT_EQ(p[16], 9);
  // Entries that fit whole are written whole: no shared prefix (as Access).
  EXPECT_EQ(p[24], 0);
  EXPECT_EQ(p[2] | p[3] << 8, 3616 - 18);
  // Entries end at 9 and 18: bitmap bits 9 and 18.
  EXPECT_EQ(p[27], 0x00);
  EXPECT_EQ(p[28], 0x02);
  EXPECT_EQ(p[29], 0x04);
  // Key, then the page big-endian, then the row.
  const std::vector<std::uint8_t> first(p.begin() + 480, p.begin() + 489);
  EXPECT_EQ(first, Hex("7F 80 00 00 01 12 34 56 03"));
  const std::vector<std::uint8_t> second(p.begin() + 489, p.begin() + 498);
  EXPECT_EQ(second, Hex("7F 90 00 00 01 00 00 10 04"));
  auto back = DecodeIndexPage(p, 5);
  ASSERT_TRUE(back.ok()) << back.status().ToString();
  EXPECT_EQ(back->entries, leaf.entries);
  EXPECT_EQ(back->prev, 7u);
  EXPECT_EQ(back->next, 9u);
}

TEST(IndexPage, NodeEntriesCarryTheChildAndTail) {
  IndexPage node;
  node.leaf = false;
  node.tail = 33;
  node.entries = {E("80 7F FF FF EC", 0x11, 0)};
  node.children = {32};
  auto page = EncodeIndexPage(node);
  ASSERT_TRUE(page.ok());
  // The same bytes Access wrote for compIndexTest's root node entry.
  const std::vector<std::uint8_t> entry(page->begin() + 480, page->begin() + 493);
  EXPECT_EQ(entry, Hex("80 7F FF FF EC 00 00 11 00 00 00 00 20"));
  EXPECT_EQ((*page)[0], 0x03);
  EXPECT_EQ((*page)[20], 33);
  auto back = DecodeIndexPage(*page, 29);
  ASSERT_TRUE(back.ok());
  EXPECT_EQ(back->children, std::vector<PageNumber>{32});
  EXPECT_EQ(back->tail, 33u);
}

TEST(IndexPage, RoundTripsManyEntriesWithLongSharedPrefix) {
  IndexPage leaf;
  for (int i = 0; i < 300; ++i) {
    std::vector<std::uint8_t> key = Hex("7F 4A 4C 4D 4F 51 53 55 57");
    key.push_back(static_cast<std::uint8_t>(i >> 8));
    key.push_back(static_cast<std::uint8_t>(i));
    leaf.entries.push_back(IndexEntry{key, RowId{1, 0}});
  }
  // Uncompressed 300 x 15 = 4500 bytes: fits only thanks to the prefix.
  EXPECT_TRUE(FitsOnPage(leaf));
  auto page = EncodeIndexPage(leaf);
  ASSERT_TRUE(page.ok()) << page.status().ToString();
  // Common prefix of the first and last entries: the 9 letter bytes.
  EXPECT_EQ((*page)[24], 9);
  EXPECT_EQ((*page)[2] | (*page)[3] << 8, 3616 - (15 + 299 * 6));
  auto back = DecodeIndexPage(*page, 3);
  ASSERT_TRUE(back.ok()) << back.status().ToString();
  EXPECT_EQ(back->entries, leaf.entries);
}

TEST(IndexPage, EncodeRefusesWhatCannotBeWritten) {
  IndexPage leaf;
  for (int i = 0; i < 400; ++i) {
    leaf.entries.push_back(IndexEntry{
        {static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i), 1, 2, 3, 4, 5, 6},
        RowId{static_cast<PageNumber>(i), 0}});
  }
  EXPECT_FALSE(FitsOnPage(leaf));
  EXPECT_EQ(EncodeIndexPage(leaf).status().code(), StatusCode::kInvalidArgument);
  IndexPage far_row;
  far_row.entries = {E("7F 02", 0x1000000, 0)};
  EXPECT_FALSE(EncodeIndexPage(far_row).ok());
}

Page ValidLeaf() {
  IndexPage leaf;
  leaf.tdef_page = 2;
  leaf.entries = {E("7F 80 00 00 01", 14, 0), E("7F 80 00 00 02", 14, 1),
                  E("7F 80 00 00 03", 14, 2)};
  return *EncodeIndexPage(leaf);
}

struct Damage {
  const char* name;
  void (*apply)(Page&);
  const char* message_part;
};

class DamagedPage : public ::testing::TestWithParam<Damage> {};

TEST_P(DamagedPage, IsCorruption) {
  Page p = ValidLeaf();
  GetParam().apply(p);
  auto r = DecodeIndexPage(p, 77);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.status().code(), StatusCode::kCorruption);
  EXPECT_NE(r.status().message().find("index page 77"), std::string::npos);
  EXPECT_NE(r.status().message().find(GetParam().message_part), std::string::npos)
      << r.status().message();
}

INSTANTIATE_TEST_SUITE_P(
    Layout, DamagedPage,
    ::testing::Values(Damage{"type", [](Page& p) { p[0] = 0x01; }, "page type"},
                      Damage{"bitmap_past_end", [](Page& p) { p[27 + 452] = 0x80; },
                             "past the end"},
                      Damage{"prefix_too_long", [](Page& p) { p[24] = 200; }, "prefix"},
                      Damage{"free_space", [](Page& p) { p[2] ^= 1; }, "free space"},
                      Damage{"short_entry",
                             [](Page& p) {
                               p[27] |= 0x04;
                               p[24] = 0;
                             },
                             "less than its pointer"},
                      Damage{"order", [](Page& p) { p[480 + 4] = 0xFF; }, "not greater"},
                      Damage{"leaf_tail", [](Page& p) { p[20] = 5; }, "child tail"},
                      Damage{"node_child_zero",
                             [](Page& p) {
                               // As a node, each 9-byte entry's last 8 bytes read as pointers
                               // and the child of the first entry is 00 00 00 00... at most.
                               p[0] = 0x03;
                               for (int i = 480; i < 489; ++i) p[i] = 0;
                               p[480] = 0x7F;
                             },
                             "child page 0"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(IndexPage, RandomDamageNeverCrashes) {
  const Page valid = ValidLeaf();
  std::mt19937 rng(2024);
  int corrupt = 0;
  for (int round = 0; round < 20000; ++round) {
    Page p = valid;
    const int flips = 1 + static_cast<int>(rng() % 6);
    for (int k = 0; k < flips; ++k) {
      // Header, bitmap and entry bytes are all fair game.
      const std::size_t at = rng() % 600;
      p[at] = static_cast<std::uint8_t>(rng());
    }
    auto r = DecodeIndexPage(p, 1);
    if (!r.ok()) {
      EXPECT_EQ(r.status().code(), StatusCode::kCorruption);
      ++corrupt;
    } else {
      // Whatever decodes must encode again.
      EXPECT_TRUE(EncodeIndexPage(*r).ok() || !FitsOnPage(*r));
    }
  }
  EXPECT_GT(corrupt, 1000);
}

TEST(IndexTreeDamage, LoopsAndBadPointersAreCorruption) {
  MemoryPageStore store;
  IndexTreeOptions options;
  options.tdef_page = 2;
  IndexTree tree = *IndexTree::Create(store, options);
  std::vector<IndexEntry> sorted;
  for (int i = 0; i < 5000; ++i) {
    KeyValue v = std::int64_t{i};
    KeyColumn c{KeyColumnType::kLong, true};
    sorted.push_back(IndexEntry{*EncodeKey(std::span(&c, 1), std::span(&v, 1)), RowId{3, 0}});
  }
  ASSERT_TRUE(tree.BulkLoad(sorted).ok());
  ASSERT_TRUE(tree.Verify().ok());
  auto root = DecodeIndexPage(store.pages()[tree.root()], tree.root());
  ASSERT_TRUE(root.ok());
  ASSERT_FALSE(root->leaf);
  const IndexPage saved = *root;

  // A tree opened afresh over the damaged pages (an IndexTree keeps decoded
  // pages it has read and assumes nobody else writes them).
  auto Reopen = [&](const IndexTree& t) { return IndexTree(store, t.root(), options); };

  // Child tail pointing back at the root: a loop.
  root->tail = tree.root();
  store.pages()[tree.root()] = *EncodeIndexPage(*root);
  EXPECT_EQ(Reopen(tree).Verify().status().code(), StatusCode::kCorruption);
  EXPECT_EQ(Reopen(tree).Seek(sorted.back().key).status().code(), StatusCode::kCorruption);
  EXPECT_EQ(Reopen(tree).Insert(IndexEntry{sorted.back().key, RowId{4, 0}}).code(),
            StatusCode::kCorruption);

  // Child outside the file.
  *root = saved;
  root->children[0] = 999999;
  store.pages()[tree.root()] = *EncodeIndexPage(*root);
  EXPECT_EQ(Reopen(tree).Verify().status().code(), StatusCode::kCorruption);
  EXPECT_EQ(Reopen(tree).Seek(sorted.front().key).status().code(), StatusCode::kCorruption);

  // Leaf chain that loops back on itself.
  store.pages()[tree.root()] = *EncodeIndexPage(saved);
  const PageNumber first_leaf = saved.children[0];
  const Page leaf_bytes = store.pages()[first_leaf];
  auto leaf = DecodeIndexPage(leaf_bytes, first_leaf);
  ASSERT_TRUE(leaf.ok());
  leaf->next = first_leaf;
  store.pages()[first_leaf] = *EncodeIndexPage(*leaf);
  EXPECT_EQ(Reopen(tree).ReadAll().status().code(), StatusCode::kCorruption);
  EXPECT_EQ(Reopen(tree).Verify().status().code(), StatusCode::kCorruption);

  // A node entry that no longer matches its child's last entry.
  store.pages()[first_leaf] = leaf_bytes;
  {
    IndexPage bad_root = saved;
    bad_root.entries[0].row.row ^= 1;
    store.pages()[tree.root()] = *EncodeIndexPage(bad_root);
    auto st = Reopen(tree).Verify();
    EXPECT_EQ(st.status().code(), StatusCode::kCorruption);
    EXPECT_NE(st.status().message().find("differs from the last entry"), std::string::npos);
    store.pages()[tree.root()] = *EncodeIndexPage(saved);
  }

  // Garbage in a leaf.
  store.pages()[first_leaf][27] = 0xFF;
  EXPECT_EQ(Reopen(tree).Verify().status().code(), StatusCode::kCorruption);
}

}  // namespace
}  // namespace velquin::jet

namespace velquin::jet {
namespace {

// Random damage anywhere in a tree's pages: every operation answers with a
// Status (Corruption or otherwise), never a crash or a hang.
TEST(IndexTreeDamage, RandomDamageToATreeNeverCrashes) {
  std::mt19937 rng(77);
  KeyColumn c{KeyColumnType::kText, true};
  std::vector<IndexEntry> sorted;
  for (int i = 0; i < 3000; ++i) {
    std::string s = std::to_string(i * 7919 % 100000);
    KeyValue v = std::u16string(s.begin(), s.end());
    sorted.push_back(IndexEntry{
        *EncodeKey(std::span(&c, 1), std::span(&v, 1)),
        RowId{static_cast<PageNumber>(5 + i / 200), static_cast<std::uint8_t>(i % 200)}});
  }
  std::sort(sorted.begin(), sorted.end(), EntryLess);
  MemoryPageStore pristine;
  IndexTreeOptions options;
  options.tdef_page = 9;
  IndexTree built = *IndexTree::Create(pristine, options);
  ASSERT_TRUE(built.BulkLoad(sorted).ok());
  ASSERT_GE(built.Verify()->depth, 2u);
  int failures = 0;
  for (int round = 0; round < 300; ++round) {
    MemoryPageStore store = pristine;
    const int flips = 1 + static_cast<int>(rng() % 8);
    for (int k = 0; k < flips; ++k) {
      const PageNumber n = 1 + static_cast<PageNumber>(rng() % (store.PageCount() - 1));
      const std::size_t at = rng() % 2 ? rng() % 32 : 480 + rng() % 600;
      store.pages()[n][at] = static_cast<std::uint8_t>(rng());
    }
    IndexTree tree(store, built.root(), options);
    bool any_error = !tree.Verify().ok();
    any_error |= !tree.ReadAll().ok();
    any_error |= !tree.Insert(IndexEntry{sorted[rng() % sorted.size()].key, RowId{900, 1}}).ok();
    any_error |= !tree.Remove(sorted[rng() % sorted.size()]).ok();
    any_error |= !tree.Seek(sorted[rng() % sorted.size()].key).ok();
    failures += any_error ? 1 : 0;
  }
  EXPECT_GT(failures, 100);
}

}  // namespace
}  // namespace velquin::jet
