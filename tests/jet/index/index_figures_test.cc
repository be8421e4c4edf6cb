// Figures for the index layer, run on demand (disabled by default; no timing
// is asserted):
//   build/tests/jet/index/jet_index_test --gtest_also_run_disabled_tests
//       --gtest_filter='IndexFigures.*'
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <iostream>
#include <random>

#include "jet/index/index_key.h"
#include "jet/index/index_tree.h"
#include "memory_page_store.h"

namespace velquin::jet {
namespace {

// CPU seconds of this process: the machine may be shared, so wall time
// says little.
struct Clock {
  std::clock_t start = std::clock();
};
double Seconds(const Clock& since) {
  return static_cast<double>(std::clock() - since.start) / CLOCKS_PER_SEC;
}

TEST(IndexFigures, DISABLED_BuildInsertRemove) {
  constexpr int kRows = 1000000;
  KeyColumn col{KeyColumnType::kLong, true};
  std::vector<IndexEntry> entries;
  entries.reserve(kRows);
  Clock t0;
  for (int i = 0; i < kRows; ++i) {
    KeyValue v = std::int64_t{i};
    entries.push_back(IndexEntry{
        *EncodeKey(std::span(&col, 1), std::span(&v, 1)),
        RowId{static_cast<PageNumber>(100 + i / 100), static_cast<std::uint8_t>(i % 100)}});
  }
  const double encode = Seconds(t0);
  testing::MemoryPageStore store;
  IndexTreeOptions options;
  options.tdef_page = 2;
  options.unique = true;
  IndexTree tree = *IndexTree::Create(store, options);
  t0 = Clock();
  ASSERT_TRUE(tree.BulkLoad(entries).ok());
  const double bulk = Seconds(t0);
  const auto stats = *tree.Verify();
  std::cout << "encode 1M LONG keys: " << encode << " s CPU; bulk build: " << bulk << " s, "
            << stats.leaf_pages << " leaves, " << stats.node_pages << " nodes, depth "
            << stats.depth << "\n";

  IndexTree tree2 = *IndexTree::Create(store, options);
  std::mt19937 rng(1);
  std::shuffle(entries.begin(), entries.begin() + 200000, rng);
  t0 = Clock();
  for (int i = 0; i < 200000; ++i) ASSERT_TRUE(tree2.Insert(entries[i]).ok());
  const double insert = Seconds(t0);
  t0 = Clock();
  for (int i = 0; i < 200000; ++i) ASSERT_TRUE(tree2.Remove(entries[i]).ok());
  const double remove = Seconds(t0);
  std::cout << "200k random inserts: " << insert << " s (" << 200000 / insert
            << "/s); 200k removes: " << remove << " s (" << 200000 / remove << "/s)\n";

  std::vector<std::u16string> words;
  for (int i = 0; i < 100000; ++i) {
    std::u16string w;
    for (int k = 0; k < 12; ++k) w.push_back(static_cast<char16_t>(u'a' + rng() % 26));
    words.push_back(w);
  }
  KeyColumn text{KeyColumnType::kText, true};
  t0 = Clock();
  std::size_t bytes = 0;
  for (const auto& w : words) {
    KeyValue v = w;
    bytes += EncodeKey(std::span(&text, 1), std::span(&v, 1))->size();
  }
  const double text_encode = Seconds(t0);
  std::cout << "100k 12-letter text keys: " << text_encode << " s (" << bytes / words.size()
            << " bytes each)\n";
}

}  // namespace
}  // namespace velquin::jet
