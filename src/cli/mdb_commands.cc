#include "cli/mdb_commands.h"

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cli/mdb_text.h"
#include "jet/database.h"

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
  if (!db.ok()) Fail(command, "cannot open \"" + path + "\": " + db.status().message());
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
  auto names = db->ListTables();
  if (!names.ok()) Fail("tables", "cannot read the catalogue: " + names.status().message());
  for (const auto& n : *names) std::printf("%s\n", n.c_str());
}

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

  auto writer = db->BulkAppend(info.name);
  if (!writer.ok())
    Fail(cmd, "cannot write table \"" + info.name + "\": " + writer.status().message());
  std::uint64_t refused = 0;
  auto refuse = [&](std::uint64_t line, const std::string& why) {
    ++refused;
    std::fprintf(stderr, "%s:%llu: row refused: %s\n", o.input.c_str(),
                 static_cast<unsigned long long>(line), why.c_str());
  };
  std::vector<jet::Value> row(ncols);
  for (;;) {
    auto got = reader.Next(&rec);
    if (!got.ok()) {
      refuse(rec.line, got.status().message());
      if (got.status().message().find("not closed") != std::string::npos) break;
      continue;
    }
    if (!*got) break;
    if (rec.fields.size() != mapping.size()) {
      refuse(rec.line, "has " + std::to_string(rec.fields.size()) + " fields, expected " +
                           std::to_string(mapping.size()));
      continue;
    }
    for (auto& v : row) v = jet::Value();
    std::string why;
    for (std::size_t f = 0; f < mapping.size() && why.empty(); ++f) {
      const auto& col = info.columns[mapping[f]];
      auto v = cli::ConvertField(col, rec.fields[f], tsv);
      if (!v.ok()) {
        why = v.status().message();
      } else {
        row[mapping[f]] = std::move(*v);
      }
    }
    for (std::size_t c = 0; c < ncols && why.empty(); ++c) {
      if (required[c] && row[c].is_null()) {
        why = "column \"" + info.columns[c].name + "\" cannot be NULL";
      }
    }
    if (!why.empty()) {
      refuse(rec.line, why);
      continue;
    }
    Status s = (*writer)->Append(row);
    if (!s.ok()) {
      if (s.code() == StatusCode::kConstraint || s.code() == StatusCode::kInvalidArgument) {
        refuse(rec.line, s.message());
        continue;
      }
      Fail(cmd, "writing table \"" + info.name + "\" failed at line " + std::to_string(rec.line) +
                    ": " + s.message());
    }
  }
  if (std::ferror(in)) Fail(cmd, "cannot read \"" + o.input + "\"");
  Status s = (*writer)->Finish();
  if (!s.ok()) Fail(cmd, "writing table \"" + info.name + "\" failed: " + s.message());
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
  tables->callback([opts] { RunTables(*opts); });

  CLI::App* schema =
      mdb->add_subcommand("schema", "Print CREATE TABLE and CREATE INDEX statements");
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
