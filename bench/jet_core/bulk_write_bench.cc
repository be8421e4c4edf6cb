// Writes N rows of (LONG, TEXT(50), DOUBLE, DATETIME, MEMO of ~200 characters)
// through the engine's bulk writer, and the same rows as CSV through stdio,
// in the same run; prints rows/s, bytes per row, peak memory and the ratio.
//
//   jet_bulk_write_bench [rows=1000000] [dir=/tmp]
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "jet/database.h"

using namespace velquin::jet;

namespace {

struct Row {
  std::int32_t id;
  std::string name;
  double amount;
  double when;
  std::string memo;
};

void MakeRow(std::int64_t i, Row* r) {
  static const char* kWords[] = {"alpha", "bravo", "charlie", "delta",   "echo", "foxtrot",
                                 "golf",  "hotel", "india",   "juliett", "kilo", "lima"};
  r->id = static_cast<std::int32_t>(i);
  r->name = "Customer ";
  r->name += kWords[i % 12];
  r->name += ' ';
  r->name += std::to_string(i * 7919 % 1000003);
  r->amount = static_cast<double>(i % 100000) * 1.25 + 0.5;
  r->when = 36526.0 + static_cast<double>(i % 9000) + static_cast<double>(i % 86400) / 86400.0;
  r->memo.clear();
  while (r->memo.size() < 200) {
    r->memo += kWords[(i + r->memo.size()) % 12];
    r->memo += ' ';
  }
  r->memo.resize(200);
}

long PeakRssKb() {
  struct rusage ru;
  getrusage(RUSAGE_SELF, &ru);
  return ru.ru_maxrss;
}

long CurrentRssKb() {
  long pages = 0, rss = 0;
  FILE* f = std::fopen("/proc/self/statm", "r");
  if (f) {
    if (std::fscanf(f, "%ld %ld", &pages, &rss) != 2) rss = 0;
    std::fclose(f);
  }
  return rss * (sysconf(_SC_PAGESIZE) / 1024);
}

double Seconds(std::chrono::steady_clock::time_point a) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - a).count();
}

}  // namespace

int main(int argc, char** argv) {
  std::int64_t n = argc > 1 ? std::atoll(argv[1]) : 1000000;
  std::string dir = argc > 2 ? argv[2] : "/tmp";
  std::string csv_path = dir + "/velquin_bench.csv";
  std::string mdb_path = dir + "/velquin_bench.mdb";
  std::filesystem::remove(csv_path);
  std::filesystem::remove(mdb_path);
  Row r;

  auto t0 = std::chrono::steady_clock::now();
  {
    FILE* f = std::fopen(csv_path.c_str(), "w");
    if (!f) return 1;
    for (std::int64_t i = 0; i < n; ++i) {
      MakeRow(i, &r);
      std::string when = DateTime{r.when}.ToString();
      std::fprintf(f, "%d,\"%s\",%.17g,%s,\"%s\"\n", r.id, r.name.c_str(), r.amount, when.c_str(),
                   r.memo.c_str());
    }
    std::fclose(f);
  }
  double csv_s = Seconds(t0);
  long rss_after_csv = PeakRssKb();

  t0 = std::chrono::steady_clock::now();
  long rss_quarter = 0;
  {
    auto db = Database::Create(mdb_path);
    if (!db.ok()) {
      std::fprintf(stderr, "%s\n", db.status().ToString().c_str());
      return 1;
    }
    TableSpec t;
    t.name = "Bench";
    auto col = [](const char* name, ColumnType type, std::uint16_t size = 0) {
      ColumnSpec c;
      c.name = name;
      c.type = type;
      c.size = size;
      return c;
    };
    t.columns = {col("id", ColumnType::kLong), col("name", ColumnType::kText, 50),
                 col("amount", ColumnType::kDouble), col("when", ColumnType::kDateTime),
                 col("notes", ColumnType::kMemo)};
    if (!(*db)->CreateTable(t).ok()) return 1;
    auto w = (*db)->BulkAppend("Bench");
    if (!w.ok()) return 1;
    std::vector<Value> row(5);
    for (std::int64_t i = 0; i < n; ++i) {
      MakeRow(i, &r);
      row[0] = Value::Long(r.id);
      row[1] = Value::Text(r.name);
      row[2] = Value::Double(r.amount);
      row[3] = Value::Date(DateTime{r.when});
      row[4] = Value::Text(r.memo);
      velquin::Status st = (*w)->Append(row);
      if (!st.ok()) {
        std::fprintf(stderr, "row %lld: %s\n", static_cast<long long>(i), st.ToString().c_str());
        return 1;
      }
      if (i == n / 4) rss_quarter = CurrentRssKb();
    }
    if (!(*w)->Finish().ok()) return 1;
  }
  double jet_s = Seconds(t0);
  long rss_end = CurrentRssKb();

  auto csv_bytes = std::filesystem::file_size(csv_path);
  auto mdb_bytes = std::filesystem::file_size(mdb_path);
  std::printf("rows                 %lld\n", static_cast<long long>(n));
  std::printf("csv (stdio)          %.2f s  %.0f rows/s  %.1f bytes/row\n", csv_s, n / csv_s,
              static_cast<double>(csv_bytes) / n);
  std::printf("jet bulk writer      %.2f s  %.0f rows/s  %.1f bytes/row\n", jet_s, n / jet_s,
              static_cast<double>(mdb_bytes) / n);
  std::printf("ratio jet/csv        %.2f (goal <= 2.0)\n", jet_s / csv_s);
  std::printf("peak RSS             %ld KiB after CSV, %ld KiB overall\n", rss_after_csv,
              PeakRssKb());
  std::printf("RSS during jet write %ld KiB at 25%% of rows, %ld KiB at the end\n", rss_quarter,
              rss_end);
  std::filesystem::remove(csv_path);
  if (!std::getenv("VELQUIN_BENCH_KEEP")) std::filesystem::remove(mdb_path);
  return 0;
}
