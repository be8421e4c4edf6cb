// Damaged, truncated and foreign files: every case gives Corruption naming
// the page and field, never a crash, a hang or an assert. And interrupted
// writers: a file cut off after any page write still opens, with every table
// completed before the cut intact.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <functional>

#include "jet/database.h"
#include "jet/format/bytes.h"
#include "jet/format/data_page.h"
#include "jet/table/long_value.h"
#include "jet/table/table_def.h"
#include "test_util.h"

namespace velquin::jet {
namespace {

using testing::Column;
using Bytes8 = std::vector<std::uint8_t>;

// A database with one table "T" (LONG, TEXT, OLE) holding a few rows, one of
// them with a multi-page long value.
Bytes8 SampleFile() {
  auto file = std::make_unique<MemoryFile>();
  auto data = file->data();
  auto db = Database::CreateOn(std::move(file), {.creation_date = 45000.5});
  EXPECT_TRUE(db.ok());
  TableSpec t;
  t.name = "T";
  t.columns = {Column("n", ColumnType::kLong), Column("s", ColumnType::kText, 20),
               Column("blob", ColumnType::kOle)};
  EXPECT_TRUE((*db)->CreateTable(t).ok());
  for (int i = 0; i < 5; ++i) {
    std::vector<std::uint8_t> blob(i == 2 ? 10000 : 100, static_cast<std::uint8_t>(i + 1));
    EXPECT_TRUE((*db)->Insert("T", {Value::Long(i), Value::Text("row"), Value::Binary(blob)}).ok());
  }
  db->reset();
  return *data;
}

// Opens and reads everything; the first error.
Status ReadEverything(const Bytes8& bytes) {
  auto data = std::make_shared<Bytes8>(bytes);
  auto db = Database::OpenOn(std::make_unique<MemoryFile>(data), {.read_only = true});
  if (!db.ok()) return db.status();
  auto names = (*db)->ListTables(true);
  if (!names.ok()) return names.status();
  for (const auto& n : *names) {
    auto info = (*db)->GetTable(n);
    if (!info.ok()) return info.status();
    auto cur = (*db)->Scan(n);
    if (!cur.ok()) return cur.status();
    std::vector<Value> row;
    for (;;) {
      auto more = (*cur)->Next(&row);
      if (!more.ok()) return more.status();
      if (!*more) break;
    }
  }
  return Status::Ok();
}

// Where things are in the sample file.
struct Layout {
  PageNumber tdef = 0;
  PageNumber data_page = 0;
  RowPointer chain;  // first row of the multi-page long value
};

Layout Locate(const Bytes8& bytes) {
  Layout l;
  auto data = std::make_shared<Bytes8>(bytes);
  auto db = Database::OpenOn(std::make_unique<MemoryFile>(data), {.read_only = true});
  l.tdef = (*db)->GetTable("T")->tdef_page;
  for (PageNumber p = 2; p < bytes.size() / kPageSize; ++p) {
    const std::uint8_t* pg = bytes.data() + p * kPageSize;
    if (pg[0] == kPageTypeData && Get32(Bytes(pg, kPageSize), 4) == l.tdef) l.data_page = p;
  }
  // Row 2 holds the 10000-byte value: its header is in the row's var data.
  Page page;
  std::memcpy(page.data(), bytes.data() + l.data_page * kPageSize, kPageSize);
  DataPage dp(page, l.data_page);
  auto slot = dp.Slot(2);
  Bytes row = dp.RowBytes(*slot);
  for (std::size_t off = 0; off + 12 <= row.size(); ++off) {
    std::uint32_t word = Get32(row, off);
    if ((word & kLvMaxLength) == 10000 && (word >> 24) == 0) {
      l.chain = RowPointer::Decode(Get32(row, off + 4));
      break;
    }
  }
  return l;
}

struct CorruptionCase {
  const char* name;
  std::function<void(Bytes8&, const Layout&)> damage;
};

void Poke16(Bytes8& b, std::size_t off, std::uint16_t v) { Put16(MutableBytes(b), off, v); }
void Poke32(Bytes8& b, std::size_t off, std::uint32_t v) { Put32(MutableBytes(b), off, v); }
std::size_t At(PageNumber p, std::size_t off) {
  return static_cast<std::size_t>(p) * kPageSize + off;
}

const CorruptionCase kCases[] = {
    {"BadMagic", [](Bytes8& b, const Layout&) { b[4] = 'X'; }},
    {"Jet3File", [](Bytes8& b, const Layout&) { b[0x14] = 0; }},
    {"EmptyFile", [](Bytes8& b, const Layout&) { b.clear(); }},
    {"ShorterThanOnePage", [](Bytes8& b, const Layout&) { b.resize(1000); }},
    {"TruncatedDataPage", [](Bytes8& b, const Layout& l) { b.resize(At(l.data_page, 2000)); }},
    {"TruncatedAfterCatalogue", [](Bytes8& b, const Layout& l) { b.resize(At(l.tdef, 0)); }},
    {"CatalogueNotATableDefinition", [](Bytes8& b, const Layout&) { b[At(2, 0)] = 1; }},
    {"TdefLengthPastThePage", [](Bytes8& b, const Layout& l) { Poke32(b, At(l.tdef, 8), 100000); }},
    {"TdefColumnCountTooLarge", [](Bytes8& b, const Layout& l) { Poke16(b, At(l.tdef, 45), 300); }},
    {"TdefColumnNumberTooLarge",
     [](Bytes8& b, const Layout& l) { Poke16(b, At(l.tdef, 63 + 5), 999); }},
    {"TdefNextPageLoops",
     [](Bytes8& b, const Layout& l) {
       Poke32(b, At(l.tdef, 8), 6000);    // needs a second page ...
       Poke32(b, At(l.tdef, 4), l.tdef);  // ... which is the first again
     }},
    {"TdefNextPagePastTheEnd",
     [](Bytes8& b, const Layout& l) {
       Poke32(b, At(l.tdef, 8), 6000);
       Poke32(b, At(l.tdef, 4), 0x00FFFFFF);
     }},
    {"CatalogueIdPastTheEnd",
     [](Bytes8& b, const Layout& l) {
       // The MSysObjects row of "T" is the last row on page 14.
       std::size_t n = Get16(Bytes(b), At(14, 12));
       std::size_t start = Get16(Bytes(b), At(14, 14 + 2 * (n - 1))) & 0x1FFF;
       EXPECT_EQ(Get32(Bytes(b), At(14, start + 2)), l.tdef);
       Poke32(b, At(14, start + 2), 0x00FFFFF0);
     }},
    {"RowOffsetPastThePage",
     [](Bytes8& b, const Layout& l) { Poke16(b, At(l.data_page, 14 + 2), 0x1FFF); }},
    {"RowCountTooLarge", [](Bytes8& b, const Layout& l) { Poke16(b, At(l.data_page, 12), 1000); }},
    {"RowColumnCountZero",
     [](Bytes8& b, const Layout& l) {
       std::size_t start = Get16(Bytes(b), At(l.data_page, 14)) & 0x1FFF;
       Poke16(b, At(l.data_page, start), 0);
     }},
    {"RowVariableCountTooLarge",
     [](Bytes8& b, const Layout& l) {
       // Row 0 ends at the page end: null mask (1 byte), then the var count.
       Poke16(b, At(l.data_page, kPageSize - 3), 2000);
     }},
    {"UsageMapOfUnknownType",
     [](Bytes8& b, const Layout& l) {
       Page p;
       std::memcpy(p.data(), b.data() + At(l.tdef, 0), kPageSize);
       RowPointer owned = RowPointer::Decode(Get32(Bytes(p), 55));
       std::size_t start = Get16(Bytes(b), At(owned.page, 14 + 2 * owned.row)) & 0x1FFF;
       b[At(owned.page, start)] = 7;
     }},
    {"LongValueChainLoops",
     [](Bytes8& b, const Layout& l) {
       ASSERT_NE(l.chain.page, 0u);
       std::size_t start = Get16(Bytes(b), At(l.chain.page, 14 + 2 * l.chain.row)) & 0x1FFF;
       Poke32(b, At(l.chain.page, start), l.chain.Encode());  // next = itself
     }},
    {"LongValuePointerPastTheEnd",
     [](Bytes8& b, const Layout& l) {
       std::size_t start = Get16(Bytes(b), At(l.chain.page, 14 + 2 * l.chain.row)) & 0x1FFF;
       Poke32(b, At(l.chain.page, start), RowPointer{0x00FFFFFF, 0}.Encode());
     }},
    {"LongValuePageNotData",
     [](Bytes8& b, const Layout& l) { b[At(l.chain.page, 0)] = kPageTypeTdef; }},
};

class CorruptFileTest : public ::testing::TestWithParam<CorruptionCase> {};

TEST_P(CorruptFileTest, GivesCorruptionNamingThePage) {
  Bytes8 bytes = SampleFile();
  ASSERT_TRUE(ReadEverything(bytes).ok()) << "the undamaged file must read";
  Layout l = Locate(bytes);
  GetParam().damage(bytes, l);
  Status st = ReadEverything(bytes);
  EXPECT_EQ(st.code(), StatusCode::kCorruption) << st.ToString();
  EXPECT_NE(st.message().find("page"), std::string::npos) << st.ToString();
}

INSTANTIATE_TEST_SUITE_P(Cases, CorruptFileTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CorruptFileTest, RandomByteDamageNeverCrashes) {
  Bytes8 clean = SampleFile();
  std::uint64_t seed = 12345;
  auto next = [&]() {
    seed = seed * 6364136223846793005ull + 1442695040888963407ull;
    return seed >> 33;
  };
  int failures = 0;
  for (int round = 0; round < 400; ++round) {
    Bytes8 b = clean;
    int hits = 1 + static_cast<int>(next() % 8);
    for (int k = 0; k < hits; ++k) b[next() % b.size()] = static_cast<std::uint8_t>(next());
    Status st = ReadEverything(b);
    if (!st.ok()) {
      ++failures;
      EXPECT_TRUE(st.code() == StatusCode::kCorruption || st.code() == StatusCode::kNotSupported)
          << st.ToString();
    }
  }
  EXPECT_GT(failures, 0);
}

TEST(CorruptFileTest, WritableOpenRefusesPartialLastPage) {
  Bytes8 b = SampleFile();
  b.resize(b.size() - 100);
  auto data = std::make_shared<Bytes8>(b);
  auto db = Database::OpenOn(std::make_unique<MemoryFile>(data));
  ASSERT_FALSE(db.ok());
  EXPECT_EQ(db.status().code(), StatusCode::kCorruption);
  EXPECT_EQ(data->size(), b.size());  // nothing written
}

// A writer that stops after any number of page writes (as a killed process
// would) leaves a file that opens, with every table finished before intact.
TEST(InterruptedWriterTest, EveryCutLeavesAReadableFile) {
  struct Milestone {
    std::string table;
    int rows;
    std::uint64_t writes_done;
  };
  auto run = [](File* raw, std::unique_ptr<File> file, std::vector<Milestone>* marks,
                FaultFile* counter) {
    auto db = Database::CreateOn(std::move(file), {.creation_date = 45000.25});
    if (!db.ok()) return;
    (void)raw;
    marks->push_back({"", 0, counter->writes()});
    for (int t = 0; t < 3; ++t) {
      TableSpec spec;
      spec.name = "Table" + std::to_string(t);
      spec.columns = {Column("id", ColumnType::kLong), Column("name", ColumnType::kText, 30),
                      Column("memo", ColumnType::kMemo)};
      spec.columns[0].auto_increment = true;
      spec.indexes = {IndexSpec{.name = "PrimaryKey", .columns = {{0, true}}, .primary_key = true}};
      if (!(*db)->CreateTable(spec).ok()) return;
      auto w = (*db)->BulkAppend(spec.name, 40);
      if (!w.ok()) return;
      int rows = 100 + 50 * t;
      for (int i = 0; i < rows; ++i) {
        std::string memo(i % 5 == 0 ? 3000 : 20, static_cast<char>('a' + i % 26));
        if (!(*w)->Append({Value(), Value::Text("n" + std::to_string(i)), Value::Text(memo)})
                 .ok()) {
          return;
        }
      }
      if (!(*w)->Finish().ok()) return;
      marks->push_back({spec.name, rows, counter->writes()});
      if (t == 1) {
        if (!(*db)->DropTable("Table0").ok()) return;
        marks->push_back({"-Table0", 0, counter->writes()});
      }
    }
  };
  // A full run counts the writes at each milestone.
  std::vector<Milestone> marks;
  {
    auto base = std::make_unique<MemoryFile>();
    auto* fault = new FaultFile(std::move(base), UINT64_MAX, FaultFile::Mode::kDrop);
    run(fault, std::unique_ptr<File>(fault), &marks, fault);
  }
  ASSERT_EQ(marks.size(), 5u);
  ASSERT_EQ(marks[3].table, "-Table0");
  std::uint64_t total = marks.back().writes_done;
  ASSERT_GT(total, 50u);
  int checked = 0;
  for (std::uint64_t cut = marks[0].writes_done; cut <= total; ++cut) {
    auto base = std::make_unique<MemoryFile>();
    auto data = base->data();
    auto* fault = new FaultFile(std::move(base), cut, FaultFile::Mode::kDrop);
    std::vector<Milestone> ignored;
    run(fault, std::unique_ptr<File>(fault), &ignored, fault);
    // The file as it was when the writer "died".
    auto copy = std::make_shared<Bytes8>(*data);
    if (copy->size() % kPageSize) copy->resize(copy->size() / kPageSize * kPageSize);
    auto db = Database::OpenOn(std::make_unique<MemoryFile>(copy), {.read_only = true});
    ASSERT_TRUE(db.ok()) << "cut after write " << cut << ": " << db.status().ToString();
    ASSERT_TRUE(ReadEverything(*copy).ok())
        << "cut after write " << cut << ": " << ReadEverything(*copy).ToString();
    // Table0 is dropped after Table1 is complete; during the drop it may be
    // there (intact) or gone, never half there.
    bool dropped0 = marks[3].writes_done <= cut;
    bool dropping0 = marks[2].writes_done < cut && !dropped0;
    for (const auto& m : marks) {
      if (m.table.empty() || m.table[0] == '-' || m.writes_done > cut) continue;
      if (m.table == "Table0" && dropped0) {
        EXPECT_FALSE((*db)->GetTable("Table0").ok()) << cut;
        continue;
      }
      if (m.table == "Table0" && dropping0 && !(*db)->GetTable("Table0").ok()) continue;
      auto cur = (*db)->Scan(m.table);
      ASSERT_TRUE(cur.ok()) << m.table << " after cut " << cut << ": " << cur.status().ToString();
      std::vector<Value> row;
      int n = 0;
      while (*(*cur)->Next(&row)) {
        ASSERT_EQ(row[0], Value::Long(n + 1));
        ASSERT_EQ(row[1], Value::Text("n" + std::to_string(n)));
        ++n;
      }
      EXPECT_EQ(n, m.rows) << m.table << " after cut " << cut;
    }
    ++checked;
  }
  EXPECT_GT(checked, 50);
}

}  // namespace
}  // namespace velquin::jet

