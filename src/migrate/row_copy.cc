#include "migrate/row_copy.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <fstream>
#include <mutex>
#include <thread>

#include "base/text.h"
#include "db/session.h"
#include "log/output_log.h"
#include "migrate/sql_text.h"

namespace velquin {

Status RowInserter::Prepare(const std::vector<TargetValue>&, std::vector<jet::Value>*) const {
  return Status::NotSupported("this target takes rows through Insert");
}
Status RowInserter::InsertPrepared(const std::vector<jet::Value>&) {
  return Status::NotSupported("this target takes rows through Insert");
}

bool IsWriteFailure(const Status& s) {
  return s.code() == StatusCode::kIOError || s.code() == StatusCode::kBusy ||
         s.code() == StatusCode::kCorruption;
}
namespace {

class StatementInserter : public RowInserter {
 public:
  explicit StatementInserter(Session& target) : target_(target) {}
  Status Insert(const std::vector<TargetValue>&, std::string_view statement) override {
    auto r = target_.Execute(statement);
    return r.ok() ? Status::Ok() : r.status();
  }
  Status Finish() override { return Status::Ok(); }

 private:
  Session& target_;
};

struct PendingRow {
  uint64_t number = 0;  // 1-based position in the read order
  std::vector<TargetValue> values;
  std::string refusal;  // a value Access cannot hold: why
  // Values that changed on the way: column, kinds, the source value.
  struct Change {
    std::size_t column = 0;
    TransformSet kinds = 0;
    std::string raw;
  };
  std::vector<Change> changes;
  // The row's INSERT statement: a slice of its batch's `text` for a row to
  // write, `statement` for a refused one (it goes to the rejects file only).
  std::size_t text_at = 0, text_size = 0;
  std::string statement;
  // With an inserter that prepares rows: the row as it takes it, or why it
  // refused it (the writer then refuses the row as after a failed Insert).
  std::vector<jet::Value> prepared;
  Status prepare_failure;
};

struct Batch {
  std::vector<PendingRow> rows;  // the first `count` are this batch's
  std::size_t count = 0;
  std::string text;  // the statements of the rows to write, back to back
  bool last = false;
  Status error;  // the read failed here (last is set)
  // A required date column met a zero date in this batch (last is set).
  std::string zero_date_column;
};

// A bounded queue of batches between the reader thread and the writer.
class BatchQueue {
 public:
  explicit BatchQueue(std::size_t capacity) : capacity_(capacity) {}
  // False when the consumer has gone.
  bool Push(Batch batch) {
    std::unique_lock<std::mutex> lock(mu_);
    not_full_.wait(lock, [&] { return items_.size() < capacity_ || cancelled_; });
    if (cancelled_) return false;
    items_.push_back(std::move(batch));
    not_empty_.notify_one();
    return true;
  }
  Batch Pop() {
    std::unique_lock<std::mutex> lock(mu_);
    not_empty_.wait(lock, [&] { return !items_.empty(); });
    Batch b = std::move(items_.front());
    items_.pop_front();
    not_full_.notify_one();
    return b;
  }
  void Cancel() {
    std::lock_guard<std::mutex> lock(mu_);
    cancelled_ = true;
    not_full_.notify_all();
  }
  // Batches go back to the reader once written, so their rows' storage is
  // used again (and freed by the thread that made it).
  void Recycle(Batch batch) {
    std::lock_guard<std::mutex> lock(mu_);
    if (spare_.size() < capacity_ + 2) spare_.push_back(std::move(batch));
  }
  Batch Fresh() {
    std::lock_guard<std::mutex> lock(mu_);
    if (spare_.empty()) return Batch{};
    Batch b = std::move(spare_.back());
    spare_.pop_back();
    b.count = 0;
    b.text.clear();
    b.last = false;
    b.error = Status::Ok();
    b.zero_date_column.clear();
    return b;
  }
  bool cancelled() {
    std::lock_guard<std::mutex> lock(mu_);
    return cancelled_;
  }

