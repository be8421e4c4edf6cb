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

namespace velquin {
namespace {

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

// The quick comparison. When every column's value as the file holds it has
// one text the server can compute too, the server sums a CRC-32 of each
// row's texts (SUM(CRC32(CONCAT_WS(...))), order-independent) and the file
// side sums the same over its rows: equal counts and sums mean equal tables
// without a single row crossing the connection. Anything else (a column of
// another kind, a transformed value such as a zero date, a refused row, an
// SQL error) makes the sums differ or the query fail, and the row-by-row
// comparison below decides and names the differences.
enum class Canon { kInteger, kText, kDate, kDateTime };

std::optional<Canon> CanonOf(const ColumnPlan& c) {
  const std::string& d = c.declared;
  const std::string base = d.substr(0, d.find_first_of("( "));
  if (d.find("zerofill") != std::string::npos) return std::nullopt;
  switch (c.type) {
    case AccessType::kByte:
    case AccessType::kShort:
    case AccessType::kLong:
    case AccessType::kCounter:
      if (c.transform == ValueTransform::kAsIs &&
          (base == "tinyint" || base == "smallint" || base == "mediumint" || base == "int" ||
           base == "integer" || base == "bigint")) {
        return Canon::kInteger;
      }
      return std::nullopt;
    case AccessType::kText:
    case AccessType::kMemo:
      if (c.transform == ValueTransform::kAsIs &&
          (base == "char" || base == "varchar" || base == "tinytext" || base == "text" ||
           base == "mediumtext" || base == "longtext" || base == "enum" || base == "set")) {
        return Canon::kText;
      }
      return std::nullopt;
    case AccessType::kDateTime:
      if (c.transform == ValueTransform::kDate && base == "date") return Canon::kDate;
      // Whole seconds only: the server's text of a datetime(n) has n digits.
      if (c.transform == ValueTransform::kDateTime && (d == "datetime" || d == "timestamp")) {
        return Canon::kDateTime;
      }
      return std::nullopt;
    default:
      return std::nullopt;
  }
}

// CRC-32 as MySQL's CRC32() computes it (the IEEE polynomial, reflected).
// Four bytes a step (the "slicing" tables: t[k][b] is the CRC of byte b
// followed by k zero bytes).
class Crc32 {
 public:
  Crc32() {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t_[0][i] = c;
    }
    for (uint32_t i = 0; i < 256; ++i) {
      for (int k = 1; k < 4; ++k) t_[k][i] = (t_[k - 1][i] >> 8) ^ t_[0][t_[k - 1][i] & 0xFF];
    }
  }
  uint32_t operator()(std::string_view bytes) const {
    uint32_t c = 0xFFFFFFFFu;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t n = bytes.size();
    for (; n >= 4; n -= 4, p += 4) {
      c ^= uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
      c = t_[3][c & 0xFF] ^ t_[2][(c >> 8) & 0xFF] ^ t_[1][(c >> 16) & 0xFF] ^ t_[0][c >> 24];
    }
    for (; n; --n, ++p) c = t_[0][(c ^ *p) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
  }

 private:
  std::array<std::array<uint32_t, 256>, 4> t_;
};

constexpr char kNullMark = '\xff';  // stands for NULL on both sides (never in UTF-8 text)
constexpr char kSeparator = '\x1f';

// Appends "YYYY-MM-DD", with " hh:mm:ss" for a datetime column or a time
// of day, and ".mmm" for milliseconds: the server's text of the value.
// Columns repeat their dates, so the texts are kept in a small table by
// the value's bits.
void AppendDateText(const jet::DateTime& d, bool datetime_column, std::string* out) {
  struct Slot {
    uint64_t bits = 0;
    bool datetime_column = false;
    uint8_t size = 0;  // 0: empty
    std::array<char, 24> text{};
  };
  thread_local std::array<Slot, 4096> slots;
  uint64_t bits = 0;
  std::memcpy(&bits, &d.days, sizeof bits);
  Slot& slot = slots[Mix(bits ^ (datetime_column ? 1 : 0)) & (slots.size() - 1)];
  if (slot.size && slot.bits == bits && slot.datetime_column == datetime_column) {
    out->append(slot.text.data(), slot.size);
    return;
  }
  const auto p = d.ToParts();
  const bool with_time = datetime_column || p.hour || p.minute || p.second;
  char* at = slot.text.data();
  auto put = [&](int value, int digits, char before) {
    if (before) *at++ = before;
    for (int i = digits - 1; i >= 0; --i, value /= 10) at[i] = static_cast<char>('0' + value % 10);
    at += digits;
  };
  put(p.year, 4, 0);
  put(p.month, 2, '-');
  put(p.day, 2, '-');
  if (with_time) {
    put(p.hour, 2, ' ');
    put(p.minute, 2, ':');
    put(p.second, 2, ':');
  }
  if (p.millisecond) put(p.millisecond, 3, '.');
  slot.bits = bits;
  slot.datetime_column = datetime_column;
  slot.size = static_cast<uint8_t>(at - slot.text.data());
  out->append(slot.text.data(), slot.size);
}

// Appends the text the server's CONCAT_WS gives for `v`.
void AppendCanonical(const jet::Value& v, Canon canon, std::string* out) {
  if (v.is_null()) {
    out->push_back(kNullMark);
    return;
  }
  char buf[32];
  switch (canon) {
    case Canon::kInteger: {
      std::int64_t i = 0;
      if (v.kind() == jet::ValueKind::kDouble) {
        // A computed column (a count, a sum) may come out of a query as a
        // Double; a whole number within 2^53 has the server's text.
        const double d = v.double_value();
        if (std::nearbyint(d) != d || std::fabs(d) > 9007199254740992.0) break;
        i = static_cast<std::int64_t>(d);
      } else if (v.kind() == jet::ValueKind::kBool || !v.AsInt64(&i)) {
        break;
      }
      out->append(buf, std::to_chars(buf, buf + sizeof buf, i).ptr);
      return;
    }
    case Canon::kText:
      if (v.kind() != jet::ValueKind::kText) break;
      out->append(v.text_value());
      return;
    case Canon::kDate:
    case Canon::kDateTime: {
      if (v.kind() != jet::ValueKind::kDateTime) break;
      AppendDateText(v.datetime_value(), canon == Canon::kDateTime, out);
      return;
    }
  }
  // A value of another kind than the column's: its own text, which the
  // server's cannot equal, sends the table to the row-by-row comparison.
  out->append("\x01" + v.ToString());
}

struct QuickSums {
  uint64_t rows = 0;
  uint64_t sum = 0;
};

// One column of the quick comparison: its name on the server and its text.
struct SummedColumn {
  std::string name;
  Canon canon;
};

// The server's count and sum over `from` (a quoted table or view, with an
// optional condition); nullopt when the query fails (the row-by-row
// comparison then runs and reports what is wrong).
std::optional<QuickSums> ServerSums(Session* source, const std::vector<SummedColumn>& columns,
                                    const std::string& from, const std::string& condition) {
  std::string list;
  for (const SummedColumn& c : columns) {
    // A number or a date is its text as it stands (ASCII, and half the
    // server's time of a cast); a text is made binary so the 0xff of NULL
    // need not be a character.
    if (c.canon == Canon::kText) {
      list += ",coalesce(cast(convert(";
      list += QuoteIdentifier(c.name);
      list += " using utf8mb4) as binary),0xff)";
    } else {
      list += ",coalesce(";
      list += QuoteIdentifier(c.name);
      list += ",0xff)";
    }
  }
  std::string sql = "select count(*), sum(crc32(concat_ws(0x1f" + list + "))) from " + from;
  if (!condition.empty()) sql += " where " + condition;
  auto cursor = source->OpenQuery(sql);
  if (!cursor.ok()) return std::nullopt;  // the row-by-row comparison reports what is wrong
  auto more = (*cursor)->MoveNext();
  if (!more.ok() || !*more) return std::nullopt;  // likewise
  QuickSums sums;
  auto number = [&](std::size_t i, uint64_t* out) {
    if ((*cursor)->IsNull(i)) return true;  // SUM over no rows
    const std::string& text = (*cursor)->Value(i);
    return std::from_chars(text.data(), text.data() + text.size(), *out).ec == std::errc();
  };
  if (!number(0, &sums.rows) || !number(1, &sums.sum)) return std::nullopt;
  return sums;
}

// Adds one file row to `sums`; false when the row has another width.
bool AddRowSum(const std::vector<jet::Value>& row, const std::vector<Canon>& canons,
               std::string* text, QuickSums* sums) {
  static const Crc32 kCrc;
  if (row.size() != canons.size()) return false;
  text->clear();
  for (std::size_t i = 0; i < row.size(); ++i) {
    if (i) text->push_back(kSeparator);
    AppendCanonical(row[i], canons[i], text);
  }
  ++sums->rows;
  sums->sum += kCrc(*text);
  return true;
}

Result<QuickSums> FileSums(jet::Database& target, const std::string& table,
                           const std::vector<Canon>& canons) {
  VELQUIN_ASSIGN_OR_RETURN(auto cursor, target.Scan(table));
  std::vector<jet::Value> row;
  std::string text;
  QuickSums sums;
  for (;;) {
    VELQUIN_ASSIGN_OR_RETURN(bool more, cursor->Next(&row));
    if (!more) return sums;
    if (!AddRowSum(row, canons, &text, &sums)) {
      return Status::Corruption("a row of the file has another number of columns");
    }
  }
}

// True when both sides' sums agree.
bool QuicklyEqual(Session* source, jet::Database& target, const jet::TableInfo& info,
                  const CopyRowsOptions& how, uint64_t* rows) {
  if (how.columns.size() != info.columns.size()) return false;
  std::vector<Canon> canons;
  std::vector<SummedColumn> columns;
  for (const ColumnPlan& c : how.columns) {
    auto canon = CanonOf(c);
    if (!canon) return false;
    canons.push_back(*canon);
    columns.push_back({c.name, *canon});
  }
  std::string from;
  if (!how.database.empty()) from = QuoteIdentifier(how.database) + ".";
  from += QuoteIdentifier(how.table);
  Result<QuickSums> file = QuickSums{};
  std::thread file_reader([&] { file = FileSums(target, how.access_table, canons); });
  const std::optional<QuickSums> server = ServerSums(source, columns, from, how.condition);
  file_reader.join();
  // A side that cannot be read leaves the answer to the row-by-row
  // comparison, which reads it again and reports the failure with its status.
  if (!server || !file.ok()) return false;
  if (server->rows != file->rows || server->sum != file->sum) return false;
  *rows = server->rows;
  return true;
}

// The text a view's column has in common with the file, from the column's
// type on the server (information_schema's DATA_TYPE and COLUMN_TYPE).
std::optional<Canon> ViewCanonOf(std::string_view data_type, std::string_view column_type) {
  if (column_type.find("zerofill") != std::string_view::npos) return std::nullopt;
  static const std::set<std::string_view> kIntegers = {"tinyint", "smallint", "mediumint", "int",
                                                       "bigint"};
  static const std::set<std::string_view> kTexts = {"char",       "varchar",  "tinytext", "text",
                                                    "mediumtext", "longtext", "enum",     "set"};
  if (kIntegers.count(data_type)) return Canon::kInteger;
  if (kTexts.count(data_type)) return Canon::kText;
  if (data_type == "date") return Canon::kDate;
  // Whole seconds only: the server's text of a datetime(n) has n digits.
  if (column_type == "datetime" || column_type == "timestamp") return Canon::kDateTime;
  return std::nullopt;
}

// The view's columns for the quick comparison; empty when one has no text
// in common with the file or the catalogue cannot be read.
std::vector<SummedColumn> ViewColumns(Session* source, const std::string& database,
                                      const std::string& view) {
  std::vector<SummedColumn> columns;
  auto cursor = source->OpenQuery(
      "select COLUMN_NAME, lower(DATA_TYPE), lower(COLUMN_TYPE) from information_schema.COLUMNS "
      "where TABLE_SCHEMA = " +
      source->QuoteString(database) + " and TABLE_NAME = " + source->QuoteString(view) +
      " order by ORDINAL_POSITION");
  if (!cursor.ok()) return {};  // the row-by-row comparison needs no catalogue
  for (;;) {
    auto more = (*cursor)->MoveNext();
    if (!more.ok()) return {};  // likewise
    if (!*more) return columns;
    auto canon = ViewCanonOf((*cursor)->Value(1), (*cursor)->Value(2));
    if (!canon) return {};
    columns.push_back({(*cursor)->Value(0), *canon});
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
                                  const CopyRowsOptions& how) {
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
  if (!stopping && QuicklyEqual(source, target, info, how, &rows)) {
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

// Sums the CRC-32 of a query's rows in the file as they come, as the
// server sums the view's.
class FileRowSummer : public jet::sql::RowSink {
 public:
  explicit FileRowSummer(std::vector<Canon> canons) : canons_(std::move(canons)) {}
  Status Columns(const std::vector<jet::sql::ResultColumn>& columns) override {
    fits_ = columns.size() == canons_.size();
    return Status::Ok();
  }
  Status Row(std::vector<jet::Value> row) override {
    fits_ = fits_ && AddRowSum(row, canons_, &text_, &sums_);
    return Status::Ok();
  }
  // True when every row had the view's columns and the sums equal `server`.
  bool Equals(const QuickSums& server) const {
    return fits_ && sums_.rows == server.rows && sums_.sum == server.sum;
  }

 private:
  std::vector<Canon> canons_;
  QuickSums sums_;
  std::string text_;
  bool fits_ = true;
};

}  // namespace

TableVerification VerifyQueryRows(Session* source, jet::Database& target,
                                  const std::string& database, const std::string& view,
                                  const std::string& access_query) {
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
    std::vector<Canon> canons;
    canons.reserve(summed.size());
    for (const SummedColumn& c : summed) canons.push_back(c.canon);
    FileRowSummer file(std::move(canons));
    Status ran;
    std::thread runner([&] { ran = run_query(&file); });
    const std::optional<QuickSums> server = ServerSums(source, summed, from, "");
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
