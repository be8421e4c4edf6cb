// Page 0, data pages, usage maps and the page file.
#include <gtest/gtest.h>

#include <cstring>

#include "jet/format/data_page.h"
#include "jet/format/file.h"
#include "jet/format/header.h"
#include "jet/format/page_file.h"
#include "jet/format/usage_map.h"

namespace velquin::jet {
namespace {

TEST(HeaderTest, MaskIsTheKnownKeystream) {
  // First bytes of the mask as Jackcess stores it (BASE_HEADER_MASK).
  const std::uint8_t expected[8] = {0xB5, 0x6F, 0x03, 0x62, 0x61, 0x08, 0xC2, 0x55};
  EXPECT_EQ(std::memcmp(HeaderMask(), expected, 8), 0);
}

TEST(HeaderTest, NoPasswordStoresTheDateMask) {
  // Observed in the Jet-made file: date 42329.94 -> 59 A5 00 00 repeated.
  HeaderInfo info;
  info.creation_date = 42329.94;
  Page p = EncodeHeaderPage(info);
  for (std::size_t i = 0; i < 40; ++i) {
    std::uint8_t plain = p[0x42 + i] ^ HeaderMask()[0x42 - 0x18 + i];
    const std::uint8_t mask[4] = {0x59, 0xA5, 0x00, 0x00};
    EXPECT_EQ(plain, mask[i % 4]) << i;
  }
  auto back = DecodeHeaderPage(p);
  ASSERT_TRUE(back.ok());
  EXPECT_TRUE(back->password.empty());
  EXPECT_DOUBLE_EQ(back->creation_date, 42329.94);
  EXPECT_EQ(back->code_page, 1252);
  EXPECT_EQ(back->sort_order, 1033);
}

TEST(HeaderTest, PasswordRoundTrips) {
  HeaderInfo info;
  info.creation_date = 45123.5;
  info.password = u"sésame";
  auto back = DecodeHeaderPage(EncodeHeaderPage(info));
  ASSERT_TRUE(back.ok());
  EXPECT_EQ(back->password, u"sésame");
}

TEST(HeaderTest, RefusesOtherFormats) {
  Page p = EncodeHeaderPage(HeaderInfo{});
  p[0x14] = 2;  // ACCDB
  auto r = DecodeHeaderPage(p);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.status().code(), StatusCode::kCorruption);
  EXPECT_NE(r.status().message().find("version"), std::string::npos);
  Page q{};
  std::memcpy(q.data(), "PK\x03\x04", 4);
  EXPECT_EQ(DecodeHeaderPage(q).status().code(), StatusCode::kCorruption);
}

TEST(DataPageTest, PacksRowsDownwardsAndCountsFreeSpace) {
  Page p;
  DataPage dp(p, 9);
  dp.Init(42);
  EXPECT_EQ(dp.free_space(), 4082);
  std::vector<std::uint8_t> row(100, 0xAB);
  int added = 0;
  while (dp.CanAdd(row.size())) {
    EXPECT_EQ(dp.Add(Bytes(row)), added);
    ++added;
  }
  EXPECT_EQ(added, 4082 / 102);
  EXPECT_EQ(dp.free_space(), 4082 - added * 102);
  auto s0 = dp.Slot(0);
  ASSERT_TRUE(s0.ok());
  EXPECT_EQ(s0->end, kPageSize);
  EXPECT_EQ(s0->start, kPageSize - 100);
  EXPECT_TRUE(dp.Validate().ok());
  EXPECT_EQ(dp.owner(), 42u);
}

TEST(DataPageTest, DeleteAndReplaceKeepRowNumbers) {
  Page p;
  DataPage dp(p, 3);
  dp.Init(1);
  std::vector<std::uint8_t> a(10, 1), b(20, 2), c(30, 3), big(50, 9);
  dp.Add(Bytes(a));
  dp.Add(Bytes(b));
  dp.Add(Bytes(c));
  dp.MarkDeleted(0);
  EXPECT_EQ(Get16(Bytes(p), 14) & 0xC000, 0xC000);  // both bits: deleted for every reader
  ASSERT_TRUE(dp.Replace(1, Bytes(big)));
  auto s1 = dp.Slot(1);
  auto s2 = dp.Slot(2);
  ASSERT_TRUE(s1.ok() && s2.ok());
  EXPECT_EQ(s1->size(), 50u);
  EXPECT_EQ(dp.RowBytes(*s1)[0], 9);
  EXPECT_EQ(s2->size(), 30u);
  EXPECT_EQ(dp.RowBytes(*s2)[29], 3);
  EXPECT_TRUE(dp.Slot(0)->deleted);
  EXPECT_TRUE(dp.Validate().ok());
}

TEST(DataPageTest, CompactFreesTheBytesOfDeletedRowsOnly) {
  Page p;
  DataPage dp(p, 3);
  dp.Init(1);
  std::vector<std::vector<std::uint8_t>> rows;
  for (int k = 0; k < 5; ++k) {
    rows.emplace_back(100 + 10 * k, static_cast<std::uint8_t>(k + 1));
    dp.Add(Bytes(rows.back()));
  }
  const std::size_t before = dp.free_space();
  dp.MarkDeleted(1);
  dp.MarkDeleted(4);  // the lowest row
  EXPECT_TRUE(dp.HasLiveRows());
  ASSERT_TRUE(dp.Compact());
  EXPECT_EQ(dp.free_space(), before + 110 + 140);
  EXPECT_EQ(dp.row_count(), 5);
  ASSERT_TRUE(dp.Validate().ok());
  for (int k : {0, 2, 3}) {
    auto s = dp.Slot(k);
    ASSERT_TRUE(s.ok());
    EXPECT_FALSE(s->deleted);
    Bytes b = dp.RowBytes(*s);
    EXPECT_EQ(std::vector<std::uint8_t>(b.begin(), b.end()), rows[k]) << k;
  }
  for (int k : {1, 4}) {
    EXPECT_TRUE(dp.Slot(k)->deleted);
    EXPECT_EQ(dp.Slot(k)->size(), 0u);
    EXPECT_EQ(Get16(Bytes(p), 14 + 2 * k) & 0xC000, 0xC000);
  }
  // The freed room takes new rows.
  std::vector<std::uint8_t> more(240, 7);
  ASSERT_TRUE(dp.CanAdd(more.size()));
  EXPECT_EQ(dp.Add(Bytes(more)), 5);
  dp.MarkDeleted(0);
  dp.MarkDeleted(2);
  dp.MarkDeleted(3);
  dp.MarkDeleted(5);
  EXPECT_FALSE(dp.HasLiveRows());
  ASSERT_TRUE(dp.Compact());
  EXPECT_EQ(dp.free_space(), kPageSize - kDataPageHeader - std::size_t{2} * 6);
  // A page whose live rows do not validate is left alone.
  Page bad;
  DataPage db(bad, 4);
  db.Init(1);
  db.Add(Bytes(rows[0]));
  Put16(MutableBytes(bad), 14, 3);  // row 0 starts inside the header
  Page copy = bad;
  EXPECT_FALSE(db.Compact());
  EXPECT_EQ(bad, copy);
}

TEST(DataPageTest, RejectsOffsetsOutsideThePage) {
  Page p;
  DataPage dp(p, 5);
  dp.Init(1);
  std::vector<std::uint8_t> a(10, 1);
  dp.Add(Bytes(a));
  Put16(MutableBytes(p), 14, 4095);  // row 0 would span 4095..4096 - fine
  EXPECT_TRUE(dp.Slot(0).ok());
  Put16(MutableBytes(p), 14, 8);  // inside the header
  EXPECT_EQ(dp.Slot(0).status().code(), StatusCode::kCorruption);
  Put16(MutableBytes(p), 12, 3000);
  EXPECT_EQ(dp.Validate().code(), StatusCode::kCorruption);
}

TEST(UsageMapTest, InlineMapBecomesReferenceKeepingItsPages) {
  auto pf = PageFile::Create(std::make_unique<MemoryFile>(), HeaderInfo{.creation_date = 1});
  ASSERT_TRUE(pf.ok());
  PageStore& store = **pf;
  PageAllocator alloc = [&]() { return store.AllocatePage(); };
  UsageMap m = UsageMap::NewInline(0);
  for (PageNumber n : {3u, 7u, 511u}) ASSERT_TRUE(m.Set(n, true, alloc).ok());
  EXPECT_FALSE(m.is_reference());
  ASSERT_TRUE(m.Set(40000, true, alloc).ok());  // beyond 512 pages and the first bitmap page
  EXPECT_TRUE(m.is_reference());
  EXPECT_EQ(m.BitmapPages().size(), 2u);
  for (PageNumber n : {3u, 7u, 511u, 40000u}) EXPECT_TRUE(m.Contains(n)) << n;
  EXPECT_FALSE(m.Contains(8));
  auto row = m.Save(store);
  ASSERT_TRUE(row.ok());
  EXPECT_EQ(row->size(), kUsageMapRowSize);
  EXPECT_EQ((*row)[0], 1);
  auto back = UsageMap::Decode(store, {1, 0}, Bytes(*row));
  ASSERT_TRUE(back.ok());
  EXPECT_EQ(back->Pages(0xFFFFFFFF), (std::vector<PageNumber>{3, 7, 511, 40000}));
}

TEST(PageFileTest, GlobalMapRecordsAllocationAndReleaseBeyondInlineRange) {
  auto file = std::make_unique<MemoryFile>();
  auto data = file->data();
  {
    auto pf = PageFile::Create(std::move(file), HeaderInfo{.creation_date = 2});
    ASSERT_TRUE(pf.ok());
    Page page{};
    page[0] = kPageTypeData;
    page[1] = 1;
    for (int i = 0; i < 700; ++i) {
      auto n = (*pf)->AllocatePage();
      ASSERT_TRUE(n.ok());
      ASSERT_TRUE((*pf)->WritePage(*n, page).ok());
    }
    for (PageNumber n : {10u, 20u, 600u, 650u}) ASSERT_TRUE((*pf)->ReleasePage(n).ok());
    ASSERT_TRUE((*pf)->Flush().ok());
  }
  auto pf = PageFile::Open(std::make_unique<MemoryFile>(data), true);
  ASSERT_TRUE(pf.ok()) << pf.status().ToString();
  EXPECT_EQ((*pf)->FreePageCount(), 4u);
  for (PageNumber n : {10u, 20u, 600u, 650u}) EXPECT_TRUE((*pf)->IsFree(n)) << n;
  EXPECT_FALSE((*pf)->IsFree(11));
  EXPECT_FALSE((*pf)->IsFree(601));
  // Released pages come back first, lowest first.
  EXPECT_EQ(*(*pf)->AllocatePage(), 10u);
  EXPECT_EQ(*(*pf)->AllocatePage(), 20u);
}

TEST(PageFileTest, AppendedPagesReachTheFileInRunsAndAreReadBackBeforeTheCommit) {
  auto memory = std::make_unique<MemoryFile>();
  auto data = memory->data();
  auto counting =
      std::make_unique<FaultFile>(std::move(memory), UINT64_MAX, FaultFile::Mode::kFail);
  FaultFile* writes = counting.get();
  auto pf = PageFile::Create(std::move(counting), HeaderInfo{.creation_date = 2});
  ASSERT_TRUE(pf.ok());
  ASSERT_TRUE((*pf)->Commit(false).ok());
  const std::uint64_t before = writes->writes();
  auto page_for = [](PageNumber n, std::uint8_t mark) {
    Page page{};
    page[0] = kPageTypeData;
    page[1] = 1;
    page[100] = static_cast<std::uint8_t>(n);
    page[101] = mark;
    return page;
  };
  std::vector<PageNumber> pages;
  for (int i = 0; i < 150; ++i) {
    auto n = (*pf)->AllocatePage();
    ASSERT_TRUE(n.ok());
    ASSERT_TRUE((*pf)->WritePage(*n, page_for(*n, 1)).ok());
    pages.push_back(*n);
  }
  // Written again while still gathered, and every page read back as written.
  ASSERT_TRUE((*pf)->WritePage(pages[70], page_for(pages[70], 2)).ok());
  for (PageNumber n : pages) {
    Page back{};
    ASSERT_TRUE((*pf)->ReadPage(n, back).ok());
    EXPECT_EQ(back, page_for(n, n == pages[70] ? 2 : 1)) << n;
  }
  // 150 consecutive pages: a few writes, not one each.
  EXPECT_LE(writes->writes() - before, 3u);
  ASSERT_TRUE((*pf)->Commit(false).ok());
  ASSERT_EQ(data->size(), (static_cast<std::size_t>(pages.back()) + 1) * kPageSize);
  for (PageNumber n : pages) {
    EXPECT_EQ(std::memcmp(data->data() + static_cast<std::size_t>(n) * kPageSize,
                          page_for(n, n == pages[70] ? 2 : 1).data(), kPageSize),
              0)
        << n;
  }
  // A rolled-back statement's gathered pages never reach the file.
  const std::size_t size = data->size();
  for (int i = 0; i < 10; ++i) {
    auto n = (*pf)->AllocatePage();
    ASSERT_TRUE(n.ok());
    ASSERT_TRUE((*pf)->WritePage(*n, page_for(*n, 3)).ok());
  }
  ASSERT_TRUE((*pf)->Rollback().ok());
  EXPECT_EQ(data->size(), size);
  EXPECT_EQ((*pf)->PageCount(), pages.back() + 1);
}

TEST(FileTest, FaultFileFailsOrDropsFromTheNthWrite) {
  auto base = std::make_unique<MemoryFile>();
  auto data = base->data();
  FaultFile f(std::move(base), 2, FaultFile::Mode::kFail);
  std::uint8_t byte = 7;
  EXPECT_TRUE(f.WriteAt(0, Bytes(&byte, 1)).ok());
  EXPECT_TRUE(f.WriteAt(1, Bytes(&byte, 1)).ok());
  EXPECT_EQ(f.WriteAt(2, Bytes(&byte, 1)).code(), StatusCode::kIOError);
  EXPECT_EQ(data->size(), 2u);
  auto base2 = std::make_unique<MemoryFile>();
  auto data2 = base2->data();
  FaultFile g(std::move(base2), 1, FaultFile::Mode::kDrop);
  EXPECT_TRUE(g.WriteAt(0, Bytes(&byte, 1)).ok());
  EXPECT_TRUE(g.WriteAt(1, Bytes(&byte, 1)).ok());  // reported, not kept
  EXPECT_EQ(data2->size(), 1u);
}

TEST(FileTest, PosixFileCreateNeverOverwritesAndOpenReportsMissingFiles) {
  EXPECT_EQ(OpenPosixFile("/nonexistent-dir/x.mdb", OpenMode::kReadOnly).status().code(),
            StatusCode::kNotFound);
  EXPECT_FALSE(OpenPosixFile("/", OpenMode::kReadOnly).ok());  // a directory
}

}  // namespace
}  // namespace velquin::jet

namespace velquin::jet {
namespace {

TEST(PageFileTest, PagesPastAnInlineGlobalMapAreTakenAsInUse) {
  auto file = std::make_unique<MemoryFile>();
  auto data = file->data();
  { ASSERT_TRUE(PageFile::Create(std::move(file), HeaderInfo{.creation_date = 3}).ok()); }
  data->resize(600 * kPageSize, 0);  // pages another writer added without recording them
  {
    auto pf = PageFile::Open(std::make_unique<MemoryFile>(data), true);
    ASSERT_TRUE(pf.ok()) << pf.status().ToString();
    EXPECT_FALSE((*pf)->IsFree(550));
    ASSERT_TRUE((*pf)->Flush().ok());
  }
  auto pf = PageFile::Open(std::make_unique<MemoryFile>(data), true);
  ASSERT_TRUE(pf.ok());
  // Pages 2..511 were free in the new file; nothing past 511 is.
  EXPECT_EQ((*pf)->FreePageCount(), 510u);
  EXPECT_FALSE((*pf)->IsFree(599));
  auto n = (*pf)->AllocatePage();
  ASSERT_TRUE(n.ok());
  EXPECT_EQ(*n, 2u);
}

}  // namespace
}  // namespace velquin::jet
