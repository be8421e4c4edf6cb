// Subqueries in expressions: (SELECT ...) as a value, EXISTS (SELECT ...),
// x IN (SELECT ...) and x op ANY|ALL (SELECT ...), with Jet's NULL rules.
//
// A subquery is run through the executor with the query around it as its
// outer query: a column name its own FROM clause does not know is looked up
// there (a correlated subquery). Each run lists the outer places it named;
// the result is kept under the values of those places, so a subquery that
// names none runs once, and a correlated one once per distinct set of outer
// values. Should a later run name a place the earlier ones did not (a branch
// of IIf not taken before), the kept results are dropped and the list grows:
// a kept result is only reused for rows that agree on every place its run
// could have read.
#include <algorithm>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "jet/sql/executor.h"
#include "jet/sql/executor_internal.h"
#include "jet/sql/value_ops.h"

namespace velquin::jet::sql {

namespace {

constexpr char kMoreThanOneField[] =
    "You have written a subquery that can return more than one field without using the EXISTS "
    "reserved word in the main query's FROM clause. Revise the SELECT statement of the subquery "
    "to request only one field.";
constexpr char kMoreThanOneRecord[] = "At most one record can be returned by this subquery.";

// What one run of a subquery gave, in the form its expression needs.
struct Outcome {
  Value scalar;                          // (SELECT ...): its one value, or NULL
  bool any_rows = false;                 // EXISTS
  std::unordered_set<std::string> keys;  // IN: the non-NULL values' group keys
  std::vector<Value> values;             // IN: the non-NULL values
  bool has_null = false;                 // IN: a NULL among them
  unsigned kinds = 0;                    // IN: bit per kind of value (KindBit)
};

// x op ANY (values): True when one comparison is True, else NULL when one
// is NULL, else False (over no values: False). ALL: False when one is
// False, else NULL when one is NULL, else True (over no values: True).
Result<Value> QuantifiedAnswer(const Expr& e, const Value& v, const Outcome& o) {
  const bool all = e.kind == ExprKind::kAll;
  if (o.values.empty() && !o.has_null) return Value::Bool(all);
  bool unknown = o.has_null || v.is_null();
  if (!v.is_null()) {
    for (const Value& x : o.values) {
      auto c = CompareValues(v, x);
      if (!c) return Fail(kTypeMismatch);
      bool holds = false;
      switch (e.binary_op) {
        case BinaryOp::kEq:
          holds = *c == 0;
          break;
        case BinaryOp::kNe:
          holds = *c != 0;
          break;
        case BinaryOp::kLt:
          holds = *c < 0;
          break;
        case BinaryOp::kLe:
          holds = *c <= 0;
          break;
        case BinaryOp::kGt:
          holds = *c > 0;
          break;
        default:
          holds = *c >= 0;
          break;
      }
      if (holds != all) return Value::Bool(!all);
    }
  }
  if (unknown) return Value();
  return Value::Bool(all);
}

// Values of one kind compare equal exactly when their group keys are equal.
unsigned KindBit(const Value& v) {
  if (IsNumeric(v)) return 1;
  if (v.kind() == ValueKind::kText) return 2;
  return 4;
}

Result<Outcome> MakeOutcome(const Expr& e, ExecResult r) {
  Outcome o;
  if (e.kind == ExprKind::kExists) {
    o.any_rows = !r.rows.empty();
    return o;
  }
  if (r.columns.size() != 1) return Fail(kMoreThanOneField);
  if (e.kind == ExprKind::kSubquery) {
    if (r.rows.size() > 1) return Fail(kMoreThanOneRecord);
    if (!r.rows.empty()) o.scalar = std::move(r.rows[0][0]);
    return o;
  }
  for (auto& row : r.rows) {
    Value& v = row[0];
    if (v.is_null()) {
      o.has_null = true;
      continue;
    }
    std::string key;
    AppendGroupKey(v, &key);
    if (!o.keys.insert(std::move(key)).second) continue;
    o.kinds |= KindBit(v);
    o.values.push_back(std::move(v));
  }
  return o;
}

// x [NOT] IN (values): True when x equals one; else NULL when x or a value
// is NULL; else False (NOT IN the other way round). Over no values at all it
// is False (NOT IN: True) whatever x is.
Result<Value> InAnswer(const Expr& e, const Value& v, const Outcome& o) {
  if (o.values.empty() && !o.has_null) return Value::Bool(e.negated);
  if (v.is_null()) return Value();
  bool found = false;
  if (o.kinds == KindBit(v)) {
    std::string key;
    AppendGroupKey(v, &key);
    found = o.keys.count(key) != 0;
  } else {
    // Mixed kinds (text against numbers): compared one by one, as a list is.
    for (const Value& x : o.values) {
      auto c = CompareValues(v, x);
      if (!c) return Fail(kTypeMismatch);
      if (*c == 0) {
        found = true;
        break;
      }
    }
  }
  if (found) return Value::Bool(!e.negated);
  if (o.has_null) return Value();
  return Value::Bool(e.negated);
}

// The value at `place` (as Binding::Find gives it) for `row` of `b`.
const Value& ValueAt(const Binding& b, const std::vector<Value>& row, std::size_t place) {
  const Binding* at = &b;
  const std::vector<Value>* values = &row;
  while (place >= kOuterStep) {
    values = at->outer_row;
    at = at->outer;
    place -= kOuterStep;
  }
  return (*values)[place];
}

}  // namespace

struct SubqueryCache {
  struct Runs {
    bool ran = false;
    std::vector<std::size_t> places;  // the outer places the runs named, sorted
    std::unordered_map<std::string, Outcome> by_values;
  };
  std::unordered_map<const Expr*, Runs> by_expr;
};

Result<Value> SubqueryRunner::Evaluate(const Expr& e, const Binding& b,
                                       const std::vector<Value>& row) {
  if (!b.subquery_cache) b.subquery_cache = std::make_shared<SubqueryCache>();
  SubqueryCache::Runs& runs = b.subquery_cache->by_expr[&e];
  auto values_key = [&](const std::vector<std::size_t>& places) {
    std::string key;
    for (std::size_t p : places) AppendGroupKey(ValueAt(b, row, p), &key);
    return key;
  };
  const Outcome* outcome = nullptr;
  if (runs.ran) {
    auto it = runs.by_values.find(values_key(runs.places));
    if (it != runs.by_values.end()) outcome = &it->second;
  }
  if (!outcome) {
    std::vector<std::size_t> named;
    VELQUIN_ASSIGN_OR_RETURN(ExecResult r, executor_->RunSubquery(e.subquery[0], b, row, &named));
    VELQUIN_ASSIGN_OR_RETURN(Outcome o, MakeOutcome(e, std::move(r)));
    std::sort(named.begin(), named.end());
    named.erase(std::unique(named.begin(), named.end()), named.end());
    if (!runs.ran ||
        !std::includes(runs.places.begin(), runs.places.end(), named.begin(), named.end())) {
      std::vector<std::size_t> places;
      std::set_union(runs.places.begin(), runs.places.end(), named.begin(), named.end(),
                     std::back_inserter(places));
      runs.places = std::move(places);
      runs.by_values.clear();
      runs.ran = true;
    }
    outcome = &(runs.by_values[values_key(runs.places)] = std::move(o));
  }
  switch (e.kind) {
    case ExprKind::kSubquery:
      return outcome->scalar;
    case ExprKind::kExists:
      return Value::Bool(outcome->any_rows);
    case ExprKind::kAny:
    case ExprKind::kAll: {
      VELQUIN_ASSIGN_OR_RETURN(Value v, Eval(e.args[0], b, row));
      return QuantifiedAnswer(e, v, *outcome);
    }
    default: {
      VELQUIN_ASSIGN_OR_RETURN(Value v, Eval(e.args[0], b, row));
      return InAnswer(e, v, *outcome);
    }
  }
}

Result<ExecResult> Executor::RunSubquery(const Select& select, const Binding& outer,
                                         const std::vector<Value>& outer_row,
                                         std::vector<std::size_t>* outer_refs) {
  outer_ = {&outer, &outer_row, outer_refs};
  Result<ExecResult> r = RunQuery(select);
  outer_ = {};
  return r;
}

}  // namespace velquin::jet::sql
