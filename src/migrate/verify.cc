#include "migrate/verify.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <thread>
#include <unordered_map>
#include <variant>

#include "db/sql_quote.h"
#include "jet/database.h"
#include "jet/sql/executor.h"
#include "jet/sql/parser.h"
#include "migrate/jet_row_inserter.h"
#include "migrate/sql_text.h"
#include "migrate/verify_checksum.h"

namespace velquin {
namespace {

using quick_check::Canon;
using quick_check::FileRowSummer;
using quick_check::kNullMark;
using quick_check::kSeparator;
using quick_check::QuicklyEqual;
using quick_check::QuickSums;
using quick_check::ServerSums;
using quick_check::SummedColumn;
using quick_check::SumsQuery;
using quick_check::ViewColumns;

constexpr std::size_t kBuckets = 4096;
constexpr std::size_t kExamples = 10;
constexpr std::size_t kExampleBuckets = 16;
constexpr std::size_t kShownChars = 40;

uint64_t Mix(uint64_t x) {  // the splitmix64 finaliser
  x ^= x >> 30;
  x *= 0xbf58476d1ce4e5b9ull;
  x ^= x >> 27;
  x *= 0x94d049bb133111ebull;
  return x ^ (x >> 31);
}

uint64_t HashBytes(const void* data, std::size_t size, uint64_t seed) {
  const auto* p = static_cast<const unsigned char*>(data);
  uint64_t h = 0xcbf29ce484222325ull ^ Mix(seed);
  for (std::size_t i = 0; i < size; ++i) h = (h ^ p[i]) * 0x100000001b3ull;
  return Mix(h ^ size);
}

template <typename T>
uint64_t HashPlain(T value, uint64_t kind) {
  unsigned char bytes[sizeof(T)];
  std::memcpy(bytes, &value, sizeof(T));
  return HashBytes(bytes, sizeof(T), kind);
}

// The value as the file holds it: its kind and its exact bits.
uint64_t HashValue(const jet::Value& v) {
  const auto kind = static_cast<uint64_t>(v.kind()) + 1;
  switch (v.kind()) {
    case jet::ValueKind::kNull:
      return Mix(kind);
    case jet::ValueKind::kBool:
      return HashPlain(v.bool_value(), kind);
    case jet::ValueKind::kByte:
      return HashPlain(v.byte_value(), kind);
    case jet::ValueKind::kShort:
      return HashPlain(v.short_value(), kind);
    case jet::ValueKind::kLong:
      return HashPlain(v.long_value(), kind);
    case jet::ValueKind::kSingle:
      return HashPlain(v.single_value(), kind);
    case jet::ValueKind::kDouble:
      return HashPlain(v.double_value(), kind);
    case jet::ValueKind::kText:
      return HashBytes(v.text_value().data(), v.text_value().size(), kind);
    case jet::ValueKind::kBinary:
      return HashBytes(v.binary_value().data(), v.binary_value().size(), kind);
    case jet::ValueKind::kDateTime:
      return HashPlain(v.datetime_value().days, kind);
    case jet::ValueKind::kCurrency:
      return HashPlain(v.currency_value().units, kind);
    case jet::ValueKind::kGuid:
      return HashBytes(v.guid_value().bytes.data(), v.guid_value().bytes.size(), kind);
    default: {  // a decimal: its exact text
      const std::string text = v.ToString();
      return HashBytes(text.data(), text.size(), kind);
    }
  }
}

std::string Shown(const jet::Value& v) {
  if (v.is_null()) return "NULL";
  std::string s = (v.kind() == jet::ValueKind::kBinary ? "0x" : "") + v.ToString();
  if (s.size() > kShownChars) s = s.substr(0, kShownChars) + "...";
  return v.kind() == jet::ValueKind::kText ? "'" + s + "'" : s;
}

// Sums of one side.
struct Sums {
  uint64_t rows = 0;
  std::vector<uint64_t> columns;
  std::array<uint64_t, kBuckets> buckets{};
};

// One row kept for the examples.
struct KeptRow {
  std::vector<uint64_t> hashes;
  std::vector<std::string> shown;
};
using KeptRows = std::map<std::string, std::vector<KeptRow>>;

// What both passes need of a row: its key, its bucket and its hashes.
class RowHashes {
 public:
  RowHashes(const jet::TableInfo& info) : columns_(info.columns.size()) {
    for (const jet::IndexInfo& index : info.indexes) {
      if (!index.primary_key) continue;
      for (const auto& [name, ascending] : index.columns) {
        (void)ascending;  // the order of an index does not change which row a key names
        for (std::size_t i = 0; i < info.columns.size(); ++i) {
          if (info.columns[i].name == name) key_.push_back(i);
        }
      }
      for (std::size_t i : key_) key_names_.push_back(info.columns[i].name);
    }
  }

