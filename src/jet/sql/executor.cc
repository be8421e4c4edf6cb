#include "jet/sql/executor.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <optional>

#include "jet/sql/datetime_text.h"
#include "jet/sql/default_value.h"
#include "jet/sql/format.h"
#include "jet/sql/functions.h"
#include "jet/sql/names.h"
#include "jet/sql/parser.h"
#include "jet/sql/saved_query.h"

namespace velquin::jet::sql {
namespace {

bool SameName(std::string_view a, std::string_view b) { return LowerAscii(a) == LowerAscii(b); }

Status Fail(std::string message) { return Status::InvalidArgument(std::move(message)); }

const char kTypeMismatch[] = "Data type mismatch in criteria expression.";
const char kOverflow[] = "Overflow";

// Number of UTF-16 code units of a UTF-8 text (Access counts those).
std::size_t Utf16Length(std::string_view s) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if ((c & 0xC0) == 0x80) continue;
    n += c >= 0xF0 ? 2 : 1;
  }
  return n;
}

bool IsNumeric(const Value& v) {
  switch (v.kind()) {
    case ValueKind::kBool:
    case ValueKind::kByte:
    case ValueKind::kShort:
    case ValueKind::kLong:
    case ValueKind::kCurrency:
    case ValueKind::kSingle:
    case ValueKind::kDouble:
    case ValueKind::kDecimal:
    case ValueKind::kDateTime:
      return true;
    default:
      return false;
  }
}

double ToDouble(const Value& v) {
  std::int64_t i;
  if (v.kind() == ValueKind::kBool) return v.bool_value() ? -1 : 0;  // Jet's True is -1
  if (v.AsInt64(&i)) return static_cast<double>(i);
  switch (v.kind()) {
    case ValueKind::kCurrency:
      return static_cast<double>(v.currency_value().units) / 10000.0;
    case ValueKind::kSingle:
      return v.single_value();
    case ValueKind::kDouble:
      return v.double_value();
    case ValueKind::kDateTime:
      return v.datetime_value().days;
    case ValueKind::kDecimal:
      return std::strtod(v.decimal_value().ToString().c_str(), nullptr);
    case ValueKind::kText:
      return std::strtod(v.text_value().c_str(), nullptr);
    default:
      return 0;
  }
}

// A number written in SQL ("12", "-1.5E3") as a double; false if it is not one.
bool ParseNumber(std::string_view text, double* out) {
  std::string s(text);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.pop_back();
  std::size_t start = 0;
  while (start < s.size() && std::isspace(static_cast<unsigned char>(s[start]))) ++start;
  if (start == s.size()) return false;
  char* end = nullptr;
  double d = std::strtod(s.c_str() + start, &end);
  if (end != s.c_str() + s.size()) return false;
  if (!std::isfinite(d)) return false;
  *out = d;
  return true;
}

// Literal expression as a plain value (kText for numbers keeps the digits
// as written so that exact types convert without rounding).
struct Literal {
  enum Kind { kNull, kBool, kNumber, kString, kDate, kBinary } kind = kNull;
  std::string text;  // number digits (with sign) or string
  bool boolean = false;
  DateTimeValue date;
  std::vector<std::uint8_t> bytes;
};

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

struct Source {
  std::string table;  // as stored
  std::string alias;  // or the table name
  TableInfo info;
  std::size_t offset = 0;  // first value in the joined row
};

struct Binding {
  std::vector<Source> sources;
  std::size_t width = 0;

  Result<std::size_t> Find(const Expr& col) const {
    std::optional<std::size_t> hit;
    for (const Source& s : sources) {
      if (!col.qualifier.empty() && !SameName(col.qualifier, s.alias) &&
          !SameName(col.qualifier, s.table)) {
        continue;
      }
      for (std::size_t i = 0; i < s.info.columns.size(); ++i) {
        if (SameName(s.info.columns[i].name, col.text)) {
          if (hit) {
            return Fail("The specified field '" + col.text +
                        "' could refer to more than one table listed in the FROM clause of your "
                        "SQL statement.");
          }
          hit = s.offset + i;
        }
      }
    }
    if (!hit) return Fail("No value given for one or more required parameters.");
    return *hit;
  }
};

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

// Compares two non-null values as Jet does: numbers and dates by value, text
// without regard to case. nullopt when they cannot be compared.
std::optional<int> CompareValues(const Value& a, const Value& b) {
  auto cmp = [](auto x, auto y) { return x < y ? -1 : (x > y ? 1 : 0); };
  bool an = IsNumeric(a), bn = IsNumeric(b);
  if (an && bn) return cmp(ToDouble(a), ToDouble(b));
  if (a.kind() == ValueKind::kText && b.kind() == ValueKind::kText) {
    return cmp(LowerAscii(a.text_value()), LowerAscii(b.text_value()));
  }
  // Text against a number or date: the text is read as one.
  auto as_number = [](const Value& text, const Value& other) -> std::optional<double> {
    double d;
    if (other.kind() == ValueKind::kDateTime) {
      auto dt = ParseDateTimeText(text.text_value());
      if (dt.ok()) return dt->ToJetDays();
    }
    if (ParseNumber(text.text_value(), &d)) return d;
    return std::nullopt;
  };
  if (a.kind() == ValueKind::kText && bn) {
    auto d = as_number(a, b);
    if (!d) return std::nullopt;
    return cmp(*d, ToDouble(b));
  }
  if (an && b.kind() == ValueKind::kText) {
    auto d = as_number(b, a);
    if (!d) return std::nullopt;
    return cmp(ToDouble(a), *d);
  }
  if (a.kind() == ValueKind::kBinary && b.kind() == ValueKind::kBinary) {
    return cmp(a.binary_value(), b.binary_value());
  }
  if (a.kind() == ValueKind::kGuid && b.kind() == ValueKind::kGuid) {
    return cmp(a.guid_value().bytes, b.guid_value().bytes);
  }
  if (a.kind() == ValueKind::kGuid && b.kind() == ValueKind::kText) {
    return cmp(LowerAscii(a.ToString()), LowerAscii(b.text_value()));
  }
  return std::nullopt;
}

