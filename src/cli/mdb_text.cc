#include "cli/mdb_text.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "base/text.h"
#include "base/unicode.h"
#include "jet/sql/default_value.h"
#include "jet/table/text_codec.h"

namespace velquin::cli {
namespace {

using jet::ColumnInfo;
using jet::ColumnType;
using jet::Value;

// Abbreviated field text for messages.
std::string Shown(std::string_view s) {
  if (s.size() <= 40) return "\"" + std::string(s) + "\"";
  return "\"" + std::string(s.substr(0, 37)) + "...\"";
}

Status Refuse(const ColumnInfo& c, std::string_view text, const std::string& why) {
  return Status::InvalidArgument("column \"" + c.name + "\": " + Shown(text) + " " + why);
}

Result<std::int64_t> ParseInteger(const ColumnInfo& c, std::string_view text, std::int64_t lo,
                                  std::int64_t hi) {
  std::string_view s = Trim(text, " \t");
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  std::int64_t v = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (s.empty() || end != s.data() + s.size() ||
      (ec != std::errc() && ec != std::errc::result_out_of_range)) {
    return Refuse(c, text, "is not a whole number");
  }
  if (ec == std::errc::result_out_of_range || v < lo || v > hi) {
    return Refuse(c, text, "is out of range " + std::to_string(lo) + ".." + std::to_string(hi));
  }
  return v;
}

Result<double> ParseReal(const ColumnInfo& c, std::string_view text) {
  std::string s(Trim(text, " \t"));
  if (s.empty()) return Refuse(c, text, "is not a number");
  errno = 0;
  char* end = nullptr;
  double v = std::strtod(s.c_str(), &end);
  if (end != s.c_str() + s.size()) return Refuse(c, text, "is not a number");
  if (!std::isfinite(v) || errno == ERANGE) {
    // Underflow to zero is fine; overflow and NaN are not.
    if (!std::isfinite(v) || std::fabs(v) > 1) return Refuse(c, text, "is out of range");
  }
  return v;
}

bool ParseHex(std::string_view s, std::vector<std::uint8_t>* out) {
  if (s.size() % 2) return false;
  out->clear();
  out->reserve(s.size() / 2);
  for (std::size_t i = 0; i < s.size(); i += 2) {
    int a = HexDigit(s[i]), b = HexDigit(s[i + 1]);
    if (a < 0 || b < 0) return false;
    out->push_back(static_cast<std::uint8_t>(a * 16 + b));
  }
  return true;
}

Result<Value> ConvertBinary(const ColumnInfo& c, const std::string& text, bool tsv) {
  std::vector<std::uint8_t> bytes;
  std::string_view s = text;
  bool prefixed = s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
  if (tsv && !prefixed) {
    bytes.assign(text.begin(), text.end());
  } else {
    if (prefixed) s.remove_prefix(2);
    if (!ParseHex(s, &bytes)) {
      if (tsv) {
        bytes.assign(text.begin(), text.end());  // raw bytes that begin with "0x"
      } else {
        return Refuse(c, text, "is not hexadecimal binary data");
      }
    }
  }
  if (c.type == ColumnType::kBinary) {
    std::size_t limit = c.size ? c.size : 255;
    if (bytes.size() > limit) {
      return Refuse(c, text,
                    "is " + std::to_string(bytes.size()) + " bytes, more than the column's " +
                        std::to_string(limit));
    }
  }
  return Value::Binary(std::move(bytes));
}

Result<Value> ConvertDecimal(const ColumnInfo& c, std::string_view text) {
  std::string_view s = Trim(text, " \t");
  auto d = jet::Decimal::Parse(s, c.scale);
  if (!d.ok()) return Refuse(c, text, "is not a decimal number");
  // Digits before the point may not exceed precision - scale.
  std::string shown = d->ToString();
  std::size_t start = shown[0] == '-' ? 1 : 0;
  std::size_t point = shown.find('.');
  std::string_view whole = std::string_view(shown).substr(
      start, point == std::string::npos ? std::string::npos : point - start);
  while (whole.size() > 1 && whole.front() == '0') whole.remove_prefix(1);
  std::size_t int_digits = whole == "0" ? 0 : whole.size();
  std::size_t precision = c.precision ? c.precision : 18;
  if (int_digits + c.scale > precision) {
    return Refuse(
        c, text,
        "does not fit DECIMAL(" + std::to_string(precision) + "," + std::to_string(c.scale) + ")");
  }
  return Value::Numeric(*d);
}

void AppendUpperHex(const std::vector<std::uint8_t>& b, std::string* out) {
  static const char* kHex = "0123456789ABCDEF";
  out->reserve(out->size() + b.size() * 2);
  for (auto x : b) {
    out->push_back(kHex[x >> 4]);
    out->push_back(kHex[x & 15]);
  }
}

std::string Bracketed(const std::string& name) { return "[" + name + "]"; }

}  // namespace

// ---------------------------------------------------------------------------
// RecordReader

bool RecordReader::Refill() {
  if (!in_) return false;
  if (buf_.empty()) buf_.resize(1 << 16);
  std::size_t n = std::fread(buf_.data(), 1, buf_.size(), in_);
  data_ = buf_.data();
  pos_ = 0;
  len_ = n;
  return n > 0;
}

int RecordReader::Get() {
  if (pushed_ != -2) {
    int c = pushed_;
    pushed_ = -2;
    return c;
  }
  if (pos_ >= len_ && !Refill()) return EOF;
  return static_cast<unsigned char>(data_[pos_++]);
}

void RecordReader::Unget(int c) { pushed_ = c; }

Result<bool> RecordReader::Next(Record* record) {
  if (line_ == 1 && !bom_checked_) {
    // A UTF-8 byte order mark (as spreadsheet programs write) is not data.
    bom_checked_ = true;
    int a = Get();
    if (a == 0xEF) {
      int b = Get();
      int c = b == 0xBB ? Get() : EOF;
      if (b != 0xBB || c != 0xBF) {
        return Status::InvalidArgument("line 1: the file starts with a broken byte order mark");
      }
    } else {
      Unget(a);
    }
  }
  return format_ == TextFormat::kCsv ? NextCsv(record) : NextTsv(record);
}

Result<bool> RecordReader::NextCsv(Record* record) {
  record->fields.clear();
  record->line = line_;
  int c = Get();
  if (c == EOF) return false;
  // Skips the rest of a malformed record (up to the next line break).
  auto skip_line = [&](int ch, const std::string& why) -> Status {
    while (ch != EOF && ch != '\n') ch = Get();
    if (ch == '\n') ++line_;
    return Status::InvalidArgument("line " + std::to_string(record->line) + ": " + why);
  };
  for (;;) {
    std::string field;
    bool quoted = false;
    if (c == '"') {
      quoted = true;
      for (;;) {
        c = Get();
        if (c == EOF) {
          // The input ends inside the field: it is cut short, not merely malformed.
          return Status::Corruption("line " + std::to_string(record->line) +
                                    ": a quoted field is not closed");
        }
        if (c == '"') {
          int n = Get();
          if (n == '"') {
            field.push_back('"');
            continue;
          }
          c = n;
          break;
        }
        if (c == '\n') ++line_;
        field.push_back(static_cast<char>(c));
      }
      if (c != ',' && c != '\n' && c != '\r' && c != EOF) {
        return skip_line(c, "text after a closing quote");
      }
    } else {
      while (c != ',' && c != '\n' && c != '\r' && c != EOF) {
        if (c == '"') return skip_line(c, "a quote inside an unquoted field");
        field.push_back(static_cast<char>(c));
        c = Get();
      }
    }
    if (quoted || !field.empty()) {
      record->fields.emplace_back(std::move(field));
    } else {
      record->fields.emplace_back(std::nullopt);
    }
    if (c == ',') {
      c = Get();
      continue;
    }
    if (c == '\r') {
      int n = Get();
      if (n != '\n') Unget(n);
      c = '\n';
    }
    if (c == '\n') ++line_;
    return true;
  }
}

Result<bool> RecordReader::NextTsv(Record* record) {
  // Fields keep their storage from record to record.
  auto& fields = record->fields;
  std::size_t count = 0;
  record->line = line_;
  int c = Get();
  if (c == EOF) {
    fields.clear();
    return false;
  }
  auto next_field = [&]() -> std::string& {
    if (count == fields.size()) fields.emplace_back();
    Field& f = fields[count++];
    if (!f) f.emplace();
    f->clear();
    return *f;
  };
  std::string* field = &next_field();
  bool only_null_mark = false;  // the raw field so far is exactly \N
  std::size_t raw = 0;
  auto end_field = [&]() {
    if (only_null_mark) fields[count - 1].reset();
    only_null_mark = false;
    raw = 0;
  };
  auto end_record = [&]() {
    end_field();
    fields.resize(count);
    ++line_;
  };
  for (;; c = Get()) {
    if (c == EOF || c == '\n') {
      end_record();
      return true;
    }
    if (c == '\r') {
      int n = Get();
      if (n == '\n' || n == EOF) {
        end_record();
        return true;
      }
      Unget(n);
    }
    if (c == '\t') {
      end_field();
      field = &next_field();
      continue;
    }
    if (c == '\\') {
      int n = Get();
      bool was_start = raw == 0;
      raw += 2;
      only_null_mark = was_start && n == 'N';
      switch (n) {
        case '0':
          field->push_back('\0');
          break;
        case 'b':
          field->push_back('\b');
          break;
        case 'n':
          field->push_back('\n');
          break;
        case 'r':
          field->push_back('\r');
          break;
        case 't':
          field->push_back('\t');
          break;
        case 'Z':
          field->push_back('\x1A');
          break;
        case EOF:
          field->push_back('\\');
          Unget(EOF);
          break;
        case '\n':
          field->push_back('\n');
          ++line_;
          break;  // an escaped line break
        default:
          field->push_back(static_cast<char>(n));
          break;
      }
      continue;
    }
    only_null_mark = false;
    ++raw;
    field->push_back(static_cast<char>(c));
    // The plain characters that follow in the buffer, in one go.
    if (pushed_ == -2) {
      std::size_t end = pos_;
      while (end < len_) {
        char ch = data_[end];
        if (ch == '\t' || ch == '\n' || ch == '\r' || ch == '\\') break;
        ++end;
      }
      field->append(data_ + pos_, end - pos_);
      raw += end - pos_;
      pos_ = end;
    }
  }
}

// ---------------------------------------------------------------------------
// Conversion

Result<Value> ConvertField(const ColumnInfo& c, const Field& field, bool tsv) {
  if (!field) return Value();
  const std::string& text = *field;
  bool textual = c.type == ColumnType::kText || c.type == ColumnType::kMemo ||
                 c.type == ColumnType::kBinary || c.type == ColumnType::kOle;
  // An empty field cannot be a number, date or GUID: it stands for NULL.
  if (!textual && Trim(text, " \t").empty()) return Value();
  switch (c.type) {
    case ColumnType::kBool: {
      std::string s = AsciiLower(Trim(text, " \t"));
      if (s == "1" || s == "-1" || s == "true" || s == "yes" || s == "on" || s == "t" || s == "y") {
        return Value::Bool(true);
      }
      if (s == "0" || s == "false" || s == "no" || s == "off" || s == "f" || s == "n") {
        return Value::Bool(false);
      }
      return Refuse(c, text, "is not a Yes/No value");
    }
    case ColumnType::kByte: {
      VELQUIN_ASSIGN_OR_RETURN(std::int64_t v, ParseInteger(c, text, 0, 255));
      return Value::Byte(static_cast<std::uint8_t>(v));
    }
    case ColumnType::kShort: {
      VELQUIN_ASSIGN_OR_RETURN(std::int64_t v, ParseInteger(c, text, -32768, 32767));
      return Value::Short(static_cast<std::int16_t>(v));
    }
    case ColumnType::kLong: {
      std::int64_t lo = std::numeric_limits<std::int32_t>::min();
      if (c.auto_increment) lo = 1;  // AutoNumber values are positive
      VELQUIN_ASSIGN_OR_RETURN(std::int64_t v,
                               ParseInteger(c, text, lo, std::numeric_limits<std::int32_t>::max()));
      return Value::Long(static_cast<std::int32_t>(v));
    }
    case ColumnType::kCurrency: {
      auto v = jet::Currency::Parse(Trim(text, " \t"));
      if (!v.ok()) return Refuse(c, text, "is not a currency amount in range");
      return Value::Money(*v);
    }
    case ColumnType::kSingle: {
      VELQUIN_ASSIGN_OR_RETURN(double v, ParseReal(c, text));
      // Values within half a unit of the last place above the largest
      // single round down to it (that is how "3.40282347e+38" reads).
      const double kMax = std::numeric_limits<float>::max();
      if (std::fabs(v) >= kMax * (1.0 + std::ldexp(1.0, -25))) {
        return Refuse(c, text, "is out of range for SINGLE");
      }
      if (std::fabs(v) > kMax) v = v < 0 ? -kMax : kMax;
      return Value::Single(static_cast<float>(v));
    }
    case ColumnType::kDouble: {
      VELQUIN_ASSIGN_OR_RETURN(double v, ParseReal(c, text));
      return Value::Double(v);
    }
    case ColumnType::kDateTime: {
      auto v = jet::DateTime::Parse(Trim(text, " \t"));
      if (!v.ok()) return Refuse(c, text, "is not a date between 0100-01-01 and 9999-12-31");
      return Value::Date(*v);
    }
    case ColumnType::kGuid: {
      auto v = jet::Guid::Parse(Trim(text, " \t"));
      if (!v.ok()) return Refuse(c, text, "is not a GUID");
      return Value::Uuid(*v);
    }
    case ColumnType::kNumeric:
      return ConvertDecimal(c, text);
    case ColumnType::kBinary:
    case ColumnType::kOle:
      return ConvertBinary(c, text, tsv);
    case ColumnType::kText:
    case ColumnType::kMemo: {
      if (!IsValidUtf8(text)) return Refuse(c, text, "is not valid UTF-8 text");
      const std::size_t units = jet::Utf16Length(text);
      if (c.type == ColumnType::kText) {
        std::size_t limit = c.size ? c.size : 255;
        if (units > limit) {
          return Refuse(c, text,
                        "is " + std::to_string(units) + " characters, more than the column's " +
                            std::to_string(limit));
        }
      }
      return Value::Text(text);
    }
  }
  return Status::InvalidArgument("column \"" + c.name + "\" has a type this tool cannot fill");
}

Field ExportText(const Value& v) {
  switch (v.kind()) {
    case jet::ValueKind::kNull:
      return std::nullopt;
    case jet::ValueKind::kText:
      return v.text_value();
    case jet::ValueKind::kBinary: {
      std::string out;
      AppendUpperHex(v.binary_value(), &out);
      return out;
    }
    default:
      return v.ToString();
  }
}

void AppendCsvField(const Field& field, std::string* out) {
  if (!field) return;
  const std::string& s = *field;
  bool quote = s.empty() || s.find_first_of(",\"\r\n") != std::string::npos;
  if (!quote) {
    out->append(s);
    return;
  }
  out->push_back('"');
  for (char c : s) {
    if (c == '"') out->push_back('"');
    out->push_back(c);
  }
  out->push_back('"');
}

// ---------------------------------------------------------------------------
// Schema

// The engine's type name, with the size, precision and AutoNumber that a
// CREATE TABLE statement needs on top of it.
std::string JetSqlType(const ColumnInfo& c) {
  switch (c.type) {
    case ColumnType::kLong:
      if (c.auto_increment) return "COUNTER";
      break;
    case ColumnType::kBinary:
    case ColumnType::kText:
      return jet::ColumnTypeName(c.type) + "(" + std::to_string(c.size ? c.size : 255) + ")";
    case ColumnType::kNumeric:
      return "DECIMAL(" + std::to_string(c.precision) + "," + std::to_string(c.scale) + ")";
    default:
      break;
  }
  return jet::ColumnTypeName(c.type);
}

std::string TableSchemaSql(const jet::TableInfo& t) {
  auto in_required_index = [&](const std::string& col) {
    for (const auto& ix : t.indexes) {
      if (!ix.primary_key && !ix.required) continue;
      for (const auto& [name, asc] : ix.columns) {
        if (name == col) return true;
      }
    }
    return false;
  };
  std::string sql = "CREATE TABLE " + Bracketed(t.name) + " (\n";
  for (std::size_t i = 0; i < t.columns.size(); ++i) {
    const ColumnInfo& c = t.columns[i];
    sql += "  " + Bracketed(c.name) + " " + JetSqlType(c);
    if (!c.default_value.empty()) sql += " DEFAULT " + jet::sql::DefaultValueSql(c.default_value);
    if (!c.auto_increment && c.type != ColumnType::kBool &&
        (c.not_null || in_required_index(c.name))) {
      sql += " NOT NULL";
    }
    sql += i + 1 < t.columns.size() ? ",\n" : "\n";
  }
  sql += ");\n";
  for (const auto& ix : t.indexes) {
    if (ix.foreign_key) continue;  // made by a relationship, not by CREATE INDEX
    sql += ix.unique && !ix.primary_key ? "CREATE UNIQUE INDEX " : "CREATE INDEX ";
    sql += Bracketed(ix.name) + " ON " + Bracketed(t.name) + " (";
    for (std::size_t k = 0; k < ix.columns.size(); ++k) {
      if (k) sql += ", ";
      sql += Bracketed(ix.columns[k].first);
      if (!ix.columns[k].second) sql += " DESC";
    }
    sql += ")";
    if (ix.primary_key) {
      sql += " WITH PRIMARY";
    } else if (ix.required) {
      sql += " WITH DISALLOW NULL";
    } else if (ix.ignore_nulls) {
      sql += " WITH IGNORE NULL";
    }
    sql += ";\n";
  }
  return sql;
}

}  // namespace velquin::cli