  // Computes the hashes of `row`; false when it has the wrong width.
  bool Take(const std::vector<jet::Value>& row) {
    if (row.size() != columns_) return false;
    hashes_.resize(columns_);
    for (std::size_t i = 0; i < columns_; ++i) hashes_[i] = HashValue(row[i]);
    key_hash_ = 0x9e3779b97f4a7c15ull;
    if (key_.empty()) {
      for (uint64_t h : hashes_) key_hash_ = Mix(key_hash_ ^ h) + 1;
    } else {
      for (std::size_t i : key_) key_hash_ = Mix(key_hash_ ^ hashes_[i]) + 1;
    }
    return true;
  }

  void AddTo(Sums& sums) const {
    ++sums.rows;
    sums.columns.resize(columns_);
    uint64_t whole = key_hash_;
    for (std::size_t i = 0; i < columns_; ++i) {
      const uint64_t h = Mix(key_hash_ ^ (hashes_[i] + 0x632be59bd9b4e019ull * (i + 1)));
      sums.columns[i] += h;
      whole += h;
    }
    sums.buckets[bucket()] += Mix(whole);
  }

  std::size_t bucket() const { return key_hash_ % kBuckets; }

  std::string KeyText(const std::vector<jet::Value>& row) const {
    std::string out;
    for (std::size_t k = 0; k < key_.size(); ++k) {
      out += (k ? ", " : "") + key_names_[k] + "=" + Shown(row[key_[k]]);
    }
    if (!key_.empty()) return out;
    for (std::size_t i = 0; i < row.size(); ++i) out += (i ? ", " : "") + Shown(row[i]);
    return "(" + out + ")";
  }

  KeptRow Keep(const std::vector<jet::Value>& row) const {
    KeptRow kept;
    kept.hashes = hashes_;
    for (const jet::Value& v : row) kept.shown.push_back(Shown(v));
    return kept;
  }

 private:
  std::size_t columns_;
  std::vector<std::size_t> key_;
  std::vector<std::string> key_names_;
  std::vector<uint64_t> hashes_;
  uint64_t key_hash_ = 0;
};

using RowSink = std::function<void(const std::vector<jet::Value>&)>;

// The verifier's end of the row copy: converted rows become the values the
// file would hold, and go to the sink instead of the file.
class HashingInserter : public RowInserter {
 public:
  HashingInserter(const jet::TableInfo& info, RowSink sink) : info_(info), sink_(std::move(sink)) {}
  Status Insert(const std::vector<TargetValue>& row, std::string_view) override {
    if (row.size() != info_.columns.size()) {
      return Status::InvalidArgument(
          fmt::format("the row has {} values; the file's table has {} columns", row.size(),
                      info_.columns.size()));
    }
    values_.clear();
    for (std::size_t i = 0; i < row.size(); ++i) {
      VELQUIN_ASSIGN_OR_RETURN(jet::Value v, ToJetValue(row[i], info_.columns[i]));
      values_.push_back(std::move(v));
    }
    sink_(values_);
    return Status::Ok();
  }
  Status Finish() override { return Status::Ok(); }
  bool NeedsStatements() const override { return false; }

