// Crash safety: a writer process (jet_crash_writer) is killed with SIGKILL
// at random moments. Each time, the file it leaves must open with our reader
// and with mdbtools, and every table whose completion marker the writer had
// printed must be there with all its rows, value for value (less the rows
// deleted at the end, once that marker is out).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "../core/test_util.h"
#include "crash_rows.h"

namespace velquin::jet {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Markers {
  bool ready = false;
  std::set<std::string> created, done, dropped, deleted;
};

Markers Parse(const std::string& out) {
  Markers m;
  std::istringstream in(out);
  std::string word, name;
  while (in >> word) {
    if (word == "ready") {
      m.ready = true;
    } else if (word == "created" && in >> name) {
      m.created.insert(name);
    } else if (word == "done" && in >> name) {
      int rows;
      in >> rows;
      m.done.insert(name);
    } else if (word == "dropped" && in >> name) {
      m.dropped.insert(name);
    } else if (word == "deleted" && in >> name) {
      m.deleted.insert(name);
    }
  }
  return m;
}

// Starts the writer on `path`, lets it run `delay` (forever when negative),
// kills it and returns what it printed. *finished: it exited by itself.
std::string RunWriter(const std::string& path, std::chrono::microseconds delay, bool* finished) {
  int fds[2];
  if (::pipe(fds) != 0) return "";
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(fds[1], 1);
    ::close(fds[0]);
    ::close(fds[1]);
    ::execl(VELQUIN_CRASH_WRITER, VELQUIN_CRASH_WRITER, path.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(fds[1]);
  int status = 0;
  *finished = false;
  if (delay.count() >= 0) {
    ::usleep(static_cast<useconds_t>(delay.count()));
    ::kill(pid, SIGKILL);
  }
  std::string out;
  char buf[4096];
  ssize_t n;
  while ((n = ::read(fds[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<std::size_t>(n));
  ::close(fds[0]);
  ::waitpid(pid, &status, 0);
  *finished = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return out;
}

// Checks the file one killed run left; failures name the run.
void CheckFile(const std::string& path, const Markers& m, const std::string& run) {
  if (!m.ready) return;  // killed before the database existed
  auto db = Database::Open(path, {.read_only = true});
  ASSERT_TRUE(db.ok()) << run << ": " << db.status().ToString();
  auto names = (*db)->ListTables();
  ASSERT_TRUE(names.ok()) << run << ": " << names.status().ToString();
  std::set<std::string> listed(names->begin(), names->end());

  // Every table there, finished or not, reads without error.
  for (const auto& n : *names) {
    auto cur = (*db)->Scan(n);
    ASSERT_TRUE(cur.ok()) << run << " " << n << ": " << cur.status().ToString();
    std::vector<Value> row;
    for (;;) {
      auto more = (*cur)->Next(&row);
      ASSERT_TRUE(more.ok()) << run << " " << n << ": " << more.status().ToString();
      if (!*more) break;
    }
  }

  // Which tables must be there intact. A table being dropped when the kill
  // came may be intact or gone, never half there.
  const std::string drop_target = crash::TableName(1);
  bool dropping = m.done.count(crash::TableName(3)) && !m.dropped.count(drop_target);
  std::vector<int> intact;
  for (int t = 0; t < crash::kTables; ++t) {
    std::string name = crash::TableName(t);
    if (m.dropped.count(name)) {
      EXPECT_FALSE(listed.count(name)) << run << ": " << name << " was dropped";
      continue;
    }
    // The drop may have finished before its marker was printed.
    bool maybe_dropped = name == drop_target && dropping;
    if (m.created.count(name) && !maybe_dropped) {
      EXPECT_TRUE(listed.count(name)) << run << ": " << name << " lost";
    }
    if (!m.done.count(name)) continue;
    if (maybe_dropped && !listed.count(name)) continue;
    intact.push_back(t);
  }
  // The delete at the end: once its marker is out the rows are gone; while
  // it may be under way each of them may be there or not, every other row is.
  std::map<int, std::size_t> expected_rows;
  for (int t : intact) {
    std::string name = crash::TableName(t);
    const bool delete_table = t == crash::kDeleteTable;
    const bool deleted = delete_table && m.deleted.count(name);
    const bool deleting =
        delete_table && !deleted && m.done.size() == static_cast<std::size_t>(crash::kTables);
    auto cur = (*db)->Scan(name);
    ASSERT_TRUE(cur.ok()) << run << " " << name << ": " << cur.status().ToString();
    std::vector<Value> row;
    std::vector<int> got;  // row numbers in the order read
    while (*(*cur)->Next(&row)) {
      std::int64_t id = 0;
      ASSERT_TRUE(row[0].AsInt64(&id) && id >= 1 && id <= crash::RowsOf(t))
          << run << " " << name << " id " << row[0].ToString();
      auto want = crash::Row(t, static_cast<int>(id - 1));
      want[0] = Value::Long(static_cast<std::int32_t>(id));
      ASSERT_TRUE(row == want) << run << " " << name << " row " << id - 1 << " differs";
      got.push_back(static_cast<int>(id - 1));
    }
    std::vector<int> want_rows;
    for (int i = 0; i < crash::RowsOf(t); ++i) {
      const bool goes = delete_table && crash::DeletedLater(i + 1);
      if (goes && deleted) continue;
      if (goes && deleting && std::find(got.begin(), got.end(), i) == got.end()) continue;
      want_rows.push_back(i);
    }
    EXPECT_EQ(got, want_rows) << run << " " << name;
    expected_rows[t] = want_rows.size();
    auto info = (*db)->GetTable(name);
    ASSERT_TRUE(info.ok());
    // A delete under way writes the row count last.
    if (!deleting) {
      EXPECT_EQ(info->row_count, static_cast<std::uint32_t>(want_rows.size()))
          << run << " " << name;
    }
  }

  if (!testing::HaveMdbTools()) return;
  int status = 0;
  std::string tables = testing::RunCommand("mdb-tables -1 '" + path + "' 2>&1", &status);
  EXPECT_EQ(status, 0) << run << ": mdb-tables: " << tables;
  for (int t : intact) {
    std::string name = crash::TableName(t);
    EXPECT_NE(tables.find(name + "\n"), std::string::npos) << run << ": mdb-tables: " << tables;
    std::vector<std::string> errors;
    EXPECT_EQ(testing::CompareTableWithMdbExport(**db, path, name, &errors), expected_rows[t])
        << run << " " << name;
    for (std::size_t k = 0; k < errors.size() && k < 5; ++k)
      ADD_FAILURE() << run << ": " << errors[k];
  }
}

TEST(KillTest, KilledWriterLeavesReadableFileWithFinishedTablesIntact) {
  fs::path dir = fs::temp_directory_path() / ("velquin_kill_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  std::string path = (dir / "killed.mdb").string();

  // One full run: the writer works and tells how long it takes.
  bool finished = false;
  auto start = Clock::now();
  Markers full = Parse(RunWriter(path, std::chrono::microseconds(-1), &finished));
  auto full_time = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
  ASSERT_TRUE(finished) << "the writer failed on its own";
  ASSERT_EQ(full.done.size(), static_cast<std::size_t>(crash::kTables));
  ASSERT_EQ(full.deleted.size(), 1u);
  CheckFile(path, full, "full run");

  std::uint64_t seed = std::random_device{}();
  if (const char* s = std::getenv("VELQUIN_CRASH_SEED")) seed = std::strtoull(s, nullptr, 10);
  std::mt19937_64 rng(seed);
  std::uniform_int_distribution<std::int64_t> pick(0, full_time.count() * 21 / 20);
  constexpr int kRuns = 32;
  const auto deadline = Clock::now() + std::chrono::seconds(45);
  int runs = 0, mid_table = 0;
  for (; runs < kRuns && Clock::now() < deadline && !HasFatalFailure(); ++runs) {
    fs::remove(path);
    auto delay = std::chrono::microseconds(pick(rng));
    std::string out = RunWriter(path, delay, &finished);
    Markers m = Parse(out);
    if (m.created.size() > m.done.size()) ++mid_table;
    std::string run = "run " + std::to_string(runs) + " (seed " + std::to_string(seed) +
                      ", killed after " + std::to_string(delay.count()) + " us, " +
                      std::to_string(m.done.size()) + " tables done)";
    CheckFile(path, m, run);
  }
  std::printf("%d killed runs (full run %lld us, seed %llu), %d killed inside a table\n", runs,
              static_cast<long long>(full_time.count()), static_cast<unsigned long long>(seed),
              mid_table);
  EXPECT_GE(runs, 10) << "too few runs in the time allowed";
  fs::remove_all(dir);
}

}  // namespace
}  // namespace velquin::jet
