#include "cli/mdb_commands.h"

#include <array>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "backup/script_text.h"
#include "cli/mdb_text.h"
#include "jet/database.h"
#include "jet/sql/default_value.h"
#include "jet/sql/names.h"

namespace velquin {
namespace {

using cli::Field;
using cli::Record;
using cli::RecordReader;
using cli::TextFormat;

struct MdbOptions {
  std::string file;
  std::string table;
  std::string input;
  bool tsv = false;
  bool no_header = false;
  bool queries = false;
};

// Ends a subcommand with an exit code (main returns it).
[[noreturn]] void Exit(int code) { throw CLI::RuntimeError(code); }

[[noreturn]] void Fail(const std::string& command, const std::string& message) {
  std::fprintf(stderr, "velquin mdb %s: %s\n", command.c_str(), message.c_str());
  Exit(1);
}

std::unique_ptr<jet::Database> OpenOrFail(const std::string& command, const std::string& path,
                                          bool read_only) {
  auto db = jet::Database::Open(path, {.read_only = read_only});
  if (!db.ok()) {
    // Another program writing the file: exit 2, like other usage errors.
    if (db.status().code() == StatusCode::kBusy) {
      std::fprintf(stderr, "velquin mdb %s: %s\n", command.c_str(), db.status().message().c_str());
      Exit(2);
    }
    Fail(command, "cannot open \"" + path + "\": " + db.status().message());
  }
  return std::move(*db);
}

jet::TableInfo TableOrFail(const std::string& command, jet::Database& db, const std::string& path,
                           const std::string& table) {
  auto info = db.GetTable(table);
  if (!info.ok()) {
    if (info.status().code() == StatusCode::kNotFound) {
      Fail(command, "no table \"" + table + "\" in \"" + path + "\"");
    }
    Fail(command, "cannot read table \"" + table + "\": " + info.status().message());
  }
  return *info;
}

void RunCreate(const MdbOptions& o) {
  auto db = jet::Database::Create(o.file);
  if (!db.ok()) Fail("create", "cannot create \"" + o.file + "\": " + db.status().message());
  Status s = (*db)->Flush();
  if (!s.ok()) Fail("create", "cannot write \"" + o.file + "\": " + s.message());
}

void RunTables(const MdbOptions& o) {
  auto db = OpenOrFail("tables", o.file, true);
  if (o.queries) {
    for (const auto& n : db->ListQueries()) std::printf("%s\n", n.c_str());
    return;
  }
  auto names = db->ListTables();
  if (!names.ok()) Fail("tables", "cannot read the catalogue: " + names.status().message());
  for (const auto& n : *names) std::printf("%s\n", n.c_str());
}

// The tables (CREATE TABLE, CREATE INDEX), then the relationships (ALTER
// TABLE ... ADD CONSTRAINT ... FOREIGN KEY, with their update and delete
// rules) and the saved queries (CREATE VIEW, union queries too) in catalogue
// order, which is the order they were made in, so a query follows the
// queries it reads. `velquin mdb exec` reads the whole text back. With a
// TABLE: that table and the relationships in which it refers to another.
void RunSchema(const MdbOptions& o) {
  auto db = OpenOrFail("schema", o.file, true);
  std::vector<std::string> names;
  if (!o.table.empty()) {
    names.push_back(TableOrFail("schema", *db, o.file, o.table).name);
  } else {
    auto all = db->ListTables();
    if (!all.ok()) Fail("schema", "cannot read the catalogue: " + all.status().message());
    names = *all;
  }
  for (std::size_t i = 0; i < names.size(); ++i) {
    auto info = TableOrFail("schema", *db, o.file, names[i]);
    std::printf("%s%s", i ? "\n" : "", cli::TableSchemaSql(info).c_str());
  }
  auto relationships = backup::ReadRelationships(*db);
  if (!relationships.ok()) {
    Fail("schema", "cannot read the relationships: " + relationships.status().message());
  }
  bool first = true;
  for (const auto& r : *relationships) {
    if (!o.table.empty() && !jet::sql::SameObjectName(r.table, names[0])) continue;
    std::printf("%s%s;\n", first ? "\n" : "", backup::RelationshipStatement(r).c_str());
    first = false;
  }
  if (!o.table.empty()) return;
  for (const auto& q : db->ListQueries()) {
    auto view = backup::CreateViewStatement(*db, q);
    if (!view.ok()) Fail("schema", "cannot read query \"" + q + "\": " + view.status().message());
    std::string text = *view;  // the query's SQL ends with ";" as Access keeps it
    if (text.empty() || text.back() != ';') text += ';';
    std::printf("\n%s\n", text.c_str());
  }
}

void RunExport(const MdbOptions& o) {
  auto db = OpenOrFail("export", o.file, true);
  auto info = TableOrFail("export", *db, o.file, o.table);
  auto cursor = db->Scan(info.name);
  if (!cursor.ok())
    Fail("export", "cannot read table \"" + info.name + "\": " + cursor.status().message());
  std::string line;
  for (std::size_t c = 0; c < info.columns.size(); ++c) {
    if (c) line.push_back(',');
    cli::AppendCsvField(info.columns[c].name, &line);
  }
  line += "\r\n";
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::vector<jet::Value> row;
  std::uint64_t n = 0;
  for (;;) {
    auto more = (*cursor)->Next(&row);
    if (!more.ok()) {
      std::fflush(stdout);
      Fail("export", "table \"" + info.name + "\" row " + std::to_string(n + 1) + ": " +
                         more.status().message());
    }
    if (!*more) break;
    ++n;
    line.clear();
    for (std::size_t c = 0; c < row.size(); ++c) {
      if (c) line.push_back(',');
      cli::AppendCsvField(cli::ExportText(row[c]), &line);
    }
    line += "\r\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
  }
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) Fail("export", "cannot write the output");
}

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// One record of the input as the import reads it: a row to write, or the
// reason it is refused.
struct ParsedRow {
  std::uint64_t line = 0;
  std::string why;    // empty: `row` is to be written
  bool last = false;  // nothing can be read after this record
  std::vector<jet::Value> row;
};

// Runs `parse` on a thread of its own and hands its rows over in batches, so
// that reading and converting the text overlaps writing the rows. `parse`
// fills one row and returns false at the end of the input. Batches go round
// between the two threads, keeping their storage.
class ParseAhead {
 public:
  struct Batch {
    std::vector<ParsedRow> rows;
    std::size_t count = 0;
  };
  using Parse = std::function<bool(ParsedRow*)>;

