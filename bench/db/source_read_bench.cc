// Reads one big MySQL table three ways and prints time and memory:
//   1. OpenQuery("SELECT * ...")   - the driver holds the whole result set;
//   2. OpenTableReader (chunks)    - the driver holds one chunk at a time;
//   3. the mariadb client into /dev/null - the peer.
//
//   eval "$(scripts/mariadb-private start)"
//   build/bench/db/source_read_bench [rows] [chunk_rows]
//
// Needs VELQUIN_MYSQL_* and a driver registered as "MariaDB Unicode" in the
// odbcinst.ini unixODBC reads (set ODBCSYSINI to use another one).
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "db/odbc_session.h"
#include "db/sql_quote.h"

using namespace velquin;

namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

// Resident memory of this process in MiB.
double RssMiB() {
  std::ifstream statm("/proc/self/statm");
  long pages_total = 0, pages_resident = 0;
  statm >> pages_total >> pages_resident;
  return static_cast<double>(pages_resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) /
         (1024.0 * 1024.0);
}

struct Walk {
  double seconds = 0;
  double peak_rss = 0;
  long rows = 0;
  long long bytes = 0;
};

Walk WalkCursor(Result<std::unique_ptr<QueryCursor>> opened,
                std::chrono::steady_clock::time_point start) {
  Walk w;
  if (!opened.ok()) {
    std::fprintf(stderr, "open failed: %s\n", opened.status().ToString().c_str());
    std::exit(1);
  }
  QueryCursor& c = **opened;
  w.peak_rss = RssMiB();
  for (;;) {
    auto next = c.MoveNext();
    if (!next.ok()) {
      std::fprintf(stderr, "fetch failed: %s\n", next.status().ToString().c_str());
      std::exit(1);
    }
    if (!*next) break;
    ++w.rows;
    for (std::size_t i = 0; i < c.Columns().size(); ++i) w.bytes += c.Value(i).size();
    if (w.rows % 20000 == 0) w.peak_rss = std::max(w.peak_rss, RssMiB());
  }
  w.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return w;
}

}  // namespace

int main(int argc, char** argv) {
  const long rows = argc > 1 ? std::atol(argv[1]) : 1000000;
  const std::size_t chunk = argc > 2 ? static_cast<std::size_t>(std::atol(argv[2])) : 10000;
  if (Env("VELQUIN_MYSQL_HOST").empty()) {
    std::fprintf(stderr, "VELQUIN_MYSQL_* not set (eval \"$(scripts/mariadb-private start)\")\n");
    return 2;
  }
  const std::string db = "vq_bench_" + std::to_string(getpid());
  const std::string base = "DRIVER={MariaDB Unicode};SERVER=" + Env("VELQUIN_MYSQL_HOST") +
                           ";PORT=" + Env("VELQUIN_MYSQL_PORT") +
                           ";UID=" + QuoteConnectionValue(Env("VELQUIN_MYSQL_USER")) +
                           ";PWD=" + QuoteConnectionValue(Env("VELQUIN_MYSQL_PASSWORD")) + ";";
  auto admin = OdbcSession::Connect(base + "CHARSET=utf8mb4;");
  if (!admin.ok()) {
    std::fprintf(stderr, "connect: %s\n", admin.status().ToString().c_str());
    return 1;
  }
  (void)(*admin)->Execute("CREATE DATABASE " + QuoteIdentifier(db));
  auto session = OdbcSession::Connect(base + "DATABASE=" + db + ";CHARSET=utf8mb4;");
  if (!session.ok()) return 1;
  OdbcSession& s = **session;
  (void)s.Execute(
      "CREATE TABLE t (id INT PRIMARY KEY, name VARCHAR(40), amount DECIMAL(12,2), "
      "created DATETIME, note TEXT)");
  (void)s.Execute(
      "INSERT INTO t SELECT seq, CONCAT('customer é ', seq), seq / 7, "
      "'2020-01-01' + INTERVAL seq SECOND, REPEAT('n', seq % 50) FROM seq_1_to_" +
      std::to_string(rows));
  std::printf("table: %ld rows, 5 columns; rss before reads %.1f MiB\n", rows, RssMiB());

  auto t0 = std::chrono::steady_clock::now();
  TableReadOptions options;
  options.table = "t";
  options.chunk_rows = chunk;
  Walk chunked = WalkCursor(s.OpenTableReader(options), t0);
  std::printf(
      "chunked reader (%zu rows a chunk): %ld rows, %.2f s, %.0f rows/s, peak rss %.1f MiB\n",
      chunk, chunked.rows, chunked.seconds, chunked.rows / chunked.seconds, chunked.peak_rss);

  t0 = std::chrono::steady_clock::now();
  Walk whole = WalkCursor(s.OpenQuery("SELECT * FROM t"), t0);
  std::printf("whole result set:                %ld rows, %.2f s, %.0f rows/s, peak rss %.1f MiB\n",
              whole.rows, whole.seconds, whole.rows / whole.seconds, whole.peak_rss);

  std::string client = "mariadb --no-defaults -B -N -h" + Env("VELQUIN_MYSQL_HOST") + " -P" +
                       Env("VELQUIN_MYSQL_PORT") + " -u" + Env("VELQUIN_MYSQL_USER") + " -p'" +
                       Env("VELQUIN_MYSQL_PASSWORD") + "' --default-character-set=utf8mb4 " + db +
                       " -e 'SELECT * FROM t' > /dev/null";
  t0 = std::chrono::steady_clock::now();
  int rc = std::system(client.c_str());
  double peer = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::printf("peer: mariadb client to /dev/null: %.2f s (exit %d)\n", peer, rc);
  std::printf("ratio chunked/peer %.2f, whole/peer %.2f, chunked/whole time %.2f\n",
              chunked.seconds / peer, whole.seconds / peer, chunked.seconds / whole.seconds);
  (void)s.Execute("DROP DATABASE " + QuoteIdentifier(db));
  return 0;
}
