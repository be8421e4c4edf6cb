// Declarations shared by the executor's files (executor.cc, literal.cc,
// eval.cc, aggregate.cc, select.cc); not for use outside jet/sql.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/status.h"
#include "jet/database.h"
#include "jet/sql/ast.h"
#include "jet/sql/datetime_text.h"
#include "jet/sql/executor.h"
#include "jet/sql/names.h"

namespace velquin::jet::sql {

inline bool SameName(std::string_view a, std::string_view b) {
  return LowerAscii(a) == LowerAscii(b);
}

inline Status Fail(std::string message) { return Status::InvalidArgument(std::move(message)); }

inline constexpr char kTypeMismatch[] = "Data type mismatch in criteria expression.";
inline constexpr char kOverflow[] = "Overflow";

// ----- literals (literal.cc) -----

// Literal expression as a plain value (kText for numbers keeps the digits
// as written so that exact types convert without rounding).
struct Literal {
  enum Kind { kNull, kBool, kNumber, kString, kDate, kBinary } kind = kNull;
  std::string text;  // number digits (with sign) or string
  bool boolean = false;
  DateTimeValue date;
  std::vector<std::uint8_t> bytes;
};

Result<Literal> EvalLiteral(const Expr& e);
Value FromLiteral(const Literal& l);

// ----- expression evaluation over rows (eval.cc) -----

struct Source {
  std::string table;  // as stored
  std::string alias;  // or the table name
  TableInfo info;
  std::size_t offset = 0;  // first value in the joined row
};

class SubqueryRunner;
struct SubqueryCache;
struct SubqueryRuns;

// A place in a subquery's row that lies in the query around it: a column
// of the outer query (correlated subquery) is found at place + kOuterStep
// (twice that two queries out, and so on).
inline constexpr std::size_t kOuterStep = std::size_t{1} << 40;

struct Binding {
  std::vector<Source> sources;
  std::size_t width = 0;
  // A subquery's binding: the query around it, whose columns it may name,
  // the row that query is on, and where the outer places named are listed.
  const Binding* outer = nullptr;
  const std::vector<Value>* outer_row = nullptr;
  std::vector<std::size_t>* outer_refs = nullptr;
  // Runs the subqueries of this query's expressions (null: none allowed);
  // their results are kept here while the query runs.
  SubqueryRunner* subqueries = nullptr;
  mutable std::shared_ptr<SubqueryCache> subquery_cache;
  // After grouping: the aggregates' values of the current group, by the
  // aggregate call they stand for (Eval takes them from here).
  const std::unordered_map<const Expr*, std::size_t>* aggregate_index = nullptr;
  const std::vector<Value>* aggregate_values = nullptr;

  // The place of a column reference in the joined row (resolved once per
  // expression node).
  Result<std::size_t> Find(const Expr& col) const;

 private:
  Result<std::size_t> Resolve(const Expr& col) const;
  mutable std::unordered_map<const Expr*, std::size_t> resolved_;
};

Result<Value> Eval(const Expr& e, const Binding& b, const std::vector<Value>& row);

// ----- subqueries (subquery.cc) -----

// Evaluates kSubquery, kExists, kAny, kAll and x IN (SELECT ...) for the
// executor. A
// subquery that names no column of the query around it runs once; a
// correlated one runs once per distinct set of the outer values it names.
// x IN (SELECT ...) looks x up in a hash of the subquery's values.
class SubqueryRunner {
 public:
  explicit SubqueryRunner(Executor* executor) : executor_(executor) {}
  Result<Value> Evaluate(const Expr& e, const Binding& b, const std::vector<Value>& row);

 private:
  // A correlated subquery whose correlation is equalities: run once,
  // its rows split by the inner sides' values (subquery.cc).
  Status SplitOnce(const Expr& e, const Binding& b, const std::vector<Value>& row,
                   SubqueryRuns* runs);
  Executor* executor_;
};

// ----- aggregates (aggregate.cc) -----

enum class AggregateKind { kCount, kSum, kAvg, kMin, kMax, kFirst, kLast, kStDev, kVar };

std::optional<AggregateKind> AggregateKindOf(const Expr& e);

// One aggregate call of a query and its state for every group, numbered
// from 0 as the groups are met. NULLs are left out (Count(*) counts rows);
// over no values Count gives 0 and the others NULL, as in Access. StDev and
// Var are the sample's (n - 1), NULL below two values; First and Last are
// the values of the group's first and last rows.
//
// The states lie in flat arrays holding only what the kind needs: a Count
// is 8 bytes a group; a Min or Max is a double and a bit while every value
// met is of one kind a double holds exactly (whole numbers, Single, Double,
// dates), values after that.
class AggregateColumn {
 public:
  AggregateColumn(AggregateKind kind, const Expr* arg, std::optional<std::size_t> place)
      : kind_(kind), arg_(arg), place_(place) {}
  // A group with no values yet.
  void AddGroup();
  // Feeds the group `row`, whose aggregate argument is evaluated (or read
  // at `place`) over the query's row.
  Status Add(std::size_t group, const Binding& b, const std::vector<Value>& row);
  Value Result(std::size_t group) const;

 private:
  bool KeepsNumbers() const { return number_kind_ != ValueKind::kNull && !as_values_; }
  // Min and Max: from doubles to values, when a value of another kind comes.
  void ToValues();

  AggregateKind kind_;
  const Expr* arg_;                   // nullptr: Count(*)
  std::optional<std::size_t> place_;  // `arg_` is a plain column: its place in the row
  std::vector<std::int64_t> counts_;  // Count, Sum, Avg, StDev, Var
  std::vector<double> sums_;          // Sum, Avg, StDev, Var
  std::vector<double> squares_;       // StDev, Var
  std::vector<bool> whole_;           // Sum: every value summed is a whole number of a whole type
  std::vector<bool> has_;             // Min, Max, First, Last: the group has its value
  // Min and Max while numbers_ holds them: the kind of every value so far
  // (kNull before the first).
  ValueKind number_kind_ = ValueKind::kNull;
  bool as_values_ = false;       // Min and Max: held in values_
  std::vector<double> numbers_;  // Min, Max
  std::vector<Value> values_;    // First, Last; Min and Max after ToValues
};

}  // namespace velquin::jet::sql
