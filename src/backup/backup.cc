#include "backup/backup.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "backup/script_text.h"
#include "base/unicode.h"
#include "db/jet_session.h"
#include "db/statements.h"
#include "jet/sql/names.h"

namespace velquin::backup {
namespace {

namespace fs = std::filesystem;

std::string Format(const char* format, const std::string& a, std::uint64_t n) {
  char buf[600];
  std::snprintf(buf, sizeof buf, format, a.c_str(), static_cast<unsigned long long>(n));
  return buf;
}

// One script file: text goes through a buffer, converted to the script's
// encoding, and out in large writes. Close() reports the first failure.
class ScriptFile {
 public:
  ScriptFile(ScriptEncoding encoding) : encoding_(encoding) {}
  ~ScriptFile() {
    if (f_) std::fclose(f_);
  }

  // Creates (truncates) the file; the reason when it cannot be created.
  Status Open(const fs::path& path) {
    path_ = path;
    f_ = std::fopen(path.c_str(), "wb");
    if (!f_) return Status::IOError("cannot create " + path.string() + ": " + std::strerror(errno));
    return Status::Ok();
  }

  // Appends text; whole statements only, so that a buffer is never cut
  // inside a UTF-8 sequence.
  std::string& buffer() { return buf_; }
  Status FlushIfFull() { return buf_.size() >= (1u << 20) ? Flush() : Status::Ok(); }

  Status Flush() {
    if (!status_.ok()) return status_;
    const std::string* out = &buf_;
    std::string converted;
    if (encoding_ == ScriptEncoding::kWindows1252) {
      if (!Utf8ToWindows1252(buf_, &converted)) {
        status_ = Status::InvalidArgument(
            "the text holds characters the Windows code page (1252) cannot hold; write the "
            "scripts in UTF-8");
        return status_;
      }
      out = &converted;
    }
    if (!out->empty() && std::fwrite(out->data(), 1, out->size(), f_) != out->size()) {
      status_ = Status::IOError("cannot write " + path_.string() + ": " + std::strerror(errno));
      return status_;
    }
    bytes_ += out->size();
    buf_.clear();
    return status_;
  }

  Status Close() {
    Status s = Flush();
    if (f_ && std::fclose(f_) != 0 && s.ok()) {
      s = Status::IOError("cannot write " + path_.string() + ": " + std::strerror(errno));
    }
    f_ = nullptr;
    return s;
  }

  // Closes and removes a file whose text was refused, so that no partial
  // script is left that looks whole.
  void Discard() {
    if (f_) std::fclose(f_);
    f_ = nullptr;
    std::error_code ec;
    fs::remove(path_, ec);  // best effort: the failure itself is reported by the caller
  }

  std::uint64_t bytes() const { return bytes_; }

 private:
  ScriptEncoding encoding_;
  fs::path path_;
  std::FILE* f_ = nullptr;
  std::string buf_;
  std::uint64_t bytes_ = 0;
  Status status_;
};

// The statement's own line breaks as CR LF; those inside a quoted text or
// name stay as they are (they are part of a value).
std::string Crlf(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 16);
  char quote = 0;
  for (char c : text) {
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '\'' || c == '"') {
      quote = c;
    } else if (c == '[') {
      quote = ']';
    } else if (c == '`') {
      quote = '`';
    } else if (c == '\n') {
      out.push_back('\r');
    }
    out.push_back(c);
  }
  return out;
}

bool Listed(const std::vector<std::string>* only, const std::string& name) {
  if (only == nullptr) return true;
  for (const std::string& n : *only) {
    if (jet::sql::SameObjectName(n, name)) return true;
  }
  return false;
}

}  // namespace

