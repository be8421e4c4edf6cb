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
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "jet/sql/executor.h"
#include "jet/sql/executor_internal.h"
#include "jet/sql/row_source.h"
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
  std::size_t rows = 0;                  // (SELECT ...) split by its correlation: its rows
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

void AddValue(Value v, Outcome* o) {
  if (v.is_null()) {
    o->has_null = true;
    return;
  }
  std::string key;
  AppendGroupKey(v, &key);
  if (!o->keys.insert(std::move(key)).second) return;
  o->kinds |= KindBit(v);
  o->values.push_back(std::move(v));
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
  for (auto& row : r.rows) AddValue(std::move(row[0]), &o);
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

// ---- a correlated subquery run once ---------------------------------------
//
// SELECT ... FROM ... WHERE ... AND inner = outer AND ...: the equalities
// between a side naming only the subquery's own tables and a side naming
// only the outer query's are taken out, the subquery runs once returning
// the inner sides' values first (a single value of aggregates grouped by
// them), and its rows are split by them. An outer row then looks up its
// part: a hash join instead of a run per row. Shapes this does not cover
// (unqualified outer names, GROUP BY, TOP, a further outer name found while
// running) and aggregates over an outer row's empty part keep the run per
// distinct outer values.

void CollectNames(const FromItem& f, std::vector<std::string>* names) {
  if (!f.table.empty()) names->push_back(f.table);
  if (!f.alias.empty()) names->push_back(f.alias);
  for (const FromItem& op : f.operands) CollectNames(op, names);
}

bool HasAggregate(const Expr& e) {
  if (AggregateKindOf(e)) return true;
  return std::any_of(e.args.begin(), e.args.end(), HasAggregate);
}

enum class Side { kNone, kInner, kOuter, kMixed };

// Which query the columns of `e` belong to: qualified by a name of the
// subquery's FROM clause (or unqualified) is inner, qualified by another
// name that the outer query knows is outer.
Side SideOf(const Expr& e, const std::vector<std::string>& inner, const Binding& outer) {
  if (!e.subquery.empty() || e.kind == ExprKind::kStar || AggregateKindOf(e)) return Side::kMixed;
  if (e.kind == ExprKind::kColumn) {
    const bool is_inner =
        e.qualifier.empty() || std::any_of(inner.begin(), inner.end(), [&](const std::string& n) {
          return SameName(n, e.qualifier);
        });
    if (is_inner) return Side::kInner;
    return outer.Find(e).ok() ? Side::kOuter : Side::kMixed;
  }
  Side side = Side::kNone;
  for (const Expr& a : e.args) {
    const Side s = SideOf(a, inner, outer);
    if (s == Side::kNone) continue;
    if (s == Side::kMixed || (side != Side::kNone && side != s)) return Side::kMixed;
    side = s;
  }
  return side;
}

Expr AndOf(std::vector<const Expr*> conditions) {
  Expr e = *conditions[0];
  for (std::size_t k = 1; k < conditions.size(); ++k) {
    Expr both;
    both.kind = ExprKind::kBinaryOp;
    both.binary_op = BinaryOp::kAnd;
    both.args.push_back(std::move(e));
    both.args.push_back(*conditions[k]);
    e = std::move(both);
  }
  return e;
}

// The subquery without its correlating equalities, returning their inner
// sides first; `outer_keys` gets their outer sides.
std::optional<Select> SplitCorrelation(const Expr& e, const Binding& outer,
                                       std::vector<const Expr*>* outer_keys, bool* aggregated) {
  const Select& s = e.subquery[0];
  if ((e.kind != ExprKind::kExists && e.kind != ExprKind::kIn && e.kind != ExprKind::kSubquery) ||
      !s.unions.empty() || !s.group_by.empty() || s.having || s.top || !s.where) {
    return std::nullopt;
  }
  *aggregated = false;
  for (const SelectItem& item : s.items) {
    if (HasAggregate(item.expr)) *aggregated = true;
  }
  // A single value with aggregates is grouped by the inner sides instead.
  if (*aggregated && e.kind != ExprKind::kSubquery) return std::nullopt;
  if (e.kind != ExprKind::kExists &&
      (s.items.size() != 1 || s.items[0].expr.kind == ExprKind::kStar)) {
    return std::nullopt;
  }
  std::vector<std::string> inner;
  for (const FromItem& f : s.from) CollectNames(f, &inner);
  std::vector<const Expr*> conjuncts, kept;
  SplitConjuncts(*s.where, &conjuncts);
  Select split;
  for (const Expr* c : conjuncts) {
    if (c->kind == ExprKind::kBinaryOp && c->binary_op == BinaryOp::kEq) {
      const Side l = SideOf(c->args[0], inner, outer);
      const Side r = SideOf(c->args[1], inner, outer);
      if ((l == Side::kInner && r == Side::kOuter) || (l == Side::kOuter && r == Side::kInner)) {
        const bool left_inner = l == Side::kInner;
        split.items.push_back({c->args[left_inner ? 0 : 1], ""});
        outer_keys->push_back(&c->args[left_inner ? 1 : 0]);
        continue;
      }
    }
    kept.push_back(c);
  }
  if (outer_keys->empty()) return std::nullopt;
  if (*aggregated) {
    for (const SelectItem& key : split.items) split.group_by.push_back(key.expr);
  }
  if (e.kind != ExprKind::kExists) split.items.push_back({s.items[0].expr, ""});
  split.from = s.from;
  if (!kept.empty()) split.where = AndOf(kept);
  return split;
}

// Whether `e` (an outer side of a correlation) names the outer `place`.
bool NamesPlace(const Expr& e, const Binding& b, std::size_t place) {
  if (e.kind == ExprKind::kColumn) {
    auto at = b.Find(e);
    return at.ok() && *at == place;
  }
  return std::any_of(e.args.begin(), e.args.end(),
                     [&](const Expr& a) { return NamesPlace(a, b, place); });
}

}  // namespace