 private:
  const jet::TableInfo& info_;
  RowSink sink_;
  std::vector<jet::Value> values_;
};

// Reads the source side through the row copy; rows Access cannot hold are
// counted in `not_held`.
Status ReadSource(Session* source, const jet::TableInfo& info, const CopyRowsOptions& how,
                  const RowSink& sink, uint64_t* not_held) {
  CopyRowsOptions copy;
  copy.database = how.database;
  copy.table = how.table;
  copy.access_table = how.access_table;
  copy.columns = how.columns;
  copy.access_columns = how.access_columns;
  copy.condition = how.condition;
  copy.zero_dates = how.zero_dates;
  copy.stop_requested = how.stop_requested;
  copy.data_file = false;
  copy.rejects_file = false;
  copy.reasons_shown = 0;
  copy.inserter_factory =
      [&](Session&, const std::string&,
          const std::vector<ColumnPlan>&) -> Result<std::unique_ptr<RowInserter>> {
    return std::unique_ptr<RowInserter>(std::make_unique<HashingInserter>(info, sink));
  };
  // The copy's own lines (progress, counts) are a migration's, not a
  // verification's: the outcome is reported from the result below. The
  // source session stands in as the target the copy asks for: the hashing
  // inserter above is always used, so no statement ever runs on it.
  CopyRowsResult result = CopyTableRows(source, source, copy, [](const std::string&) {});
  *not_held = result.refused;
  if (result.status.ok() && result.stopped) return Status::Cancelled("stopped by request");
  return result.status;
}

Status ReadFile(jet::Database& target, const std::string& table, const RowSink& sink) {
  VELQUIN_ASSIGN_OR_RETURN(auto cursor, target.Scan(table));
  std::vector<jet::Value> row;
  for (;;) {
    VELQUIN_ASSIGN_OR_RETURN(bool more, cursor->Next(&row));
    if (!more) return Status::Ok();
    sink(row);
  }
}

// A saved query's rows against the view's: each value is spelled in one
// form both sides can reach (numbers as numbers, whatever their type; dates
// as "YYYY-MM-DD hh:mm:ss"; a zero date as NULL, as the tables hold it), and
// each row's spelling is hashed into an order-independent sum.
std::string NumberText(double d, bool single) {
  if (single) d = static_cast<float>(d);
  if (std::nearbyint(d) == d && std::fabs(d) < 1e15) return fmt::format("{}", std::int64_t(d));
  return single ? fmt::format("{:.7g}", d) : fmt::format("{:.15g}", d);
}

std::string DateText(const jet::DateTime& d) {
  const auto p = d.ToParts();
  return fmt::format("{:04}-{:02}-{:02} {:02}:{:02}:{:02}.{:03}", p.year, p.month, p.day, p.hour,
                     p.minute, p.second, p.millisecond);
}

bool IsNumberType(std::string_view t) {
  static const std::set<std::string_view> kTypes = {
      "tinyint", "smallint", "mediumint", "int",  "integer", "bigint", "decimal",
      "numeric", "float",    "double",    "real", "year",    "bit"};
  return kTypes.count(t) > 0 || t.starts_with("decimal") || t.starts_with("int") ||
         t.starts_with("bigint");
}

std::string ServerCell(const QueryCursor& cursor, std::size_t i) {
  if (cursor.IsNull(i)) return std::string(1, kNullMark);
  const std::string& text = cursor.Value(i);
  std::string type = AsciiLower(cursor.Columns()[i].type_name);
  type = type.substr(0, type.find_first_of(" ("));
  if (IsNumberType(type)) {
    double d = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), d);
    if (ec == std::errc() && end == text.data() + text.size())
      return NumberText(d, type == "float");
    return text;
  }
  if (type == "date" || type == "datetime" || type == "timestamp") {
    auto d = jet::DateTime::Parse(text);
    // A zero date is NULL in the tables the query reads.
    return d.ok() ? DateText(*d) : std::string(1, kNullMark);
  }
  return text;
}

std::string FileCell(const jet::Value& v) {
  switch (v.kind()) {
    case jet::ValueKind::kNull:
      return std::string(1, kNullMark);
    case jet::ValueKind::kBool:
      return v.bool_value() ? "1" : "0";
    case jet::ValueKind::kSingle:
      return NumberText(v.single_value(), true);
    case jet::ValueKind::kByte:
    case jet::ValueKind::kShort:
    case jet::ValueKind::kLong:
    case jet::ValueKind::kDouble:
    case jet::ValueKind::kCurrency:
    case jet::ValueKind::kDecimal: {
      double d = 0;
      const std::string text = v.ToString();
      std::from_chars(text.data(), text.data() + text.size(), d);
      return NumberText(d, false);
    }
    case jet::ValueKind::kDateTime:
      return DateText(v.datetime_value());
    default:
      return v.ToString();
  }
}