  explicit ParseAhead(Parse parse) : parse_(std::move(parse)) {
    for (auto& b : batches_) free_.push_back(&b);
    thread_ = std::thread([this] { Run(); });
  }
  ~ParseAhead() { Stop(); }

  // The next filled batch in input order; nullptr at the end.
  Batch* Next() {
    std::unique_lock lock(mu_);
    cv_.wait(lock, [&] { return !filled_.empty() || ended_; });
    if (filled_.empty()) return nullptr;
    Batch* b = filled_.front();
    filled_.pop_front();
    return b;
  }
  // Gives a batch back once its rows are written.
  void Done(Batch* b) {
    {
      std::lock_guard lock(mu_);
      free_.push_back(b);
    }
    cv_.notify_all();
  }
  // Ends reading early and waits for the thread.
  void Stop() {
    {
      std::lock_guard lock(mu_);
      stop_ = true;
    }
    cv_.notify_all();
    if (thread_.joinable()) thread_.join();
  }

 private:
  static constexpr std::size_t kBatchRows = 4096;
  void Run() {
    bool more = true;
    while (more) {
      Batch* b;
      {
        std::unique_lock lock(mu_);
        cv_.wait(lock, [&] { return !free_.empty() || stop_; });
        if (stop_) break;
        b = free_.front();
        free_.pop_front();
      }
      b->count = 0;
      while (b->count < kBatchRows) {
        if (b->rows.size() == b->count) b->rows.emplace_back();
        ParsedRow& item = b->rows[b->count];
        if (!parse_(&item)) {
          more = false;
          break;
        }
        ++b->count;
        if (item.last) {
          more = false;
          break;
        }
      }
      {
        std::lock_guard lock(mu_);
        filled_.push_back(b);
      }
      cv_.notify_all();
    }
    {
      std::lock_guard lock(mu_);
      ended_ = true;
    }
    cv_.notify_all();
  }

