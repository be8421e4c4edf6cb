// Literals of statements: evaluated to plain values, and converted to a
// column's type as Jet converts values on insert.
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "jet/sql/datetime_text.h"
#include "jet/sql/executor.h"
#include "jet/sql/executor_internal.h"
#include "jet/sql/names.h"
#include "jet/sql/value_ops.h"
#include "jet/table/text_codec.h"

namespace velquin::jet::sql {
namespace {

Result<Value> IntegerFrom(double d, double lo, double hi, ColumnType type) {
  // Jet rounds to the nearest integer, halves to even.
  double r = std::nearbyint(d);
  if (r < lo || r > hi) return Fail(kOverflow);
  switch (type) {
    case ColumnType::kByte:
      return Value::Byte(static_cast<std::uint8_t>(r));
    case ColumnType::kShort:
      return Value::Short(static_cast<std::int16_t>(r));
    default:
      return Value::Long(static_cast<std::int32_t>(r));
  }
}

// ----- expression evaluation over rows -----

}  // namespace

Result<Literal> EvalLiteral(const Expr& e) {
  Literal l;
  switch (e.kind) {
    case ExprKind::kNull:
      return l;
    case ExprKind::kBoolean:
      l.kind = Literal::kBool;
      l.boolean = e.boolean;
      return l;
    case ExprKind::kNumber:
      l.kind = Literal::kNumber;
      l.text = e.text;
      return l;
    case ExprKind::kString:
      l.kind = Literal::kString;
      l.text = e.text;
      return l;
    case ExprKind::kDate:
      l.kind = Literal::kDate;
      l.date = e.date;
      return l;
    case ExprKind::kBinary:
      l.kind = Literal::kBinary;
      l.bytes = e.bytes;
      return l;
    case ExprKind::kUnary:
      if (e.args.size() == 1 && (e.unary_op == UnaryOp::kNegate || e.unary_op == UnaryOp::kPlus)) {
        VELQUIN_ASSIGN_OR_RETURN(Literal inner, EvalLiteral(e.args[0]));
        if (inner.kind == Literal::kNull) return inner;
        if (inner.kind != Literal::kNumber) return Fail(kTypeMismatch);
        if (e.unary_op == UnaryOp::kNegate) {
          inner.text = inner.text.starts_with("-") ? inner.text.substr(1) : "-" + inner.text;
        }
        return inner;
      }
      break;
    default:
      break;
  }
  return Fail(
      "Only values can be inserted: a column, a function or an operator is not allowed here.");
}

Value FromLiteral(const Literal& l) {
  switch (l.kind) {
    case Literal::kNull:
      return Value();
    case Literal::kBool:
      return Value::Bool(l.boolean);
    case Literal::kNumber: {
      double d = std::strtod(l.text.c_str(), nullptr);
      if (l.text.find_first_of(".eE") == std::string::npos && std::fabs(d) <= 2147483647.0) {
        return Value::Long(static_cast<std::int32_t>(d));
      }
      return Value::Double(d);
    }
    case Literal::kString:
      return Value::Text(l.text);
    case Literal::kDate:
      return Value::Date(DateTime{l.date.ToJetDays()});
    case Literal::kBinary:
      return Value::Binary(l.bytes);
  }
  return Value();
}

Result<Value> Executor::ConvertLiteral(const Expr& expr, const ColumnInfo& column) {
  VELQUIN_ASSIGN_OR_RETURN(Literal l, EvalLiteral(expr));
  if (l.kind == Literal::kNull) return Value();
  const ColumnType t = column.type;
  double d = 0;
  auto number = [&]() -> bool {
    switch (l.kind) {
      case Literal::kNumber:
      case Literal::kString:
        return ParseNumber(l.text, &d);
      case Literal::kBool:
        d = l.boolean ? -1 : 0;
        return true;
      case Literal::kDate:
        d = l.date.ToJetDays();
        return true;
      default:
        return false;
    }
  };
  switch (t) {
    case ColumnType::kBool: {
      if (l.kind == Literal::kBool) return Value::Bool(l.boolean);
      if (l.kind == Literal::kString) {
        std::string s = LowerAscii(l.text);
        if (s == "true" || s == "yes" || s == "on") return Value::Bool(true);
        if (s == "false" || s == "no" || s == "off") return Value::Bool(false);
      }
      if (!number()) return Fail(kTypeMismatch);
      return Value::Bool(d != 0);
    }
    case ColumnType::kByte:
      if (!number()) return Fail(kTypeMismatch);
      return IntegerFrom(d, 0, 255, t);
    case ColumnType::kShort:
      if (!number()) return Fail(kTypeMismatch);
      return IntegerFrom(d, -32768, 32767, t);
    case ColumnType::kLong:
      if (!number()) return Fail(kTypeMismatch);
      return IntegerFrom(d, -2147483648.0, 2147483647.0, t);
    case ColumnType::kSingle:
      if (!number()) return Fail(kTypeMismatch);
      // Past the largest single (FLT_MAX) by half a step or more rounds to
      // infinity; anything below rounds to a finite single.
      if (std::fabs(d) >= 3.4028235677973366e38) return Fail(kOverflow);
      return Value::Single(static_cast<float>(d));
    case ColumnType::kDouble:
      if (!number()) return Fail(kTypeMismatch);
      return Value::Double(d);
    case ColumnType::kCurrency: {
      if (l.kind == Literal::kNumber || l.kind == Literal::kString) {
        auto c = Currency::Parse(l.text);
        if (c.ok()) return Value::Money(*c);
        if (!number()) return Fail(kTypeMismatch);
        return Fail(kOverflow);
      }
      if (!number()) return Fail(kTypeMismatch);
      return Value::Money(Currency{static_cast<std::int64_t>(std::llround(d * 10000))});
    }
    case ColumnType::kNumeric: {
      std::string text = l.text;
      if (l.kind == Literal::kBool) text = l.boolean ? "-1" : "0";
      if (l.kind != Literal::kNumber && l.kind != Literal::kString && l.kind != Literal::kBool) {
        return Fail(kTypeMismatch);
      }
      if (text.find_first_of("eE") != std::string::npos) {
        if (!ParseNumber(text, &d)) return Fail(kTypeMismatch);
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.*f", static_cast<int>(column.scale), d);
        text = buf;
      }
      auto dec = Decimal::Parse(text, column.scale);
      if (!dec.ok()) {
        if (!ParseNumber(text, &d)) return Fail(kTypeMismatch);
        return Fail(kOverflow);
      }
      // Digits beyond the column's precision do not fit.
      std::string digits = dec->ToString();
      std::size_t count = 0;
      for (char c : digits) count += std::isdigit(static_cast<unsigned char>(c)) ? 1 : 0;
      if (column.precision > 0 && count > column.precision) {
        // Leading zeros of a pure fraction do not count.
        std::size_t lead = 0;
        for (char c : digits) {
          if (c == '-') continue;
          if (c == '0' || c == '.') {
            if (c == '0') ++lead;
            continue;
          }
          break;
        }
        if (count - std::min(lead, count) > column.precision) return Fail(kOverflow);
      }
      return Value::Numeric(*dec);
    }
    case ColumnType::kDateTime: {
      if (l.kind == Literal::kDate) return Value::Date(DateTime{l.date.ToJetDays()});
      if (l.kind == Literal::kString) {
        auto dt = ParseDateTimeText(l.text);
        if (!dt.ok()) return Fail(kTypeMismatch);
        return Value::Date(DateTime{dt->ToJetDays()});
      }
      if (!number()) return Fail(kTypeMismatch);
      return Value::Date(DateTime{d});
    }
    case ColumnType::kGuid: {
      if (l.kind != Literal::kString) return Fail(kTypeMismatch);
      std::string g = l.text;
      if (!g.starts_with("{")) g = "{" + g + "}";
      auto guid = Guid::Parse(g);
      if (!guid.ok()) return Fail(kTypeMismatch);
      return Value::Uuid(*guid);
    }
    case ColumnType::kText:
    case ColumnType::kMemo: {
      std::string s;
      switch (l.kind) {
        case Literal::kString:
        case Literal::kNumber:
          s = l.text;
          break;
        case Literal::kBool:
          s = l.boolean ? "True" : "False";
          break;
        case Literal::kDate:
          s = l.date.ToIsoText();
          break;
        case Literal::kBinary:
          s.assign(l.bytes.begin(), l.bytes.end());
          break;
        default:
          break;
      }
      if (t == ColumnType::kText && Utf16Length(s) > (column.size ? column.size : 255)) {
        return Fail(
            "The field is too small to accept the amount of data you attempted to add.  "
            "Try inserting or pasting less data.");
      }
      return Value::Text(std::move(s));
    }
    case ColumnType::kBinary:
    case ColumnType::kOle: {
      std::vector<std::uint8_t> bytes;
      if (l.kind == Literal::kBinary) {
        bytes = l.bytes;
      } else if (l.kind == Literal::kString || l.kind == Literal::kNumber) {
        bytes.assign(l.text.begin(), l.text.end());
      } else {
        return Fail(kTypeMismatch);
      }
      if (t == ColumnType::kBinary && bytes.size() > (column.size ? column.size : 255)) {
        return Fail(
            "The field is too small to accept the amount of data you attempted to add.  "
            "Try inserting or pasting less data.");
      }
      return Value::Binary(std::move(bytes));
    }
  }
  return Fail(kTypeMismatch);
}

}  // namespace velquin::jet::sql
