// libFuzzer target: open a byte string as a database and read everything.
// Any outcome but a crash, a hang or a sanitizer report is fine.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "jet/database.h"

namespace velquin::jet {

// Opens `data` read-only and scans every table; returns the number of rows.
std::size_t FuzzOpenAndScan(const std::uint8_t* data, std::size_t size) {
  auto bytes = std::make_shared<std::vector<std::uint8_t>>(data, data + size);
  auto db = Database::OpenOn(std::make_unique<MemoryFile>(bytes), {.read_only = true});
  if (!db.ok()) return 0;
  auto names = (*db)->ListTables(true);
  if (!names.ok()) return 0;
  std::size_t rows = 0;
  for (const auto& name : *names) {
    (void)(*db)->GetTable(name);
    auto cur = (*db)->Scan(name);
    if (!cur.ok()) continue;
    std::vector<Value> row;
    for (int guard = 0; guard < 100000; ++guard) {
      auto more = (*cur)->Next(&row);
      if (!more.ok() || !*more) break;
      ++rows;
    }
  }
  return rows;
}

}  // namespace velquin::jet

#ifndef VELQUIN_FUZZ_NO_MAIN
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  velquin::jet::FuzzOpenAndScan(data, size);
  return 0;
}
#endif
