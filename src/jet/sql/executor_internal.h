// Declarations shared by the executor's files (executor.cc, literal.cc,
// eval.cc, aggregate.cc, select.cc); not for use outside jet/sql.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/status.h"
#include "jet/database.h"
#include "jet/sql/ast.h"
#include "jet/sql/datetime_text.h"
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

struct Binding {
  std::vector<Source> sources;
  std::size_t width = 0;
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

// ----- aggregates (aggregate.cc) -----

enum class AggregateKind { kCount, kSum, kAvg, kMin, kMax, kFirst, kLast, kStDev, kVar };

std::optional<AggregateKind> AggregateKindOf(const Expr& e);

// One aggregate of a query, fed the rows of its group. NULLs are left out
// (Count(*) counts rows); over no values Count gives 0 and the others NULL,
// as in Access. StDev and Var are the sample's (n - 1), NULL below two
// values; First and Last are the first and last non-NULL values met.
struct Aggregate {
  AggregateKind kind = AggregateKind::kCount;
  const Expr* arg = nullptr;         // nullptr: Count(*)
  std::optional<std::size_t> place;  // `arg` is a plain column: its place in the row
  std::int64_t count = 0;
  double sum = 0;
  double sum_squares = 0;  // StDev, Var
  bool whole = true;       // every value summed so far is a whole number of a whole type
  Value best;

  Status Add(const Binding& b, const std::vector<Value>& row);
  Value Result() const;
};

}  // namespace velquin::jet::sql
