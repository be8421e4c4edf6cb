// Figures for the Jet SQL executor (prints them; asserts nothing):
//   1. N single-row INSERT statements through ExecuteStatement (JetSession,
//      parser, executor) into a table with a primary key and one text index;
//   2. the same rows through the storage API directly (Database::Insert);
//   3. CREATE INDEX over a text column of a table already holding N rows.
// Usage: jet_exec_bench [rows=1000000] [folder=/tmp]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

#include "db/jet_session.h"
#include "db/statements.h"
#include "jet/database.h"

namespace {

using Clock = std::chrono::steady_clock;
using velquin::jet::ColumnSpec;
using velquin::jet::ColumnType;
using velquin::jet::IndexSpec;
using velquin::jet::TableSpec;
using velquin::jet::Value;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// Processor time of this process: on a shared machine the fairer measure.
double CpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

// Names in a scattered order, so the text index takes inserts everywhere.
std::string NameOf(long i) {
  return "Customer " +
         std::to_string((static_cast<unsigned long long>(i) * 2654435761ull) % 10000019ull);
}

TableSpec Spec() {
  TableSpec t;
  t.name = "people";
  ColumnSpec id;
  id.name = "id";
  id.type = ColumnType::kLong;
  id.not_null = true;
  ColumnSpec name;
  name.name = "name";
  name.type = ColumnType::kText;
  name.size = 50;
  t.columns = {id, name};
  IndexSpec pk;
  pk.name = "PrimaryKey";
  pk.columns = {{0, true}};
  pk.primary_key = true;
  pk.unique = true;
  IndexSpec ix;
  ix.name = "ix_name";
  ix.columns = {{1, true}};
  t.indexes = {pk, ix};
  return t;
}

void Check(const velquin::Status& s, const char* what) {
  if (!s.ok()) {
    std::fprintf(stderr, "%s: %s\n", what, s.ToString().c_str());
    std::exit(1);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const long rows = argc > 1 ? std::atol(argv[1]) : 1000000;
  const std::string dir = argc > 2 ? argv[2] : std::filesystem::temp_directory_path().string();
  const std::string direct_path = dir + "/velquin_bench_direct.mdb";
  const std::string sql_path = dir + "/velquin_bench_sql.mdb";
  const std::string index_path = dir + "/velquin_bench_index.mdb";
  for (const auto& p : {direct_path, sql_path, index_path}) std::filesystem::remove(p);

  // Storage API directly.
  double direct = 0, direct_cpu = 0;
  {
    auto db = velquin::jet::Database::Create(direct_path);
    Check(db.status(), "create");
    Check((*db)->CreateTable(Spec()), "create table");
    auto start = Clock::now();
    double cpu = CpuSeconds();
    for (long i = 0; i < rows; ++i) {
      Check((*db)->Insert("people", {Value::Long(static_cast<int>(i)), Value::Text(NameOf(i))}),
            "insert");
    }
    Check((*db)->Flush(), "flush");
    direct = Seconds(start);
    direct_cpu = CpuSeconds() - cpu;
  }
  // INSERT statements through ExecuteStatement.
  double through_sql = 0, sql_cpu = 0;
  {
    auto session = velquin::JetSession::Open(sql_path, true);
    Check(session.status(), "open");
    velquin::LineSink sink = [](const std::string& line) {
      std::fprintf(stderr, "%s\n", line.c_str());
    };
    Check((*session)->database().CreateTable(Spec()), "create table");
    auto start = Clock::now();
    double cpu = CpuSeconds();
    std::string sql;
    for (long i = 0; i < rows; ++i) {
      sql = "INSERT INTO people (id, name) VALUES (" + std::to_string(i) + ", '" + NameOf(i) + "')";
      if (!velquin::ExecuteStatement(session->get(), sql, false, sink)) {
        std::fprintf(stderr, "statement failed: %s\n", sql.c_str());
        return 1;
      }
    }
    Check((*session)->database().Flush(), "flush");
    through_sql = Seconds(start);
    sql_cpu = CpuSeconds() - cpu;
  }
  std::printf("rows                                 %ld\n", rows);
  std::printf("storage API (Database::Insert)       %8.2f s  %10.0f rows/s\n", direct,
              rows / direct);
  std::printf("INSERT through ExecuteStatement      %8.2f s  %10.0f rows/s\n", through_sql,
              rows / through_sql);
  std::printf("ratio statements / storage API       %8.2f  (goal <= 1.5)\n", through_sql / direct);
  std::printf("processor time: storage API %.2f s, statements %.2f s, ratio %.2f\n", direct_cpu,
              sql_cpu, sql_cpu / direct_cpu);
  std::fflush(stdout);

  // An index built over rows already there.
  {
    auto session = velquin::JetSession::Open(index_path, true);
    Check(session.status(), "open");
    TableSpec t = Spec();
    t.indexes.resize(1);  // the primary key only
    Check((*session)->database().CreateTable(t), "create table");
    auto fill = Clock::now();
    auto w = (*session)->BulkAppend("people");
    Check(w.status(), "bulk");
    for (long i = 0; i < rows; ++i) {
      Check((*w)->Append({Value::Long(static_cast<int>(i)), Value::Text(NameOf(i))}), "append");
    }
    Check((*w)->Finish(), "finish");
    w->reset();
    double fill_time = Seconds(fill);
    auto start = Clock::now();
    double cpu = CpuSeconds();
    auto r = (*session)->Execute("CREATE INDEX ix_name ON people (name)");
    Check(r.status(), "create index");
    double build = Seconds(start);
    double build_cpu = CpuSeconds() - cpu;
    std::printf("bulk load of the table (primary key) %8.2f s  %10.0f rows/s\n", fill_time,
                rows / fill_time);
    std::printf("CREATE INDEX over the filled table   %8.2f s  %10.0f rows/s  (processor %.2f s)\n",
                build, rows / build, build_cpu);
  }
  for (const auto& p : {direct_path, sql_path, index_path}) std::filesystem::remove(p);
  return 0;
}
