#include "migrate/jet_row_inserter.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

#include "jet/table/text_codec.h"

namespace velquin {
namespace {

using jet::ColumnType;

Status Refuse(const jet::ColumnInfo& column, const std::string& why) {
  return Status::Constraint("column `" + column.name + "`: " + why);
}

Result<int64_t> Integer(const TargetValue& v, const jet::ColumnInfo& column) {
  if (v.kind == TargetValue::Kind::kBool) return v.boolean ? -1 : 0;
  if (v.kind != TargetValue::Kind::kNumber) return Refuse(column, "not a number");
  int64_t n = 0;
  const char* begin = v.text.data();
  const char* end = begin + v.text.size();
  if (!v.text.empty() && v.text[0] == '+') ++begin;
  auto [ptr, ec] = std::from_chars(begin, end, n);
  if (ec == std::errc() && ptr == end) return n;
  // "12.0", "1e3": whole numbers written otherwise.
  char* stop = nullptr;
  const double d = std::strtod(v.text.c_str(), &stop);
  if (stop != v.text.c_str() + v.text.size() || d != std::floor(d) || std::fabs(d) > 9.2e18) {
    return Refuse(column, "the value " + v.text + " is not a whole number in range");
  }
  return static_cast<int64_t>(d);
}

// A number whose exponent is negative: out of range means below the
// smallest subnormal, which reads as zero.
bool IsTinyNumber(const char* begin, const char* end) {
  for (const char* p = begin; p + 1 < end; ++p) {
    if ((*p == 'e' || *p == 'E') && p[1] == '-') return true;
  }
  return false;
}

class JetRowInserter : public RowInserter {
 public:
  JetRowInserter(JetSession& session, jet::TableInfo info, std::unique_ptr<jet::BulkWriter> bulk)
      : session_(session), info_(std::move(info)), bulk_(std::move(bulk)) {}

  Status Insert(const std::vector<TargetValue>& row, std::string_view) override {
    VELQUIN_RETURN_IF_ERROR(Prepare(row, &values_));
    return InsertPrepared(values_);
  }
  // Reads only the table's description, which stays as it was opened.
  bool Prepares() const override { return true; }
  Status Prepare(const std::vector<TargetValue>& row, std::vector<jet::Value>* out) const override {
    if (row.size() != info_.columns.size()) {
      return Status::InvalidArgument("the row has " + std::to_string(row.size()) +
                                     " values; the table has " +
                                     std::to_string(info_.columns.size()) + " columns");
    }
    out->resize(row.size());
    for (std::size_t i = 0; i < row.size(); ++i) {
      VELQUIN_ASSIGN_OR_RETURN((*out)[i], ToJetValue(row[i], info_.columns[i]));
    }
    return Status::Ok();
  }
  Status InsertPrepared(const std::vector<jet::Value>& row) override {
    if (bulk_) return bulk_->Append(row);
    return session_.InsertRow(info_.name, row);
  }
  Status Finish() override { return bulk_ ? bulk_->Finish() : Status::Ok(); }
  std::optional<uint64_t> RowsKept() const override {
    if (!bulk_) return std::nullopt;
    return bulk_->rows_written();
  }
  bool NeedsStatements() const override { return false; }

