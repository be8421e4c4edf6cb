#include "jet/sql/value_ops.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velquin::jet::sql {
namespace {

std::string KeyOf(const Value& v) {
  std::string key;
  AppendGroupKey(v, &key);
  return key;
}

// Numbers keys of one length, then keys of other lengths (a NULL, a text),
// across many growths of the table and after a Reserve: every key keeps its
// number, added ones are found and others are not.
TEST(KeyIndex, NumbersKeysOfOneLengthAndThenOfAny) {
  for (const bool reserve : {false, true}) {
    KeyIndex index;
    if (reserve) index.Reserve(5000);
    std::vector<std::string> keys;
    keys.reserve(4001);
    for (int i = 0; i < 3000; ++i) keys.push_back(KeyOf(Value::Long(i * 7 - 1000)));
    keys.push_back(KeyOf(Value()));
    for (int i = 0; i < 1000; ++i) keys.push_back(KeyOf(Value::Text("k" + std::to_string(i))));
    keys.push_back(KeyOf(Value::Double(5.5)));
    for (std::size_t n = 0; n < keys.size(); ++n) {
      const auto [number, added] = index.FindOrAdd(keys[n]);
      ASSERT_TRUE(added) << n;
      ASSERT_EQ(number, n);
    }
    EXPECT_EQ(index.size(), keys.size());
    for (std::size_t n = 0; n < keys.size(); ++n) {
      EXPECT_EQ(index.FindOrAdd(keys[n]), std::make_pair(n, false)) << n;
      EXPECT_EQ(index.Find(keys[n]), n) << n;
    }
    // Equal values are one key: 2 as a Long and as a Double, text in any case.
    EXPECT_EQ(index.Find(KeyOf(Value::Double(-993))), 1u);
    EXPECT_EQ(index.Find(KeyOf(Value::Text("K12"))), 3001u + 12);
    EXPECT_FALSE(index.Find(KeyOf(Value::Long(-999))));
    EXPECT_FALSE(index.Find(KeyOf(Value::Text("k1000"))));
    index.Clear();
    EXPECT_EQ(index.size(), 0u);
    EXPECT_FALSE(index.Find(keys[0]));
    EXPECT_EQ(index.FindOrAdd(keys[5]), std::make_pair(std::size_t{0}, true));
  }
}

}  // namespace
}  // namespace velquin::jet::sql
