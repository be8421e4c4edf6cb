// The quick comparison of a table or a view (see verify_checksum.h).
#include "migrate/verify_checksum.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
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
  const uint64_t hash = (bits ^ (datetime_column ? 1 : 0)) * 0x9e3779b97f4a7c15ull;
  Slot& slot = slots[(hash >> 52) & (slots.size() - 1)];
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
