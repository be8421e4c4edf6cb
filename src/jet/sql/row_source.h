// The FROM clause of a query as a pipeline of row sources. Every source of
// one query fills its own columns of one wide row (the Binding's layout:
// each table or query of the FROM clause has its range of places), so
// expressions are always evaluated over that one row.
//
//   table scan     the rows of a table, read page by page or in the order
//                  of an index (only the columns the query uses are
//                  decoded)
//   buffered rows  the rows of a saved query or a nested SELECT, run first
//   join           INNER, LEFT or RIGHT: the side that may be padded with
//                  NULLs (for INNER, the smaller side) is read into a hash
//                  table on the equality
//                  conditions between the two sides (every candidate pair
//                  is still checked with the whole ON condition); the other
//                  side streams through. Without an equality the pairs are
//                  tried one by one.
// Not for use outside jet/sql.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/status.h"
#include "jet/database.h"
#include "jet/sql/ast.h"
#include "jet/sql/executor_internal.h"

namespace velquin::jet::sql {

class RowSource {
 public:
  RowSource(std::size_t begin, std::size_t end) : begin_(begin), end_(end) {}
  virtual ~RowSource() = default;
  // Fills places [begin(), end()) of `row` (the query's whole width) with
  // the next row; false at the end.
  virtual Result<bool> Next(std::vector<Value>* row) = 0;
  // About how many rows the source gives (for choosing a join's side to
  // hold in memory).
  virtual std::uint64_t EstimatedRows() const = 0;
  // The rows a source holds already (a saved query's), in the order Next
  // gives them: a join reads them there rather than copying them. Null when
  // the source holds none.
  virtual const std::vector<std::vector<Value>>* HeldRows() const { return nullptr; }
  std::size_t begin() const { return begin_; }
  std::size_t end() const { return end_; }

 private:
  std::size_t begin_;
  std::size_t end_;
};

// `wanted` flags the table's columns (by number) the query reads: only
// those are decoded, the other places stay NULL.
std::unique_ptr<RowSource> TableRows(std::unique_ptr<RowCursor> cursor, std::size_t begin,
                                     std::size_t end, std::vector<bool> wanted);
std::unique_ptr<RowSource> BufferedRows(std::vector<std::vector<Value>> rows, std::size_t begin,
                                        std::size_t end);

// `left` covers the places just before `right`'s. `on` (may be null: a
// comma join) is checked on every pair; `equalities` are conditions of the
// form left-expression = right-expression (in either order) that every
// result pair satisfies, used as the hash key. `binding` must outlive the
// source.
std::unique_ptr<RowSource> JoinRows(JoinKind kind, std::unique_ptr<RowSource> left,
                                    std::unique_ptr<RowSource> right, const Expr* on,
                                    const std::vector<const Expr*>& equalities,
                                    const Binding& binding);

// The conditions of `e` joined by AND (e itself when it is no AND).
void SplitConjuncts(const Expr& e, std::vector<const Expr*>* out);

// True when every column `e` names lies in [begin, end) and it names one.
bool ColumnsWithin(const Expr& e, const Binding& binding, std::size_t begin, std::size_t end);

}  // namespace velquin::jet::sql