 private:
  JetSession& session_;
  jet::TableInfo info_;
  std::unique_ptr<jet::BulkWriter> bulk_;
  std::vector<jet::Value> values_;
};

}  // namespace

Result<jet::Value> ToJetValue(const TargetValue& v, const jet::ColumnInfo& column) {
  if (v.kind == TargetValue::Kind::kNull) return jet::Value::Null();
  switch (column.type) {
    case ColumnType::kBool:
      if (v.kind == TargetValue::Kind::kBool) return jet::Value::Bool(v.boolean);
      if (v.kind == TargetValue::Kind::kNumber)
        return jet::Value::Bool(std::strtod(v.text.c_str(), nullptr) != 0);
      return Refuse(column, "not a Yes/No value");
    case ColumnType::kByte:
    case ColumnType::kShort:
    case ColumnType::kLong: {
      VELQUIN_ASSIGN_OR_RETURN(int64_t n, Integer(v, column));
      const int64_t lo = column.type == ColumnType::kByte    ? 0
                         : column.type == ColumnType::kShort ? -32768
                                                             : -2147483648LL;
      const int64_t hi = column.type == ColumnType::kByte    ? 255
                         : column.type == ColumnType::kShort ? 32767
                                                             : 2147483647LL;
      if (n < lo || n > hi) {
        return Refuse(column, "the value " + std::to_string(n) + " does not fit a " +
                                  jet::ColumnTypeName(column.type) + " column");
      }
      if (column.type == ColumnType::kByte) return jet::Value::Byte(static_cast<uint8_t>(n));
      if (column.type == ColumnType::kShort) return jet::Value::Short(static_cast<int16_t>(n));
      return jet::Value::Long(static_cast<int32_t>(n));
    }
    case ColumnType::kSingle:
    case ColumnType::kDouble: {
      if (v.kind != TargetValue::Kind::kNumber) return Refuse(column, "not a number");
      // Read straight into the column's width: a text read as a double
      // first and then narrowed could round twice.
      const char* begin = v.text.data();
      const char* end = begin + v.text.size();
      if (begin != end && *begin == '+') ++begin;
      if (column.type == ColumnType::kSingle) {
        float f = 0;
        auto [ptr, ec] = std::from_chars(begin, end, f);
        if (ec == std::errc::result_out_of_range && !IsTinyNumber(begin, end))
          return Refuse(column, "the value " + v.text + " does not fit a SINGLE");
        if ((ec != std::errc() && ec != std::errc::result_out_of_range) || ptr != end)
          return Refuse(column, "not a number");
        return jet::Value::Single(f);
      }
      double d = 0;
      auto [ptr, ec] = std::from_chars(begin, end, d);
      if (ec == std::errc::result_out_of_range && !IsTinyNumber(begin, end))
        return Refuse(column, "the value " + v.text + " does not fit a DOUBLE");
      if ((ec != std::errc() && ec != std::errc::result_out_of_range) || ptr != end)
        return Refuse(column, "not a number");
      return jet::Value::Double(d);
    }
    case ColumnType::kCurrency: {
      auto c = jet::Currency::Parse(v.text);
      if (!c.ok()) return Refuse(column, c.status().message());
      return jet::Value::Money(*c);
    }
    case ColumnType::kNumeric: {
      if (v.kind != TargetValue::Kind::kNumber) return Refuse(column, "not a number");
      std::string text = v.text;
      if (!text.empty() && text[0] == '+') text.erase(0, 1);
      auto d = jet::Decimal::Parse(text, column.scale);
      if (!d.ok()) return Refuse(column, "the value " + v.text + ": " + d.status().message());
      // Digits before the point must fit precision - scale.
      const std::string whole = d->ToString();
      std::size_t int_digits = 0;
      bool lead = true;
      for (char c : whole) {
        if (c == '.') break;
        if (c < '0' || c > '9') continue;
        if (lead && c == '0') continue;
        lead = false;
        ++int_digits;
      }
      if (column.precision > 0 &&
          int_digits > static_cast<std::size_t>(column.precision - column.scale)) {
        return Refuse(column, "the value " + v.text + " does not fit DECIMAL(" +
                                  std::to_string(column.precision) + "," +
                                  std::to_string(column.scale) + ")");
      }
      return jet::Value::Numeric(*d);
    }
    case ColumnType::kDateTime:
      if (v.kind != TargetValue::Kind::kDateTime) return Refuse(column, "not a date");
      if (v.year < 100 || v.year > 9999) {
        return Refuse(column, "the date " + FormatDateTime(v) + " lies outside 100-9999");
      }
      return jet::Value::Date(jet::DateTime::FromParts(v.year, v.month, v.day, v.hour, v.minute,
                                                       v.second, v.millisecond));
    case ColumnType::kText:
    case ColumnType::kMemo: {
      std::string s = v.kind == TargetValue::Kind::kDateTime ? FormatDateTime(v)
                      : v.kind == TargetValue::Kind::kBool   ? (v.boolean ? "True" : "False")
                                                             : v.text;
      const std::size_t limit = column.size ? column.size : 255;
      if (column.type == ColumnType::kText && jet::Utf16Length(s) > limit) {
        return Refuse(column, "the text of " + std::to_string(jet::Utf16Length(s)) +
                                  " characters is longer than the column's " +
                                  std::to_string(limit));
      }
      return jet::Value::Text(std::move(s));
    }
    case ColumnType::kBinary:
    case ColumnType::kOle: {
      std::vector<uint8_t> bytes(v.text.begin(), v.text.end());
      const std::size_t limit = column.size ? column.size : 255;
      if (column.type == ColumnType::kBinary && bytes.size() > limit) {
        return Refuse(column, "the value of " + std::to_string(bytes.size()) +
                                  " bytes is longer than the column's " + std::to_string(limit));
      }
      return jet::Value::Binary(std::move(bytes));
    }
    case ColumnType::kGuid: {
      std::string g = v.text;
      if (!g.starts_with("{")) g = "{" + g + "}";
      auto guid = jet::Guid::Parse(g);
      if (!guid.ok()) return Refuse(column, "not a GUID");
      return jet::Value::Uuid(*guid);
    }
  }
  return Refuse(column, "a column type the row copy does not know");
}

RowInserterFactory JetRowInserterFactory() {
  return [](Session& target, const std::string& table,
            const std::vector<ColumnPlan>&) -> Result<std::unique_ptr<RowInserter>> {
    JetSession* jet = target.AsJetSession();
    if (!jet) return Status::NotSupported("no fast path");
    VELQUIN_ASSIGN_OR_RETURN(jet::TableInfo info, jet->DescribeTable(table));
    // The bulk path: rows packed into pages and committed in groups, with
    // the same checks as a single insert (NOT NULL, unique keys, sizes) and
    // the table's indexes kept up to date row by row; nothing else runs on
    // the session while the rows are copied.
    VELQUIN_ASSIGN_OR_RETURN(std::unique_ptr<jet::BulkWriter> bulk, jet->BulkAppend(info.name));
    return std::unique_ptr<RowInserter>(
        std::make_unique<JetRowInserter>(*jet, std::move(info), std::move(bulk)));
  };
}

}  // namespace velquin
