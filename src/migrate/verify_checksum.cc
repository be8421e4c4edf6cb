// The quick comparison of a table or a view (see verify_checksum.h).
#include "migrate/verify_checksum.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <set>
#include <thread>

#include "db/sql_quote.h"
#include "jet/database.h"

namespace velquin::quick_check {
namespace {
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

// The slicing tables of the CRC: t[k][b] is the CRC of byte b followed by
// k zero bytes, so eight bytes take one step of eight lookups.
using CrcTables = std::array<std::array<uint32_t, 256>, 8>;

constexpr CrcTables MakeCrcTables() {
  CrcTables t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    t[0][i] = c;
  }
  for (uint32_t i = 0; i < 256; ++i) {
    for (std::size_t k = 1; k < t.size(); ++k)
      t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
  }
  return t;
}

constexpr CrcTables kCrcTables = MakeCrcTables();

// One row's text, written into a buffer that grows to the longest row and
// is kept from row to row: no allocation per row or value.
class RowText {
 public:
  explicit RowText(std::string* buffer) : buffer_(buffer) {}
  // Room for `n` more bytes; Advance says how many were written.
  char* Room(std::size_t n) {
    if (size_ + n > buffer_->size()) buffer_->resize(std::max(2 * buffer_->size(), size_ + n + 64));
    return buffer_->data() + size_;
  }
  void Advance(std::size_t n) { size_ += n; }
  void Put(char c) { *Room(1) = c, ++size_; }
  void Put(std::string_view bytes) {
    std::memcpy(Room(bytes.size()), bytes.data(), bytes.size());
    size_ += bytes.size();
  }
  std::string_view view() const { return {buffer_->data(), size_}; }

 private:
  std::string* buffer_;
  std::size_t size_ = 0;
};

// Writes `digits` decimal digits of `value` (zero-padded) at `at`.
char* PutDigits(char* at, int value, int digits) {
  for (int i = digits - 1; i >= 0; --i, value /= 10) at[i] = static_cast<char>('0' + value % 10);
  return at + digits;
}

// Writes "YYYY-MM-DD", with " hh:mm:ss" for a datetime column or a time of
// day, and ".mmm" for milliseconds: the server's text of the value.
void PutDate(const jet::DateTime& d, bool datetime_column, RowText* out) {
  // Most values are whole days, and a column repeats its days: their
  // "YYYY-MM-DD" is kept in a small table by the day's number.
  struct Day {
    std::int32_t number = std::numeric_limits<std::int32_t>::min();  // none yet
    std::array<char, 12> text{};
  };
  thread_local std::array<Day, 8192> days;
  constexpr double kFirstDay = -657434;  // 0100-01-01
  constexpr double kLastDay = 2958465;   // 9999-12-31
  if (d.days >= kFirstDay && d.days <= kLastDay && d.days == std::trunc(d.days)) {
    const auto number = static_cast<std::int32_t>(d.days);
    Day& day = days[static_cast<std::uint32_t>(number) & (days.size() - 1)];
    if (day.number != number) {
      const auto p = d.ToParts();
      char* at = PutDigits(day.text.data(), p.year, 4);
      *at++ = '-';
      at = PutDigits(at, p.month, 2);
      *at++ = '-';
      PutDigits(at, p.day, 2);
      day.number = number;
    }
    constexpr std::size_t kDate = 10;  // "YYYY-MM-DD"
    constexpr std::string_view kMidnight = " 00:00:00";
    char* const at = out->Room(day.text.size() + kMidnight.size());
    std::memcpy(at, day.text.data(), day.text.size());  // the whole slot: a fixed-size copy
    if (datetime_column) kMidnight.copy(at + kDate, kMidnight.size());
    out->Advance(datetime_column ? kDate + kMidnight.size() : kDate);
    return;
  }
  const auto p = d.ToParts();
  const bool with_time = datetime_column || p.hour || p.minute || p.second;
  char* const begin = out->Room(24);
  char* at = PutDigits(begin, p.year, 4);
  *at++ = '-';
  at = PutDigits(at, p.month, 2);
  *at++ = '-';
  at = PutDigits(at, p.day, 2);
  if (with_time) {
    *at++ = ' ';
    at = PutDigits(at, p.hour, 2);
    *at++ = ':';
    at = PutDigits(at, p.minute, 2);
    *at++ = ':';
    at = PutDigits(at, p.second, 2);
  }
  if (p.millisecond) {
    *at++ = '.';
    at = PutDigits(at, p.millisecond, 3);
  }
  out->Advance(static_cast<std::size_t>(at - begin));
}

// Writes the text the server's CONCAT_WS gives for `v`.
void PutCanonical(const jet::Value& v, Canon canon, RowText* out) {
  if (v.is_null()) {
    out->Put(kNullMark);
    return;
  }
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
      constexpr std::size_t kDigits = 20;  // the longest int64, with its sign
      char* const at = out->Room(kDigits);
      out->Advance(static_cast<std::size_t>(std::to_chars(at, at + kDigits, i).ptr - at));
      return;
    }
    case Canon::kText:
      if (v.kind() != jet::ValueKind::kText) break;
      out->Put(v.text_value());
      return;
    case Canon::kDate:
    case Canon::kDateTime: {
      if (v.kind() != jet::ValueKind::kDateTime) break;
      PutDate(v.datetime_value(), canon == Canon::kDateTime, out);
      return;
    }
  }
  // A value of another kind than the column's: its own text, which the
  // server's cannot equal, sends the table to the row-by-row comparison.
  out->Put('\x01');
  out->Put(v.ToString());
}

