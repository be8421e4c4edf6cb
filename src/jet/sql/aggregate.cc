// Aggregates of a query (Count, Sum, Avg, Min, Max, First, Last, StDev, Var).
#include <algorithm>
#include <cmath>

#include "jet/sql/executor_internal.h"
#include "jet/sql/names.h"
#include "jet/sql/value_ops.h"

namespace velquin::jet::sql {

std::optional<AggregateKind> AggregateKindOf(const Expr& e) {
  if (e.kind != ExprKind::kFunction) return std::nullopt;
  const std::string name = LowerAscii(e.text);
  if (name == "count") return AggregateKind::kCount;
  if (name == "sum") return AggregateKind::kSum;
  if (name == "avg") return AggregateKind::kAvg;
  if (name == "min") return AggregateKind::kMin;
  if (name == "max") return AggregateKind::kMax;
  if (name == "first") return AggregateKind::kFirst;
  if (name == "last") return AggregateKind::kLast;
  if (name == "stdev") return AggregateKind::kStDev;
  if (name == "var") return AggregateKind::kVar;
  return std::nullopt;
}

Status Aggregate::Add(const Binding& b, const std::vector<Value>& row) {
  if (!arg) {
    ++count;
    return Status::Ok();
  }
  Value evaluated;
  if (!place) {
    VELQUIN_ASSIGN_OR_RETURN(evaluated, Eval(*arg, b, row));
  }
  const Value& v = place ? row[*place] : evaluated;
  if (kind == AggregateKind::kFirst || kind == AggregateKind::kLast) {
    // The value of the group's first or last row, NULL included.
    if (kind == AggregateKind::kLast || count == 0) best = v;
    ++count;
    return Status::Ok();
  }
  if (v.is_null()) return Status::Ok();
  ++count;
  switch (kind) {
    case AggregateKind::kCount:
      break;
    case AggregateKind::kFirst:
    case AggregateKind::kLast:
      break;  // taken above
    case AggregateKind::kSum:
    case AggregateKind::kAvg:
    case AggregateKind::kStDev:
    case AggregateKind::kVar: {
      double d = 0;
      if (IsNumeric(v)) {
        d = ToDouble(v);
      } else if (v.kind() != ValueKind::kText || !ParseNumber(v.text_value(), &d)) {
        return Fail(kTypeMismatch);
      }
      std::int64_t i;
      whole = whole && v.AsInt64(&i) && v.kind() != ValueKind::kBool;
      sum += d;
      sum_squares += d * d;
      break;
    }
    case AggregateKind::kMin:
    case AggregateKind::kMax: {
      if (best.is_null()) {
        best = v;
        break;
      }
      auto c = CompareValues(v, best);
      if (!c) return Fail(kTypeMismatch);
      if ((kind == AggregateKind::kMin && *c < 0) || (kind == AggregateKind::kMax && *c > 0)) {
        best = v;
      }
      break;
    }
  }
  return Status::Ok();
}

Value Aggregate::Result() const {
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
    case AggregateKind::kStDev:
    case AggregateKind::kVar: {
      if (count < 2) return Value();
      const double n = static_cast<double>(count);
      const double var = std::max(0.0, (sum_squares - sum * sum / n) / (n - 1));
      return Value::Double(kind == AggregateKind::kVar ? var : std::sqrt(var));
    }
    case AggregateKind::kMin:
    case AggregateKind::kMax:
    case AggregateKind::kFirst:
    case AggregateKind::kLast:
      return best;
  }
  return Value();
}

}  // namespace velquin::jet::sql