std::string RowText(const std::vector<std::string>& cells) {
  std::string out;
  for (std::size_t i = 0; i < cells.size(); ++i) {
    if (i) out.push_back(kSeparator);
    out += cells[i];
  }
  return out;
}

std::string ShownRow(const std::string& row) {
  std::string out = "(";
  for (char c : row) {
    if (c == kSeparator) {
      out += ", ";
    } else if (c == kNullMark) {
      out += "NULL";
    } else {
      out.push_back(c);
    }
  }
  if (out.size() > 4 * kShownChars) out = out.substr(0, 4 * kShownChars) + "...";
  return out + ")";
}

}  // namespace

TableVerification VerifyTableRows(Session* source, jet::Database& target,
                                  const CopyRowsOptions& how, quick_check::SumsAhead* ahead) {
  TableVerification v;
  auto described = target.GetTable(how.access_table);
  if (!described.ok()) {
    v.status = described.status();
    return v;
  }
  const jet::TableInfo info = std::move(*described);
  const std::size_t width = info.columns.size();
  uint64_t rows = 0;
  const bool stopping = how.stop_requested && how.stop_requested();
  if (!stopping && QuicklyEqual(source, target, info, how, ahead, &rows)) {
    v.source_rows = v.target_rows = rows;
    v.by_checksum = true;
    return v;
  }

  // Pass 1: counts and sums.
  Sums from_source, from_file;
  RowHashes source_hashes(info), file_hashes(info);
  bool misfit = false;
  // The file is read beside the server, which takes the longer.
  Status file_read;
  std::thread file_reader([&] {
    file_read = ReadFile(target, how.access_table, [&](const std::vector<jet::Value>& row) {
      if (file_hashes.Take(row)) {
        file_hashes.AddTo(from_file);
      } else {
        misfit = true;
      }
    });
  });
  v.status = ReadSource(
      source, info, how,
      [&](const std::vector<jet::Value>& row) {
        if (source_hashes.Take(row)) source_hashes.AddTo(from_source);
      },
      &v.not_held);
  file_reader.join();
  if (v.status.ok()) {
    v.status = file_read;
  } else {
    // The server's failure is the one reported: the table is not verified
    // either way, and its code (a view of the moment, a lost connection)
    // decides how the summary counts it.
  }
  if (!v.status.ok()) return v;
  if (misfit) {
    v.status = Status::Corruption("a row of the file has another number of columns");
    return v;
  }
  v.source_rows = from_source.rows;
  v.target_rows = from_file.rows;
  from_source.columns.resize(width);
  from_file.columns.resize(width);
  for (std::size_t i = 0; i < width; ++i) {
    if (from_source.columns[i] != from_file.columns[i]) {
      v.differing_columns.push_back(info.columns[i].name);
    }
  }
  std::set<std::size_t> buckets;
  for (std::size_t b = 0; b < kBuckets && buckets.size() < kExampleBuckets; ++b) {
    if (from_source.buckets[b] != from_file.buckets[b]) buckets.insert(b);
  }
  if (buckets.empty()) return v;

  // Pass 2: the rows of the first differing buckets, matched by key.
  KeptRows source_rows, file_rows;
  auto keeper = [&](RowHashes& hashes, KeptRows& kept) {
    return [&](const std::vector<jet::Value>& row) {
      if (!hashes.Take(row) || !buckets.count(hashes.bucket())) return;
      kept[hashes.KeyText(row)].push_back(hashes.Keep(row));
    };
  };
  uint64_t ignored = 0;  // counted in pass 1
  v.status = ReadSource(source, info, how, keeper(source_hashes, source_rows), &ignored);
  if (!v.status.ok()) return v;
  v.status = ReadFile(target, how.access_table, keeper(file_hashes, file_rows));
  if (!v.status.ok()) return v;

  auto example = [&](std::string text) {
    if (v.examples.size() < kExamples) v.examples.push_back(std::move(text));
  };
  for (auto& [key, rows] : source_rows) {
    auto there = file_rows.find(key);
    std::vector<KeptRow> none;
    std::vector<KeptRow>& in_file = there == file_rows.end() ? none : there->second;
    // Rows equal on both sides pair off; what is left differs.
    for (auto it = rows.begin(); it != rows.end();) {
      auto same = std::find_if(in_file.begin(), in_file.end(),
                               [&](const KeptRow& f) { return f.hashes == it->hashes; });
      if (same == in_file.end()) {
        ++it;
        continue;
      }
      in_file.erase(same);
      it = rows.erase(it);
    }
    std::size_t i = 0;
    for (; i < rows.size() && i < in_file.size(); ++i) {
      for (std::size_t c = 0; c < width; ++c) {
        if (rows[i].hashes[c] == in_file[i].hashes[c]) continue;
        example(fmt::format("row {}: column `{}` is {} on the server, {} in the file", key,
                            info.columns[c].name, rows[i].shown[c], in_file[i].shown[c]));
      }
    }
    for (std::size_t j = i; j < rows.size(); ++j)
      example("row " + key + " is missing from the file");
    in_file.erase(in_file.begin(), in_file.begin() + static_cast<std::ptrdiff_t>(i));
  }
  for (const auto& [key, rows] : file_rows) {
    for (std::size_t j = 0; j < rows.size(); ++j)
      example("row " + key + " is in the file, not on the server");
  }
  return v;
}