// Adds one file row to `sums`; false when the row has another width.
bool AddRowSum(const std::vector<jet::Value>& row, const std::vector<Canon>& canons,
               std::string* buffer, QuickSums* sums) {
  if (row.size() != canons.size()) return false;
  RowText text(buffer);
  for (std::size_t i = 0; i < row.size(); ++i) {
    if (i) text.Put(kSeparator);
    PutCanonical(row[i], canons[i], &text);
  }
  ++sums->rows;
  sums->sum += Crc32(text.view());
  return true;
}

Result<QuickSums> FileSums(jet::Database& target, const std::string& table,
                           const std::vector<Canon>& canons) {
  VELQUIN_ASSIGN_OR_RETURN(auto cursor, target.Scan(table));
  // One row's values, decoded in place row after row (no row is rebuilt).
  const std::size_t width = cursor->table().columns.size();
  std::vector<jet::Value> row(width);
  const std::vector<bool> wanted(width, true);
  std::string text;
  QuickSums sums;
  for (;;) {
    VELQUIN_ASSIGN_OR_RETURN(bool more, cursor->NextInto(row.data(), wanted));
    if (!more) return sums;
    if (!AddRowSum(row, canons, &text, &sums)) {
      return Status::Corruption("a row of the file has another number of columns");
    }
  }
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

}  // namespace

