// Every physical index in the reference databases (made by the Jet engine
// and by Access 2000): its pages decode, the tree has the shape IndexTree
// expects, its entries are in key order, and re-encoding each row's values
// with our key encoder gives exactly the bytes Access stored.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>

#include "jet/index/index_key.h"
#include "jet/index/index_tree.h"
#include "memory_page_store.h"
#include "reference_file.h"
#include "test_util.h"

namespace velquin::jet {
namespace {

using testing::FilePageStore;

std::string ReferencePath(const std::string& name) {
  return std::string(VELQUIN_TEST_DATA_DIR) + "/reference-mdb/" + name;
}

struct FileCase {
  const char* name;
  std::size_t min_indexes;        // physical indexes we expect to find
  std::size_t min_compared_keys;  // entries whose key we rebuilt from the row
};

class ReferenceIndexes : public ::testing::TestWithParam<FileCase> {};

TEST_P(ReferenceIndexes, DecodeVerifyAndReencode) {
  const auto path = ReferencePath(GetParam().name);
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "reference files not available";
  auto file = FilePageStore::Open(path);
  ASSERT_TRUE(file.has_value());
  std::size_t indexes = 0, entries = 0, compared = 0, multi_level = 0;
  std::map<std::uint8_t, std::size_t> compared_by_type;
  for (PageNumber tdef : testing::TdefPages(*file)) {
    auto table = testing::ParseTdef(*file, tdef);
    ASSERT_TRUE(table.has_value()) << "TDEF " << tdef;
    for (const auto& index : table->indexes) {
      SCOPED_TRACE("TDEF " + std::to_string(tdef) + " index root " + std::to_string(index.root));
      ++indexes;
      IndexTreeOptions options;
      options.tdef_page = tdef;
      options.unique = (index.flags & 0x01) != 0;
      options.column_count = index.columns.size();
      IndexTree tree(*file, index.root, options);
      auto stats = tree.Verify();
      ASSERT_TRUE(stats.ok()) << stats.status().ToString();
      if (stats->depth > 1) ++multi_level;
      auto all = tree.ReadAll();
      ASSERT_TRUE(all.ok()) << all.status().ToString();
      ASSERT_EQ(all->size(), stats->entries);
      entries += all->size();
      std::vector<KeyColumn> columns;
      bool encodable = true;
      for (const auto& [number, ascending] : index.columns) {
        const auto* col = table->Column(number);
        ASSERT_NE(col, nullptr) << "index column " << number;
        if (!IsIndexableType(col->type) || col->type == 0x0C) encodable = false;
        columns.push_back(KeyColumn{static_cast<KeyColumnType>(col->type), ascending});
      }
      if (!encodable) continue;
      for (const auto& entry : *all) {
        std::vector<KeyValue> values;
        bool readable = true;
        for (const auto& [number, ascending] : index.columns) {
          auto v = testing::ReadValue(*file, entry.row, *table->Column(number));
          if (!v) {
            readable = false;
            break;
          }
          values.push_back(*v);
        }
        if (!readable) continue;
        auto key = EncodeKey(columns, values);
        ASSERT_TRUE(key.ok()) << key.status().ToString();
        EXPECT_EQ(testing::ToHex(*key), testing::ToHex(entry.key))
            << "row page " << entry.row.page << " row " << int{entry.row.row};
        ++compared;
        for (const auto& c : columns) ++compared_by_type[static_cast<std::uint8_t>(c.type)];
      }
    }
  }
  EXPECT_GE(indexes, GetParam().min_indexes);
  EXPECT_GE(compared, GetParam().min_compared_keys);
  std::string types;
  for (const auto& [t, n] : compared_by_type)
    types += " type" + std::to_string(t) + "=" + std::to_string(n);
  std::cout << "[ reference ] " << GetParam().name << ": " << indexes << " indexes, " << entries
            << " entries, " << compared << " keys re-encoded (" << multi_level
            << " multi-level):" << types << "\n";
}

INSTANTIATE_TEST_SUITE_P(Files, ReferenceIndexes,
                         ::testing::Values(FileCase{"adox_jet4.mdb", 7, 20},
                                           FileCase{"indexTestV2000.mdb", 20, 100},
                                           FileCase{"compIndexTestV2000.mdb", 9, 500},
                                           FileCase{"testIndexPropertiesV2000.mdb", 20, 60},
                                           FileCase{"fixedNumericTestV2000.mdb", 8, 20},
                                           FileCase{"overflowTestV2000.mdb", 8, 20},
                                           FileCase{"queryTestV2000.mdb", 8, 20}),
                         [](const auto& info) {
                           std::string n = info.param.name;
                           n = n.substr(0, n.find('.'));
                           return n;
                         });

}  // namespace
}  // namespace velquin::jet

