// A bounded fuzz run without libFuzzer: builds a database with every kind of
// structure, then opens and scans many randomly damaged copies of it (byte
// flips, truncations, copied pages). Exits non-zero only if a run crashes,
// which the process would do by itself; prints what it tried.
//
//   jet_fuzz_smoke [iterations=20000] [seed=1]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "jet/database.h"

namespace velquin::jet {
std::size_t FuzzOpenAndScan(const std::uint8_t* data, std::size_t size);
}

using namespace velquin::jet;

int main(int argc, char** argv) {
  long iterations = argc > 1 ? std::atol(argv[1]) : 20000;
  std::uint64_t seed = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1;
  auto file = std::make_unique<MemoryFile>();
  auto data = file->data();
  {
    auto db = Database::CreateOn(std::move(file));
    if (!db.ok()) return 1;
    TableSpec t;
    t.name = "F";
    ColumnSpec a{.name = "id", .type = ColumnType::kLong, .auto_increment = true};
    ColumnSpec b{.name = "s", .type = ColumnType::kText, .size = 40};
    ColumnSpec c{.name = "m", .type = ColumnType::kMemo};
    ColumnSpec d{.name = "n", .type = ColumnType::kNumeric, .precision = 20, .scale = 3};
    t.columns = {a, b, c, d};
    t.indexes = {IndexSpec{.name = "PrimaryKey", .columns = {{0, true}}, .primary_key = true}};
    if (!(*db)->CreateTable(t).ok()) return 1;
    for (int i = 0; i < 60; ++i) {
      std::string memo(i % 7 == 0 ? 6000 : 30 + i, static_cast<char>('a' + i % 26));
      if (!(*db)
               ->Insert("F", {Value(), Value::Text("row " + std::to_string(i)), Value::Text(memo),
                              Value::Numeric(*Decimal::Parse(std::to_string(i) + ".5", 3))})
               .ok()) {
        return 1;
      }
    }
  }
  const std::vector<std::uint8_t> clean = *data;
  auto rnd = [&]() {
    seed = seed * 6364136223846793005ull + 1442695040888963407ull;
    return seed >> 33;
  };
  auto start = std::chrono::steady_clock::now();
  std::size_t rows = 0;
  for (long it = 0; it < iterations; ++it) {
    std::vector<std::uint8_t> b = clean;
    switch (rnd() % 4) {
      case 0:
      case 1: {
        int hits = 1 + static_cast<int>(rnd() % 16);
        for (int k = 0; k < hits; ++k) b[rnd() % b.size()] = static_cast<std::uint8_t>(rnd());
        break;
      }
      case 2:
        b.resize(rnd() % b.size());
        break;
      case 3: {  // copy one page over another
        std::size_t pages = b.size() / 4096;
        std::size_t from = rnd() % pages, to = rnd() % pages;
        std::memcpy(&b[to * 4096], &clean[from * 4096], 4096);
        break;
      }
    }
    rows += FuzzOpenAndScan(b.data(), b.size());
  }
  double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%ld damaged files opened and scanned in %.1f s (%zu rows read), no crash\n",
              iterations, s, rows);
  return 0;
}