uint32_t Crc32(std::string_view bytes) {
  const CrcTables& t = kCrcTables;
  uint32_t c = 0xFFFFFFFFu;
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t n = bytes.size();
  for (; n >= 8; n -= 8, p += 8) {
    const uint32_t lo =
        c ^ (uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24);
    const uint32_t hi =
        uint32_t{p[4]} | uint32_t{p[5]} << 8 | uint32_t{p[6]} << 16 | uint32_t{p[7]} << 24;
    c = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
        t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
  }
  for (; n; --n, ++p) c = t[0][(c ^ *p) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

std::string SumsQuery(const std::vector<SummedColumn>& columns, const std::string& from,
                      const std::string& condition) {
  if (columns.empty()) return "";
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
  return sql;
}

std::string TableSumsQuery(const CopyRowsOptions& how) {
  std::vector<SummedColumn> columns;
  columns.reserve(how.columns.size());
  for (const ColumnPlan& c : how.columns) {
    auto canon = CanonOf(c);
    if (!canon) return "";
    columns.push_back({c.name, *canon});
  }
  std::string from;
  if (!how.database.empty()) from = QuoteIdentifier(how.database) + ".";
  from += QuoteIdentifier(how.table);
  return SumsQuery(columns, from, how.condition);
}

// The server's count and sum of a SumsQuery; nullopt when the query fails
// (the row-by-row comparison then runs and reports what is wrong).
std::optional<QuickSums> RunSumsQuery(Session* source, const std::string& query) {
  auto cursor = source->OpenQuery(query);
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

SumsAhead::SumsAhead(Session* session, std::vector<std::string> queries)
    : queries_(std::move(queries)), results_(queries_.size()) {
  worker_ = std::thread([this, session] {
    for (std::size_t i = 0; i < queries_.size(); ++i) {
      {
        std::lock_guard<std::mutex> lock(mu_);
        if (stopping_) return;
      }
      std::optional<QuickSums> sums;
      if (!queries_[i].empty()) sums = RunSumsQuery(session, queries_[i]);
      std::lock_guard<std::mutex> lock(mu_);
      results_[i] = sums;
      done_ = i + 1;
      ready_.notify_all();
    }
  });
}

SumsAhead::~SumsAhead() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stopping_ = true;
  }
  worker_.join();
}

bool SumsAhead::Take(const std::string& query, std::optional<QuickSums>* sums) {
  std::unique_lock<std::mutex> lock(mu_);
  // The first query not taken yet that is this one: the objects come in
  // the order they were queued, and a query may recur.
  for (std::size_t i = 0; i < queries_.size(); ++i) {
    if (taken_.count(i) || queries_[i] != query) continue;
    ready_.wait(lock, [&] { return done_ > i; });
    taken_.insert(i);
    *sums = results_[i];
    return true;
  }
  return false;
}

std::optional<QuickSums> ServerSums(Session* source, const std::string& query, SumsAhead* ahead) {
  if (query.empty()) return std::nullopt;
  std::optional<QuickSums> sums;
  if (ahead != nullptr && ahead->Take(query, &sums)) return sums;
  return RunSumsQuery(source, query);
}

// True when both sides' sums agree.
bool QuicklyEqual(Session* source, jet::Database& target, const jet::TableInfo& info,
                  const CopyRowsOptions& how, SumsAhead* ahead, uint64_t* rows) {
  if (how.columns.size() != info.columns.size()) return false;
  const std::string query = TableSumsQuery(how);
  if (query.empty()) return false;
  std::vector<Canon> canons;
  canons.reserve(how.columns.size());
  for (const ColumnPlan& c : how.columns) canons.push_back(*CanonOf(c));
  Result<QuickSums> file = QuickSums{};
  std::thread file_reader([&] { file = FileSums(target, how.access_table, canons); });
  const std::optional<QuickSums> server = ServerSums(source, query, ahead);
  file_reader.join();
  // A side that cannot be read leaves the answer to the row-by-row
  // comparison, which reads it again and reports the failure with its status.
  if (!server || !file.ok()) return false;
  if (server->rows != file->rows || server->sum != file->sum) return false;
  *rows = server->rows;
  return true;
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

std::string ViewSumsQuery(Session* source, const std::string& database, const std::string& view) {
  return SumsQuery(ViewColumns(source, database, view),
                   QuoteIdentifier(database) + "." + QuoteIdentifier(view), "");
}

FileRowSummer::FileRowSummer(std::vector<Canon> canons) : canons_(std::move(canons)) {}

Status FileRowSummer::Columns(const std::vector<jet::sql::ResultColumn>& columns) {
  fits_ = columns.size() == canons_.size();
  return Status::Ok();
}

Status FileRowSummer::Row(std::vector<jet::Value> row) {
  fits_ = fits_ && AddRowSum(row, canons_, &text_, &sums_);
  return Status::Ok();
}

bool FileRowSummer::Equals(const QuickSums& server) const {
  return fits_ && sums_.rows == server.rows && sums_.sum == server.sum;
}

}  // namespace velquin::quick_check