  Parse parse_;
  std::array<Batch, 4> batches_;
  std::mutex mu_;
  std::condition_variable cv_;
  std::deque<Batch*> free_, filled_;
  bool stop_ = false;
  bool ended_ = false;
  std::thread thread_;
};

void RunImport(const MdbOptions& o) {
  const std::string cmd = "import";
  std::FILE* in = o.input == "-" ? stdin : std::fopen(o.input.c_str(), "rb");
  if (!in) Fail(cmd, "cannot read \"" + o.input + "\"");
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> closer(in == stdin ? nullptr : in, &std::fclose);
  auto db = OpenOrFail(cmd, o.file, false);
  auto info = TableOrFail(cmd, *db, o.file, o.table);
  const std::size_t ncols = info.columns.size();

  // Columns that may not be NULL: declared NOT NULL or part of a primary
  // key or a required index (AutoNumber and Yes/No columns fill themselves).
  std::vector<bool> required(ncols, false);
  for (std::size_t c = 0; c < ncols; ++c) required[c] = info.columns[c].not_null;
  for (const auto& ix : info.indexes) {
    if (!ix.primary_key && !ix.required) continue;
    for (const auto& [name, asc] : ix.columns) {
      for (std::size_t c = 0; c < ncols; ++c) {
        if (info.columns[c].name == name) required[c] = true;
      }
    }
  }
  for (std::size_t c = 0; c < ncols; ++c) {
    if (info.columns[c].auto_increment || info.columns[c].type == jet::ColumnType::kBool) {
      required[c] = false;
    }
  }

  const bool tsv = o.tsv;
  RecordReader reader(tsv ? TextFormat::kTsv : TextFormat::kCsv, in);
  Record rec;
  // field index -> column index
  std::vector<std::size_t> mapping;
  if (!o.no_header) {
    auto got = reader.Next(&rec);
    if (!got.ok()) Fail(cmd, o.input + ": " + got.status().message());
    if (!*got) Fail(cmd, o.input + ": no header row");
    std::vector<bool> seen(ncols, false);
    for (const auto& f : rec.fields) {
      std::string name = f.value_or("");
      std::size_t found = ncols;
      for (std::size_t c = 0; c < ncols; ++c) {
        if (SameName(info.columns[c].name, name)) found = c;
      }
      if (found == ncols) {
        Fail(cmd, o.input + ": the header names \"" + name + "\", which is not a column of \"" +
                      info.name + "\"");
      }
      if (seen[found]) Fail(cmd, o.input + ": the header names \"" + name + "\" twice");
      seen[found] = true;
      mapping.push_back(found);
    }
  } else {
    for (std::size_t c = 0; c < ncols; ++c) mapping.push_back(c);
  }

  // Columns the input leaves out get their default, as an Access append
  // gives them (evaluated once, when the import starts).
  std::vector<jet::Value> omitted(ncols);
  {
    std::vector<bool> named(ncols, false);
    for (std::size_t c : mapping) named[c] = true;
    const jet::sql::DateTimeValue now = jet::sql::LocalNow();
    for (std::size_t c = 0; c < ncols; ++c) {
      if (named[c] || info.columns[c].default_value.empty()) continue;
      auto v = jet::sql::EvaluateDefault(info.columns[c], info.name, now);
      if (!v.ok()) Fail(cmd, v.status().message());
      omitted[c] = std::move(*v);
    }
  }

  auto writer = db->BulkAppend(info.name);
  if (!writer.ok())
    Fail(cmd, "cannot write table \"" + info.name + "\": " + writer.status().message());
  std::uint64_t refused = 0;
  auto refuse = [&](std::uint64_t line, const std::string& why) {
    ++refused;
    std::fprintf(stderr, "%s:%llu: row refused: %s\n", o.input.c_str(),
                 static_cast<unsigned long long>(line), why.c_str());
  };

  // Reading and converting the text runs on its own thread, a batch of rows
  // at a time, while this one writes the rows.
  auto parse = [&](ParsedRow* item) -> bool {
    item->why.clear();
    auto got = reader.Next(&rec);
    item->line = rec.line;
    if (!got.ok()) {
      item->why = got.status().message();
      // A quote left open swallows the rest of the input: nothing follows.
      item->last = got.status().code() == StatusCode::kCorruption;
      return true;
    }
    if (!*got) return false;
    item->last = false;
    if (rec.fields.size() != mapping.size()) {
      item->why = "has " + std::to_string(rec.fields.size()) + " fields, expected " +
                  std::to_string(mapping.size());
      return true;
    }
    auto& row = item->row;
    row.assign(omitted.begin(), omitted.end());
    for (std::size_t f = 0; f < mapping.size() && item->why.empty(); ++f) {
      const auto& col = info.columns[mapping[f]];
      auto v = cli::ConvertField(col, rec.fields[f], tsv);
      if (!v.ok()) {
        item->why = v.status().message();
      } else {
        row[mapping[f]] = std::move(*v);
      }
    }
    for (std::size_t c = 0; c < ncols && item->why.empty(); ++c) {
      if (required[c] && row[c].is_null()) {
        item->why = "column \"" + info.columns[c].name + "\" cannot be NULL";
      }
    }
    return true;
  };
  ParseAhead ahead(parse);
  ParseAhead::Batch* batch;
  while ((batch = ahead.Next()) != nullptr) {
    for (std::size_t i = 0; i < batch->count; ++i) {
      const ParsedRow& item = batch->rows[i];
      if (!item.why.empty()) {
        refuse(item.line, item.why);
        continue;
      }
      Status s = (*writer)->Append(item.row);
      if (!s.ok()) {
        if (s.code() == StatusCode::kConstraint || s.code() == StatusCode::kInvalidArgument) {
          refuse(item.line, s.message());
          continue;
        }
        ahead.Stop();
        Fail(cmd, "writing table \"" + info.name + "\" failed at line " +
                      std::to_string(item.line) + ": " + s.message() + "; " +
                      std::to_string((*writer)->rows_written()) +
                      " rows of this import are in the file");
      }
    }
    ahead.Done(batch);
  }
  if (std::ferror(in)) Fail(cmd, "cannot read \"" + o.input + "\"");
  Status s = (*writer)->Finish();
  if (!s.ok()) {
    Fail(cmd, "writing table \"" + info.name + "\" failed: " + s.message() + "; " +
                  std::to_string((*writer)->rows_written()) +
                  " rows of this import are in the file");
  }
  std::fprintf(stderr, "%llu rows imported into \"%s\", %llu refused\n",
               static_cast<unsigned long long>((*writer)->rows_written()), info.name.c_str(),
               static_cast<unsigned long long>(refused));
  if (refused) Exit(1);
}

}  // namespace

