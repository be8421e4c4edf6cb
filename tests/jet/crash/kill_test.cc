// Crash safety: a writer process (jet_crash_writer) is killed with SIGKILL
// at random moments, on new files and on copies of Access-made files. Each
// time, the file it leaves must open with our reader, showing the last
// committed state: every table whose completion marker the writer had
// printed there with all its rows, value for value (less the rows deleted at
// the end, once that marker is out), and each DDL statement there whole or
// not at all. The next writer restores the file: then every page reachable
// from the catalogue is marked used, the indexes match their rows, mdbtools
// reads every finished table, and a load of 10,000 rows leaves it sound.
//
// VELQUIN_KILL_RUNS sets the number of killed runs (no time limit then);
// VELQUIN_CRASH_SEED repeats a run.
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

#include "../../support/index_check.h"
#include "../../support/reachable_pages.h"
#include "../core/test_util.h"
#include "crash_rows.h"

namespace velquin::jet {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Markers {
  bool ready = false;
  std::set<std::string> created, done, dropped, deleted, indexed, related;
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
    } else if (word == "indexed" && in >> name) {
      m.indexed.insert(name);
    } else if (word == "related" && in >> name) {
      m.related.insert(name);
    }
  }
  return m;
}

// Starts the writer on `path`, lets it run `delay` (forever when negative),
// kills it and returns what it printed. *finished: it exited by itself.
std::string RunWriter(const std::string& path, bool existing, std::chrono::microseconds delay,
                      bool* finished) {
  int fds[2];
  if (::pipe(fds) != 0) return "";
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(fds[1], 1);
    ::close(fds[0]);
    ::close(fds[1]);
    if (existing) {
      ::execl(VELQUIN_CRASH_WRITER, VELQUIN_CRASH_WRITER, path.c_str(), "existing",
              static_cast<char*>(nullptr));
    } else {
      ::execl(VELQUIN_CRASH_WRITER, VELQUIN_CRASH_WRITER, path.c_str(),
              static_cast<char*>(nullptr));
    }
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
void CheckFile(const std::string& path, const Markers& m, const std::string& run,
               std::map<int, std::size_t>* intact_out) {
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

  // Each DDL statement is there whole or not at all.
  const std::string rel = crash::Relationship().name;
  std::size_t rel_rows = 0, rel_objects = 0;
  for (const auto& [table, column] :
       {std::pair<std::string, std::string>{"MSysRelationships", "szRelationship"},
        {"MSysObjects", "Name"}}) {
    auto info = (*db)->GetTable(table);
    ASSERT_TRUE(info.ok()) << run << " " << table;
    std::size_t col = 0;
    while (col < info->columns.size() && info->columns[col].name != column) ++col;
    ASSERT_LT(col, info->columns.size()) << run << " " << table;
    auto cur = (*db)->Scan(table);
    ASSERT_TRUE(cur.ok());
    std::vector<Value> row;
    while (*(*cur)->Next(&row)) {
      if (row[col] == Value::Text(rel)) ++(table == "MSysObjects" ? rel_objects : rel_rows);
    }
  }
  EXPECT_EQ(rel_rows, rel_objects) << run << ": relationship half made";
  if (m.related.count(rel)) {
    EXPECT_EQ(rel_objects, 1u) << run << ": relationship lost";
  }
  if (listed.count(crash::TableName(0))) {
    auto info = (*db)->GetTable(crash::TableName(0));
    ASSERT_TRUE(info.ok());
    bool has = std::any_of(info->indexes.begin(), info->indexes.end(),
                           [](const IndexInfo& i) { return i.name == crash::ExtraIndex().name; });
    if (m.indexed.count(crash::TableName(0))) {
      EXPECT_TRUE(has) << run << ": index lost";
    }
  }
  *intact_out = std::move(expected_rows);
}

// The tables of the file before the writer ran, with their row counts.
std::map<std::string, std::size_t> OriginalTables(const std::string& path) {
  std::map<std::string, std::size_t> out;
  if (!fs::exists(path)) return out;
  auto db = Database::Open(path, {.read_only = true});
  if (!db.ok()) return out;
  auto names = (*db)->ListTables();
  if (!names.ok()) return out;
  for (const auto& n : *names) out[n] = testing::ReadAllRows(**db, n).size();
  return out;
}

// Restores a killed file by opening it for writing, then checks it as a
// whole and writes 10,000 rows into it.
void CheckRestoredAndWritable(const std::string& path, const std::map<int, std::size_t>& intact,
                              const std::map<std::string, std::size_t>& originals, bool access_made,
                              const std::string& run) {
  {
    auto db = Database::Open(path);
    ASSERT_TRUE(db.ok()) << run << ": " << db.status().ToString();
    CheckReachablePagesUsed(**db);
    CheckIndexes(**db, /*exact_counts=*/!access_made);
    for (const auto& [name, rows] : originals) {
      EXPECT_EQ(testing::ReadAllRows(**db, name).size(), rows) << run << ": original " << name;
    }
  }
  // A writer that closed cleanly leaves no journal.
  EXPECT_FALSE(fs::exists(Database::JournalPath(path))) << run;
  if (testing::HaveMdbTools()) {
    auto db = Database::Open(path, {.read_only = true});
    ASSERT_TRUE(db.ok());
    int status = 0;
    std::string tables = testing::RunCommand("mdb-tables -1 '" + path + "' 2>&1", &status);
    EXPECT_EQ(status, 0) << run << ": mdb-tables: " << tables;
    for (const auto& [t, rows] : intact) {
      std::string name = crash::TableName(t);
      EXPECT_NE(tables.find(name + "\n"), std::string::npos) << run << ": mdb-tables: " << tables;
      std::vector<std::string> errors;
      EXPECT_EQ(testing::CompareTableWithMdbExport(**db, path, name, &errors), rows)
          << run << " " << name;
      for (std::size_t k = 0; k < errors.size() && k < 5; ++k)
        ADD_FAILURE() << run << ": " << errors[k];
    }
  }
  // The next write: a new table of 10,000 rows, then the file checked again.
  constexpr int kAfterRows = 10000;
  {
    auto db = Database::Open(path);
    ASSERT_TRUE(db.ok()) << run << ": " << db.status().ToString();
    TableSpec spec = crash::Spec(0);
    spec.name = "AfterKill";
    ASSERT_TRUE((*db)->CreateTable(spec).ok()) << run;
    auto w = (*db)->BulkAppend(spec.name);
    ASSERT_TRUE(w.ok()) << run;
    for (int i = 0; i < kAfterRows; ++i) {
      ASSERT_TRUE((*w)->Append(crash::Row(7, i)).ok()) << run << " row " << i;
    }
    ASSERT_TRUE((*w)->Finish().ok()) << run;
  }
  auto db = Database::Open(path);
  ASSERT_TRUE(db.ok()) << run << ": " << db.status().ToString();
  CheckReachablePagesUsed(**db);
  CheckIndexes(**db, /*exact_counts=*/!access_made);
  EXPECT_EQ(testing::ReadAllRows(**db, "AfterKill").size(), static_cast<std::size_t>(kAfterRows))
      << run;
  for (const auto& [t, rows] : intact) {
    EXPECT_EQ(testing::ReadAllRows(**db, crash::TableName(t)).size(), rows) << run;
  }
  if (testing::HaveMdbTools()) {
    std::vector<std::string> errors;
    EXPECT_EQ(testing::CompareTableWithMdbExport(**db, path, "AfterKill", &errors),
              static_cast<std::size_t>(kAfterRows))
        << run;
    for (std::size_t k = 0; k < errors.size() && k < 5; ++k)
      ADD_FAILURE() << run << ": " << errors[k];
  }
}

TEST(KillTest, KilledWriterLeavesTheLastCommittedStateAndASoundFile) {
  fs::path dir = fs::temp_directory_path() / ("velquin_kill_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  std::string path = (dir / "killed.mdb").string();

  // Where the writer starts: a new file, or a copy of an Access-made one.
  std::vector<std::string> sources = {""};
  if (testing::HaveShared()) {
    for (const char* f : {"indexTestV2000.mdb", "compIndexTestV2000.mdb", "adox_jet4.mdb"}) {
      sources.push_back(testing::ReferenceFile(f));
    }
  }
  auto prepare = [&](const std::string& source) {
    fs::remove(path);
    fs::remove(Database::JournalPath(path));
    if (!source.empty()) fs::copy_file(source, path);
  };

  // One full run from each start: the writer works and tells how long it
  // takes.
  std::vector<std::int64_t> full_us;
  std::vector<std::map<std::string, std::size_t>> originals;
  for (const auto& source : sources) {
    prepare(source);
    originals.push_back(OriginalTables(path));
    bool finished = false;
    auto start = Clock::now();
    Markers full =
        Parse(RunWriter(path, !source.empty(), std::chrono::microseconds(-1), &finished));
    full_us.push_back(
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count());
    ASSERT_TRUE(finished) << "the writer failed on its own on " << source;
    ASSERT_EQ(full.done.size(), static_cast<std::size_t>(crash::kTables));
    ASSERT_EQ(full.deleted.size(), 1u);
    std::map<int, std::size_t> intact;
    CheckFile(path, full, "full run on " + source, &intact);
    ASSERT_FALSE(HasFatalFailure());
  }

  std::uint64_t seed = std::random_device{}();
  if (const char* s = std::getenv("VELQUIN_CRASH_SEED")) seed = std::strtoull(s, nullptr, 10);
  int runs_wanted = 12;
  auto budget = std::chrono::seconds(40);
  if (const char* s = std::getenv("VELQUIN_KILL_RUNS")) {
    runs_wanted = std::atoi(s);
    budget = std::chrono::hours(24);
  }
  std::mt19937_64 rng(seed);
  const auto deadline = Clock::now() + budget;
  int runs = 0, mid_table = 0, on_access = 0;
  for (; runs < runs_wanted && Clock::now() < deadline && !HasFatalFailure(); ++runs) {
    // Half the runs on new files, the rest spread over the Access-made ones.
    const std::size_t k = runs % 2 == 0 || sources.size() == 1
                              ? 0
                              : 1 + static_cast<std::size_t>(runs / 2) % (sources.size() - 1);
    prepare(sources[k]);
    std::uniform_int_distribution<std::int64_t> pick(0, full_us[k] * 21 / 20);
    auto delay = std::chrono::microseconds(pick(rng));
    bool finished = false;
    Markers m = Parse(RunWriter(path, k != 0, delay, &finished));
    if (m.created.size() > m.done.size()) ++mid_table;
    if (k != 0) ++on_access;
    std::string run = "run " + std::to_string(runs) + " (seed " + std::to_string(seed) + ", " +
                      (k == 0 ? std::string("new file") : sources[k]) + ", killed after " +
                      std::to_string(delay.count()) + " us, " + std::to_string(m.done.size()) +
                      " tables done)";
    std::map<int, std::size_t> intact;
    CheckFile(path, m, run, &intact);
    if (HasFatalFailure()) break;
    if (!m.ready && k == 0) continue;  // killed before the database existed
    CheckRestoredAndWritable(path, intact, originals[k], k != 0, run);
  }
  std::printf("%d killed runs (%d on Access-made files, %d inside a table, seed %llu)\n", runs,
              on_access, mid_table, static_cast<unsigned long long>(seed));
  EXPECT_GE(runs, 6) << "too few runs in the time allowed";
  fs::remove_all(dir);
}

}  // namespace
}  // namespace velquin::jet