// Access's LIKE: * any run, ? one character, # one digit, [list] one of.
bool LikeMatch(std::string_view text, std::string_view pattern) {
  std::string t = LowerAscii(text), p = LowerAscii(pattern);
  std::size_t ti = 0, pi = 0, star_p = std::string::npos, star_t = 0;
  auto one = [&](std::size_t& pp, char c) -> std::optional<bool> {
    char pc = p[pp];
    if (pc == '?') {
      ++pp;
      return true;
    }
    if (pc == '#') {
      ++pp;
      return std::isdigit(static_cast<unsigned char>(c)) != 0;
    }
    if (pc == '[') {
      std::size_t close = p.find(']', pp + 1);
      if (close == std::string::npos) {
        ++pp;
        return c == '[';
      }
      std::string set = p.substr(pp + 1, close - pp - 1);
      pp = close + 1;
      bool negate = !set.empty() && set[0] == '!';
      if (negate) set.erase(0, 1);
      bool in = false;
      for (std::size_t k = 0; k < set.size(); ++k) {
        if (k + 2 < set.size() && set[k + 1] == '-') {
          if (c >= set[k] && c <= set[k + 2]) in = true;
          k += 2;
        } else if (set[k] == c) {
          in = true;
        }
      }
      return in != negate;
    }
    ++pp;
    return pc == c;
  };
  while (ti < t.size()) {
    if (pi < p.size() && p[pi] == '*') {
      star_p = ++pi;
      star_t = ti;
      continue;
    }
    if (pi < p.size()) {
      std::size_t save = pi;
      if (*one(pi, t[ti])) {
        ++ti;
        continue;
      }
      pi = save;
    }
    if (star_p == std::string::npos) return false;
    pi = star_p;
    ti = ++star_t;
  }
  while (pi < p.size() && p[pi] == '*') ++pi;
  return pi == p.size();
}

std::optional<bool> AsTruth(const Value& v) {
  if (v.is_null()) return std::nullopt;
  if (v.kind() == ValueKind::kBool) return v.bool_value();
  if (IsNumeric(v)) return ToDouble(v) != 0;
  if (v.kind() == ValueKind::kText) {
    double d;
    if (ParseNumber(v.text_value(), &d)) return d != 0;
    if (SameName(v.text_value(), "true")) return true;
    if (SameName(v.text_value(), "false")) return false;
  }
  return std::nullopt;
}

Result<Value> Eval(const Expr& e, const Binding& b, const std::vector<Value>& row) {
  switch (e.kind) {
    case ExprKind::kNull:
    case ExprKind::kBoolean:
    case ExprKind::kNumber:
    case ExprKind::kString:
    case ExprKind::kDate:
    case ExprKind::kBinary: {
      VELQUIN_ASSIGN_OR_RETURN(Literal l, EvalLiteral(e));
      return FromLiteral(l);
    }
    case ExprKind::kColumn: {
      VELQUIN_ASSIGN_OR_RETURN(std::size_t i, b.Find(e));
      return row[i];
    }
    case ExprKind::kStar:
      return Fail("Syntax error in query expression '*'.");
    case ExprKind::kFunction: {
      std::vector<Value> args;
      args.reserve(e.args.size());
      for (const Expr& a : e.args) {
        VELQUIN_ASSIGN_OR_RETURN(Value v, Eval(a, b, row));
        args.push_back(std::move(v));
      }
      return CallFunction(e.text, args);
    }
    case ExprKind::kUnary: {
      VELQUIN_ASSIGN_OR_RETURN(Value v, Eval(e.args[0], b, row));
      if (v.is_null()) return v;
      if (e.unary_op == UnaryOp::kNot) {
        auto t = AsTruth(v);
        if (!t) return Fail(kTypeMismatch);
        return Value::Bool(!*t);
      }
      if (!IsNumeric(v)) {
        double d;
        if (v.kind() != ValueKind::kText || !ParseNumber(v.text_value(), &d))
          return Fail(kTypeMismatch);
        return Value::Double(e.unary_op == UnaryOp::kNegate ? -d : d);
      }
      std::int64_t i;
      if (v.AsInt64(&i) && v.kind() != ValueKind::kBool) {
        return e.unary_op == UnaryOp::kNegate ? Value::Double(-static_cast<double>(i)) : v;
      }
      return Value::Double(e.unary_op == UnaryOp::kNegate ? -ToDouble(v) : ToDouble(v));
    }
    case ExprKind::kBinaryOp: {
      VELQUIN_ASSIGN_OR_RETURN(Value l, Eval(e.args[0], b, row));
      VELQUIN_ASSIGN_OR_RETURN(Value r, Eval(e.args[1], b, row));
      switch (e.binary_op) {
        case BinaryOp::kAnd:
        case BinaryOp::kOr:
        case BinaryOp::kXor: {
          auto x = AsTruth(l), y = AsTruth(r);
          if (e.binary_op == BinaryOp::kAnd) {
            if ((x && !*x) || (y && !*y)) return Value::Bool(false);
            if (!x || !y) return Value();
            return Value::Bool(true);
          }
          if (e.binary_op == BinaryOp::kOr) {
            if ((x && *x) || (y && *y)) return Value::Bool(true);
            if (!x || !y) return Value();
            return Value::Bool(false);
          }
          if (!x || !y) return Value();
          return Value::Bool(*x != *y);
        }
        case BinaryOp::kEq:
        case BinaryOp::kNe:
        case BinaryOp::kLt:
        case BinaryOp::kLe:
        case BinaryOp::kGt:
        case BinaryOp::kGe: {
          if (l.is_null() || r.is_null()) return Value();
          auto c = CompareValues(l, r);
          if (!c) return Fail(kTypeMismatch);
          switch (e.binary_op) {
            case BinaryOp::kEq:
              return Value::Bool(*c == 0);
            case BinaryOp::kNe:
              return Value::Bool(*c != 0);
            case BinaryOp::kLt:
              return Value::Bool(*c < 0);
            case BinaryOp::kLe:
              return Value::Bool(*c <= 0);
            case BinaryOp::kGt:
              return Value::Bool(*c > 0);
            default:
              return Value::Bool(*c >= 0);
          }
        }
        case BinaryOp::kConcat: {
          std::string s = (l.is_null() ? "" : l.ToString()) + (r.is_null() ? "" : r.ToString());
          if (l.is_null() && r.is_null()) return Value();
          return Value::Text(s);
        }
        default: {
          if (l.is_null() || r.is_null()) return Value();
          if (e.binary_op == BinaryOp::kAdd && l.kind() == ValueKind::kText &&
              r.kind() == ValueKind::kText) {
            return Value::Text(l.text_value() + r.text_value());
          }
          double x, y;
          auto num = [](const Value& v, double* out) {
            if (IsNumeric(v)) {
              *out = ToDouble(v);
              return true;
            }
            return v.kind() == ValueKind::kText && ParseNumber(v.text_value(), out);
          };
          if (!num(l, &x) || !num(r, &y)) return Fail(kTypeMismatch);
          switch (e.binary_op) {
            case BinaryOp::kAdd:
              return Value::Double(x + y);
            case BinaryOp::kSubtract:
              return Value::Double(x - y);
            case BinaryOp::kMultiply:
              return Value::Double(x * y);
            case BinaryOp::kPower:
              return Value::Double(std::pow(x, y));
            case BinaryOp::kDivide:
              if (y == 0) return Fail("Division by zero");
              return Value::Double(x / y);
            case BinaryOp::kIntDivide:
            case BinaryOp::kMod: {
              double xi = std::nearbyint(x), yi = std::nearbyint(y);
              if (yi == 0) return Fail("Division by zero");
              if (e.binary_op == BinaryOp::kIntDivide) return Value::Double(std::trunc(xi / yi));
              return Value::Double(std::fmod(xi, yi));
            }
            default:
              return Fail(kTypeMismatch);
          }
        }
      }
    }
    case ExprKind::kIsNull: {
      VELQUIN_ASSIGN_OR_RETURN(Value v, Eval(e.args[0], b, row));
      return Value::Bool(v.is_null() != e.negated);
    }
    case ExprKind::kLike: {
      VELQUIN_ASSIGN_OR_RETURN(Value v, Eval(e.args[0], b, row));
      VELQUIN_ASSIGN_OR_RETURN(Value p, Eval(e.args[1], b, row));
      if (v.is_null() || p.is_null()) return Value();
      return Value::Bool(LikeMatch(v.ToString(), p.ToString()) != e.negated);
    }
    case ExprKind::kIn: {
      VELQUIN_ASSIGN_OR_RETURN(Value v, Eval(e.args[0], b, row));
      if (v.is_null()) return Value();
      bool found = false, unknown = false;
      for (std::size_t k = 1; k < e.args.size(); ++k) {
        VELQUIN_ASSIGN_OR_RETURN(Value x, Eval(e.args[k], b, row));
        if (x.is_null()) {
          unknown = true;
          continue;
        }
        auto c = CompareValues(v, x);
        if (!c) return Fail(kTypeMismatch);
        if (*c == 0) found = true;
      }
      if (found) return Value::Bool(!e.negated);
      if (unknown) return Value();
      return Value::Bool(e.negated);
    }
    case ExprKind::kBetween: {
      VELQUIN_ASSIGN_OR_RETURN(Value v, Eval(e.args[0], b, row));
      VELQUIN_ASSIGN_OR_RETURN(Value lo, Eval(e.args[1], b, row));
      VELQUIN_ASSIGN_OR_RETURN(Value hi, Eval(e.args[2], b, row));
      if (v.is_null() || lo.is_null() || hi.is_null()) return Value();
      auto c1 = CompareValues(v, lo), c2 = CompareValues(v, hi);
      if (!c1 || !c2) return Fail(kTypeMismatch);
      return Value::Bool((*c1 >= 0 && *c2 <= 0) != e.negated);
    }
  }
  return Fail(kTypeMismatch);
}

