// Times `velquin backup` of a salaries table (emp_no LONG, salary LONG,
// from_date DATETIME, to_date DATETIME, primary key emp_no + from_date; the
// shape of the employees sample's largest table) against `mdb-export` of the
// same table from the same file, each run as its own process, and reports
// rows/s, the ratio between the two, and each process's peak memory.
//
//   backup_bench [rows=2844047] [dir=/tmp/velquin_backup_bench] [velquin=<built one>]
//
// The .mdb file is generated with the engine's bulk writer once and kept in
// `dir` for later runs (delete it to generate again); the scripts are
// written into `dir`/scripts and removed afterwards.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "jet/database.h"

using namespace velquin::jet;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

struct Run {
  double seconds = 0;
  double cpu_seconds = 0;  // user + system: steadier than wall time on a busy machine
  long peak_kb = 0;
  int status = -1;
};

// Runs argv with standard output into `out` (a path) and returns its time,
// exit status and peak resident memory.
Run Spawn(const std::vector<std::string>& argv, const std::string& out) {
  Run r;
  const auto start = Clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) dup2(fd, 1);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  r.peak_kb = usage.ru_maxrss;
  r.cpu_seconds = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
                  usage.ru_stime.tv_usec / 1e6;
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

int Generate(const std::string& path, long rows) {
  auto db = Database::Create(path);
  if (!db.ok()) {
    std::fprintf(stderr, "create %s: %s\n", path.c_str(), db.status().ToString().c_str());
    return 1;
  }
  TableSpec t;
  t.name = "salaries";
  auto col = [](const char* name, ColumnType type) {
    ColumnSpec c;
    c.name = name;
    c.type = type;
    c.not_null = true;
    return c;
  };
  t.columns = {col("emp_no", ColumnType::kLong), col("salary", ColumnType::kLong),
               col("from_date", ColumnType::kDateTime), col("to_date", ColumnType::kDateTime)};
  IndexSpec pk;
  pk.name = "PrimaryKey";
  pk.columns = {{0, true}, {2, true}};
  pk.primary_key = true;
  pk.unique = true;
  t.indexes = {pk};
  if (auto s = (*db)->CreateTable(t); !s.ok()) {
    std::fprintf(stderr, "create table: %s\n", s.ToString().c_str());
    return 1;
  }
  auto w = (*db)->BulkAppend("salaries");
  if (!w.ok()) return 1;
  std::vector<Value> row(4);
  for (long i = 0; i < rows; ++i) {
    // About 9.5 salary rows per employee, one a year from 1985 on.
    const int emp = static_cast<int>(10001 + i / 10);
    const int year = 1985 + static_cast<int>(i % 10);
    row[0] = Value::Long(emp);
    row[1] = Value::Long(40000 + static_cast<int>((i * 7919) % 90000));
    row[2] = Value::Date(DateTime::FromParts(year, 1 + static_cast<int>(i % 12), 1 + i % 28));
    row[3] = Value::Date(DateTime::FromParts(year + 1, 1 + static_cast<int>(i % 12), 1 + i % 28));
    if (auto s = (*w)->Append(row); !s.ok()) {
      std::fprintf(stderr, "row %ld: %s\n", i, s.ToString().c_str());
      return 1;
    }
  }
  if (auto s = (*w)->Finish(); !s.ok()) {
    std::fprintf(stderr, "finish: %s\n", s.ToString().c_str());
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const long rows = argc > 1 ? std::atol(argv[1]) : 2844047;
  const fs::path dir = argc > 2 ? argv[2] : "/tmp/velquin_backup_bench";
  const std::string velquin = argc > 3 ? argv[3] : VELQUIN_EXE;
  fs::create_directories(dir);
  const fs::path mdb = dir / ("salaries-" + std::to_string(rows) + ".mdb");
  if (!fs::exists(mdb)) {
    std::printf("generating %ld rows into %s ...\n", rows, mdb.c_str());
    std::fflush(stdout);
    const auto start = Clock::now();
    if (Generate(mdb.string(), rows) != 0) return 1;
    std::printf("  %.1f s\n", std::chrono::duration<double>(Clock::now() - start).count());
  }
  const fs::path scripts = dir / "scripts";
  fs::remove_all(scripts);

  const Run backup =
      Spawn({velquin, "backup", mdb.string(), "--to", scripts.string(), "--tables", "salaries"},
            (dir / "backup.log").string());
  const fs::path data = scripts / mdb.stem() / "DATA" / "salaries.data";
  std::error_code ec;
  const auto data_bytes = fs::file_size(data, ec);
  const Run peer =
      Spawn({"mdb-export", mdb.string(), "salaries"}, (dir / "mdb-export.csv").string());
  const auto csv_bytes = fs::file_size(dir / "mdb-export.csv", ec);

  std::printf("salaries: %ld rows, %.1f MB file\n", rows,
              static_cast<double>(fs::file_size(mdb)) / 1e6);
  std::printf("velquin backup : %6.2f s  %10.0f rows/s  peak %6.1f MB  %8.1f MB script  exit %d\n",
              backup.seconds, rows / backup.seconds, backup.peak_kb / 1024.0,
              static_cast<double>(data_bytes) / 1e6, backup.status);
  std::printf("mdb-export     : %6.2f s  %10.0f rows/s  peak %6.1f MB  %8.1f MB csv     exit %d\n",
              peer.seconds, rows / peer.seconds, peer.peak_kb / 1024.0,
              static_cast<double>(csv_bytes) / 1e6, peer.status);
  std::printf("ratio (velquin rows/s / mdb-export rows/s): %.2f\n", peer.seconds / backup.seconds);
  std::printf(
      "per CPU second: velquin %.0f rows (%.2f s), mdb-export %.0f rows (%.2f s), ratio %.2f\n",
      rows / backup.cpu_seconds, backup.cpu_seconds, rows / peer.cpu_seconds, peer.cpu_seconds,
      peer.cpu_seconds / backup.cpu_seconds);
  fs::remove_all(scripts);
  fs::remove(dir / "mdb-export.csv");
  return backup.status == 0 && peer.status == 0 ? 0 : 1;
}
