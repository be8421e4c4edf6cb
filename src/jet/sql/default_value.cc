// Column defaults: see default_value.h.
#include "jet/sql/default_value.h"

#include <cctype>
#include <chrono>
#include <ctime>

#include "jet/sql/executor.h"
#include "jet/sql/format.h"
#include "jet/sql/names.h"
#include "jet/sql/parser.h"

namespace velquin::jet::sql {
namespace {

// Now, Date and Time as Access spells them; empty for other names.
std::string ClockFunction(std::string_view name) {
  const std::string n = LowerAscii(name);
  if (n == "now") return "Now";
  if (n == "date") return "Date";
  if (n == "time") return "Time";
  return "";
}

// Access's Yes/No words read as names to the SQL parser; they are booleans.
bool YesNoWord(const Expr& e, bool* value) {
  if (e.kind != ExprKind::kColumn || !e.qualifier.empty()) return false;
  const std::string w = LowerAscii(e.text);
  if (w != "yes" && w != "no" && w != "on" && w != "off") return false;
  *value = w == "yes" || w == "on";
  return true;
}

// A stored text that is one Yes/No word ("On" is a reserved word to the
// parser, so the whole text is looked at first).
bool WholeYesNoWord(std::string_view text, bool* value) {
  Expr e;
  e.kind = ExprKind::kColumn;
  e.text = std::string(text);
  while (!e.text.empty() && std::isspace(static_cast<unsigned char>(e.text.back()))) {
    e.text.pop_back();
  }
  return YesNoWord(e, value);
}

void WordsToBooleans(Expr* e) {
  bool b;
  if (YesNoWord(*e, &b)) {
    const bool parenthesized = e->parenthesized;
    *e = Expr{};
    e->kind = ExprKind::kBoolean;
    e->boolean = b;
    e->parenthesized = parenthesized;
  }
  for (Expr& a : e->args) WordsToBooleans(&a);
}

void SpellFunctions(Expr* e) {
  if (e->kind == ExprKind::kFunction) {
    std::string canonical = ClockFunction(e->text);
    if (!canonical.empty()) e->text = canonical;
  }
  for (Expr& a : e->args) SpellFunctions(&a);
}

std::string FieldName(std::string_view table, const ColumnInfo& column) {
  return std::string(table) + "." + column.name;
}

// Why an expression cannot be evaluated here; empty when it can.
struct Unevaluable {
  std::string unknown_function;  // Jet's own message names the function
};

Expr StringLiteral(std::string text) {
  Expr e;
  e.kind = ExprKind::kString;
  e.text = std::move(text);
  return e;
}

// Folds `e` into one literal expression (what ConvertLiteral takes), or
// says why it cannot.
Result<Expr> Fold(const Expr& e, const DateTimeValue& now, Unevaluable* why) {
  switch (e.kind) {
    case ExprKind::kNull:
    case ExprKind::kBoolean:
    case ExprKind::kNumber:
    case ExprKind::kString:
    case ExprKind::kDate:
    case ExprKind::kBinary:
      return e;
    case ExprKind::kColumn: {
      Expr b;
      if (!YesNoWord(e, &b.boolean)) break;
      b.kind = ExprKind::kBoolean;
      return b;
    }
    case ExprKind::kUnary:
      if (e.unary_op != UnaryOp::kNot && e.args.size() == 1) {
        VELQUIN_ASSIGN_OR_RETURN(Expr inner, Fold(e.args[0], now, why));
        if (inner.kind == ExprKind::kNull) return inner;
        if (inner.kind == ExprKind::kNumber) {
          Expr u = e;
          u.args[0] = std::move(inner);
          return u;
        }
      }
      break;
    case ExprKind::kFunction: {
      const std::string name = ClockFunction(e.text);
      if (name.empty()) {
        why->unknown_function = e.text;
        break;
      }
      if (!e.args.empty()) break;
      Expr d;
      d.kind = ExprKind::kDate;
      d.date = now;
      d.date.millisecond = 0;
      if (name == "Date") d.date.hour = d.date.minute = d.date.second = 0;
      if (name == "Time") {
        d.date.year = 1899;
        d.date.month = 12;
        d.date.day = 30;
      }
      return d;
    }
    case ExprKind::kBinaryOp:
      if (e.binary_op == BinaryOp::kConcat && e.args.size() == 2) {
        VELQUIN_ASSIGN_OR_RETURN(Expr l, Fold(e.args[0], now, why));
        VELQUIN_ASSIGN_OR_RETURN(Expr r, Fold(e.args[1], now, why));
        auto text = [](const Expr& x, std::string* out) {
          switch (x.kind) {
            case ExprKind::kNull:
              return true;
            case ExprKind::kString:
            case ExprKind::kNumber:
              *out += x.text;
              return true;
            case ExprKind::kBoolean:
              *out += x.boolean ? "True" : "False";
              return true;
            case ExprKind::kDate:
              *out += x.date.ToIsoText();
              return true;
            default:
              return false;
          }
        };
        if (l.kind == ExprKind::kNull && r.kind == ExprKind::kNull) return l;
        std::string s;
        if (text(l, &s) && text(r, &s)) return StringLiteral(std::move(s));
      }
      break;
    default:
      break;
  }
  return Status::InvalidArgument("cannot evaluate");
}

}  // namespace

std::string DefaultValueText(const Expr& expr) {
  Expr e = expr;
  SpellFunctions(&e);
  return FormatExpression(e, ExprStyle::kAccess);
}

std::string DefaultValueSql(std::string_view stored) {
  std::string_view text = stored;
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
    text.remove_prefix(1);
  }
  if (text.starts_with("=")) text.remove_prefix(1);  // Access accepts "=Date()"
  bool b;
  if (WholeYesNoWord(text, &b)) return b ? "True" : "False";
  auto e = ParseExpression(text);
  if (!e.ok()) return std::string(stored);
  WordsToBooleans(&*e);
  return FormatExpression(*e, ExprStyle::kSql);
}

