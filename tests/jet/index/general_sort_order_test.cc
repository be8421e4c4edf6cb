// Text keys in the General (legacy) sort order: exact bytes for vectors
// measured against Access (via Jackcess) and ordering properties.
#include "jet/index/general_sort_order.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "test_util.h"

namespace velquin::jet {
namespace {

using testing::Hex;
using testing::ToHex;

std::vector<std::uint8_t> Key(std::u16string_view s, bool asc = true) {
  std::vector<std::uint8_t> out{static_cast<std::uint8_t>(asc ? 0x7F : 0x80)};
  AppendGeneralTextKey(s, asc, out);
  return out;
}

struct TextCase {
  std::u16string text;
  const char* hex;
};

class TextKeyVectors : public ::testing::TestWithParam<TextCase> {};

TEST_P(TextKeyVectors, MatchesAccessBytes) {
  EXPECT_EQ(ToHex(Key(GetParam().text)), ToHex(Hex(GetParam().hex)));
}

INSTANTIATE_TEST_SUITE_P(
    Access, TextKeyVectors,
    ::testing::Values(TextCase{u"", "7F 01 00"}, TextCase{u"ab", "7F 4A 4C 01 00"},
                      TextCase{u"ab  ", "7F 4A 4C 01 00"},  // trailing spaces are not keyed
                      TextCase{u"abc", "7F 4A 4C 4D 01 00"}, TextCase{u"ABC", "7F 4A 4C 4D 01 00"},
                      TextCase{u"Abc", "7F 4A 4C 4D 01 00"}, TextCase{u"a b", "7F 4A 07 4C 01 00"},
                      TextCase{u"  a", "7F 07 07 4A 01 00"},  // leading spaces are keyed
                      TextCase{u"123", "7F 38 3A 3C 01 00"}, TextCase{u"e", "7F 51 01 00"},
                      TextCase{u"\u00e9", "7F 51 01 0E 00"},  // é: e + accent class 0E
                      TextCase{u"Z\u00fcrich", "7F 78 6F 69 59 4D 57 01 02 13 00"},
                      TextCase{u"a-b", "7F 4A 4C 01 01 01 01 80 0B 06 82 00"},
                      TextCase{u"O'Hare", "7F 64 57 4A 69 51 01 01 01 01 80 0B 06 80 00"},
                      TextCase{u"\u65e5\u672c", "7F B7 56 B8 A9 01 00"},  // 日本
                      // A tab is a two-byte simple code: the table line "S803" is 08 03.
                      TextCase{u"a\tb", "7F 4A 08 03 4C 01 00"},
                      // Two unprintables: positions 7+4*1 and 7+4*2 (after "a", after "ab").
                      TextCase{u"a-b-", "7F 4A 4C 01 01 01 01 80 0B 06 82 80 0F 06 82 00"},
                      // Accent after a plain character: placeholder 02 for "a".
                      TextCase{u"a\u00e9", "7F 4A 51 01 02 0E 00"},
                      // Accent first, then plain characters: trailing placeholders trimmed.
                      TextCase{u"\u00e9a", "7F 51 4A 01 0E 00"}));

TEST(GeneralTextKey, DescendingInvertsValueAndEndsWithZero) {
  EXPECT_EQ(ToHex(Key(u"abc", false)), "80 B5 B3 B2 FE FF 00");
  EXPECT_EQ(ToHex(Key(u"", false)), "80 FE FF 00");
}

TEST(GeneralTextKey, UnprintableAfterAccentCountsExtraBytes) {
  // "é-": é gives extra 0E at char 0; '-' sits after one inline char, so its
  // position counts the one extra byte: 7 + 4*1 = 0x0B.
  EXPECT_EQ(ToHex(Key(u"\u00e9-")), "7F 51 01 0E 01 01 01 80 0B 06 82 00");
}

// Vectors worked out by hand from the table lines and the layout rules.
INSTANTIATE_TEST_SUITE_P(
    Rules, TextKeyVectors,
    ::testing::Values(
        // U+3041 (small a) "Z7F02,,1": crazy flag 2 -> packed 0x80 | 2 << 4.
        TextCase{u"\u3041", "7F 7F 02 01 01 01 A0 FF 02 80 FF 80 00"},
        // U+3042 "Z7F02,,": flag 3, trimmed at the end; the suffix stays.
        TextCase{u"\u3042", "7F 7F 02 01 01 01 FF 02 80 FF 80 00"},
        // Flags 2, 3, 2 packed into one byte: 0x80 | 0x20 | 0x0C | 0x02.
        TextCase{u"\u3041\u3042\u3041", "7F 7F 02 7F 02 7F 02 01 01 01 AE FF 02 80 FF 80 00"},
        // Crazy flags then unprintables: FF before the unprintable section.
        TextCase{u"\u3041-", "7F 7F 02 01 01 01 A0 FF 02 80 FF 80 FF 01 80 0B 06 82 00"},
        // U+02B9 "PC" after 'a': placeholder 02 for 'a', plus 0C -> 0E.
        TextCase{u"a\u02b9", "7F 4A 01 0E 00"},
        // ... and first: the modifier itself becomes a leading extra byte.
        TextCase{u"\u02b9a", "7F 4A 01 0C 00"}));

TEST(GeneralTextKey, OnlyFirst255CharactersAreKeyed) {
  std::u16string long_a(255, u'a');
  std::u16string longer = long_a + u"zzz";
  EXPECT_EQ(Key(long_a), Key(longer));
  EXPECT_NE(Key(std::u16string(254, u'a')), Key(long_a));
}

TEST(GeneralTextKey, CaseAndTrailingSpacesCollideButAccentsDoNot) {
  EXPECT_EQ(Key(u"Hello World"), Key(u"hello world   "));
  EXPECT_EQ(Key(u"\u00c9COLE"), Key(u"\u00e9cole"));  // ÉCOLE vs école
  EXPECT_NE(Key(u"ecole"), Key(u"\u00e9cole"));
  EXPECT_NE(Key(u"coop"), Key(u"co-op"));
  EXPECT_NE(Key(u"abc"), Key(u"ab c"));
}

TEST(GeneralTextKey, TableCoversTheCharacterClasses) {
  EXPECT_EQ(LookupGeneralSortCode(u'A').kind, 'S');
  EXPECT_EQ(LookupGeneralSortCode(u'A').inline_bytes, Hex("4A"));
  EXPECT_EQ(LookupGeneralSortCode(u'\u00e9').kind, 'I');
  EXPECT_EQ(LookupGeneralSortCode(u'\'').kind, 'U');
  EXPECT_EQ(LookupGeneralSortCode(u'\'').unprintable_bytes, Hex("80"));
  EXPECT_EQ(LookupGeneralSortCode(u'\0').kind, 'X');
  EXPECT_EQ(LookupGeneralSortCode(u'\u65e5').inline_bytes, Hex("B7 56"));
  EXPECT_EQ(LookupGeneralSortCode(u'\xD83D').kind, 'Q');
  EXPECT_EQ(LookupGeneralSortCode(u'\xFFFF').kind, 'X');
}

// The compact generated table answers exactly what the source tables say,
// for every UTF-16 code unit outside the surrogates.
TEST(GeneralTextKey, GeneratedTableMatchesTheSourceTables) {
  const std::string dir = std::string(VELQUIN_TEST_DATA_DIR) + "/jet-sort-order/";
  std::ifstream low(dir + "general-legacy-0000-00ff.txt");
  std::ifstream high(dir + "general-legacy-0100-ffff.txt");
  if (!low || !high) GTEST_SKIP() << "sort-order tables not available";
  auto hex = [](std::string text) {
    if (text.size() % 2) text = "0" + text;
    return Hex(text);
  };
  std::string line;
  std::size_t checked = 0;
  for (std::uint32_t cu = 0; cu <= 0xFFFF; ++cu) {
    if (cu >= 0xD800 && cu <= 0xDFFF) continue;
    std::istream& in = cu < 0x100 ? static_cast<std::istream&>(low) : high;
    ASSERT_TRUE(static_cast<bool>(std::getline(in, line))) << "table ends before " << cu;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    std::vector<std::string> fields;
    std::size_t start = 1;
    while (true) {
      const std::size_t comma = line.find(',', start);
      fields.push_back(
          line.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
    const GeneralSortCode got = LookupGeneralSortCode(static_cast<char16_t>(cu));
    SCOPED_TRACE(line);
    ASSERT_EQ(got.kind, line[0]) << "code unit " << cu;
    switch (line[0]) {
      case 'S':
        ASSERT_EQ(got.inline_bytes, hex(fields[0])) << cu;
        break;
      case 'I':
        ASSERT_EQ(got.inline_bytes, hex(fields[0])) << cu;
        ASSERT_EQ(got.extra_bytes, hex(fields[1])) << cu;
        break;
      case 'U':
        ASSERT_EQ(got.unprintable_bytes, hex(fields[0])) << cu;
        break;
      case 'P':
        ASSERT_EQ(std::vector<std::uint8_t>{got.extra_modifier}, hex(fields[0])) << cu;
        break;
      case 'Z':
        ASSERT_EQ(got.inline_bytes, hex(fields[0])) << cu;
        ASSERT_EQ(got.extra_bytes,
                  fields[1].empty() ? std::vector<std::uint8_t>{} : hex(fields[1]));
        ASSERT_EQ(got.crazy_flag, fields[2] == "1" ? 2 : 3) << cu;
        break;
      default:
        break;
    }
    ++checked;
  }
  EXPECT_EQ(checked, 256u + 63232u);
}

TEST(GeneralTextKey, SortsLikeAccess) {
  // Each string's key must sort strictly before the next one's.
  const std::vector<std::u16string> ordered = {
      u"",       u" a",
      u"!",      u"0",
      u"9",      u"a",
      u"a b",    u"ab",
      u"abc",    u"a-b-c",
      u"abd",    u"b",
      u"e",      u"\u00e9",
      u"\u00e8", u"f",
      u"o'hare", u"ohare2",
      u"zebra",  u"zz",
      u"\u65e5", u"\u65e5\u672c",
  };
  for (std::size_t i = 0; i + 1 < ordered.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_LT(Key(ordered[i]), Key(ordered[i + 1]));
    // Descending keys sort the other way round.
    EXPECT_GT(Key(ordered[i], false), Key(ordered[i + 1], false));
  }
}

TEST(GeneralTextKey, SurrogatePairsAreKeyedAsTwoInternationalCharacters) {
  // U+1F600 = D83D DE00. High: D83D - 10238 = 0xB03F; low: position 0x200 in
  // its block (below 8+254+254 -> offset 9988): DE00 - 9988 = 0xB6FC. Both carry
  // the extra code 3F.
  EXPECT_EQ(ToHex(Key(u"\U0001F600")), "7F B0 3F B6 FC 01 3F 3F 00");
}

}  // namespace
}  // namespace velquin::jet
