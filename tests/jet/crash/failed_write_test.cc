// Failed writes and two writers. A database on a simulated disk with N free
// bytes (shared by the file and its journal) runs a script of DDL, loads,
// single inserts and deletes until a write fails; at many N the file must
// then hold exactly what the statements before the failing one made, read
// the same after reopening, keep every reachable page marked used and its
// indexes whole, and take further writes once space is back.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "../../support/index_check.h"
#include "../../support/reachable_pages.h"
#include "../core/test_util.h"
#include "jet/sql/executor.h"

namespace velquin::jet {
namespace {

namespace fs = std::filesystem;
using Step = std::function<Status(Database&)>;

Status Sql(Database& db, const std::string& text) {
  sql::Executor ex(&db);
  return ex.Execute(text).status();
}

std::vector<Step> Script() {
  std::vector<Step> steps;
  auto sql = [&](std::string text) {
    steps.push_back([text](Database& db) { return Sql(db, text); });
  };
  sql("CREATE TABLE customers (id LONG NOT NULL, name TEXT(50), CONSTRAINT pk PRIMARY KEY (id))");
  sql("CREATE TABLE orders (id COUNTER, cust LONG, placed DATETIME, note MEMO)");
  steps.push_back([](Database& db) -> Status {
    // One statement: the writer commits only at Finish.
    VELQUIN_ASSIGN_OR_RETURN(auto w, db.BulkAppend("customers", 1u << 30));
    for (int i = 1; i <= 400; ++i) {
      VELQUIN_RETURN_IF_ERROR(
          w->Append({Value::Long(i), Value::Text("customer " + std::to_string(i * 7919 % 401))}));
    }
    return w->Finish();
  });
  for (int i = 0; i < 40; ++i) {
    std::string note = i % 9 == 0 ? std::string(3000 + i * 50, 'n') : "note " + std::to_string(i);
    sql("INSERT INTO orders (cust, placed, note) VALUES (" + std::to_string(1 + i * 37 % 400) +
        ", #2024-01-" + std::to_string(1 + i % 28) + "#, '" + note + "')");
  }
  sql("ALTER TABLE orders ADD CONSTRAINT pk_orders PRIMARY KEY (id)");
  sql("CREATE INDEX ix_cust ON orders (cust DESC, placed)");
  sql("ALTER TABLE orders ADD CONSTRAINT fk_cust FOREIGN KEY (cust) REFERENCES customers (id)");
  sql("CREATE VIEW v_orders AS SELECT o.id AS id, c.name AS name FROM orders o, customers c "
      "WHERE (o.cust = c.id)");
  sql("DELETE FROM orders WHERE cust < 200");
  sql("CREATE TABLE scratch (id LONG, t TEXT(200))");
  for (int i = 0; i < 5; ++i) {
    sql("INSERT INTO scratch VALUES (" + std::to_string(i) + ", '" + std::string(150, 'x') + "')");
  }
  sql("DROP TABLE scratch");
  sql("DROP VIEW v_orders");
  return steps;
}

// Everything a reader sees: tables, their rows, queries, relationships.
std::string Dump(Database& db) {
  std::string out;
  auto tables = db.ListTables(true);
  EXPECT_TRUE(tables.ok());
  if (!tables.ok()) return out;
  for (const auto& t : *tables) {
    if (t == "MSysACEs") continue;  // permissions: no content of its own
    out += "table " + t + "\n";
    for (const auto& row : testing::ReadAllRows(db, t)) {
      for (const auto& v : row) {
        // Creation and change dates differ between two runs.
        out +=
            (v.kind() == ValueKind::kDateTime && t == "MSysObjects" ? "date" : v.ToString()) + "|";
      }
      out += "\n";
    }
  }
  for (const auto& q : db.ListQueries()) out += "query " + q + "\n";
  return out;
}

struct Disk {
  std::shared_ptr<DiskSpace> space = std::make_shared<DiskSpace>();
  std::shared_ptr<std::vector<std::uint8_t>> main = std::make_shared<std::vector<std::uint8_t>>();
  std::shared_ptr<std::vector<std::uint8_t>> journal =
      std::make_shared<std::vector<std::uint8_t>>();
  std::unique_ptr<File> MainFile() {
    return std::make_unique<FaultFile>(std::make_unique<MemoryFile>(main), space);
  }
  std::unique_ptr<File> JournalFile() {
    return std::make_unique<FaultFile>(std::make_unique<MemoryFile>(journal), space);
  }
};

// Runs the script on a disk with `free_bytes`; returns how many steps
// succeeded (all of them: the script's size) and the first failure.
std::size_t RunScript(Disk& disk, std::uint64_t free_bytes, std::unique_ptr<Database>* db_out,
                      Status* failure) {
  disk.space->free_bytes = free_bytes;
  auto db = Database::CreateOn(disk.MainFile(), {.creation_date = 45000.5}, disk.JournalFile());
  *failure = db.status();
  if (!db.ok()) return 0;
  std::vector<Step> steps = Script();
  std::size_t done = 0;
  for (; done < steps.size(); ++done) {
    *failure = steps[done](**db);
    if (!failure->ok()) break;
  }
  *db_out = std::move(*db);
  return done;
}

TEST(FailedWriteTest, AFullDiskLeavesTheFileAsTheLastStatementLeftIt) {
  // The whole script with room to spare, for its size and the reference.
  Disk roomy;
  std::unique_ptr<Database> full;
  Status st;
  const std::size_t all = RunScript(roomy, 1ull << 40, &full, &st);
  ASSERT_TRUE(st.ok()) << st.ToString();
  const std::uint64_t used = (1ull << 40) - roomy.space->free_bytes;

  // Reference states after each number of steps, made on demand.
  std::map<std::size_t, std::string> reference;
  auto reference_after = [&](std::size_t steps) {
    auto it = reference.find(steps);
    if (it != reference.end()) return it->second;
    auto db = Database::CreateOn(std::make_unique<MemoryFile>(), {.creation_date = 45000.5});
    EXPECT_TRUE(db.ok());
    std::vector<Step> script = Script();
    for (std::size_t k = 0; k < steps; ++k) EXPECT_TRUE(script[k](**db).ok()) << "step " << k;
    return reference[steps] = Dump(**db);
  };

  int failures = 0;
  std::set<std::size_t> failed_steps;
  for (std::uint64_t n = 0; n < used; n += used / 61 + 1) {
    SCOPED_TRACE("free bytes " + std::to_string(n));
    Disk disk;
    std::unique_ptr<Database> db;
    const std::size_t done = RunScript(disk, n, &db, &st);
    if (!db) {
      // The database itself could not be made: nothing is left in the file.
      EXPECT_EQ(disk.main->size(), 0u) << st.ToString();
      continue;
    }
    if (done == all) continue;
    ++failures;
    failed_steps.insert(done);
    EXPECT_NE(st.message().find("No space left on device"), std::string::npos) << st.ToString();
    // The live database and the file reopened show the state before the
    // failed statement.
    const std::string want = reference_after(done);
    EXPECT_EQ(Dump(*db), want) << "live, failed at step " << done << ": " << st.ToString();
    db.reset();
    disk.space->free_bytes = 1ull << 40;
    auto again = Database::OpenOn(disk.MainFile(), {}, disk.JournalFile());
    ASSERT_TRUE(again.ok()) << again.status().ToString();
    EXPECT_EQ(Dump(**again), want) << "reopened, failed at step " << done;
    CheckReachablePagesUsed(**again);
    CheckIndexes(**again);
    // With space again, the rest of the script runs.
    std::vector<Step> steps = Script();
    for (std::size_t k = done; k < steps.size(); ++k) {
      ASSERT_TRUE(steps[k](**again).ok()) << "step " << k << " after the failure";
    }
    EXPECT_EQ(Dump(**again), reference_after(all));
    CheckIndexes(**again);
  }
  // The disk ran out inside many different statements.
  EXPECT_GE(failures, 40);
  EXPECT_GE(failed_steps.size(), 10u);
}

TEST(FailedWriteTest, ABulkLoadThatFailsCountsOnlyTheRowsInTheFile) {
  for (std::uint64_t extra : {20000u, 90000u, 250000u}) {
    SCOPED_TRACE("extra bytes " + std::to_string(extra));
    Disk disk;
    disk.space->free_bytes = 1ull << 40;
    auto db = Database::CreateOn(disk.MainFile(), {}, disk.JournalFile());
    ASSERT_TRUE(db.ok());
    ASSERT_TRUE(Sql(**db, "CREATE TABLE t (id LONG, s TEXT(100))").ok());
    disk.space->free_bytes = extra;
    auto w = (*db)->BulkAppend("t", 50);
    ASSERT_TRUE(w.ok());
    Status st;
    int appended = 0;
    for (; appended < 100000; ++appended) {
      st = (*w)->Append({Value::Long(appended), Value::Text(std::string(90, 'r'))});
      if (!st.ok()) break;
    }
    ASSERT_FALSE(st.ok()) << "the disk never filled";
    EXPECT_EQ(st.code(), StatusCode::kIOError) << st.ToString();
    // The writer is dead and counts what its commits left in the file.
    EXPECT_FALSE((*w)->Append({Value::Long(0), Value::Null()}).ok());
    EXPECT_FALSE((*w)->Finish().ok());
    const std::uint64_t kept = (*w)->rows_written();
    EXPECT_EQ(kept % 50, 0u);
    EXPECT_LT(kept, static_cast<std::uint64_t>(appended));
    EXPECT_EQ(testing::ReadAllRows(**db, "t").size(), kept);
    auto info = (*db)->GetTable("t");
    ASSERT_TRUE(info.ok());
    EXPECT_EQ(info->row_count, kept);
  }
}

// Whether another process can open `path` for writing now.
bool AnotherProcessCanWrite(const std::string& path) {
  pid_t pid = ::fork();
  if (pid == 0) {
    auto second = Database::Open(path);
    ::_exit(second.ok() ? 3 : second.status().code() == StatusCode::kBusy ? 4 : 5);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 5);
  return WIFEXITED(status) && WEXITSTATUS(status) == 3;
}

TEST(LockTest, ClosingASecondOpenInTheSameProcessKeepsTheWritersLock) {
  const std::string path = testing::TempPath("relocked.mdb");
  fs::remove(Database::JournalPath(path));
  auto writer = Database::Create(path);
  ASSERT_TRUE(writer.ok());
  ASSERT_FALSE(AnotherProcessCanWrite(path));
  // A reader and a second writer of this process come and go (a connection
  // test, a verification): their close must not free the file.
  for (bool read_only : {true, false}) {
    auto other = Database::Open(path, {.read_only = read_only});
    ASSERT_TRUE(other.ok()) << other.status().ToString();
    other->reset();
    EXPECT_FALSE(AnotherProcessCanWrite(path)) << (read_only ? "after a reader" : "after a writer");
  }
  ASSERT_TRUE(Sql(**writer, "CREATE TABLE t (id LONG)").ok());
  writer->reset();
  EXPECT_TRUE(AnotherProcessCanWrite(path));
}

TEST(LockTest, ASecondWriterIsRefusedAndAReaderSeesTheLastCommit) {
  const std::string path = testing::TempPath("locked.mdb");
  fs::remove(Database::JournalPath(path));
  auto writer = Database::Create(path);
  ASSERT_TRUE(writer.ok());
  ASSERT_TRUE(Sql(**writer, "CREATE TABLE t (id LONG, s TEXT(20))").ok());

  // A second writer (another process: locks are the process's): refused at
  // once with Busy, the file named.
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  pid_t pid = ::fork();
  if (pid == 0) {
    auto second = Database::Open(path);
    std::string msg = second.ok() ? "opened" : second.status().message();
    (void)!::write(fds[1], msg.data(), msg.size());
    ::_exit(!second.ok() && second.status().code() == StatusCode::kBusy ? 3 : 4);
  }
  ::close(fds[1]);
  char buf[512];
  ssize_t got = ::read(fds[0], buf, sizeof buf);
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 3);
  std::string msg(buf, got > 0 ? static_cast<std::size_t>(got) : 0);
  EXPECT_NE(msg.find(path), std::string::npos) << msg;

  // A load under way: rows past the last commit are not seen by a reader.
  auto w = (*writer)->BulkAppend("t", 100);
  ASSERT_TRUE(w.ok());
  for (int i = 0; i < 150; ++i) ASSERT_TRUE((*w)->Append({Value::Long(i), Value::Text("x")}).ok());
  {
    auto reader = Database::Open(path, {.read_only = true});
    ASSERT_TRUE(reader.ok()) << reader.status().ToString();
    EXPECT_EQ(testing::ReadAllRows(**reader, "t").size(), 100u);
    CheckIndexes(**reader);
  }
  ASSERT_TRUE((*w)->Finish().ok());
  {
    auto reader = Database::Open(path, {.read_only = true});
    ASSERT_TRUE(reader.ok());
    EXPECT_EQ(testing::ReadAllRows(**reader, "t").size(), 150u);
  }
  // Once the writer is closed the lock is gone, and so is the journal.
  writer->reset();
  EXPECT_FALSE(fs::exists(Database::JournalPath(path)));
  auto third = Database::Open(path);
  EXPECT_TRUE(third.ok()) << third.status().ToString();
}

}  // namespace
}  // namespace velquin::jet