namespace {

// Counts the rows of a query in the file by their spelling, as they come.
class FileRowCounter : public jet::sql::RowSink {
 public:
  FileRowCounter(std::unordered_map<std::string, int64_t>* balance, uint64_t* rows)
      : balance_(balance), rows_(rows) {}
  Status Columns(const std::vector<jet::sql::ResultColumn>& columns) override {
    width_ = columns.size();
    return Status::Ok();
  }
  Status Row(std::vector<jet::Value> row) override {
    cells_.clear();
    for (const jet::Value& value : row) cells_.push_back(FileCell(value));
    --(*balance_)[RowText(cells_)];
    ++*rows_;
    return Status::Ok();
  }
  std::size_t width() const { return width_; }

 private:
  std::unordered_map<std::string, int64_t>* balance_;
  uint64_t* rows_;
  std::size_t width_ = 0;
  std::vector<std::string> cells_;
};

}  // namespace

TableVerification VerifyQueryRows(Session* source, jet::Database& target,
                                  const std::string& database, const std::string& view,
                                  const std::string& access_query, quick_check::SumsAhead* ahead) {
  TableVerification v;
  auto name = QuoteJetName(access_query);
  if (!name.ok()) {
    v.status = name.status();
    return v;
  }
  // A view whose rows depend on the moment it runs (NOW(), RAND() ...)
  // cannot be compared with a query run another moment.
  auto definition = source->OpenQuery(
      "select lower(VIEW_DEFINITION) from information_schema.VIEWS where TABLE_SCHEMA = " +
      source->QuoteString(database) + " and TABLE_NAME = " + source->QuoteString(view));
  // Without the definition (no privilege on it, a failed read) the rows are
  // compared all the same: its status only decides whether to look for a moment.
  Result<bool> has_definition = false;
  if (definition.ok()) has_definition = (*definition)->MoveNext();
  if (has_definition.ok() && *has_definition && !(*definition)->IsNull(0)) {
    static const char* const kMoments[] = {
        "now(",           "sysdate(",       "curdate(",  "curtime(",        "current_timestamp",
        "current_date",   "current_time",   "localtime", "unix_timestamp(", "utc_timestamp(",
        "utc_date(",      "utc_time(",      "rand(",     "uuid(",           "uuid_short(",
        "connection_id(", "last_insert_id("};
    const std::string& text = (*definition)->Value(0);
    for (const char* moment : kMoments) {
      if (text.find(moment) == std::string::npos) continue;
      v.status = Status::NotSupported(
          fmt::format("the view's rows depend on the moment it runs (it calls {})",
                      std::string_view(moment).substr(0, std::strcspn(moment, "("))));
      return v;
    }
  }
  const std::string from = QuoteIdentifier(database) + "." + QuoteIdentifier(view);
  // Runs the query in the file, handing its rows to `sink` as they come.
  auto run_query = [&](jet::sql::RowSink* sink) -> Status {
    jet::sql::Executor executor(&target);
    VELQUIN_ASSIGN_OR_RETURN(jet::sql::Statement st,
                             jet::sql::ParseStatement("SELECT * FROM " + *name));
    const auto* select = std::get_if<jet::sql::Select>(&st);
    if (!select) return Status::InvalidArgument("not a SELECT");
    Status ran = executor.Stream(*select, sink);
    if (ran.ok()) return ran;
    return Status::NotSupported("the query does not run in the file: " + ran.message());
  };
  // The engine runs the query while the server sums the view's rows; equal
  // counts and sums end the comparison without a row crossing the connection.
  const std::vector<SummedColumn> summed = ViewColumns(source, database, view);
  if (!summed.empty()) {
    const std::string query = SumsQuery(summed, from, "");
    std::vector<Canon> canons;
    canons.reserve(summed.size());
    for (const SummedColumn& c : summed) canons.push_back(c.canon);
    FileRowSummer file(std::move(canons));
    Status ran;
    std::thread runner([&] { ran = run_query(&file); });
    const std::optional<QuickSums> server = ServerSums(source, query, ahead);
    runner.join();
    if (!ran.ok()) {
      v.status = ran;
      return v;
    }
    if (server && file.Equals(*server)) {
      v.source_rows = v.target_rows = server->rows;
      v.by_checksum = true;
      return v;
    }
  }
  // Row by row: the rows counted by their spelling, -1 a file row, +1 a
  // server row. The query's rows are counted as it gives them, none is held.
  std::unordered_map<std::string, int64_t> balance;
  FileRowCounter in_file(&balance, &v.target_rows);
  if (Status ran = run_query(&in_file); !ran.ok()) {
    v.status = ran;
    return v;
  }
  auto cursor = source->OpenQuery("select * from " + from);
  if (!cursor.ok()) {
    v.status = cursor.status();
    return v;
  }
  const std::size_t width = (*cursor)->Columns().size();
  if (width != in_file.width()) {
    v.differing_columns.push_back(
        fmt::format("{} columns on the server, {} in the query", width, in_file.width()));
  }
  std::vector<std::string> cells;
  for (;;) {
    auto more = (*cursor)->MoveNext();
    if (!more.ok()) {
      v.status = more.status();
      return v;
    }
    if (!*more) break;
    cells.clear();
    for (std::size_t i = 0; i < width; ++i) cells.push_back(ServerCell(**cursor, i));
    ++balance[RowText(cells)];
    ++v.source_rows;
  }
  // The rows on one side only, in a stable order for the examples.
  std::map<std::string, int64_t> unmatched;
  for (const auto& [row, count] : balance) {
    if (count != 0) unmatched.emplace(row, count);
  }
  for (const auto& [row, count] : unmatched) {
    if (v.examples.size() >= kExamples) break;
    const uint64_t times = static_cast<uint64_t>(count > 0 ? count : -count);
    const std::string more_times = times > 1 ? fmt::format(" ({} times)", times) : "";
    v.examples.push_back(
        count > 0
            ? "row " + ShownRow(row) + more_times + " is on the server, not in the query's rows"
            : "row " + ShownRow(row) + more_times + " is in the query's rows, not on the server");
  }
  return v;
}

std::string VerificationText(const TableVerification& v) {
  if (!v.status.ok()) return "not verified: " + v.status.message();
  std::string held =
      v.not_held ? fmt::format(" ({} rows Access cannot hold were not compared)", v.not_held) : "";
  if (v.equal()) {
    return fmt::format("equal: {} rows{}{}", v.target_rows, held,
                       v.by_checksum ? " (by the server's checksum)" : "");
  }
  std::string out = fmt::format("differs: {} rows on the server, {} in the file{}", v.source_rows,
                                v.target_rows, held);
  if (!v.differing_columns.empty()) {
    out += "; columns differing:";
    for (std::size_t i = 0; i < v.differing_columns.size(); ++i) {
      out += (i ? ", `" : " `") + v.differing_columns[i] + "`";
    }
  }
  for (const std::string& e : v.examples) out += "; " + e;
  return out;
}

}  // namespace velquin