ColumnType TypeOfValue(const Value& v) {
  switch (v.kind()) {
    case ValueKind::kBool:
      return ColumnType::kBool;
    case ValueKind::kByte:
      return ColumnType::kByte;
    case ValueKind::kShort:
      return ColumnType::kShort;
    case ValueKind::kLong:
      return ColumnType::kLong;
    case ValueKind::kCurrency:
      return ColumnType::kCurrency;
    case ValueKind::kSingle:
      return ColumnType::kSingle;
    case ValueKind::kDouble:
      return ColumnType::kDouble;
    case ValueKind::kDateTime:
      return ColumnType::kDateTime;
    case ValueKind::kDecimal:
      return ColumnType::kNumeric;
    case ValueKind::kGuid:
      return ColumnType::kGuid;
    case ValueKind::kBinary:
      return ColumnType::kOle;
    default:
      return ColumnType::kMemo;
  }
}

// Access's message for a failure the engine reports in its own words.
Status TranslateEngineError(const Status& s, std::string_view table) {
  if (s.ok()) return s;
  const std::string& m = s.message();
  if (m.find("duplicate value in unique index") != std::string::npos)
    return Fail(DuplicateValuesMessage());
  if (m.find("cannot be NULL") != std::string::npos) {
    // column "c" of table "t" cannot be NULL
    auto q1 = m.find('"'), q2 = m.find('"', q1 + 1);
    std::string col =
        q1 != std::string::npos && q2 != std::string::npos ? m.substr(q1 + 1, q2 - q1 - 1) : "";
    return Fail("The field '" + std::string(table) + "." + col +
                "' cannot contain a Null value because the Required property for this field is set "
                "to True.  Enter a value in this field.");
  }
  return s;
}

Database::RelationshipSpec RelationshipOf(const std::string& table, const ConstraintDef& k) {
  Database::RelationshipSpec r;
  r.name = k.name;
  r.table = table;
  r.columns = k.columns;
  r.referenced_table = k.ref_table;
  r.referenced_columns = k.ref_columns;
  r.cascade_update = k.on_update == ReferentialAction::kCascade;
  r.cascade_delete = k.on_delete == ReferentialAction::kCascade;
  r.cascade_set_null = k.on_delete == ReferentialAction::kSetNull;
  return r;
}

enum class AggregateKind { kCount, kSum, kAvg, kMin, kMax };

std::optional<AggregateKind> AggregateKindOf(const Expr& e) {
  if (e.kind != ExprKind::kFunction) return std::nullopt;
  const std::string name = LowerAscii(e.text);
  if (name == "count") return AggregateKind::kCount;
  if (name == "sum") return AggregateKind::kSum;
  if (name == "avg") return AggregateKind::kAvg;
  if (name == "min") return AggregateKind::kMin;
  if (name == "max") return AggregateKind::kMax;
  return std::nullopt;
}