// The runs of one subquery expression while its query runs.
struct SubqueryRuns {
  // A correlated subquery run once and split by its correlating values.
  // The SELECT run for it is kept for as long as the query binds its names.
  enum class Split { kUntried, kDone, kNo } split = Split::kUntried;
  std::optional<Select> split_select;
  bool aggregated = false;  // a single value of aggregates: a missing group is run alone
  // ... once: over no rows the aggregates give the same for every outer row.
  std::optional<Outcome> empty_part;
  std::vector<const Expr*> outer_keys;
  std::vector<unsigned> key_kinds;  // per key, the kinds of the inner values (KindBit)
  std::unordered_map<std::string, Outcome> parts;
  bool ran = false;
  std::vector<std::size_t> places;  // the outer places the runs named, sorted
  std::unordered_map<std::string, Outcome> by_values;
};

struct SubqueryCache {
  std::unordered_map<const Expr*, SubqueryRuns> by_expr;
};

Status SubqueryRunner::SplitOnce(const Expr& e, const Binding& b, const std::vector<Value>& row,
                                 SubqueryRuns* runs) {
  using Split = SubqueryRuns::Split;
  runs->split = Split::kNo;
  std::vector<const Expr*> outer_keys;
  runs->split_select = SplitCorrelation(e, b, &outer_keys, &runs->aggregated);
  if (!runs->split_select) return Status::Ok();
  std::vector<std::size_t> named;
  Result<ExecResult> r = executor_->RunSubquery(*runs->split_select, b, row, &named);
  // A split that does not run as it is (or still names the outer query) is
  // left for the plain runs, which report any real error themselves.
  if (!r.ok() || !named.empty()) return Status::Ok();
  const std::size_t n = outer_keys.size();
  std::vector<unsigned> kinds(n, 0);
  std::unordered_map<std::string, Outcome> parts;
  for (auto& values : r->rows) {
    std::string key;
    bool null_key = false;
    for (std::size_t k = 0; k < n; ++k) {
      if (values[k].is_null()) {
        null_key = true;
        break;
      }
      kinds[k] |= KindBit(values[k]);
      AppendGroupKey(values[k], &key);
    }
    if (null_key) continue;  // = with NULL holds for no outer row
    Outcome& part = parts[key];
    part.any_rows = true;
    if (e.kind == ExprKind::kIn) AddValue(std::move(values[n]), &part);
    if (e.kind == ExprKind::kSubquery && ++part.rows == 1) part.scalar = std::move(values[n]);
  }
  for (unsigned k : kinds) {
    if (k != 0 && k != 1 && k != 2 && k != 4) return Status::Ok();  // mixed kinds
  }
  runs->outer_keys = std::move(outer_keys);
  runs->key_kinds = std::move(kinds);
  runs->parts = std::move(parts);
  runs->split = Split::kDone;
  return Status::Ok();
}

Result<Value> SubqueryRunner::Evaluate(const Expr& e, const Binding& b,
                                       const std::vector<Value>& row) {
  if (!b.subquery_cache) b.subquery_cache = std::make_shared<SubqueryCache>();
  SubqueryRuns& runs = b.subquery_cache->by_expr[&e];
  auto values_key = [&](const std::vector<std::size_t>& places) {
    std::string key;
    for (std::size_t p : places) AppendGroupKey(ValueAt(b, row, p), &key);
    return key;
  };
  const Outcome* outcome = nullptr;
  bool fill_empty = false;
  if (runs.split == SubqueryRuns::Split::kUntried) {
    VELQUIN_RETURN_IF_ERROR(SplitOnce(e, b, row, &runs));
  }
  if (runs.split == SubqueryRuns::Split::kDone) {
    static const Outcome kNoRows;
    std::string key;
    bool usable = true;
    outcome = &kNoRows;  // a NULL on either side of = matches nothing
    for (std::size_t k = 0; k < runs.outer_keys.size() && usable; ++k) {
      VELQUIN_ASSIGN_OR_RETURN(Value v, Eval(*runs.outer_keys[k], b, row));
      if (v.is_null()) break;
      // Text against numbers compares by conversion: not by the hash.
      if (runs.key_kinds[k] != 0 && runs.key_kinds[k] != KindBit(v)) usable = false;
      AppendGroupKey(v, &key);
      if (k + 1 == runs.outer_keys.size()) {
        auto it = runs.parts.find(key);
        if (it != runs.parts.end()) outcome = &it->second;
      }
    }
    if (!usable) {
      outcome = nullptr;
    } else if (runs.aggregated && outcome == &kNoRows) {
      // Aggregates over no rows (Count 0) come from a run of their own.
      outcome = runs.empty_part ? &*runs.empty_part : nullptr;
      fill_empty = !outcome;
    }
  }
  if (!outcome && runs.ran) {
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
    // Kept for every empty part only when the run read no outer value but
    // those the correlation compares (no IIf branch naming another).
    bool only_keys = fill_empty;
    for (std::size_t p : named) {
      only_keys = only_keys && std::any_of(runs.outer_keys.begin(), runs.outer_keys.end(),
                                           [&](const Expr* k) { return NamesPlace(*k, b, p); });
    }
    outcome = &(runs.by_values[values_key(runs.places)] = std::move(o));
    if (only_keys) runs.empty_part = *outcome;
  }
  switch (e.kind) {
    case ExprKind::kSubquery:
      if (outcome->rows > 1) return Fail(kMoreThanOneRecord);
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
