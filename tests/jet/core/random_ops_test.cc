// A long random run of every kind of change the engine makes, checked against
// a model of what each table must hold: tables created, dropped and renamed;
// single inserts (some refused by the primary key); bulk loads; deletes; an
// index added and dropped again; the file closed and reopened. Every few
// steps, and after the last reopening, each table is read back value for
// value and every index (the catalogue's too) is walked against its rows; at
// the end mdbtools reads every table and must agree.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

#include "../../support/index_check.h"
#include "jet/database.h"
#include "test_util.h"

namespace velquin::jet {
namespace {

using testing::Column;

struct ModelTable {
  std::map<std::int32_t, std::vector<Value>> rows;  // by id
  bool name_index = false;
  bool note_index = false;  // on the MEMO column: its keys read long values
};

class RandomRun {
 public:
  RandomRun(unsigned seed, std::string path) : rng_(seed), path_(std::move(path)) {}

  void Run(int steps) {
    auto db = Database::Create(path_);
    ASSERT_TRUE(db.ok()) << db.status().ToString();
    db_ = std::move(*db);
    for (int step = 0; step < steps; ++step) {
      SCOPED_TRACE("step " + std::to_string(step));
      ASSERT_NO_FATAL_FAILURE(Step());
      if (step % 25 == 24) {
        ASSERT_NO_FATAL_FAILURE(Verify());
      }
    }
    ASSERT_NO_FATAL_FAILURE(Reopen());
    ASSERT_NO_FATAL_FAILURE(Verify());
    db_.reset();
    auto db_read = Database::Open(path_, {.read_only = true});
    ASSERT_TRUE(db_read.ok());
    if (!testing::HaveMdbTools()) return;
    for (const auto& [name, model] : tables_) {
      std::vector<std::string> errors;
      EXPECT_EQ(testing::CompareTableWithMdbExport(**db_read, path_, name, &errors),
                model.rows.size())
          << name;
      for (std::size_t i = 0; i < errors.size() && i < 10; ++i) ADD_FAILURE() << errors[i];
    }
  }

 private:
  int Uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  bool Chance(int percent) { return Uniform(1, 100) <= percent; }

  static TableSpec Spec(const std::string& name) {
    TableSpec t;
    t.name = name;
    t.columns = {Column("id", ColumnType::kLong),       Column("name", ColumnType::kText, 40),
                 Column("amount", ColumnType::kDouble), Column("note", ColumnType::kMemo),
                 Column("blob", ColumnType::kOle),      Column("when", ColumnType::kDateTime)};
    t.indexes = {IndexSpec{.name = "PrimaryKey", .columns = {{0, true}}, .primary_key = true}};
    return t;
  }

  std::vector<Value> RandomRow(std::int32_t id) {
    static const char* kNames[] = {"Anna", "Ärger", "zoë", "ZOE", "日本", "😀 smile", "", "o'neil"};
    std::vector<Value> row(6);
    row[0] = Value::Long(id);
    if (!Chance(10)) row[1] = Value::Text(kNames[Uniform(0, 7)] + std::to_string(Uniform(0, 9)));
    if (!Chance(10)) row[2] = Value::Double(Uniform(-100000, 100000) / 8.0);
    if (!Chance(15)) {
      // Inline, one long-value row, or a chain over pages.
      const int size =
          Chance(70) ? Uniform(0, 60) : (Chance(60) ? Uniform(61, 3000) : Uniform(4100, 12000));
      row[3] = Value::Text(
          std::string(static_cast<std::size_t>(size), static_cast<char>('a' + id % 26)));
    }
    if (!Chance(30)) {
      std::vector<std::uint8_t> bytes(
          static_cast<std::size_t>(Chance(50) ? Uniform(0, 64) : Uniform(65, 9000)));
      for (std::size_t k = 0; k < bytes.size(); ++k)
        bytes[k] = static_cast<std::uint8_t>(k * 7 + id);
      row[4] = Value::Binary(bytes);
    }
    if (!Chance(10)) {
      row[5] = Value::Date(
          DateTime::FromParts(1990 + id % 40, 1 + id % 12, 1 + id % 28, id % 24, id % 60, 0));
    }
    return row;
  }

  std::string AnyTable() {
    auto it = tables_.begin();
    std::advance(it, Uniform(0, static_cast<int>(tables_.size()) - 1));
    return it->first;
  }

