// Writing and reading whole rows: single-row inserts, the bulk writer and
// the row cursor. Each insert is one statement [SAFE-5] in docs/jet4-format.md.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "jet/database.h"
#include "jet/table/table_indexes.h"

namespace velquin::jet {

Status Database::CheckNotNull(const TableInfo& info, const std::vector<Value>& row) {
  for (std::size_t i = 0; i < info.columns.size() && i < row.size(); ++i) {
    if (info.columns[i].not_null && row[i].is_null()) {
      return Status::Constraint("column \"" + info.columns[i].name + "\" of table \"" + info.name +
                                "\" cannot be NULL");
    }
  }
  return Status::Ok();
}

void Database::EndInsertWriter() { insert_writer_.reset(); }

Status Database::Insert(std::string_view table, const std::vector<Value>& row) {
  Statement statement(this);
  if (read_only()) return Status::InvalidArgument("the database is open read-only");
  const Object* o = FindTable(table);
  if (!o) return Status::NotFound("no table \"" + std::string(table) + "\"");
  const PageNumber tdef = static_cast<PageNumber>(o->id);
  // The writer of the last table inserted into stays open (its definition,
  // usage maps and index pages in memory) until another kind of change.
  if (!insert_writer_ || insert_writer_->tdef != tdef) {
    EndInsertWriter();
    auto iw = std::make_unique<InsertWriter>();
    iw->tdef = tdef;
    VELQUIN_ASSIGN_OR_RETURN(iw->info, Describe(*o));
    VELQUIN_ASSIGN_OR_RETURN(iw->writer, TableWriter::Open(*pages_, tdef));
    insert_writer_ = std::move(iw);
  }
  VELQUIN_RETURN_IF_ERROR(CheckNotNull(insert_writer_->info, row));
  TableWriter& w = *insert_writer_->writer;
  VELQUIN_RETURN_IF_ERROR(CheckReferences(w.def(), row));
  Status st = w.Append(row);
  if (st.ok()) st = w.Commit();
  if (st.ok()) st = CommitStatement(false);
  // After a failure the writer's memory may be ahead of the file: the next
  // insert reads the table afresh (and the statement is rolled back).
  if (!st.ok()) EndInsertWriter();
  return st;
}

Result<std::unique_ptr<BulkWriter>> Database::BulkAppend(std::string_view table,
                                                         std::uint64_t commit_every) {
  EndInsertWriter();
  if (read_only()) return Status::InvalidArgument("the database is open read-only");
  const Object* o = FindTable(table);
  if (!o) return Status::NotFound("no table \"" + std::string(table) + "\"");
  VELQUIN_ASSIGN_OR_RETURN(auto w, TableWriter::Open(*pages_, static_cast<PageNumber>(o->id),
                                                     /*bulk=*/true));
  VELQUIN_ASSIGN_OR_RETURN(TableInfo info, Describe(*o));
  std::vector<bool> nn;
  for (const auto& c : info.columns) nn.push_back(c.not_null);
  return std::unique_ptr<BulkWriter>(
      new BulkWriter(this, o->name, std::move(w), std::move(nn), commit_every ? commit_every : 1));
}

Result<std::unique_ptr<RowCursor>> Database::Scan(std::string_view table) {
  const Object* o = FindTable(table);
  if (!o) return Status::NotFound("no table \"" + std::string(table) + "\"");
  VELQUIN_ASSIGN_OR_RETURN(TableInfo info, Describe(*o));
  VELQUIN_ASSIGN_OR_RETURN(TableDef def, ReadTableDef(*pages_, info.tdef_page));
  auto cur = std::make_unique<TableCursor>(*pages_, std::move(def));
  VELQUIN_RETURN_IF_ERROR(cur->Open());
  return std::unique_ptr<RowCursor>(new RowCursor(std::move(info), std::move(cur)));
}

Result<std::unique_ptr<RowCursor>> Database::ScanInIndexOrder(std::string_view table,
                                                              std::string_view index,
                                                              bool backward) {
  const Object* o = FindTable(table);
  if (!o) return Status::NotFound("no table \"" + std::string(table) + "\"");
  VELQUIN_ASSIGN_OR_RETURN(TableInfo info, Describe(*o));
  VELQUIN_ASSIGN_OR_RETURN(TableDef def, ReadTableDef(*pages_, info.tdef_page));
  std::optional<std::size_t> real;
  for (const LogicalIndex& li : def.logical_indexes) {
    if (li.name == index) real = li.real_index;
  }
  if (!real) {
    return Status::NotFound("no index \"" + std::string(index) + "\" on table \"" +
                            std::string(table) + "\"");
  }
  auto cur = std::make_unique<TableCursor>(*pages_, std::move(def));
  VELQUIN_RETURN_IF_ERROR(cur->OpenInIndexOrder(*real, backward));
  return std::unique_ptr<RowCursor>(new RowCursor(std::move(info), std::move(cur)));
}

Result<bool> RowCursor::Next(std::vector<Value>* row) { return cursor_->Next(row); }

BulkWriter::~BulkWriter() {
  // Finish reports through its result; a writer dropped without it has no
  // one to tell, and a failed commit is rolled back (by the next opener at
  // the latest).
  if (!finished_) (void)Finish();
}

// A write failed: everything since the last commit is undone and the writer
// accepts nothing more.
Status BulkWriter::Fail(Status st) {
  finished_ = true;
  failed_ = st;
  rows_ = committed_rows_;
  Status undo = db_->RollbackStatement();
  if (!undo.ok()) return st.WithContext(undo.message());
  return st;
}

Status BulkWriter::Append(const std::vector<Value>& row) {
  if (!failed_.ok()) return failed_;
  if (finished_) return Status::InvalidArgument("the bulk writer is finished");
  for (std::size_t i = 0; i < not_null_.size() && i < row.size(); ++i) {
    const Column& c = writer_->def().columns[i];
    if (not_null_[i] && row[i].is_null()) {
      return Status::Constraint("column \"" + c.name + "\" of table \"" + table_ +
                                "\" cannot be NULL");
    }
  }
  VELQUIN_RETURN_IF_ERROR(db_->CheckReferences(writer_->def(), row));
  if (Status st = writer_->Append(row); !st.ok()) {
    // A refused row (a repeated key, a value that does not fit) is refused
    // before anything is written; any other error is a failed write.
    if (st.code() == StatusCode::kConstraint || st.code() == StatusCode::kInvalidArgument) {
      return st;
    }
    return Fail(st);
  }
  ++rows_;
  // A table whose indexes are built at the end commits only then: a commit
  // before would record rows its indexes do not hold yet.
  if (++since_commit_ >= commit_every_ && !writer_->defers_indexes()) {
    since_commit_ = 0;
    Status st = writer_->Commit();
    if (st.ok()) st = db_->CommitStatement(false);
    if (!st.ok()) return Fail(st);
    committed_rows_ = rows_;
  }
  return Status::Ok();
}

Status BulkWriter::Finish() {
  if (!failed_.ok()) return failed_;
  if (finished_) return Status::Ok();
  finished_ = true;
  Status st = writer_->Commit();
  if (st.ok()) st = db_->Flush();
  if (!st.ok()) return Fail(st);
  committed_rows_ = rows_;
  return Status::Ok();
}

}  // namespace velquin::jet
