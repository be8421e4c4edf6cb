// Times `velquin mdb import --tsv` of N generated rows of (LONG, LONG,
// DATETIME, DATETIME) with a two-column primary key, as a MySQL table of
// that shape arrives from `mysql --batch`. The text file is generated into a
// temporary folder and removed afterwards.
//
//   mdb_import_bench [rows=2844047] [dir=/tmp] [velquin=<built one>]
//
// With VELQUIN_BENCH_NO_KEY=1 in the environment the table has no primary
// key, which separates the cost of the index from that of reading and
// converting the text.
//
// Prints rows/s of the import, the .mdb file size, bytes per row and the
// import's peak memory.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "jet/database.h"

using namespace velquin::jet;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// Row i: key (i / 64 + 1, i % 64 + 1), a start time and an end time.
void AppendRow(std::int64_t i, std::string* out) {
  char buf[96];
  std::int64_t t = 1262304000 + i * 37;  // seconds since 1970, from 2010-01-01
  auto put_time = [&](std::int64_t secs, char* p) {
    std::int64_t days = secs / 86400, rem = secs % 86400;
    // Civil date from days since 1970 (proleptic Gregorian).
    days += 719468;
    std::int64_t era = days / 146097;
    unsigned doe = static_cast<unsigned>(days - era * 146097);
    unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
    unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    unsigned mp = (5 * doy + 2) / 153;
    unsigned d = doy - (153 * mp + 2) / 5 + 1;
    unsigned m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;
    return std::snprintf(p, 24, "%04lld-%02u-%02u %02lld:%02lld:%02lld", static_cast<long long>(y),
                         m, d, static_cast<long long>(rem / 3600),
                         static_cast<long long>(rem / 60 % 60), static_cast<long long>(rem % 60));
  };
  int n = std::snprintf(buf, sizeof buf, "%lld\t%lld\t", static_cast<long long>(i / 64 + 1),
                        static_cast<long long>(i % 64 + 1));
  n += put_time(t, buf + n);
  buf[n++] = '\t';
  n += put_time(t + 60 + i % 3600, buf + n);
  buf[n++] = '\n';
  out->append(buf, static_cast<std::size_t>(n));
}

}  // namespace

int main(int argc, char** argv) {
  std::int64_t rows = argc > 1 ? std::atoll(argv[1]) : 2844047;
  fs::path base = argc > 2 ? argv[2] : fs::temp_directory_path();
  std::string velquin = argc > 3 ? argv[3] : VELQUIN_EXE;
  fs::path dir = base / ("velquin_import_bench_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  std::string tsv = (dir / "rows.tsv").string();
  std::string mdb = (dir / "rows.mdb").string();

  auto t0 = Clock::now();
  {
    std::FILE* f = std::fopen(tsv.c_str(), "wb");
    if (!f) return std::perror("tsv"), 1;
    std::string chunk = "user_id\tevent_id\tstarted\tended\n";
    for (std::int64_t i = 0; i < rows; ++i) {
      AppendRow(i, &chunk);
      if (chunk.size() > (1 << 20)) {
        std::fwrite(chunk.data(), 1, chunk.size(), f);
        chunk.clear();
      }
    }
    std::fwrite(chunk.data(), 1, chunk.size(), f);
    std::fclose(f);
  }
  double gen = Seconds(t0);

  {
    auto db = Database::Create(mdb);
    if (!db.ok()) return std::fprintf(stderr, "%s\n", db.status().ToString().c_str()), 1;
    TableSpec t;
    t.name = "events";
    auto col = [](const char* name, ColumnType type) {
      ColumnSpec c;
      c.name = name;
      c.type = type;
      c.not_null = true;
      return c;
    };
    t.columns = {col("user_id", ColumnType::kLong), col("event_id", ColumnType::kLong),
                 col("started", ColumnType::kDateTime), col("ended", ColumnType::kDateTime)};
    if (!std::getenv("VELQUIN_BENCH_NO_KEY"))
      t.indexes = {IndexSpec{.name = "PrimaryKey",
                             .columns = {{0, true}, {1, true}},
                             .primary_key = true,
                             .unique = true,
                             .required = true}};
    if (auto s = (*db)->CreateTable(t); !s.ok()) {
      return std::fprintf(stderr, "%s\n", s.ToString().c_str()), 1;
    }
  }

  // The generated text is written back to disk before the clock starts, so
  // its write-back does not land in the import's time.
  ::sync();
  auto t1 = Clock::now();
  pid_t pid = ::fork();
  if (pid == 0) {
    ::execl(velquin.c_str(), velquin.c_str(), "mdb", "import", "--tsv", mdb.c_str(), "events",
            tsv.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  double secs = Seconds(t1);
  rusage ru{};
  ::getrusage(RUSAGE_CHILDREN, &ru);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "velquin mdb import failed (status %d)\n", status);
    return 1;
  }
  auto size = fs::file_size(mdb);
  std::uint32_t counted = 0;
  {
    auto db = Database::Open(mdb, {.read_only = true});
    if (db.ok()) {
      auto info = (*db)->GetTable("events");
      if (info.ok()) counted = info->row_count;
    }
  }
  std::printf("rows               %lld (table says %u)\n", static_cast<long long>(rows), counted);
  std::printf("tsv                %.1f MB, generated in %.2f s\n",
              static_cast<double>(fs::file_size(tsv)) / 1e6, gen);
  std::printf("import             %.2f s, %.0f rows/s (goal >= 1815000)\n", secs,
              static_cast<double>(rows) / secs);
  std::printf(
      "mdb file           %llu bytes = %.1f MB = %.1f MiB (goal <= 157 MB), %.1f bytes/row\n",
      static_cast<unsigned long long>(size), static_cast<double>(size) / 1e6,
      static_cast<double>(size) / 1048576.0, static_cast<double>(size) / static_cast<double>(rows));
  std::printf("import peak memory %.1f MB\n", static_cast<double>(ru.ru_maxrss) / 1024.0);
  fs::remove_all(dir);
  return counted == static_cast<std::uint64_t>(rows) ? 0 : 1;
}