  void Step() {
    const int kind = Uniform(0, 99);
    if (tables_.empty() || (kind < 6 && tables_.size() < 5)) {
      const std::string name = "Table " + std::to_string(next_table_++) + (Chance(50) ? " Ä" : "");
      ASSERT_TRUE(db_->CreateTable(Spec(name)).ok()) << name;
      tables_[name];
      return;
    }
    const std::string table = AnyTable();
    ModelTable& model = tables_[table];
    if (kind < 50) {  // single insert, sometimes a repeated id
      const std::int32_t id = Uniform(0, 400);
      std::vector<Value> row = RandomRow(id);
      Status st = db_->Insert(table, row);
      if (model.rows.count(id)) {
        ASSERT_EQ(st.code(), StatusCode::kConstraint) << st.ToString();
      } else {
        ASSERT_TRUE(st.ok()) << st.ToString();
        model.rows[id] = std::move(row);
      }
    } else if (kind < 60) {  // bulk load of fresh ids
      auto writer = db_->BulkAppend(table, static_cast<std::uint64_t>(Uniform(1, 200)));
      ASSERT_TRUE(writer.ok()) << writer.status().ToString();
      const int count = Uniform(1, 150);
      for (int k = 0; k < count; ++k) {
        const std::int32_t id = 1000 + next_bulk_id_++;
        std::vector<Value> row = RandomRow(id);
        ASSERT_TRUE((*writer)->Append(row).ok());
        model.rows[id] = std::move(row);
      }
      ASSERT_TRUE((*writer)->Finish().ok());
    } else if (kind < 75) {  // delete a slice of the rows
      const int mod = Uniform(2, 7), rest = Uniform(0, mod - 1);
      std::uint64_t expected = 0;
      for (auto it = model.rows.begin(); it != model.rows.end();) {
        if (it->first % mod == rest) {
          it = model.rows.erase(it);
          ++expected;
        } else {
          ++it;
        }
      }
      auto deleted = db_->Delete(table, [&](const std::vector<Value>& row) -> Result<bool> {
        std::int64_t id = 0;
        return row[0].AsInt64(&id) && id % mod == rest;
      });
      ASSERT_TRUE(deleted.ok()) << deleted.status().ToString();
      ASSERT_EQ(*deleted, expected);
    } else if (kind < 83) {  // an index on name or on note, added or dropped
      const bool on_note = Chance(50);
      bool& present = on_note ? model.note_index : model.name_index;
      const std::string index = on_note ? "by note" : "by name";
      if (present) {
        ASSERT_TRUE(db_->DropIndex(table, index).ok());
      } else {
        IndexSpec spec{.name = index,
                       .columns = {{static_cast<std::uint16_t>(on_note ? 3 : 1), true}}};
        Status st = db_->CreateIndex(table, spec);
        ASSERT_TRUE(st.ok()) << st.ToString();
      }
      present = !present;
    } else if (kind < 88) {  // rename
      const std::string to = "Renamed " + std::to_string(next_table_++);
      ASSERT_TRUE(db_->RenameTable(table, to).ok());
      tables_[to] = std::move(model);
      tables_.erase(table);
    } else if (kind < 92 && tables_.size() > 1) {  // drop
      ASSERT_TRUE(db_->DropTable(table).ok());
      tables_.erase(table);
    } else if (kind < 96) {
      ASSERT_NO_FATAL_FAILURE(Reopen());
    }
  }

  void Reopen() {
    db_.reset();
    auto db = Database::Open(path_);
    ASSERT_TRUE(db.ok()) << db.status().ToString();
    db_ = std::move(*db);
  }

  void Verify() {
    auto names = db_->ListTables();
    ASSERT_TRUE(names.ok());
    ASSERT_EQ(names->size(), tables_.size());
    for (const auto& [name, model] : tables_) {
      SCOPED_TRACE("table " + name);
      auto rows = testing::ReadAllRows(*db_, name);
      ASSERT_EQ(rows.size(), model.rows.size());
      std::sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) {
        std::int64_t x = 0, y = 0;
        a[0].AsInt64(&x);
        b[0].AsInt64(&y);
        return x < y;
      });
      std::size_t k = 0;
      for (const auto& [id, expected] : model.rows) {
        ASSERT_EQ(rows[k], expected) << "id " << id;
        ++k;
      }
      auto info = db_->GetTable(name);
      ASSERT_TRUE(info.ok());
      EXPECT_EQ(info->row_count, model.rows.size());
    }
    CheckIndexes(*db_);
  }

  std::mt19937 rng_;
  std::string path_;
  std::unique_ptr<Database> db_;
  std::map<std::string, ModelTable> tables_;
  int next_table_ = 0;
  int next_bulk_id_ = 0;
};

TEST(RandomOperationsTest, EveryKindOfChangeAgreesWithTheModel) {
  for (unsigned seed : {1u, 2u, 3u}) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    RandomRun run(seed, testing::TempPath("random_ops_" + std::to_string(seed) + ".mdb"));
    ASSERT_NO_FATAL_FAILURE(run.Run(400));
  }
}

}  // namespace
}  // namespace velquin::jet
