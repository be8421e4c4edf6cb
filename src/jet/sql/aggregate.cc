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

namespace {

// The kinds whose values a double holds exactly and compares as
// CompareValues does (by ToDouble).
bool HeldAsDouble(ValueKind kind) {
  switch (kind) {
    case ValueKind::kByte:
    case ValueKind::kShort:
    case ValueKind::kLong:
    case ValueKind::kSingle:
    case ValueKind::kDouble:
    case ValueKind::kDateTime:
      return true;
    default:
      return false;
  }
}

Value FromDouble(ValueKind kind, double d) {
  switch (kind) {
    case ValueKind::kByte:
      return Value::Byte(static_cast<std::uint8_t>(d));
    case ValueKind::kShort:
      return Value::Short(static_cast<std::int16_t>(d));
    case ValueKind::kLong:
      return Value::Long(static_cast<std::int32_t>(d));
    case ValueKind::kSingle:
      return Value::Single(static_cast<float>(d));
    case ValueKind::kDateTime:
      return Value::Date(DateTime{d});
    default:
      return Value::Double(d);
  }
}

}  // namespace

void AggregateColumn::AddGroup() {
  switch (kind_) {
    case AggregateKind::kCount:
      counts_.push_back(0);
      break;
    case AggregateKind::kSum:
    case AggregateKind::kAvg:
    case AggregateKind::kStDev:
    case AggregateKind::kVar:
      counts_.push_back(0);
      sums_.push_back(0);
      if (kind_ == AggregateKind::kSum) whole_.push_back(true);
      if (kind_ == AggregateKind::kStDev || kind_ == AggregateKind::kVar) squares_.push_back(0);
      break;
    case AggregateKind::kMin:
    case AggregateKind::kMax:
      has_.push_back(false);
      if (as_values_) {
        values_.emplace_back();
      } else {
        numbers_.push_back(0);
      }
      break;
    case AggregateKind::kFirst:
    case AggregateKind::kLast:
      has_.push_back(false);
      values_.emplace_back();
      break;
  }
}

void AggregateColumn::ToValues() {
  values_.reserve(numbers_.size());
  for (std::size_t g = 0; g < numbers_.size(); ++g) {
    values_.push_back(has_[g] ? FromDouble(number_kind_, numbers_[g]) : Value());
  }
  std::vector<double>().swap(numbers_);
  as_values_ = true;
}

Status AggregateColumn::Add(std::size_t group, const Binding& b, const std::vector<Value>& row) {
  if (!arg_) {
    ++counts_[group];
    return Status::Ok();
  }
  Value evaluated;
  if (!place_) {
    VELQUIN_ASSIGN_OR_RETURN(evaluated, Eval(*arg_, b, row));
  }
  const Value& v = place_ ? row[*place_] : evaluated;
  switch (kind_) {
    case AggregateKind::kFirst:
    case AggregateKind::kLast:
      // The value of the group's first or last row, NULL included.
      if (kind_ == AggregateKind::kLast || !has_[group]) values_[group] = v;
      has_[group] = true;
      return Status::Ok();
    case AggregateKind::kCount:
      if (!v.is_null()) ++counts_[group];
      return Status::Ok();
    case AggregateKind::kSum:
    case AggregateKind::kAvg:
    case AggregateKind::kStDev:
    case AggregateKind::kVar: {
      if (v.is_null()) return Status::Ok();
      double d = 0;
      if (IsNumeric(v)) {
        d = ToDouble(v);
      } else if (v.kind() != ValueKind::kText || !ParseNumber(v.text_value(), &d)) {
        return Fail(kTypeMismatch);
      }
      ++counts_[group];
      sums_[group] += d;
      if (kind_ == AggregateKind::kSum) {
        std::int64_t i;
        if (!v.AsInt64(&i) || v.kind() == ValueKind::kBool) whole_[group] = false;
      }
      if (!squares_.empty()) squares_[group] += d * d;
      return Status::Ok();
    }
    case AggregateKind::kMin:
    case AggregateKind::kMax:
      break;
  }
  if (v.is_null()) return Status::Ok();
  const bool max = kind_ == AggregateKind::kMax;
  if (!as_values_) {
    if (number_kind_ == ValueKind::kNull && HeldAsDouble(v.kind())) number_kind_ = v.kind();
    if (v.kind() == number_kind_) {
      const double d = ToDouble(v);
      // As CompareValues: a NaN is never before nor after anything.
      if (!has_[group] || (max ? d > numbers_[group] : d < numbers_[group])) numbers_[group] = d;
      has_[group] = true;
      return Status::Ok();
    }
    ToValues();
  }
  Value& best = values_[group];
  if (!has_[group]) {
    best = v;
    has_[group] = true;
    return Status::Ok();
  }
  auto c = CompareValues(v, best);
  if (!c) return Fail(kTypeMismatch);
  if (max ? *c > 0 : *c < 0) best = v;
  return Status::Ok();
}

Value AggregateColumn::Result(std::size_t group) const {
  switch (kind_) {
    case AggregateKind::kCount: {
      const std::int64_t count = counts_[group];
      return count <= 0x7FFFFFFF ? Value::Long(static_cast<std::int32_t>(count))
                                 : Value::Double(static_cast<double>(count));
    }
    case AggregateKind::kSum: {
      if (counts_[group] == 0) return Value();
      const double sum = sums_[group];
      if (whole_[group] && std::fabs(sum) <= 2147483647.0) {
        return Value::Long(static_cast<std::int32_t>(sum));
      }
      return Value::Double(sum);
    }
    case AggregateKind::kAvg:
      return counts_[group] == 0
                 ? Value()
                 : Value::Double(sums_[group] / static_cast<double>(counts_[group]));
    case AggregateKind::kStDev:
    case AggregateKind::kVar: {
      if (counts_[group] < 2) return Value();
      const double n = static_cast<double>(counts_[group]);
      const double sum = sums_[group];
      const double var = std::max(0.0, (squares_[group] - sum * sum / n) / (n - 1));
      return Value::Double(kind_ == AggregateKind::kVar ? var : std::sqrt(var));
    }
    case AggregateKind::kMin:
    case AggregateKind::kMax:
      if (!as_values_) return has_[group] ? FromDouble(number_kind_, numbers_[group]) : Value();
      return values_[group];
    case AggregateKind::kFirst:
    case AggregateKind::kLast:
      return values_[group];
  }
  return Value();
}

}  // namespace velquin::jet::sql
