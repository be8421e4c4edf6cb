#include "jet/sql/names.h"

#include <gtest/gtest.h>

namespace velquin::jet::sql {
namespace {

TEST(ValidateObjectName, AcceptsWhatAccessAccepts) {
  for (const char* name : {"orders", "Order Details", "a", "x_1", "café", "名前", "a-b (c)",
                           "trailing ", "$amount", "it's"}) {
    EXPECT_TRUE(ValidateObjectName(name).ok()) << name;
  }
  EXPECT_TRUE(ValidateObjectName(std::string(64, 'a')).ok());
  // 64 characters of two bytes each: the limit counts characters.
  std::string wide;
  for (int i = 0; i < 64; ++i) wide += "é";
  EXPECT_TRUE(ValidateObjectName(wide).ok());
}

TEST(ValidateObjectName, NamesTheBrokenRule) {
  const std::pair<std::string, std::string> cases[] = {
      {"a.b", "'a.b' is not a valid name: a name cannot contain a period (.)."},
      {"a!b", "'a!b' is not a valid name: a name cannot contain an exclamation mark (!)."},
      {"a`b", "'a`b' is not a valid name: a name cannot contain a back quote (`)."},
      {"a[b", "'a[b' is not a valid name: a name cannot contain square brackets ([ ])."},
      {"a]b", "'a]b' is not a valid name: a name cannot contain square brackets ([ ])."},
      {" ab", "' ab' is not a valid name: a name cannot start with a space."},
      {std::string("a\tb"),
       "'a?b' is not a valid name: a name cannot contain control characters (codes 0 to 31)."},
      {std::string("a\0b", 3),
       "'a?b' is not a valid name: a name cannot contain control characters (codes 0 to 31)."},
      {std::string(65, 'x'),
       "'" + std::string(65, 'x') +
           "' is not a valid name: a name can be at most 64 characters long."},
      {"a\xff", "'a\xff' is not a valid name: a name must be valid UTF-8 text."},
      {"\xc3", "'\xc3' is not a valid name: a name must be valid UTF-8 text."},
      {"", "A name cannot be empty."},
  };
  for (const auto& [name, message] : cases) {
    Status st = ValidateObjectName(name);
    ASSERT_FALSE(st.ok()) << name;
    EXPECT_EQ(st.code(), StatusCode::kInvalidArgument);
    EXPECT_EQ(st.message(), message);
  }
  std::string wide;
  for (int i = 0; i < 65; ++i) wide += "é";
  EXPECT_FALSE(ValidateObjectName(wide).ok());
  // A character beyond U+FFFF takes two UTF-16 units: 32 of them fill 64.
  std::string astral;
  for (int i = 0; i < 32; ++i) astral += "\U0001F600";
  EXPECT_TRUE(ValidateObjectName(astral).ok());
  EXPECT_FALSE(ValidateObjectName(astral + "a").ok());
}

TEST(SameObjectName, IgnoresCaseAsAccessDoes) {
  EXPECT_TRUE(SameObjectName("CaseTest", "casetest"));
  EXPECT_TRUE(SameObjectName("CAFÉ", "café"));
  EXPECT_FALSE(SameObjectName("cafe", "café"));
  EXPECT_FALSE(SameObjectName("ab", "abc"));
  EXPECT_FALSE(SameObjectName("a\xff", "a\xfe"));
}

}  // namespace
}  // namespace velquin::jet::sql