// One aggregate of a select list, fed the rows the WHERE keeps. NULLs are
// left out (Count(*) counts rows); over no values Count gives 0 and the
// others NULL, as in Access.
struct Aggregate {
  AggregateKind kind = AggregateKind::kCount;
  const Expr* arg = nullptr;  // nullptr: Count(*)
  std::int64_t count = 0;
  double sum = 0;
  bool whole = true;  // every value summed so far is a whole number of a whole type
  Value best;

  Status Add(const Binding& b, const std::vector<Value>& row) {
    if (!arg) {
      ++count;
      return Status::Ok();
    }
    VELQUIN_ASSIGN_OR_RETURN(Value v, Eval(*arg, b, row));
    if (v.is_null()) return Status::Ok();
    ++count;
    switch (kind) {
      case AggregateKind::kCount:
        break;
      case AggregateKind::kSum:
      case AggregateKind::kAvg: {
        double d = 0;
        if (IsNumeric(v)) {
          d = ToDouble(v);
        } else if (v.kind() != ValueKind::kText || !ParseNumber(v.text_value(), &d)) {
          return Fail(kTypeMismatch);
        }
        std::int64_t i;
        whole = whole && v.AsInt64(&i) && v.kind() != ValueKind::kBool;
        sum += d;
        break;
      }
      case AggregateKind::kMin:
      case AggregateKind::kMax: {
        if (best.is_null()) {
          best = std::move(v);
          break;
        }
        auto c = CompareValues(v, best);
        if (!c) return Fail(kTypeMismatch);
        if ((kind == AggregateKind::kMin && *c < 0) || (kind == AggregateKind::kMax && *c > 0)) {
          best = std::move(v);
        }
        break;
      }
    }
    return Status::Ok();
  }

  Value Result() const {
    switch (kind) {
      case AggregateKind::kCount:
        return count <= 0x7FFFFFFF ? Value::Long(static_cast<std::int32_t>(count))
                                   : Value::Double(static_cast<double>(count));
      case AggregateKind::kSum:
        if (count == 0) return Value();
        if (whole && std::fabs(sum) <= 2147483647.0) {
          return Value::Long(static_cast<std::int32_t>(sum));
        }
        return Value::Double(sum);
      case AggregateKind::kAvg:
        return count == 0 ? Value() : Value::Double(sum / static_cast<double>(count));
      case AggregateKind::kMin:
      case AggregateKind::kMax:
        return best;
    }
    return Value();
  }
};

}  // namespace

std::string ValueText(const Value& v) {
  switch (v.kind()) {
    case ValueKind::kNull:
      return "";
    case ValueKind::kBool:
      return v.bool_value() ? "True" : "False";
    case ValueKind::kBinary: {
      const auto& b = v.binary_value();
      return std::string(b.begin(), b.end());
    }
    case ValueKind::kCurrency:
    case ValueKind::kDecimal: {
      std::string s = v.ToString();
      if (s.find('.') != std::string::npos) {
        while (s.back() == '0') s.pop_back();
        if (s.back() == '.') s.pop_back();
      }
      if (s == "-0") s = "0";
      return s;
    }
    case ValueKind::kDateTime: {
      std::string s = v.ToString();
      if (s.size() > 10 && s.substr(10) == " 00:00:00") s.resize(10);
      return s;
    }
    default:
      return v.ToString();
  }
}

std::string TableExistsMessage(std::string_view table) {
  return "Table '" + std::string(table) + "' already exists.";
}

std::string NoSuchInputMessage(std::string_view name) {
  return "The Microsoft Jet database engine cannot find the input table or query '" +
         std::string(name) + "'.  Make sure it exists and that its name is spelled correctly.";
}