std::string DatabaseDirectoryName(const std::string& database) {
  std::string name = database;
  // A drive designation ("C:\" or "C:/") anywhere in the name goes.
  for (std::size_t i = 0; i + 2 < name.size();) {
    const char c = name[i];
    if (((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) && name[i + 1] == ':' &&
        (name[i + 2] == '\\' || name[i + 2] == '/' || name[i + 2] == '|')) {
      name.erase(i, 3);
    } else {
      ++i;
    }
  }
  std::size_t at = name.rfind('\\');
  if (at != std::string::npos) name = name.substr(at + 1);
  at = name.rfind('/');
  if (at != std::string::npos) name = name.substr(at + 1);
  return name;
}

Backup::Backup(fs::path root, BackupOptions options)
    : root_(root), position_(std::move(root)), options_(std::move(options)) {}

void Backup::SetRoot(fs::path root) {
  root_ = root;
  position_ = std::move(root);
}

bool Backup::AllDone() const {
  for (const ObjectReport& r : reports_) {
    if (r.status != ObjectStatus::kDone) return false;
  }
  return true;
}

void Backup::Out(const std::string& line) const {
  if (options_.out) options_.out(line);
}

fs::path Backup::EnterDatabase(const std::string& database) {
  position_ = root_ / DatabaseDirectoryName(database);
  return position_;
}

int Backup::BackupDatabaseTables(Session* session, const std::string& database,
                                 const std::vector<std::string>* only) {
  Out(Format("Backup Tables of database [%s]", database, 0));
  const fs::path dir = EnterDatabase(database);
  JetSession* jet = session != nullptr ? session->AsJetSession() : nullptr;
  if (jet == nullptr) {
    Out(std::string(kNoConnection));
    return -1;
  }
  Result<std::vector<std::string>> tables = [&] {
    auto lock = jet->Lock();
    return jet->database().ListTables();
  }();
  if (!tables.ok()) {
    Out("E::Open tables Error: " + tables.status().message());
    return -1;
  }
  // The folder is made even for a database without tables, so that its
  // backup restores into an empty database rather than being no backup.
  std::error_code ec;
  fs::create_directories(dir / kTablesDirectory, ec);
  if (ec) Out("E::cannot create " + (dir / kTablesDirectory).string() + ": " + ec.message());
  for (const std::string& table : *tables) {
    if (!Listed(only, table)) continue;
    TableAt(session, dir, table);
    if (StopRequested()) {
      Out("Tables Backup Terminaled!");
      break;
    }
  }
  return 0;
}

int Backup::BackupDatabaseViews(Session* session, const std::string& database,
                                const std::vector<std::string>* only) {
  Out(Format("Backup Views of database [%s]", database, 0));
  const fs::path dir = EnterDatabase(database);
  JetSession* jet = session != nullptr ? session->AsJetSession() : nullptr;
  if (jet == nullptr) {
    Out(std::string(kNoConnection));
    return -1;
  }
  std::vector<std::string> views;
  {
    auto lock = jet->Lock();
    views = jet->database().ListQueries();
  }
  std::error_code ec;
  fs::create_directories(dir / kViewsDirectory, ec);
  if (ec) Out("E::cannot create " + (dir / kViewsDirectory).string() + ": " + ec.message());
  for (const std::string& view : views) {
    if (!Listed(only, view)) continue;
    ViewAt(session, dir, database, view);
    if (StopRequested()) {
      Out("Views Backup Terminaled!");
      break;
    }
  }
  return 0;
}

int Backup::BackupTable(Session* session, const std::string&, const std::string& table) {
  return TableAt(session, position_, table);
}

int Backup::BackupView(Session* session, const std::string& database, const std::string& view) {
  return ViewAt(session, position_, database, view);
}

JetSession* Backup::StartObject(Session* session, bool view, const std::string& name) {
  reports_.push_back({});
  reports_.back().view = view;
  reports_.back().name = name;
  JetSession* jet = session != nullptr ? session->AsJetSession() : nullptr;
  if (jet == nullptr) {
    Out(std::string(kNoConnection));
    reports_.back().status = ObjectStatus::kFailed;
    reports_.back().message = std::string(kNoConnection);
  }
  return jet;
}

int Backup::Fail(int code, const std::string& why) {
  ObjectReport& report = reports_.back();
  report.status = ObjectStatus::kFailed;
  report.message = why;
  Out("E::[" + report.name + "] " + why);
  return code;
}

int Backup::TableAt(Session* session, const fs::path& dir, const std::string& table) {
  JetSession* jet = StartObject(session, false, table);
  if (jet == nullptr) return -1;
  ObjectReport& report = reports_.back();
  auto fail = [&](int code, const std::string& why) { return Fail(code, why); };
  auto lock = jet->Lock();
  jet::Database& db = jet->database();
  Result<jet::TableInfo> info = db.GetTable(table);
  if (!info.ok()) return fail(-1, info.status().message());
  Result<std::string> create = CreateTableStatement(*info);
  if (!create.ok()) return fail(-1, create.status().message());
  Result<std::vector<Relationship>> relationships = ReadRelationships(db);
  if (!relationships.ok()) return fail(-1, relationships.status().message());

  // TABLES/<table>.tbl: the table, then its indexes.
  std::error_code ec;
  fs::create_directories(dir / kTablesDirectory, ec);
  {
    ScriptFile file(options_.encoding);
    Status opened = file.Open(dir / kTablesDirectory / (table + kTableExtension));
    if (!opened.ok()) {
      Out(kLineCharsetHint);
      return fail(-2, opened.message());
    }
    file.buffer() = *create + ";\r\n";
    for (const std::string& ix : IndexStatements(*info)) file.buffer() += ix + ";\r\n";
    Status closed = file.Close();
    if (!closed.ok()) {
      file.Discard();
      return fail(-1, closed.message());
    }
    report.bytes += file.bytes();
  }
  // TABLES/<table>.rel: the relationships in which it is the referencing
  // table, run once every table and its rows are back.
  {
    const fs::path path = dir / kTablesDirectory / (table + kRelationshipsExtension);
    std::string text;
    for (const Relationship& r : *relationships) {
      if (jet::sql::SameObjectName(r.table, info->name)) text += RelationshipStatement(r) + ";\r\n";
    }
    if (text.empty()) {
      fs::remove(path, ec);  // a relationship script of an earlier backup no longer holds
    } else {
      ScriptFile file(options_.encoding);
      Status opened = file.Open(path);
      if (!opened.ok()) {
        Out(kLineCharsetHint);
        return fail(-2, opened.message());
      }
      file.buffer() = std::move(text);
      Status closed = file.Close();
      if (!closed.ok()) {
        file.Discard();
        return fail(-1, closed.message());
      }
      report.bytes += file.bytes();
    }
  }

  // DATA/<table>.data: one INSERT INTO per row.
  const fs::path data_path = dir / kDataDirectory / (table + kDataExtension);
  if (!options_.write_data) {
    // A data script of an earlier backup would restore rows that may no
    // longer be the table's: it goes too.
    fs::remove(data_path, ec);
    Out("[" + table + "] rows not backed up: AutoBackup is off");
    return 1;
  }
  fs::create_directories(dir / kDataDirectory, ec);
  ScriptFile file(options_.encoding);
  Status opened = file.Open(data_path);
  if (!opened.ok()) {
    Out(kLineCharsetHint);
    return fail(-2, opened.message());
  }
  Result<std::unique_ptr<jet::RowCursor>> cursor = db.Scan(info->name);
  if (!cursor.ok()) {
    file.Discard();
    return fail(-1, cursor.status().message());
  }
  const std::string prefix = InsertPrefix(info->name);
  const std::uint64_t expected = info->row_count;
  std::vector<jet::Value> row;
  std::string& buf = file.buffer();
  bool stopped = false;
  std::uint64_t refused = 0;
  while (true) {
    Result<bool> more = (*cursor)->Next(&row);
    if (!more.ok()) {
      file.Discard();
      return fail(-1, "reading row " + std::to_string(report.rows + refused + 1) + ": " +
                          more.status().message());
    }
    if (!*more) break;
    const std::size_t start = buf.size();
    buf += prefix;
    bool written = true;
    for (std::size_t j = 0; j < row.size(); ++j) {
      if (j) buf.push_back(',');
      if (!AppendLiteral(row[j], &buf)) {
        Out("E::[" + table + "] row " + std::to_string(report.rows + refused + 1) +
            ": the value of column [" + info->columns[j].name +
            "] is an infinity or not a number, which no literal can hold; row not written");
        written = false;
        break;
      }
    }
    if (!written) {
      buf.resize(start);
      ++refused;
    } else {
      buf += ");\r\n";
      ++report.rows;
      if (report.rows % 1000 == 0) {
        Out(Format("[%s] %llu records backuped!", table, report.rows));
        if (options_.rows_progress) options_.rows_progress(table, report.rows, expected);
      }
      Status s = file.FlushIfFull();
      if (!s.ok()) {
        file.Discard();
        return fail(-1, s.message());
      }
    }
    if (StopRequested()) {
      Out("Data Backup Terminaled!");
      stopped = true;
      break;
    }
  }
  Out(Format("[%s]%8llu records backuped!", table, report.rows));
  if (options_.rows_progress) options_.rows_progress(table, report.rows, expected);
  Status closed = file.Close();
  if (!closed.ok()) {
    file.Discard();
    return fail(-1, closed.message());
  }
  report.bytes += file.bytes();
  if (refused > 0) {
    return fail(-1, std::to_string(refused) + " rows could not be written");
  }
  if (stopped) {
    report.status = ObjectStatus::kStopped;
    report.message = "stopped after " + std::to_string(report.rows) + " rows";
    return -1;
  }
  return 1;
}

int Backup::ViewAt(Session* session, const fs::path& dir, const std::string& database,
                   const std::string& view) {
  JetSession* jet = StartObject(session, true, view);
  if (jet == nullptr) return -1;
  ObjectReport& report = reports_.back();
  auto fail = [&](int code, const std::string& why) { return Fail(code, why); };
  std::error_code ec;
  fs::create_directories(dir / kViewsDirectory, ec);
  ScriptFile file(options_.encoding);
  Status opened = file.Open(dir / kViewsDirectory / (view + kViewExtension));
  if (!opened.ok()) {
    Out(kLineCharsetHint);
    return fail(-2, opened.message());
  }
  Out("Bakcup View [" + database + "].[" + view + "]");
  Result<std::string> text = [&] {
    auto lock = jet->Lock();
    return CreateViewStatement(jet->database(), view);
  }();
  if (!text.ok()) {
    file.Discard();
    return fail(-1, text.status().message());
  }
  file.buffer() = Crlf(*text) + "\r\n";
  Status closed = file.Close();
  if (!closed.ok()) {
    file.Discard();
    return fail(-1, closed.message());
  }
  report.bytes = file.bytes();
  Out("RESULT: The operation completed SUCCESSFULLY");
  return 1;
}

}  // namespace velquin::backup