Result<Value> EvaluateDefault(const ColumnInfo& column, std::string_view table,
                              const DateTimeValue& now) {
  std::string_view text = column.default_value;
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
    text.remove_prefix(1);
  }
  if (text.starts_with("=")) text.remove_prefix(1);
  if (text.find_first_not_of(" \t\r\n") == std::string_view::npos) return Value();
  const std::string field = FieldName(table, column);
  auto cannot = [&]() {
    return Status::InvalidArgument("The default value '" + column.default_value + "' of field '" +
                                   field +
                                   "' cannot be evaluated here; give the field a value in the "
                                   "INSERT INTO statement.");
  };
  Expr word;
  if (WholeYesNoWord(text, &word.boolean)) {
    word.kind = ExprKind::kBoolean;
    return Executor::ConvertLiteral(word, column);
  }
  auto parsed = ParseExpression(text);
  if (!parsed.ok()) return cannot();
  Unevaluable why;
  auto folded = Fold(*parsed, now, &why);
  if (!folded.ok()) {
    if (!why.unknown_function.empty()) {
      return Status::InvalidArgument("Unknown function '" + why.unknown_function +
                                     "' in validation expression or default value on '" + field +
                                     "'.");
    }
    return cannot();
  }
  auto value = Executor::ConvertLiteral(*folded, column);
  if (!value.ok()) {
    return Status::InvalidArgument("The default value '" + column.default_value + "' of field '" +
                                   field + "' does not fit the field: " + value.status().message());
  }
  return value;
}

DateTimeValue LocalNow() {
  std::time_t t = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm tm{};
  localtime_r(&t, &tm);
  DateTimeValue v;
  v.year = tm.tm_year + 1900;
  v.month = tm.tm_mon + 1;
  v.day = tm.tm_mday;
  v.hour = tm.tm_hour;
  v.minute = tm.tm_min;
  v.second = tm.tm_sec;
  return v;
}

}  // namespace velquin::jet::sql