std::string DuplicateValuesMessage() {
  return "The changes you requested to the table were not successful because they would create "
         "duplicate values in the index, primary key, or relationship.  Change the data in the "
         "field or fields that contain duplicate data, remove the index, or redefine the index to "
         "permit duplicate entries and try again.";
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

Result<const TableInfo*> Executor::Table(std::string_view name) {
  std::string key = LowerAscii(name);
  auto it = tables_.find(key);
  if (it != tables_.end()) return &it->second;
  auto info = db_->GetTable(name);
  if (!info.ok()) {
    if (info.status().code() == StatusCode::kNotFound) return Fail(NoSuchInputMessage(name));
    return info.status();
  }
  return &(tables_[key] = std::move(*info));
}

Result<ExecResult> Executor::Execute(std::string_view sql) {
  VELQUIN_ASSIGN_OR_RETURN(Statement st, ParseStatement(sql));
  return Run(st);
}

Result<ExecResult> Executor::Run(const Statement& statement) {
  if (!std::holds_alternative<Insert>(statement) && !std::holds_alternative<Select>(statement)) {
    tables_.clear();
  }
  return std::visit(
      [&](const auto& st) -> Result<ExecResult> {
        using T = std::decay_t<decltype(st)>;
        if constexpr (std::is_same_v<T, CreateTable>) return RunCreateTable(st);
        if constexpr (std::is_same_v<T, AlterTableAddConstraint>) return RunAlter(st);
        if constexpr (std::is_same_v<T, AlterTableDropConstraint>) return RunDropConstraint(st);
        if constexpr (std::is_same_v<T, CreateIndex>) return RunCreateIndex(st);
        if constexpr (std::is_same_v<T, DropIndex>) return RunDropIndex(st);
        if constexpr (std::is_same_v<T, DropTable>) return RunDropTable(st);
        if constexpr (std::is_same_v<T, DropView>) return RunDropView(st);
        if constexpr (std::is_same_v<T, Insert>) return RunInsert(st);
        if constexpr (std::is_same_v<T, CreateView>) return RunCreateView(st);
        if constexpr (std::is_same_v<T, Select>) return RunSelect(st);
        if constexpr (std::is_same_v<T, Delete>) return RunDelete(st);
      },
      statement);
}

Result<ExecResult> Executor::RunCreateTable(const CreateTable& st) {
  if (db_->NameInUse(st.table)) return Fail(TableExistsMessage(st.table));
  TableSpec spec;
  spec.name = st.table;
  for (const ColumnDef& c : st.columns) {
    ColumnSpec cs;
    cs.name = c.name;
    cs.type = static_cast<ColumnType>(static_cast<std::uint8_t>(c.type.type));
    cs.size = static_cast<std::uint16_t>(c.type.size);
    if (c.type.type == DataType::kText && cs.size == 0) cs.size = 255;
    if (c.type.type == DataType::kBinary && cs.size == 0) cs.size = 255;
    if (c.type.type == DataType::kDecimal) {
      cs.precision = static_cast<std::uint8_t>(c.type.precision ? c.type.precision : 18);
      cs.scale = static_cast<std::uint8_t>(c.type.scale);
    }
    cs.auto_increment = c.type.auto_increment;
    cs.not_null = c.not_null;
    if (c.default_value) cs.default_value = DefaultValueText(*c.default_value);
    spec.columns.push_back(cs);
  }
  auto column_number = [&](const std::string& name) -> Result<std::uint16_t> {
    for (std::size_t i = 0; i < spec.columns.size(); ++i) {
      if (SameName(spec.columns[i].name, name)) return static_cast<std::uint16_t>(i);
    }
    return Fail("Column '" + name + "' in the index is not a field of table '" + st.table + "'.");
  };
  int unnamed = 0;
  for (const ConstraintDef& k : st.constraints) {
    if (k.kind == ConstraintKind::kForeignKey) continue;  // after the table exists
    IndexSpec is;
    is.name = !k.name.empty()                         ? k.name
              : k.kind == ConstraintKind::kPrimaryKey ? "PrimaryKey"
                                                      : "Index" + std::to_string(++unnamed);
    for (const std::string& col : k.columns) {
      VELQUIN_ASSIGN_OR_RETURN(std::uint16_t n, column_number(col));
      is.columns.push_back({n, true});
      if (k.kind == ConstraintKind::kPrimaryKey) spec.columns[n].not_null = true;
    }
    is.primary_key = k.kind == ConstraintKind::kPrimaryKey;
    is.unique = true;
    spec.indexes.push_back(is);
  }
  Status s = db_->CreateTable(spec);
  if (!s.ok()) return s;
  for (const ConstraintDef& k : st.constraints) {
    if (k.kind != ConstraintKind::kForeignKey) continue;
    if (!db_->NameInUse(k.ref_table)) {
      (void)db_->DropTable(st.table);
      return Fail(NoSuchInputMessage(k.ref_table));
    }
    Status r = db_->CreateRelationship(RelationshipOf(st.table, k));
    if (!r.ok()) {
      (void)db_->DropTable(st.table);  // nothing half-made stays behind
      return r;
    }
  }
  return ExecResult{};
}

Status Executor::AddIndex(const std::string& table, const std::string& name,
                          const std::vector<std::string>& columns,
                          const std::vector<bool>& descending, bool primary, bool unique,
                          bool required, bool ignore_nulls) {
  VELQUIN_ASSIGN_OR_RETURN(const TableInfo* info, Table(table));
  IndexSpec is;
  is.name = name;
  for (std::size_t k = 0; k < columns.size(); ++k) {
    bool found = false;
    for (std::size_t i = 0; i < info->columns.size(); ++i) {
      if (SameName(info->columns[i].name, columns[k])) {
        if (info->columns[i].type == ColumnType::kOle ||
            info->columns[i].type == ColumnType::kMemo) {
          return Fail("Cannot index the field '" + info->columns[i].name +
                      "' because of its data type (Memo or OLE Object).");
        }
        is.columns.push_back(
            {static_cast<std::uint16_t>(i), !(k < descending.size() && descending[k])});
        found = true;
      }
    }
    if (!found) {
      return Fail("Column '" + columns[k] + "' in the index is not a field of table '" +
                  info->name + "'.");
    }
  }
  for (const IndexInfo& ix : info->indexes) {
    if (SameName(ix.name, name)) return Fail("Index '" + name + "' already exists.");
    if (primary && ix.primary_key) return Fail("Primary key already exists.");
  }
  is.primary_key = primary;
  is.unique = unique || primary;
  is.required = required;
  is.ignore_nulls = ignore_nulls;
  const std::string table_name = info->name;
  tables_.clear();
  return TranslateEngineError(db_->CreateIndex(table_name, is), table_name);
}

Result<ExecResult> Executor::RunAlter(const AlterTableAddConstraint& st) {
  const ConstraintDef& k = st.constraint;
  VELQUIN_ASSIGN_OR_RETURN(const TableInfo* info, Table(st.table));
  if (k.kind == ConstraintKind::kForeignKey) {
    const std::string table = info->name;
    if (!db_->NameInUse(k.ref_table)) return Fail(NoSuchInputMessage(k.ref_table));
    tables_.clear();
    VELQUIN_RETURN_IF_ERROR(db_->CreateRelationship(RelationshipOf(table, k)));
    return ExecResult{};
  }
  std::string name = k.name;
  if (name.empty()) {
    name = k.kind == ConstraintKind::kPrimaryKey ? "PrimaryKey" : "Index";
    if (k.kind != ConstraintKind::kPrimaryKey) {
      for (const auto& c : k.columns) name += "_" + c;
    }
  }
  std::string table = info->name;
  VELQUIN_RETURN_IF_ERROR(AddIndex(table, name, k.columns, {},
                                   k.kind == ConstraintKind::kPrimaryKey, true, false, false));
  return ExecResult{};
}

// A relationship goes with its catalogue row, its MSysRelationships rows and
// the indexes it added on both sides; a constraint that is an index goes as
// DROP INDEX would take it.
Result<ExecResult> Executor::RunDropConstraint(const AlterTableDropConstraint& st) {
  VELQUIN_ASSIGN_OR_RETURN(const TableInfo* info, Table(st.table));
  const std::string table = info->name;
  tables_.clear();
  Status s = db_->DropRelationship(table, st.name);
  if (s.code() == StatusCode::kNotFound) {
    auto index = db_->DropIndex(table, st.name);
    if (index.code() == StatusCode::kNotFound) {
      return Fail("Constraint '" + st.name + "' does not exist.");
    }
    VELQUIN_RETURN_IF_ERROR(index);
    return ExecResult{};
  }
  VELQUIN_RETURN_IF_ERROR(s);
  return ExecResult{};
}

Result<ExecResult> Executor::RunCreateIndex(const CreateIndex& st) {
  std::vector<std::string> cols;
  std::vector<bool> desc;
  for (const auto& c : st.columns) {
    cols.push_back(c.name);
    desc.push_back(c.descending);
  }
  VELQUIN_RETURN_IF_ERROR(AddIndex(st.table, st.name, cols, desc, st.primary, st.unique,
                                   st.disallow_null, st.ignore_null));
  return ExecResult{};
}

Result<ExecResult> Executor::RunDropIndex(const DropIndex& st) {
  VELQUIN_ASSIGN_OR_RETURN(const TableInfo* info, Table(st.table));
  bool found = false;
  for (const IndexInfo& ix : info->indexes) found = found || SameName(ix.name, st.name);
  if (!found) return Fail("'" + st.name + "' isn't an index in this table.");
  std::string table = info->name;
  tables_.clear();
  VELQUIN_RETURN_IF_ERROR(db_->DropIndex(table, st.name));
  return ExecResult{};
}

Result<ExecResult> Executor::RunDropTable(const DropTable& st) {
  auto info = db_->GetTable(st.table);
  if (!info.ok()) {
    if (db_->IsQuery(st.table)) return Fail("Table '" + st.table + "' does not exist.");
    return Fail("Table '" + st.table + "' does not exist.");
  }
  if (info->system)
    return Fail("Could not delete; system table '" + info->name + "' cannot be dropped.");
  for (const IndexInfo& ix : info->indexes) {
    if (ix.foreign_key) {
      return Fail(
          "Cannot delete this index or table.  It is either the current index or it is "
          "used in a relationship.");
    }
  }
  VELQUIN_RETURN_IF_ERROR(db_->DropTable(info->name));
  return ExecResult{};
}

Result<ExecResult> Executor::RunDropView(const DropView& st) {
  if (!db_->IsQuery(st.view)) return Fail("Query '" + st.view + "' does not exist.");
  VELQUIN_RETURN_IF_ERROR(db_->DropQuery(st.view));
  return ExecResult{};
}

Status Executor::InsertRow(std::string_view table, const std::vector<Value>& row) {
  VELQUIN_ASSIGN_OR_RETURN(const TableInfo* info, Table(table));
  if (row.size() != info->columns.size()) {
    return Fail("Number of query values and destination fields are not the same.");
  }
  return TranslateEngineError(db_->Insert(info->name, row), info->name);
}

Result<ExecResult> Executor::RunInsert(const Insert& st) {
  VELQUIN_ASSIGN_OR_RETURN(const TableInfo* info, Table(st.table));
  const std::size_t n = info->columns.size();
  std::vector<Value> row(n);
  std::vector<bool> given(n, false);
  if (st.columns.empty()) {
    if (st.values.size() != n)
      return Fail("Number of query values and destination fields are not the same.");
    for (std::size_t i = 0; i < n; ++i) {
      VELQUIN_ASSIGN_OR_RETURN(row[i], ConvertLiteral(st.values[i], info->columns[i]));
    }
  } else {
    if (st.values.size() != st.columns.size()) {
      return Fail("Number of query values and destination fields are not the same.");
    }
    for (std::size_t k = 0; k < st.columns.size(); ++k) {
      std::size_t i = 0;
      while (i < n && !SameName(info->columns[i].name, st.columns[k])) ++i;
      if (i == n) {
        return Fail(
            "The INSERT INTO statement contains the following unknown field name: '" +
            st.columns[k] +
            "'.  Make sure you have typed the name correctly, and try the operation again.");
      }
      if (given[i]) return Fail("Duplicate output destination '" + info->columns[i].name + "'.");
      given[i] = true;
      VELQUIN_ASSIGN_OR_RETURN(row[i], ConvertLiteral(st.values[k], info->columns[i]));
    }
    // Columns the statement leaves out get their default, as in Access.
    const DateTimeValue now = LocalNow();
    for (std::size_t i = 0; i < n; ++i) {
      if (given[i] || info->columns[i].default_value.empty()) continue;
      VELQUIN_ASSIGN_OR_RETURN(row[i], EvaluateDefault(info->columns[i], info->name, now));
    }
  }
  VELQUIN_RETURN_IF_ERROR(TranslateEngineError(db_->Insert(info->name, row), info->name));
  ExecResult r;
  r.rows_affected = 1;
  return r;
}

Result<ExecResult> Executor::RunCreateView(const CreateView& st) {
  if (db_->NameInUse(st.view)) return Fail(TableExistsMessage(st.view));
  std::vector<const Select*> parts = {&st.select};
  for (const UnionPart& u : st.select.unions) parts.push_back(&u.select);
  for (const Select* part : parts) {
    for (const FromItem& f : part->from) {
      if (!f.is_join && !db_->NameInUse(f.table)) return Fail(NoSuchInputMessage(f.table));
    }
  }
  VELQUIN_ASSIGN_OR_RETURN(std::vector<QueryRow> rows, ViewToQueryRows(st));
  // MSysQueries: ObjectId, Attribute, Order, Name1, Name2, Expression, Flag, LvExtra.
  std::vector<std::vector<Value>> stored;
  std::map<int, std::uint32_t> order;
  for (const QueryRow& q : rows) {
    std::vector<Value> v(8);
    v[1] = Value::Byte(static_cast<std::uint8_t>(q.attribute));
    std::uint32_t seq = ++order[static_cast<int>(q.attribute)];
    v[2] =
        Value::Binary({static_cast<std::uint8_t>(seq >> 24), static_cast<std::uint8_t>(seq >> 16),
                       static_cast<std::uint8_t>(seq >> 8), static_cast<std::uint8_t>(seq)});
    if (q.name1) v[3] = Value::Text(*q.name1);
    if (q.name2) v[4] = Value::Text(*q.name2);
    if (q.expression) v[5] = Value::Text(*q.expression);
    if (q.flag) v[6] = Value::Short(*q.flag);
    stored.push_back(std::move(v));
  }
  VELQUIN_RETURN_IF_ERROR(db_->CreateQuery(st.view, std::move(stored), QueryObjectFlags(rows)));
  return ExecResult{};
}

Result<ExecResult> Executor::RunDelete(const Delete& st) {
  auto info = db_->GetTable(st.table);
  if (!info.ok()) {
    if (db_->IsQuery(st.table)) return Fail("Could not delete from specified tables.");
    return Fail(NoSuchInputMessage(st.table));
  }
  if (info->system) return Fail("Could not delete from specified tables.");
  Binding b;
  Source s;
  s.table = info->name;
  s.alias = info->name;
  s.info = std::move(*info);
  b.width = s.info.columns.size();
  b.sources.push_back(std::move(s));
  RowFilter match = [&](const std::vector<Value>& row) -> Result<bool> {
    if (!st.where) return true;
    VELQUIN_ASSIGN_OR_RETURN(Value w, Eval(*st.where, b, row));
    auto t = AsTruth(w);
    return t && *t;
  };
  VELQUIN_ASSIGN_OR_RETURN(std::uint64_t n, db_->Delete(b.sources[0].table, match));
  ExecResult r;
  r.rows_affected = n;
  return r;
}

Result<ExecResult> Executor::RunSelect(const Select& st) {
  if (st.from.empty()) return Fail("Query input must contain at least one table or query.");
  if (!st.unions.empty()) {
    return Fail(
        "UNION queries are not run here; save one with CREATE VIEW, or run its SELECTs "
        "one by one.");
  }
  if (!st.group_by.empty() || st.having) return Fail("GROUP BY and HAVING are not supported here.");
  Binding b;
  std::vector<std::vector<std::vector<Value>>> data;
  for (const FromItem& f : st.from) {
    if (f.is_join)
      return Fail("JOIN is not supported here; list the tables with commas and a WHERE condition.");
    auto info = db_->GetTable(f.table);
    if (!info.ok()) return Fail(NoSuchInputMessage(f.table));
    Source s;
    s.table = info->name;
    s.alias = f.alias.empty() ? info->name : f.alias;
    s.info = std::move(*info);
    s.offset = b.width;
    b.width += s.info.columns.size();
    VELQUIN_ASSIGN_OR_RETURN(auto cur, db_->Scan(s.table));
    std::vector<std::vector<Value>> rows;
    std::vector<Value> row;
    for (;;) {
      VELQUIN_ASSIGN_OR_RETURN(bool more, cur->Next(&row));
      if (!more) break;
      rows.push_back(row);
    }
    data.push_back(std::move(rows));
    b.sources.push_back(std::move(s));
  }
  // Output columns.
  ExecResult result;
  result.has_rows = true;
  struct Out {
    std::optional<std::size_t> column;  // a plain column: its place in the joined row
    const Expr* expr = nullptr;
  };
  std::vector<Out> outs;
  int expr_number = 1000;
  // Count, Sum, Avg, Min and Max over the rows the WHERE keeps: a select
  // list of these alone (there is no GROUP BY) gives one row.
  std::vector<Aggregate> aggregates;
  bool aggregating = false;
  for (const SelectItem& item : st.items) {
    if (AggregateKindOf(item.expr)) aggregating = true;
  }
  if (aggregating) {
    for (const SelectItem& item : st.items) {
      auto kind = AggregateKindOf(item.expr);
      if (!kind) {
        return Fail(
            "You tried to execute a query that does not include the specified "
            "expression '" +
            FormatExpression(item.expr) + "' as part of an aggregate function.");
      }
      if (item.expr.args.size() != 1 ||
          (item.expr.args[0].kind == ExprKind::kStar && *kind != AggregateKind::kCount)) {
        return Fail("Wrong number of arguments used with function in query expression '" +
                    FormatExpression(item.expr) + "'.");
      }
      Aggregate a;
      a.kind = *kind;
      a.arg = item.expr.args[0].kind == ExprKind::kStar ? nullptr : &item.expr.args[0];
      aggregates.push_back(a);
      ColumnType type = *kind == AggregateKind::kCount ? ColumnType::kLong
                        : (*kind == AggregateKind::kSum || *kind == AggregateKind::kAvg)
                            ? ColumnType::kDouble
                            : ColumnType::kMemo;
      result.columns.push_back(
          {item.alias.empty() ? "Expr" + std::to_string(expr_number++) : item.alias, type, 0});
      outs.push_back({std::nullopt, &item.expr});
    }
  }
  for (const SelectItem& item : st.items) {
    if (aggregating) break;
    if (item.expr.kind == ExprKind::kStar) {
      bool any = false;
      for (const Source& s : b.sources) {
        if (!item.expr.qualifier.empty() && !SameName(item.expr.qualifier, s.alias) &&
            !SameName(item.expr.qualifier, s.table)) {
          continue;
        }
        any = true;
        for (std::size_t i = 0; i < s.info.columns.size(); ++i) {
          const auto& c = s.info.columns[i];
          std::string name = c.name;
          if (b.sources.size() > 1 && item.expr.qualifier.empty()) name = s.alias + "." + c.name;
          result.columns.push_back({name, c.type, c.size});
          outs.push_back({s.offset + i, nullptr});
        }
      }
      if (!any) return Fail(NoSuchInputMessage(item.expr.qualifier));
      continue;
    }
    if (item.expr.kind == ExprKind::kColumn) {
      VELQUIN_ASSIGN_OR_RETURN(std::size_t i, b.Find(item.expr));
      const Source* src = nullptr;
      for (const Source& s : b.sources) {
        if (i >= s.offset && i < s.offset + s.info.columns.size()) src = &s;
      }
      const auto& c = src->info.columns[i - src->offset];
      result.columns.push_back({item.alias.empty() ? c.name : item.alias, c.type, c.size});
      outs.push_back({i, nullptr});
      continue;
    }
    result.columns.push_back(
        {item.alias.empty() ? "Expr" + std::to_string(expr_number++) : item.alias,
         ColumnType::kMemo, 0});
    outs.push_back({std::nullopt, &item.expr});
  }
  // Walk the product of the tables.
  std::vector<std::vector<Value>> order_keys;
  std::vector<std::size_t> index(data.size(), 0);
  bool empty = std::any_of(data.begin(), data.end(), [](const auto& d) { return d.empty(); });
  std::vector<Value> joined(b.width);
  std::vector<bool> typed(result.columns.size(), false);
  while (!empty) {
    for (std::size_t t = 0; t < data.size(); ++t) {
      std::copy(data[t][index[t]].begin(), data[t][index[t]].end(),
                joined.begin() + b.sources[t].offset);
    }
    bool keep = true;
    if (st.where) {
      VELQUIN_ASSIGN_OR_RETURN(Value w, Eval(*st.where, b, joined));
      auto t = AsTruth(w);
      keep = t && *t;
    }
    if (keep && aggregating) {
      for (Aggregate& a : aggregates) VELQUIN_RETURN_IF_ERROR(a.Add(b, joined));
    } else if (keep) {
      std::vector<Value> out;
      out.reserve(outs.size());
      for (std::size_t k = 0; k < outs.size(); ++k) {
        if (outs[k].column) {
          out.push_back(joined[*outs[k].column]);
        } else {
          VELQUIN_ASSIGN_OR_RETURN(Value v, Eval(*outs[k].expr, b, joined));
          if (!typed[k] && !v.is_null()) {
            result.columns[k].type = TypeOfValue(v);
            typed[k] = true;
          }
          out.push_back(std::move(v));
        }
      }
      std::vector<Value> keys;
      for (const OrderItem& o : st.order_by) {
        if (o.expr.kind == ExprKind::kNumber) {
          std::size_t pos = static_cast<std::size_t>(std::atoi(o.expr.text.c_str()));
          keys.push_back(pos >= 1 && pos <= out.size() ? out[pos - 1] : Value());
          continue;
        }
        VELQUIN_ASSIGN_OR_RETURN(Value v, Eval(o.expr, b, joined));
        keys.push_back(std::move(v));
      }
      result.rows.push_back(std::move(out));
      order_keys.push_back(std::move(keys));
    }
    // Next combination (the last table varies fastest).
    std::size_t t = data.size();
    while (t > 0) {
      --t;
      if (++index[t] < data[t].size()) break;
      index[t] = 0;
      if (t == 0) empty = true;
    }
    if (data.empty()) break;
  }
  if (aggregating) {
    std::vector<Value> out;
    for (std::size_t k = 0; k < aggregates.size(); ++k) {
      out.push_back(aggregates[k].Result());
      if (result.columns[k].type == ColumnType::kMemo && !out.back().is_null()) {
        result.columns[k].type = TypeOfValue(out.back());
      }
    }
    result.rows.push_back(std::move(out));
    order_keys.push_back(std::vector<Value>(st.order_by.size()));
  }
  if (!st.order_by.empty()) {
    std::vector<std::size_t> perm(result.rows.size());
    for (std::size_t i = 0; i < perm.size(); ++i) perm[i] = i;
    std::stable_sort(perm.begin(), perm.end(), [&](std::size_t x, std::size_t y) {
      for (std::size_t k = 0; k < st.order_by.size(); ++k) {
        const Value& a = order_keys[x][k];
        const Value& c = order_keys[y][k];
        int r;
        if (a.is_null() || c.is_null()) {
          r = a.is_null() == c.is_null() ? 0 : (a.is_null() ? -1 : 1);  // NULL first
        } else {
          r = CompareValues(a, c).value_or(0);
        }
        if (st.order_by[k].descending) r = -r;
        if (r != 0) return r < 0;
      }
      return false;
    });
    std::vector<std::vector<Value>> sorted;
    sorted.reserve(perm.size());
    for (std::size_t i : perm) sorted.push_back(std::move(result.rows[i]));
    result.rows = std::move(sorted);
  }
  if (st.quantifier != SelectQuantifier::kAll) {
    std::vector<std::vector<Value>> unique;
    for (auto& r : result.rows) {
      bool seen = false;
      for (const auto& u : unique) {
        bool same = true;
        for (std::size_t k = 0; k < r.size() && same; ++k) {
          if (r[k].is_null() || u[k].is_null()) {
            same = r[k].is_null() == u[k].is_null();
          } else {
            same = CompareValues(r[k], u[k]).value_or(1) == 0;
          }
        }
        if (same) {
          seen = true;
          break;
        }
      }
      if (!seen) unique.push_back(std::move(r));
    }
    result.rows = std::move(unique);
  }
  if (st.top) {
    double n = std::strtod(st.top->c_str(), nullptr);
    std::size_t keep = st.top_percent
                           ? static_cast<std::size_t>(std::ceil(result.rows.size() * n / 100.0))
                           : static_cast<std::size_t>(n);
    if (keep < result.rows.size()) result.rows.resize(keep);
  }
  if (!st.into.empty()) return RunSelectInto(st, std::move(result));
  return result;
}

Result<ExecResult> Executor::RunSelectInto(const Select& st, ExecResult result) {
  if (db_->NameInUse(st.into)) return Fail(TableExistsMessage(st.into));
  TableSpec spec;
  spec.name = st.into;
  for (const ResultColumn& c : result.columns) {
    for (const ColumnSpec& have : spec.columns) {
      if (SameName(have.name, c.name))
        return Fail("Duplicate output destination '" + c.name + "'.");
    }
    ColumnSpec cs;
    cs.name = c.name;
    cs.type = c.type;
    cs.size = c.size;
    spec.columns.push_back(cs);
  }
  // Decimal columns keep their precision and scale.
  for (const FromItem& f : st.from) {
    auto info = db_->GetTable(f.table);
    if (!info.ok()) continue;
    for (ColumnSpec& cs : spec.columns) {
      for (const auto& c : info->columns) {
        if (SameName(c.name, cs.name) && c.type == ColumnType::kNumeric &&
            cs.type == ColumnType::kNumeric) {
          cs.precision = c.precision;
          cs.scale = c.scale;
        }
      }
    }
  }
  VELQUIN_RETURN_IF_ERROR(db_->CreateTable(spec));
  Status s = [&]() -> Status {
    VELQUIN_ASSIGN_OR_RETURN(auto w, db_->BulkAppend(st.into));
    for (const auto& row : result.rows) VELQUIN_RETURN_IF_ERROR(w->Append(row));
    return w->Finish();
  }();
  if (!s.ok()) {
    (void)db_->DropTable(st.into);
    return s;
  }
  ExecResult r;
  r.rows_affected = result.rows.size();
  return r;
}

}  // namespace velquin::jet::sql
