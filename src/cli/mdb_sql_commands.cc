// velquin mdb exec FILE.mdb [SQL]     statements separated by ";" (stdin when
//                                     no SQL is given); stops at the first
//                                     failure, exit status 1
// velquin mdb query FILE.mdb "SELECT ..."   rows as tab-separated lines
//
// Values are written as text; NULL as the --null text (empty by default);
// a tab, line break, carriage return or backslash inside a value is written
// as \t, \n, \r or \\ so that every row stays one line; binary values as 0x
// followed by hexadecimal digits.
#include "cli/mdb_sql_commands.h"

#include <cstdio>
#include <iostream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "jet/database.h"
#include "jet/sql/executor.h"
#include "jet/sql/parser.h"

namespace velquin {
namespace {

struct SqlOptions {
  std::string file;
  std::string sql;
  bool create = false;
  bool header = false;
  std::string null_text;
};

std::string Escape(const jet::Value& v, const std::string& null_text) {
  if (v.is_null()) return null_text;
  if (v.kind() == jet::ValueKind::kBinary) {
    static const char kHex[] = "0123456789abcdef";
    std::string s = "0x";
    for (auto b : v.binary_value()) {
      s += kHex[b >> 4];
      s += kHex[b & 15];
    }
    return s;
  }
  std::string out;
  for (char c : jet::sql::DisplayText(v)) {
    switch (c) {
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\\':
        out += "\\\\";
        break;
      default:
        out += c;
    }
  }
  return out;
}

void AppendHeader(const std::vector<jet::sql::ResultColumn>& columns, std::string* out) {
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (i) *out += '\t';
    *out += columns[i].name;
  }
  *out += '\n';
}

void AppendRow(const std::vector<jet::Value>& row, const SqlOptions& o, std::string* out) {
  for (std::size_t i = 0; i < row.size(); ++i) {
    if (i) *out += '\t';
    *out += Escape(row[i], o.null_text);
  }
  *out += '\n';
}

void PrintRows(const jet::sql::ExecResult& r, const SqlOptions& o) {
  std::string out;
  if (o.header) AppendHeader(r.columns, &out);
  for (const auto& row : r.rows) AppendRow(row, o, &out);
  std::fwrite(out.data(), 1, out.size(), stdout);
}

// Prints rows as the query gives them, a block at a time.
class RowPrinter : public jet::sql::RowSink {
 public:
  explicit RowPrinter(const SqlOptions& o) : o_(o) {}
  ~RowPrinter() override { Flush(); }
  Status Columns(const std::vector<jet::sql::ResultColumn>& columns) override {
    if (o_.header) AppendHeader(columns, &out_);
    return Status::Ok();
  }
  Status Row(std::vector<jet::Value> row) override {
    AppendRow(row, o_, &out_);
    if (out_.size() >= (1u << 16)) Flush();
    return Status::Ok();
  }
  void Flush() {
    std::fwrite(out_.data(), 1, out_.size(), stdout);
    out_.clear();
  }

 private:
  const SqlOptions& o_;
  std::string out_;
};

Result<std::unique_ptr<jet::Database>> OpenFile(const SqlOptions& o) {
  if (o.create) {
    std::FILE* f = std::fopen(o.file.c_str(), "rb");
    if (!f) return jet::Database::Create(o.file);
    std::fclose(f);
  }
  return jet::Database::Open(o.file);
}

[[noreturn]] void Fail(const std::string& message, int code = 1) {
  std::fprintf(stderr, "velquin: %s\n", message.c_str());
  throw CLI::RuntimeError(code);
}

// A file another program writes is a usage error (exit 2), as in the other
// commands.
[[noreturn]] void FailOpen(const std::string& file, const Status& s) {
  if (s.code() == StatusCode::kBusy) Fail(s.message(), 2);  // the message names the file
  Fail(file + ": " + s.message());
}

void RunExec(const SqlOptions& o, bool sql_given) {
  std::string script = o.sql;
  if (!sql_given) {
    script.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
  }
  auto db = OpenFile(o);
  if (!db.ok()) FailOpen(o.file, db.status());
  jet::sql::Executor ex(db->get());
  const auto statements = jet::sql::SplitStatements(script);
  for (std::size_t i = 0; i < statements.size(); ++i) {
    auto r = ex.Execute(statements[i]);
    if (!r.ok()) {
      Fail(o.file + ": statement " + std::to_string(i + 1) + ": " + r.status().message());
    }
    if (r->has_rows) PrintRows(*r, o);
  }
  Status s = (*db)->Flush();
  if (!s.ok()) Fail(o.file + ": " + s.message());
}

void RunQuery(const SqlOptions& o) {
  jet::OpenOptions read_only;
  read_only.read_only = true;
  auto db = jet::Database::Open(o.file, read_only);
  if (!db.ok()) FailOpen(o.file, db.status());
  jet::sql::Executor ex(db->get());
  auto parsed = jet::sql::ParseStatement(o.sql);
  if (!parsed.ok()) Fail(parsed.status().message());
  const auto* select = std::get_if<jet::sql::Select>(&*parsed);
  if (!select || !select->into.empty())
    Fail("mdb query runs a SELECT; use mdb exec for other statements");
  RowPrinter printer(o);
  Status s = ex.Stream(*select, &printer);
  printer.Flush();
  if (!s.ok()) Fail(s.message());
}

}  // namespace

void RegisterMdbSqlCommands(CLI::App& mdb) {
  auto opts = std::make_shared<SqlOptions>();
  auto* exec = mdb.add_subcommand("exec", "Run Jet SQL statements (separated by ';') on FILE.mdb");
  exec->add_option("file", opts->file, "database file")->required();
  auto* sql =
      exec->add_option("sql", opts->sql, "statements; read from standard input when left out");
  exec->add_flag("--create", opts->create, "create the file when it does not exist");
  exec->add_flag("--header", opts->header, "print column names before the rows of a SELECT");
  exec->add_option("--null", opts->null_text, "text written for NULL (default: empty)");
  exec->callback([opts, sql]() { RunExec(*opts, sql->count() > 0); });

  auto* query =
      mdb.add_subcommand("query", "Run a SELECT on FILE.mdb and print tab-separated rows");
  query->add_option("file", opts->file, "database file")->required();
  query->add_option("sql", opts->sql, "the SELECT statement")->required();
  query->add_flag("--header", opts->header, "print column names first");
  query->add_option("--null", opts->null_text, "text written for NULL (default: empty)");
  query->callback([opts]() { RunQuery(*opts); });
}

}  // namespace velquin
