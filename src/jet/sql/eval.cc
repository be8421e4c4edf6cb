// Expressions evaluated over one row of a query's sources.
#include <cmath>
#include <optional>

#include "jet/sql/executor_internal.h"
#include "jet/sql/format.h"
#include "jet/sql/functions.h"
#include "jet/sql/names.h"
#include "jet/sql/value_ops.h"

namespace velquin::jet::sql {

Result<std::size_t> Binding::Find(const Expr& col) const {
  auto it = resolved_.find(&col);
  if (it != resolved_.end()) return it->second;
  VELQUIN_ASSIGN_OR_RETURN(std::size_t i, Resolve(col));
  resolved_.emplace(&col, i);
  return i;
}

Result<std::size_t> Binding::Resolve(const Expr& col) const {
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
  if (!hit && outer) {
    // A correlated subquery: the column of the query around it.
    auto place = outer->Find(col);
    if (place.ok()) {
      if (outer_refs) outer_refs->push_back(*place);
      return *place + kOuterStep;
    }
  }
  if (!hit) return Fail("No value given for one or more required parameters.");
  return *hit;
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
      if (i < kOuterStep) return row[i];
      // A column of a query around this one, on the row that query is on.
      const Binding* at = &b;
      const std::vector<Value>* outer_row = &row;
      while (i >= kOuterStep) {
        outer_row = at->outer_row;
        at = at->outer;
        i -= kOuterStep;
      }
      return (*outer_row)[i];
    }
    case ExprKind::kSubquery:
    case ExprKind::kExists:
    case ExprKind::kAny:
    case ExprKind::kAll:
      if (!b.subqueries) return Fail("Subqueries are not supported in this statement.");
      return b.subqueries->Evaluate(e, b, row);
    case ExprKind::kStar:
      return Fail("Syntax error in query expression '*'.");
    case ExprKind::kFunction: {
      if (b.aggregate_index) {
        auto it = b.aggregate_index->find(&e);
        if (it != b.aggregate_index->end()) return (*b.aggregate_values)[it->second];
      }
      if (AggregateKindOf(e)) {
        return Fail("Cannot have aggregate function in expression (" + FormatExpression(e) + ").");
      }
      // Arguments are evaluated when the function asks for them: IIf and
      // Switch leave the branch they do not take alone, as Access does.
      return CallFunction(e, [&](const Expr& a) { return Eval(a, b, row); });
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
      if (!e.subquery.empty()) {
        if (!b.subqueries) return Fail("Subqueries are not supported in this statement.");
        return b.subqueries->Evaluate(e, b, row);
      }
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

}  // namespace velquin::jet::sql