void RegisterMdbCommands(CLI::App& app) {
  auto opts = std::make_shared<MdbOptions>();
  CLI::App* mdb = app.add_subcommand("mdb", "Work with Access (.mdb) files directly");
  mdb->require_subcommand(1);

  CLI::App* create = mdb->add_subcommand("create", "Create a new, empty Access database");
  create->add_option("FILE", opts->file, "The .mdb file to create")->required();
  create->callback([opts] { RunCreate(*opts); });

  CLI::App* tables = mdb->add_subcommand("tables", "List the tables of a database");
  tables->add_option("FILE", opts->file, "The .mdb file")->required();
  tables->add_flag("--queries", opts->queries, "List the saved queries instead");
  tables->callback([opts] { RunTables(*opts); });

  CLI::App* schema =
      mdb->add_subcommand("schema",
                          "Print the statements that make the database: tables, indexes, "
                          "relationships and saved queries");
  schema->add_option("FILE", opts->file, "The .mdb file")->required();
  schema->add_option("TABLE", opts->table, "Only this table");
  schema->callback([opts] { RunSchema(*opts); });

  CLI::App* exp = mdb->add_subcommand("export", "Write a table as CSV to standard output");
  exp->add_option("FILE", opts->file, "The .mdb file")->required();
  exp->add_option("TABLE", opts->table, "The table")->required();
  exp->callback([opts] { RunExport(*opts); });

  CLI::App* imp = mdb->add_subcommand("import", "Append rows from a CSV or tab-separated file");
  imp->add_flag(
      "--tsv", opts->tsv,
      "Tab-separated text as the MySQL client writes it (\\N is NULL, backslash escapes)");
  imp->add_flag("--no-header", opts->no_header,
                "The file has no header row; its columns are in table order");
  imp->add_option("FILE", opts->file, "The .mdb file")->required();
  imp->add_option("TABLE", opts->table, "The table to fill")->required();
  imp->add_option("INPUT", opts->input, "The file to read (- for standard input)")->required();
  imp->callback([opts] { RunImport(*opts); });
}

}  // namespace velquin
