// A writer for the crash test: creates tables and fills them, printing a
// marker after each step is complete. The test kills it at random moments.
//
//   jet_crash_writer FILE.mdb [existing]
//
// With "existing" it writes into FILE.mdb as it is (a copy of an Access-made
// file) instead of creating it, and makes no relationship.
//
// Markers (one a line, flushed at once): "ready" once the database exists,
// "created T" when table T exists, "done T ROWS" when its rows are all
// written, "dropped T" when it is gone, "indexed T" when its extra index is
// there, "related R" when relationship R is there, "deleted T" when the
// rows deleted from it at the end are gone.
#include <cstdio>

#include "crash_rows.h"

using namespace velquin::jet;

namespace {

void Mark(const std::string& text) {
  std::printf("%s\n", text.c_str());
  std::fflush(stdout);
}

int Die(const velquin::Status& s) {
  std::fprintf(stderr, "jet_crash_writer: %s\n", s.ToString().c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: jet_crash_writer FILE.mdb [existing]\n");
    return 2;
  }
  const bool existing = argc == 3;
  auto db = existing ? Database::Open(argv[1]) : Database::Create(argv[1]);
  if (!db.ok()) return Die(db.status());
  Mark("ready");
  for (int t = 0; t < crash::kTables; ++t) {
    if (auto s = (*db)->CreateTable(crash::Spec(t)); !s.ok()) return Die(s);
    Mark("created " + crash::TableName(t));
    if (crash::SingleInserts(t)) {
      for (int i = 0; i < crash::RowsOf(t); ++i) {
        if (auto s = (*db)->Insert(crash::TableName(t), crash::Row(t, i)); !s.ok()) return Die(s);
      }
    } else {
      auto w = (*db)->BulkAppend(crash::TableName(t), 97);
      if (!w.ok()) return Die(w.status());
      for (int i = 0; i < crash::RowsOf(t); ++i) {
        if (auto s = (*w)->Append(crash::Row(t, i)); !s.ok()) return Die(s);
      }
      if (auto s = (*w)->Finish(); !s.ok()) return Die(s);
    }
    Mark("done " + crash::TableName(t) + " " + std::to_string(crash::RowsOf(t)));
    if (t == 3) {
      if (auto s = (*db)->DropTable(crash::TableName(1)); !s.ok()) return Die(s);
      Mark("dropped " + crash::TableName(1));
      if (auto s = (*db)->CreateIndex(crash::TableName(0), crash::ExtraIndex()); !s.ok()) {
        return Die(s);
      }
      Mark("indexed " + crash::TableName(0));
      if (!existing) {
        if (auto s = (*db)->CreateRelationship(crash::Relationship()); !s.ok()) return Die(s);
        Mark("related " + crash::Relationship().name);
      }
    }
  }
  const std::string name = crash::TableName(crash::kDeleteTable);
  auto n = (*db)->Delete(name, [](const std::vector<Value>& row) -> velquin::Result<bool> {
    std::int64_t id = 0;
    return row[0].AsInt64(&id) && crash::DeletedLater(id);
  });
  if (!n.ok()) return Die(n.status());
  Mark("deleted " + name);
  return 0;
}