 private:
  std::mutex mu_;
  std::condition_variable not_full_, not_empty_;
  std::deque<Batch> items_;
  std::vector<Batch> spare_;
  std::size_t capacity_;
  bool cancelled_ = false;
};

// Reads, converts and writes out as statements the source rows on the
// reader thread, so the writer only inserts them.
// Without `texts` the rows to write get no statement (nothing needs it).
// With `preparer`, each row without a refusal is also prepared for it.
void ReadRows(QueryCursor& cursor, const std::vector<ColumnPlan>& plans,
              const InsertStatementText& statements, bool texts, std::size_t batch_rows,
              ZeroDates zero_dates, const std::vector<bool>& required, const RowInserter* preparer,
              BatchQueue& queue) {
  Batch batch = queue.Fresh();
  std::size_t batch_bytes = 0;
  uint64_t number = 0;
  const std::size_t n = cursor.Columns().size();
  for (;;) {
    auto next = cursor.MoveNext();
    if (!next.ok() || !*next) {
      batch.last = true;
      if (!next.ok()) batch.error = next.status();
      queue.Push(std::move(batch));
      return;
    }
    if (batch.count == batch.rows.size()) batch.rows.emplace_back();
    PendingRow& row = batch.rows[batch.count++];
    row.number = ++number;
    row.refusal.clear();
    row.changes.clear();
    row.values.resize(n);
    for (std::size_t c = 0; c < n; ++c) {
      const std::string& raw = cursor.Value(c);
      batch_bytes += raw.size();
      TargetValue& value = row.values[c];
      if (c >= plans.size()) {
        value.kind = cursor.IsNull(c) ? TargetValue::Kind::kNull : TargetValue::Kind::kText;
        value.text = raw;
        continue;
      }
      TransformSet changed = 0;
      Status converted =
          ConvertSourceValueInto(plans[c], cursor.IsNull(c), raw, zero_dates, &changed, &value);
      if (converted.ok()) {
        if ((changed & Bit(TransformKind::kZeroDateToNull)) && c < required.size() && required[c]) {
          batch.zero_date_column = plans[c].name;
          batch.last = true;
          queue.Push(std::move(batch));
          return;
        }
        if (changed) row.changes.push_back({c, changed, raw});
      } else {
        if (row.refusal.empty()) row.refusal = converted.message();
        // Kept as text so the rejects file shows what was there.
        value.kind = TargetValue::Kind::kText;
        value.text = raw;
      }
    }
    if (preparer && row.refusal.empty()) {
      row.prepare_failure = preparer->Prepare(row.values, &row.prepared);
    }
    if (row.refusal.empty()) {
      row.text_at = batch.text.size();
      if (texts) statements.Append(row.values, &batch.text);
      row.text_size = batch.text.size() - row.text_at;
      batch_bytes += row.text_size;
    } else {
      statements.Build(row.values, &row.statement);
      batch_bytes += row.statement.size();
    }
    if (batch.count >= batch_rows || batch_bytes >= (4u << 20)) {
      if (!queue.Push(std::move(batch))) return;
      batch = queue.Fresh();
      batch_bytes = 0;
    }
  }
}

}  // namespace

std::unique_ptr<RowInserter> MakeStatementInserter(Session& target) {
  return std::make_unique<StatementInserter>(target);
}

std::string FileStemFor(std::string_view name) {
  std::string out(name);
  for (char& c : out) {
    if (c == '/' || c == '\0') c = '_';
  }
  if (out.empty() || out == "." || out == "..") out += "_";
  return out;
}

InsertStatementText::InsertStatementText(const std::string& access_table,
                                         const std::vector<std::string>& access_columns) {
  auto quote = [](const std::string& name) { return QuoteJetNameInText(name); };
  prefix_ = "insert into " + quote(access_table);
  if (!access_columns.empty()) {
    prefix_ += " (";
    for (std::size_t i = 0; i < access_columns.size(); ++i) {
      if (i) prefix_ += ",";
      prefix_ += quote(access_columns[i]);
    }
    prefix_ += ")";
  }
  prefix_ += " values (";
}

void InsertStatementText::Build(const std::vector<TargetValue>& row, std::string* out) const {
  out->clear();
  Append(row, out);
}

void InsertStatementText::Append(const std::vector<TargetValue>& row, std::string* out) const {
  *out += prefix_;
  for (std::size_t i = 0; i < row.size(); ++i) {
    if (i) *out += ',';
    AppendJetLiteral(row[i], out);
  }
  *out += ")\n";
}

std::string BuildInsertStatement(const std::string& access_table,
                                 const std::vector<std::string>& access_columns,
                                 const std::vector<TargetValue>& row) {
  std::string sql;
  InsertStatementText(access_table, access_columns).Build(row, &sql);
  return sql;
}

CopyRowsResult CopyTableRows(Session* source, Session* target, const CopyRowsOptions& options,
                             const LineSink& out) {
  CopyRowsResult result;
  const auto started = std::chrono::steady_clock::now();
  auto finish_time = [&] {
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  };
  if (!source) {
    out("No Source Connection!");
    result.status = Status::InvalidArgument("No Source Connection!");
    return result;
  }
  if (!target) {
    out("No Target Connection!");
    result.status = Status::InvalidArgument("No Target Connection!");
    return result;
  }
  const std::string& t = options.table;

  // The source rows.
  std::unique_ptr<QueryCursor> cursor;
  {
    TableReadOptions read;
    read.database = options.database;
    read.table = options.table;
    read.where = options.condition;
    read.chunk_rows = options.chunk_rows;
    read.chunk_bytes = options.chunk_bytes;
    auto opened = source->OpenTableReader(read);
    if (!opened.ok())
      result.status = opened.status();
    else
      cursor = std::move(*opened);
  }
  if (!cursor) {
    out(result.status.message());
    finish_time();
    return result;
  }

  // The data file when asked for, and no rejects file left from an earlier
  // run.
  const std::string stem = options.file_stem.empty() ? FileStemFor(t) : options.file_stem;
  const std::filesystem::path rejects_path = options.data_dir / (stem + ".rejects");
  std::error_code ec;
  if (options.rejects_file) std::filesystem::remove(rejects_path, ec);
  // One INSERT statement a row: written through a large buffer.
  std::vector<char> data_buffer;
  std::ofstream data;
  if (options.data_file) {
    result.data_file = options.data_dir / (stem + ".data");
    data_buffer.resize(1 << 20);
    data.rdbuf()->pubsetbuf(data_buffer.data(), static_cast<std::streamsize>(data_buffer.size()));
    data.open(result.data_file, std::ios::binary | std::ios::trunc);
  }
  if (options.data_file && !data) {
    result.status = Status::IOError("cannot create the data file " + result.data_file.string());
    out("E::" + result.status.message());
    finish_time();
    return result;
  }
  std::ofstream rejects;

  // The target's fast path, or the statements.
  std::unique_ptr<RowInserter> inserter;
  if (options.inserter_factory) {
    auto made = options.inserter_factory(*target, options.access_table, options.columns);
    if (made.ok()) {
      inserter = std::move(*made);
    } else if (made.status().code() != StatusCode::kNotSupported) {
      result.status = made.status();
      out("T::" + made.status().message());
      out(fmt::format("E::[{}] rows cannot be written: {}", t, made.status().message()));
      finish_time();
      return result;
    }
  }
  if (!inserter) inserter = MakeStatementInserter(*target);

  std::vector<std::string> access_columns = options.access_columns;
  if (access_columns.empty()) {
    for (const auto& c : options.columns) access_columns.push_back(c.name);
  }

  const InsertStatementText statements(options.access_table, access_columns);
  const bool texts = options.data_file || inserter->NeedsStatements();
  std::vector<bool> required(options.columns.size(), false);
  for (std::size_t c = 0; c < options.columns.size(); ++c) {
    for (const std::string& name : options.required_dates) {
      if (AsciiLower(name) == AsciiLower(options.columns[c].name)) required[c] = true;
    }
  }
  BatchQueue queue(std::max<std::size_t>(1, options.queue_batches));
  std::thread reader([&] {
    ReadRows(*cursor, options.columns, statements, texts,
             std::max<std::size_t>(1, options.batch_rows), options.zero_dates, required,
             inserter->Prepares() ? inserter.get() : nullptr, queue);
  });

  auto refuse = [&](uint64_t number, const std::string& reason, std::string_view statement) {
    ++result.refused;
    if (result.refused <= options.reasons_shown) {
      out(fmt::format("E::[{}] row {} refused: {}", t, number, reason));
    }
    if (!options.rejects_file) return;
    if (!rejects.is_open()) {
      rejects.open(rejects_path, std::ios::binary | std::ios::trunc);
      result.rejects_file = rejects_path;
    }
    rejects << "-- row " << number << ": " << reason << "\n" << statement;
  };

  TransformCounter transforms;
  bool done = false;
  while (!done) {
    Batch batch = queue.Pop();
    if (!batch.zero_date_column.empty()) {
      // The table is made again: its rows need not be written now.
      result.zero_date_column = batch.zero_date_column;
      break;
    }
    // The data file gets the batch's statements in one write, up to the
    // last row handled (a stop may come before the batch's end).
    std::size_t text_done = 0;
    for (std::size_t i = 0; i < batch.count; ++i) {
      PendingRow& row = batch.rows[i];
      ++result.read;
      if (!row.refusal.empty()) {
        refuse(row.number, row.refusal, row.statement);
      } else {
        const std::string_view statement =
            std::string_view(batch.text).substr(row.text_at, row.text_size);
        text_done = row.text_at + row.text_size;
        Status inserted = !inserter->Prepares()      ? inserter->Insert(row.values, statement)
                          : row.prepare_failure.ok() ? inserter->InsertPrepared(row.prepared)
                                                     : row.prepare_failure;
        if (inserted.ok()) {
          ++result.written;
          for (const PendingRow::Change& change : row.changes) {
            for (TransformKind kind : kAllTransformKinds) {
              if (change.kinds & Bit(kind)) {
                transforms.Add(options.columns[change.column].name, kind, change.raw);
              }
            }
          }
        } else if (IsWriteFailure(inserted)) {
          // Not a refused row: the copy ends, and counts what the target kept.
          result.status = inserted;
          result.written = inserter->RowsKept().value_or(result.written);
          done = true;
          break;
        } else if (texts) {
          refuse(row.number, inserted.message(), statement);
        } else {
          statements.Build(row.values, &row.statement);  // for the rejects file
          refuse(row.number, inserted.message(), row.statement);
        }
      }
      if (result.read % 2000 == 0) {
        out(fmt::sprintf(kLineRecordsConverted, t, static_cast<long long>(result.read)));
      }
      if (options.progress && result.read % 500 == 0) {
        options.progress(result.read, options.rows_expected);
      }
      if (options.stop_requested && options.stop_requested()) {
        out(kLineDataTerminated);
        result.stopped = true;
        done = true;
        break;
      }
    }
    if (options.data_file) data.write(batch.text.data(), static_cast<std::streamsize>(text_done));
    if (batch.last) {
      if (!batch.error.ok()) result.status = batch.error;
      done = true;
    }
    queue.Recycle(std::move(batch));
  }
  // The reader sees the cancel at its next hand-over and ends.
  queue.Cancel();
  reader.join();
  cursor->Close();

  Status finished = inserter->Finish();
  // A failure after the copy's own is written out; the first stays its status.
  auto also_failed = [&](const Status& failure) {
    if (result.status.ok()) {
      result.status = failure;
    } else {
      out(fmt::format("E::[{}] {}", t, failure.message()));
    }
  };
  if (!finished.ok()) {
    also_failed(finished);
    result.written = inserter->RowsKept().value_or(result.written);
  }
  if (options.data_file) data.close();
  if (options.data_file && !data) {
    also_failed(Status::IOError("writing the data file " + result.data_file.string() + " failed"));
  }
  if (options.progress) options.progress(result.read, options.rows_expected);
  finish_time();
  if (!result.zero_date_column.empty()) {
    out(
        fmt::format("[{}] the NOT NULL column `{}` holds zero dates, which become NULL: the table "
                    "is made again with such columns nullable",
                    t, result.zero_date_column));
    return result;
  }

  result.transforms = transforms.Counts();
  for (const TransformCount& count : result.transforms) {
    out(fmt::format("[{}] changed for Access: {}", t, DescribeTransform(count)));
  }
  if (result.refused > options.reasons_shown) {
    out(fmt::format("E::[{}] {} more rows refused", t, result.refused - options.reasons_shown));
  }
  if (!result.status.ok()) {
    out("T::" + result.status.message());
    out(fmt::format("E::[{}] row copy ended early: {}", t, result.status.message()));
  }
  // A stopped copy is not complete: only "Data Converting Terminaled!" says so.
  if (result.ok()) {
    out(fmt::sprintf(kLineCopyCompleted, t, static_cast<long long>(result.read)));
  } else {
    // Not complete: the failure, the refusals or the stop are written above and below.
  }
  std::string counts = fmt::format("[{}] rows read {}, written {}, refused {}", t, result.read,
                                   result.written, result.refused);
  if (!result.rejects_file.empty())
    counts += "; refused rows kept in " + result.rejects_file.string();
  out((result.refused || !result.status.ok() ? "E::" : "") + counts);
  return result;
}

}  // namespace velquin