namespace velquin::jet {
namespace {

// Our encoder writes a decoded Access page back byte for byte: same bitmap,
// same shared prefix, same free space.
TEST(ReferencePages, ReencodeByteForByte) {
  std::size_t pages = 0, prefixed = 0;
  for (const char* name : {"adox_jet4.mdb", "indexTestV2000.mdb", "compIndexTestV2000.mdb",
                           "testIndexPropertiesV2000.mdb", "queryTestV2000.mdb"}) {
    const auto path = ReferencePath(name);
    if (!std::filesystem::exists(path)) GTEST_SKIP() << "reference files not available";
    auto file = FilePageStore::Open(path);
    ASSERT_TRUE(file.has_value());
    for (PageNumber n = 1; n < file->PageCount(); ++n) {
      Page raw;
      ASSERT_TRUE(file->ReadPage(n, raw).ok());
      if (raw[0] != kIndexLeafPageType && raw[0] != kIndexNodePageType) continue;
      SCOPED_TRACE(std::string(name) + " page " + std::to_string(n));
      auto decoded = DecodeIndexPage(raw, n);
      ASSERT_TRUE(decoded.ok()) << decoded.status().ToString();
      auto encoded = EncodeIndexPage(*decoded);
      ASSERT_TRUE(encoded.ok()) << encoded.status().ToString();
      Page expected = raw;
      expected[26] = 0;  // unknown byte; Access sometimes writes 1 on nodes
      // Access leaves old bytes after the last entry; compare up to there.
      const std::size_t used = kIndexEntriesOffset + kIndexEntryAreaSize - (raw[2] | raw[3] << 8);
      std::size_t diff = 0;
      while (diff < used && (*encoded)[diff] == expected[diff]) ++diff;
      EXPECT_EQ(diff, used) << "first difference at offset " << diff << ": ours "
                            << int{(*encoded)[diff % kPageSize]} << ", file "
                            << int{expected[diff % kPageSize]};
      ++pages;
      if (raw[24] != 0 || raw[25] != 0) ++prefixed;
    }
  }
  EXPECT_GE(pages, 70u);
  EXPECT_GE(prefixed, 1u);
}

}  // namespace
}  // namespace velquin::jet

namespace velquin::jet {
namespace {

// Changing an Access-made index: copy the file into memory, add and remove
// entries through IndexTree, and the tree stays well formed with exactly the
// expected entries (unique indexes refuse copies of their keys).
TEST(ReferenceIndexes, AccessMadeTreesAcceptChanges) {
  for (const char* name : {"compIndexTestV2000.mdb", "indexTestV2000.mdb"}) {
    const auto path = ReferencePath(name);
    if (!std::filesystem::exists(path)) GTEST_SKIP() << "reference files not available";
    auto file = FilePageStore::Open(path);
    ASSERT_TRUE(file.has_value());
    for (PageNumber tdef : testing::TdefPages(*file)) {
      auto table = testing::ParseTdef(*file, tdef);
      ASSERT_TRUE(table.has_value());
      for (const auto& index : table->indexes) {
        SCOPED_TRACE(std::string(name) + " root " + std::to_string(index.root));
        testing::MemoryPageStore store;
        store.pages().resize(file->PageCount());
        for (PageNumber n = 1; n < file->PageCount(); ++n) {
          ASSERT_TRUE(file->ReadPage(n, store.pages()[n]).ok());
        }
        IndexTreeOptions options;
        options.tdef_page = tdef;
        options.unique = (index.flags & 0x01) != 0;
        options.column_count = index.columns.size();
        IndexTree tree(store, index.root, options);
        auto model = *tree.ReadAll();
        const std::size_t original = model.size();
        // Copies of existing keys on new rows.
        for (std::size_t i = 0; i < original; ++i) {
          IndexEntry copy{model[i].key, RowId{0xF00000 + static_cast<PageNumber>(i / 256),
                                              static_cast<std::uint8_t>(i % 256)}};
          Status st = tree.Insert(copy);
          if (options.unique && !IsAllNullKey(copy.key, options.column_count)) {
            ASSERT_EQ(st.code(), StatusCode::kConstraint);
          } else {
            ASSERT_TRUE(st.ok()) << st.ToString();
            model.push_back(copy);
          }
        }
        // New keys above everything there is.
        for (int i = 0; i < 1500; ++i) {
          IndexEntry e{
              {0xFF, 0xFF, static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i)},
              RowId{0xE00000, 0}};
          ASSERT_TRUE(tree.Insert(e).ok());
          model.push_back(e);
        }
        // Half of the original entries go.
        for (std::size_t i = 0; i < original; i += 2) {
          ASSERT_TRUE(tree.Remove(model[i]).ok());
        }
        std::vector<IndexEntry> expected;
        for (std::size_t i = 0; i < model.size(); ++i) {
          if (i >= original || i % 2 == 1) expected.push_back(model[i]);
        }
        std::sort(expected.begin(), expected.end(), EntryLess);
        auto stats = tree.Verify();
        ASSERT_TRUE(stats.ok()) << stats.status().ToString();
        auto all = tree.ReadAll();
        ASSERT_TRUE(all.ok());
        ASSERT_TRUE(*all == expected);
      }
    }
  }
}

}  // namespace
}  // namespace velquin::jet
