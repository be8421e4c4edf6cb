// Values, text encoding, the row layout and table definitions, with exact
// bytes where Jet's own files show them.
#include "jet/table/table.h"

#include <gtest/gtest.h>

#include <cmath>

#include "jet/catalog/system_tables.h"
#include "jet/format/page_file.h"
#include "jet/table/row_codec.h"
#include "jet/table/table_def.h"
#include "jet/table/table_spec.h"
#include "jet/table/text_codec.h"
#include "jet/table/value.h"

namespace velquin::jet {
namespace {

using B = std::vector<std::uint8_t>;

B Stored(const std::string& utf8, bool compress) {
  B out;
  auto n = EncodeTextUtf8(utf8, compress, &out);
  EXPECT_TRUE(n.ok());
  return out;
}

TEST(TextCodecTest, CompressesAsAccessDoes) {
  struct Case {
    const char* text;
    bool allowed;
    B expected;
  };
  const Case cases[] = {
      {"abc", true, {0xFF, 0xFE, 'a', 'b', 'c'}},
      {"ab", true, {'a', 0, 'b', 0}},                // too short to gain
      {"abc", false, {'a', 0, 'b', 0, 'c', 0}},      // column without the flag
      {"é€x", true, {0xE9, 0, 0xAC, 0x20, 'x', 0}},  // € is above U+00FF
      {"Zoé", true, {0xFF, 0xFE, 'Z', 'o', 0xE9}},   // Latin-1 compresses
      {"😀", true, {0x3D, 0xD8, 0x00, 0xDE}},         // surrogate pair
      {"", true, {}},
  };
  for (const auto& c : cases) EXPECT_EQ(Stored(c.text, c.allowed), c.expected) << c.text;
  EXPECT_EQ(Stored(std::string(1025, 'a'), true).size(), 2050u);  // over 1024 characters
  EXPECT_EQ(Stored(std::string(1024, 'a'), true).size(), 1026u);
}

TEST(TextCodecTest, DecodesBothModesOfTheCompressedForm) {
  // FF FE, "a" in one-byte mode, 00 to two-byte mode, U+4E2D, 00 back, "b".
  B stored = {0xFF, 0xFE, 'a', 0x00, 0x2D, 0x4E, 0x00, 'b'};
  EXPECT_EQ(DecodeText(Bytes(stored)), "a中b");
  B plain = {0x3D, 0xD8, 0x00, 0xDE, 'x', 0};
  EXPECT_EQ(DecodeText(Bytes(plain)), "😀x");
  B lone = {0x3D, 0xD8};  // unpaired surrogate
  EXPECT_EQ(DecodeText(Bytes(lone)), "\xEF\xBF\xBD");
}

TEST(TextCodecTest, RejectsMalformedUtf8) {
  for (const char* bad : {"\xC3", "\xE2\x82", "\xFF", "\xC0\x80", "\xED\xA0\x80"}) {
    EXPECT_EQ(Utf8ToUtf16(bad).status().code(), StatusCode::kInvalidArgument) << bad;
  }
}

TEST(DateTimeTest, JetEpochAndNegativeDates) {
  EXPECT_EQ(DateTime::FromParts(1899, 12, 30).days, 0.0);
  EXPECT_EQ(DateTime::FromParts(1900, 1, 1).days, 2.0);
  EXPECT_EQ(DateTime::FromParts(1899, 12, 29, 6).days, -1.25);  // fraction stays the time
  EXPECT_EQ(DateTime{-1.25}.ToString(), "1899-12-29 06:00:00");
  EXPECT_EQ(DateTime::FromParts(2000, 2, 29, 23, 59, 59, 500).ToString(),
            "2000-02-29 23:59:59.500");
  EXPECT_EQ(DateTime::FromParts(100, 1, 1).ToString(), "0100-01-01 00:00:00");
  EXPECT_EQ(DateTime::FromParts(9999, 12, 31, 23, 59, 59).ToString(), "9999-12-31 23:59:59");
  auto p = DateTime::Parse("2024-07-01T08:09:10.25");
  ASSERT_TRUE(p.ok());
  EXPECT_EQ(p->ToString(), "2024-07-01 08:09:10.250");
  for (const char* bad : {"2023-02-29", "2024-13-01", "24-01-01", "2024-01-01 25:00", "x"}) {
    EXPECT_FALSE(DateTime::Parse(bad).ok()) << bad;
  }
}

TEST(DecimalTest, ParsesRoundsAndPrintsWithScale) {
  EXPECT_EQ(Decimal::Parse("-123.45", 4)->ToString(), "-123.4500");
  EXPECT_EQ(Decimal::Parse("1.23456", 4)->ToString(), "1.2346");
  EXPECT_EQ(Decimal::Parse("-0.00001", 4)->ToString(), "0.0000");
  EXPECT_EQ(Decimal::Parse("9999999999999999999999999999", 0)->ToString(),
            "9999999999999999999999999999");
  EXPECT_FALSE(Decimal::Parse("10000000000000000000000000000", 0).ok());  // 29 digits
  EXPECT_FALSE(Decimal::Parse("1e5", 0).ok());
  EXPECT_EQ(Currency::Parse("-12.5")->units, -125000);
  EXPECT_EQ(Currency{-1}.ToString(), "-0.0001");
  EXPECT_FALSE(Currency::Parse("922337203685478").ok());  // past int64 / 10^4
}

TEST(CellTest, StoredBytesOfFixedTypes) {
  Column guid{.name = "g", .type = ColumnType::kGuid, .flags = kColumnFixed, .length = 16};
  B out;
  ASSERT_TRUE(EncodeCellValue(
                  guid, Value::Uuid(*Guid::Parse("{00112233-4455-6677-8899-AABBCCDDEEFF}")), &out)
                  .ok());
  EXPECT_EQ(out, (B{0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66, 0x88, 0x99, 0xAA, 0xBB, 0xCC,
                    0xDD, 0xEE, 0xFF}));
  Column num{.name = "n",
             .type = ColumnType::kNumeric,
             .misc = {28, 2, 0, 0},
             .flags = kColumnFixed,
             .length = 17};
  ASSERT_TRUE(EncodeCellValue(num, Value::Numeric(*Decimal::Parse("-1.00", 2)), &out).ok());
  EXPECT_EQ(out, (B{0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 100, 0, 0, 0}));
  Column money{.name = "m", .type = ColumnType::kCurrency, .flags = kColumnFixed, .length = 8};
  ASSERT_TRUE(EncodeCellValue(money, Value::Long(1), &out).ok());
  EXPECT_EQ(out, (B{0x10, 0x27, 0, 0, 0, 0, 0, 0}));
  Cell cell{true, Bytes(out)};
  auto pf = PageFile::Create(std::make_unique<MemoryFile>(), HeaderInfo{});
  auto v = DecodeCellValue(**pf, money, cell, 0);
  ASSERT_TRUE(v.ok());
  EXPECT_EQ(v->currency_value().units, 10000);
}

TableDef AcesDef() {
  TableDef def;
  auto specs = SystemTableSpecs();
  LayoutColumns(specs[1], &def);
  return def;
}

TEST(RowCodecTest, EncodesAnAceRowExactlyAsJet) {
  // Row 0 of MSysACEs in the Jet-made empty database: (2, 64 8B, 393216, No).
  const B jet = {0x04, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x06, 0x00,
                 0x64, 0x8B, 0x0C, 0x00, 0x0A, 0x00, 0x01, 0x00, 0x07};
  TableDef def = AcesDef();
  B id = {2, 0, 0, 0}, sid = {0x64, 0x8B}, acm = {0, 0, 6, 0};
  std::vector<Cell> cells = {
      {true, Bytes(id)}, {true, Bytes(sid)}, {true, Bytes(acm)}, {false, {}}};
  B row;
  EncodeRow(def, cells, &row);
  EXPECT_EQ(row, jet);
  std::vector<Cell> back;
  ASSERT_TRUE(DecodeRow(def, Bytes(jet), 15, 0, &back).ok());
  EXPECT_EQ(B(back[1].data.begin(), back[1].data.end()), sid);
  EXPECT_FALSE(back[3].present);
}

TEST(RowCodecTest, NullsAndEmptyVariableValues) {
  TableSpec spec;
  spec.name = "t";
  spec.columns = {ColumnSpec{.name = "a", .type = ColumnType::kText, .size = 10},
                  ColumnSpec{.name = "b", .type = ColumnType::kLong},
                  ColumnSpec{.name = "c", .type = ColumnType::kText, .size = 10}};
  TableDef def;
  LayoutColumns(spec, &def);
  B empty, x = {'x', 0};
  std::vector<Cell> cells = {{true, Bytes(empty)}, {false, {}}, {true, Bytes(x)}};
  B row;
  EncodeRow(def, cells, &row);
  std::vector<Cell> back;
  ASSERT_TRUE(DecodeRow(def, Bytes(row), 1, 0, &back).ok());
  EXPECT_TRUE(back[0].present);
  EXPECT_EQ(back[0].data.size(), 0u);  // empty, not NULL
  EXPECT_FALSE(back[1].present);
  EXPECT_EQ(B(back[2].data.begin(), back[2].data.end()), x);
}

TEST(TableDefTest, MultiPageDefinitionRoundTrips) {
  auto pf = PageFile::Create(std::make_unique<MemoryFile>(), HeaderInfo{});
  ASSERT_TRUE(pf.ok());
  TableSpec spec;
  spec.name = "wide";
  for (int i = 0; i < 200; ++i) {
    spec.columns.push_back(ColumnSpec{.name = "column_with_a_long_name_" + std::to_string(i),
                                      .type = i % 3 ? ColumnType::kText : ColumnType::kDouble,
                                      .size = 20});
  }
  TableDef def;
  LayoutColumns(spec, &def);
  auto page = (*pf)->AllocatePage();
  ASSERT_TRUE(page.ok());
  def.tdef_page = *page;
  def.owned_map = {7, 0};
  def.free_map = {7, 1};
  def.row_count = 12345;
  def.real_indexes.push_back(RealIndex{.columns = {{1, true}, {0, false}},
                                       .usage_map = {7, 2},
                                       .root = 9,
                                       .flags = 0x81,
                                       .unique_entries = 44});
  def.logical_indexes.push_back(
      LogicalIndex{.name = "ix", .number = 0, .real_index = 0, .index_type = 1});
  ASSERT_TRUE(WriteTableDef(**pf, def).ok());
  auto chain = TableDefPages(**pf, *page);
  ASSERT_TRUE(chain.ok());
  EXPECT_GE(chain->size(), 3u);
  auto back = ReadTableDef(**pf, *page);
  ASSERT_TRUE(back.ok()) << back.status().ToString();
  EXPECT_EQ(back->row_count, 12345u);
  ASSERT_EQ(back->columns.size(), 200u);
  for (std::size_t i = 0; i < 200; ++i) {
    EXPECT_EQ(back->columns[i].name, def.columns[i].name);
    EXPECT_EQ(back->columns[i].var_index, def.columns[i].var_index);
    EXPECT_EQ(back->columns[i].fixed_offset, def.columns[i].fixed_offset);
  }
  ASSERT_EQ(back->real_indexes.size(), 1u);
  EXPECT_EQ(back->real_indexes[0].columns.size(), 2u);
  EXPECT_FALSE(back->real_indexes[0].columns[1].ascending);
  EXPECT_EQ(back->real_indexes[0].unique_entries, 44u);
  EXPECT_EQ(back->logical_indexes[0].name, "ix");
  // A shorter definition gives back the pages it no longer needs.
  def.columns.resize(3);
  def.max_columns = 3;
  def.real_indexes[0].columns = {{1, true}};
  std::size_t free_before = (*pf)->FreePageCount();
  ASSERT_TRUE(WriteTableDef(**pf, def).ok());
  EXPECT_EQ(TableDefPages(**pf, *page)->size(), 1u);
  EXPECT_EQ((*pf)->FreePageCount(), free_before + chain->size() - 1);
}

}  // namespace
}  // namespace velquin::jet