namespace velquin::jet {
namespace {

// A real writer process killed at random moments: the file it leaves opens,
// and every table the child reported finished is there with all its rows.
TEST(KilledWriterTest, FileOpensWithFinishedTablesIntact) {
  constexpr int kTables = 6;
  constexpr int kRows = 3000;
  std::uint64_t seed = 99;
  auto rnd = [&]() {
    seed = seed * 6364136223846793005ull + 1442695040888963407ull;
    return seed >> 33;
  };
  int opened = 0;
  for (int round = 0; round < 8; ++round) {
    std::string path = testing::TempPath("killed_" + std::to_string(round) + ".mdb");
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::close(fds[0]);
      auto db = Database::Create(path);
      if (!db.ok()) ::_exit(2);
      const char created = 'c';
      if (::write(fds[1], &created, 1) != 1) ::_exit(7);
      for (int t = 0; t < kTables; ++t) {
        TableSpec spec;
        spec.name = "T" + std::to_string(t);
        spec.columns = {Column("id", ColumnType::kLong), Column("memo", ColumnType::kMemo)};
        if (!(*db)->CreateTable(spec).ok()) ::_exit(3);
        auto w = (*db)->BulkAppend(spec.name, 500);
        if (!w.ok()) ::_exit(4);
        for (int i = 0; i < kRows; ++i) {
          if (!(*w)->Append({Value::Long(i), Value::Text(std::string(i % 9 == 0 ? 5000 : 80, 'q'))})
                   .ok()) {
            ::_exit(5);
          }
        }
        if (!(*w)->Finish().ok()) ::_exit(6);
        char done = static_cast<char>(t);
        if (::write(fds[1], &done, 1) != 1) ::_exit(7);
      }
      ::_exit(0);
    }
    ::close(fds[1]);
    ::usleep(static_cast<useconds_t>(2000 + rnd() % 120000));
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    int finished = 0;
    bool created = false;
    char c;
    while (::read(fds[0], &c, 1) == 1) {
      if (c == 'c') {
        created = true;
      } else {
        ++finished;
      }
    }
    ::close(fds[0]);
    // Killed while creating the database itself: its creation never committed.
    if (!created) continue;
    auto db = Database::Open(path, {.read_only = true});
    ASSERT_TRUE(db.ok()) << "round " << round << ": " << db.status().ToString();
    ++opened;
    for (int t = 0; t < finished; ++t) {
      auto cur = (*db)->Scan("T" + std::to_string(t));
      ASSERT_TRUE(cur.ok()) << cur.status().ToString();
      std::vector<Value> row;
      int n = 0;
      for (;;) {
        auto more = (*cur)->Next(&row);
        ASSERT_TRUE(more.ok()) << more.status().ToString();
        if (!*more) break;
        ASSERT_EQ(row[0], Value::Long(n));
        ++n;
      }
      EXPECT_EQ(n, kRows) << "table T" << t << " round " << round;
    }
    // A table still being written when the child died reads without error.
    auto names = (*db)->ListTables();
    ASSERT_TRUE(names.ok());
    for (const auto& name : *names) {
      auto cur = (*db)->Scan(name);
      ASSERT_TRUE(cur.ok()) << cur.status().ToString();
      std::vector<Value> row;
      for (;;) {
        auto more = (*cur)->Next(&row);
        ASSERT_TRUE(more.ok()) << name << ": " << more.status().ToString();
        if (!*more) break;
      }
    }
  }
  EXPECT_GT(opened, 0);
}

}  // namespace
}  // namespace velquin::jet
