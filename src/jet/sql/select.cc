// SELECT: the FROM clause as a pipeline of row sources (row_source.h), then
// WHERE, grouping with HAVING (one entry per group), the select list,
// DISTINCT, ORDER BY and TOP; UNION [ALL]; SELECT ... INTO.
//
// Order and equality follow Access: text without regard to case by the
// General sort order's weights (value_ops.h), NULL first when ascending and
// one group in GROUP BY and DISTINCT; a WHERE or HAVING that is NULL drops
// the row. TOP n keeps the rows that tie with the n-th in the ORDER BY, as
// Access does.
//
// Nothing is held that the query does not need: table scans decode only the
// columns the query reads; an ORDER BY that begins with the primary key of
// the query's one table walks the key's index instead of sorting; and a
// query that neither groups, drops repeated rows nor sorts hands its rows
// to a RowSink (Executor::Stream) one by one.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <tuple>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "jet/sql/executor.h"
#include "jet/sql/executor_internal.h"
#include "jet/sql/format.h"
#include "jet/sql/names.h"
#include "jet/sql/row_source.h"
#include "jet/sql/saved_query.h"
#include "jet/sql/value_ops.h"

namespace velquin::jet::sql {
namespace {

// Saved queries and nested SELECTs one query may reach through each other.
constexpr std::size_t kMaxQueryNesting = 50;

std::string NotGroupedMessage(const Expr& e) {
  return "You tried to execute a query that does not include the specified expression '" +
         FormatExpression(e) + "' as part of an aggregate function.";
}

// The aggregate calls in `e` (not looking inside them).
void CollectAggregates(const Expr& e, std::vector<const Expr*>* out) {
  if (AggregateKindOf(e)) {
    out->push_back(&e);
    return;
  }
  for (const Expr& a : e.args) CollectAggregates(a, out);
}

bool HasAggregateCall(const Expr& e) {
  std::vector<const Expr*> calls;
  CollectAggregates(e, &calls);
  return !calls.empty();
}

// Every column `e` names outside an aggregate is one of the GROUP BY's.
Status CheckGrouped(const Expr& e, const std::vector<Expr>& group_by, const Binding& b,
                    const Expr& whole) {
  if (AggregateKindOf(e)) return Status::Ok();
  for (const Expr& g : group_by) {
    if (g == e) return Status::Ok();
  }
  if (e.kind == ExprKind::kColumn) {
    VELQUIN_ASSIGN_OR_RETURN(std::size_t i, b.Find(e));
    if (i >= kOuterStep) return Status::Ok();  // the outer row's: one value per run
    for (const Expr& g : group_by) {
      if (g.kind != ExprKind::kColumn) continue;
      auto j = b.Find(g);
      if (j.ok() && *j == i) return Status::Ok();
    }
    return Fail(NotGroupedMessage(whole));
  }
  if (e.kind == ExprKind::kStar) return Fail("Cannot group on fields selected with '*'.");
  for (const Expr& a : e.args) VELQUIN_RETURN_IF_ERROR(CheckGrouped(a, group_by, b, whole));
  return Status::Ok();
}

// One ORDER BY value, with the sort key of a text worked out once.
struct SortCell {
  Value value;
  std::string text_key;
};

int CompareCells(const SortCell& a, const SortCell& b) {
  if (a.value.kind() == ValueKind::kText && b.value.kind() == ValueKind::kText) {
    return a.text_key.compare(b.text_key) < 0 ? -1 : (a.text_key == b.text_key ? 0 : 1);
  }
  return CompareForSort(a.value, b.value);
}

// Collects result rows: drops repeated rows (DISTINCT, as they come),
// sorts by the ORDER BY values and cuts to TOP n with its ties. With an
// ORDER BY and TOP n (not PERCENT) it holds about n rows, never all.
class RowCollector {
 public:
  RowCollector(std::vector<bool> descending, bool distinct, std::optional<double> top,
               bool top_percent)
      : descending_(std::move(descending)),
        distinct_(distinct),
        top_(top),
        top_percent_(top_percent) {}

  void Add(std::vector<Value> out, std::vector<Value> keys) {
    if (distinct_) {
      std::string key;
      for (const Value& v : out) AppendGroupKey(v, &key);
      if (!seen_.FindOrAdd(key).second) return;
    }
    Entry e;
    e.row = std::move(out);
    e.keys.reserve(keys.size());
    for (Value& k : keys) {
      SortCell c;
      if (k.kind() == ValueKind::kText) c.text_key = TextSortKey(k.text_value());
      c.value = std::move(k);
      e.keys.push_back(std::move(c));
    }
    rows_.push_back(std::move(e));
    if (top_ && !top_percent_ && !descending_.empty()) {
      const auto n = static_cast<std::size_t>(*top_);
      if (rows_.size() > 2 * n + 1024) Cut(n);
    }
  }

  std::vector<std::vector<Value>> Finish() {
    std::size_t keep = rows_.size();
    if (top_) {
      keep = top_percent_ ? static_cast<std::size_t>(
                                std::ceil(static_cast<double>(rows_.size()) * *top_ / 100.0))
                          : static_cast<std::size_t>(*top_);
    }
    if (!descending_.empty()) {
      Cut(keep);
    } else if (keep < rows_.size()) {
      rows_.resize(keep);
    }
    std::vector<std::vector<Value>> out;
    out.reserve(rows_.size());
    for (Entry& e : rows_) out.push_back(std::move(e.row));
    return out;
  }

 private:
  struct Entry {
    std::vector<Value> row;
    std::vector<SortCell> keys;
  };

  bool Before(const Entry& x, const Entry& y) const {
    for (std::size_t k = 0; k < descending_.size(); ++k) {
      int r = CompareCells(x.keys[k], y.keys[k]);
      if (descending_[k]) r = -r;
      if (r != 0) return r < 0;
    }
    return false;
  }

  // Sorts (stably: equal rows keep the order they came in) and keeps the
  // first `n` rows and those that tie with the n-th.
  void Cut(std::size_t n) {
    auto before = [&](const Entry& x, const Entry& y) { return Before(x, y); };
    // Rows often come sorted already (groups of a table read in key order).
    if (!std::is_sorted(rows_.begin(), rows_.end(), before)) {
      std::stable_sort(rows_.begin(), rows_.end(), before);
    }
    if (n >= rows_.size()) return;
    std::size_t end = n;
    while (n > 0 && end < rows_.size() && !Before(rows_[n - 1], rows_[end])) ++end;
    rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(end), rows_.end());
  }

  std::vector<bool> descending_;
  bool distinct_;
  std::optional<double> top_;
  bool top_percent_;
  KeyIndex seen_;
  std::vector<Entry> rows_;
};

// A place in the output row for each ORDER BY item, or the expression to
// evaluate over the source row.
struct OrderRef {
  std::optional<std::size_t> output;
  const Expr* expr = nullptr;
};

// Names an ORDER BY item refers to: a number is a position in the select
// list; a name that is no column of the sources is an output column's name
// (an alias); anything else an expression over the sources.
Result<std::vector<OrderRef>> ResolveOrder(const std::vector<OrderItem>& order,
                                           const std::vector<ResultColumn>& columns,
                                           const Binding* b) {
  std::vector<OrderRef> refs;
  for (const OrderItem& o : order) {
    OrderRef ref;
    if (o.expr.kind == ExprKind::kNumber) {
      const long pos = std::atol(o.expr.text.c_str());
      if (pos < 1 || static_cast<std::size_t>(pos) > columns.size()) {
        return Fail("The ORDER BY position " + o.expr.text + " is not a field of the query.");
      }
      ref.output = static_cast<std::size_t>(pos - 1);
    } else if (o.expr.kind == ExprKind::kColumn && (!b || !b->Find(o.expr).ok())) {
      for (std::size_t k = 0; k < columns.size() && !ref.output; ++k) {
        if (o.expr.qualifier.empty() && SameName(columns[k].name, o.expr.text)) ref.output = k;
      }
      if (!ref.output) {
        if (b) return b->Find(o.expr).status();
        return Fail("The ORDER BY field '" + FormatExpression(o.expr) +
                    "' is not a field of the query.");
      }
    } else if (!b) {
      return Fail("An ORDER BY of a union query names its fields or their positions.");
    } else {
      ref.expr = &o.expr;
    }
    refs.push_back(ref);
  }
  return refs;
}

std::vector<bool> Descending(const std::vector<OrderItem>& order) {
  std::vector<bool> d;
  d.reserve(order.size());
  for (const OrderItem& o : order) d.push_back(o.descending);
  return d;
}

// Marks in `used` the places of the query's wide row that `e` reads (a
// name that is no column of the sources is an output's name and reads
// none); with `in_aggregates` false, not those read by its aggregate calls.
// False when `e` may read any place: an expression of a kind not looked
// into here.
bool MarkColumns(const Expr& e, const Binding& b, std::vector<bool>* used,
                 bool in_aggregates = true) {
  switch (e.kind) {
    case ExprKind::kNull:
    case ExprKind::kBoolean:
    case ExprKind::kNumber:
    case ExprKind::kString:
    case ExprKind::kDate:
    case ExprKind::kBinary:
      return true;
    case ExprKind::kColumn: {
      auto i = b.Find(e);
      // A place past the row is the outer query's (a correlated subquery):
      // that query reads its own columns.
      if (i.ok() && *i < used->size()) (*used)[*i] = true;
      return true;
    }
    case ExprKind::kStar:
      for (const Source& s : b.sources) {
        if (!e.qualifier.empty() && !SameName(e.qualifier, s.alias) &&
            !SameName(e.qualifier, s.table)) {
          continue;
        }
        std::fill_n(used->begin() + static_cast<std::ptrdiff_t>(s.offset), s.info.columns.size(),
                    true);
      }
      return true;
    case ExprKind::kFunction:
      if (AggregateKindOf(e) &&
          (!in_aggregates || (e.args.size() == 1 && e.args[0].kind == ExprKind::kStar))) {
        return true;  // Count(*) reads no value
      }
      [[fallthrough]];
    case ExprKind::kUnary:
    case ExprKind::kBinaryOp:
    case ExprKind::kIsNull:
    case ExprKind::kLike:
    case ExprKind::kIn:
    case ExprKind::kBetween:
      for (const Expr& a : e.args) {
        if (!MarkColumns(a, b, used, in_aggregates)) return false;
      }
      return true;
    case ExprKind::kSubquery:
    case ExprKind::kExists:
    case ExprKind::kAny:
    case ExprKind::kAll:
      return false;  // a correlated subquery may read any place of the outer row
  }
  return false;
}

bool MarkJoinColumns(const FromItem& f, const Binding& b, std::vector<bool>* used) {
  if (!f.is_join) return true;
  if (f.on && !MarkColumns(*f.on, b, used)) return false;
  for (const FromItem& o : f.operands) {
    if (!MarkJoinColumns(o, b, used)) return false;
  }
  return true;
}

// The places of the wide row the query reads (every place when that
// cannot be told).
std::vector<bool> UsedColumns(const Select& st, const std::vector<OrderItem>& order,
                              const Binding& b) {
  std::vector<bool> used(b.width, false);
  bool known = true;
  for (const SelectItem& item : st.items) known = known && MarkColumns(item.expr, b, &used);
  if (st.where) known = known && MarkColumns(*st.where, b, &used);
  for (const Expr& g : st.group_by) known = known && MarkColumns(g, b, &used);
  if (st.having) known = known && MarkColumns(*st.having, b, &used);
  for (const OrderItem& o : order) known = known && MarkColumns(o.expr, b, &used);
  for (const FromItem& f : st.from) known = known && MarkJoinColumns(f, b, &used);
  if (!known) used.assign(b.width, true);
  return used;
}

// The places of the wide row a grouped query reads outside its aggregates
// (the select list, HAVING, ORDER BY and the GROUP BY's plain columns):
// only these are kept for each group. Every place when that cannot be told.
std::vector<std::size_t> GroupedPlaces(const Select& st, const std::vector<OrderItem>& order,
                                       const Binding& b) {
  std::vector<bool> used(b.width, false);
  bool known = true;
  for (const SelectItem& item : st.items) known = known && MarkColumns(item.expr, b, &used, false);
  for (const Expr& g : st.group_by) known = known && MarkColumns(g, b, &used, false);
  if (st.having) known = known && MarkColumns(*st.having, b, &used, false);
  for (const OrderItem& o : order) known = known && MarkColumns(o.expr, b, &used, false);
  std::vector<std::size_t> places;
  for (std::size_t i = 0; i < used.size(); ++i) {
    if (used[i] || !known) places.push_back(i);
  }
  return places;
}

// Whether reading a table's index in order gives the same order as sorting
// its values (text is left to the sort: an index keeps only its first 255
// characters).
bool IndexOrdersLikeSort(ColumnType type) {
  switch (type) {
    case ColumnType::kByte:
    case ColumnType::kShort:
    case ColumnType::kLong:
    case ColumnType::kCurrency:
    case ColumnType::kSingle:
    case ColumnType::kDouble:
    case ColumnType::kDateTime:
      return true;
    default:
      return false;
  }
}

// When the ORDER BY over the query's one table begins with every column of
// its primary key, in the key's directions or all reversed: the key's name
// in `index` and whether to walk it backward. The key makes every row
// unique, so later ORDER BY items and ties do not matter.
bool ChooseIndexOrder(const std::vector<OrderItem>& order, const std::vector<OrderRef>& refs,
                      const std::vector<std::optional<std::size_t>>& out_places, const Binding& b,
                      std::string* index, bool* backward) {
  if (order.empty() || b.sources.size() != 1) return false;
  std::vector<std::size_t> places;
  for (const OrderRef& r : refs) {
    if (r.output && out_places[*r.output]) {
      places.push_back(*out_places[*r.output]);
    } else if (r.expr && r.expr->kind == ExprKind::kColumn && b.Find(*r.expr).ok()) {
      places.push_back(*b.Find(*r.expr));
    } else {
      break;  // the items after it cannot be part of the key's order
    }
  }
  const Source& s = b.sources[0];
  for (const IndexInfo& ix : s.info.indexes) {
    if (!ix.primary_key || ix.columns.empty() || ix.columns.size() > places.size()) continue;
    std::optional<bool> reversed;
    bool fits = true;
    for (std::size_t k = 0; k < ix.columns.size() && fits; ++k) {
      const ColumnInfo& c = s.info.columns[places[k] - s.offset];
      const bool r = order[k].descending == ix.columns[k].second;
      fits = SameName(c.name, ix.columns[k].first) && IndexOrdersLikeSort(c.type) &&
             (!reversed || *reversed == r);
      reversed = r;
    }
    if (!fits) continue;
    *index = ix.name;
    *backward = *reversed;
    return true;
  }
  return false;
}

// The columns of a query's result as the columns of a source read from it.
void AddResultColumns(const std::vector<ResultColumn>& columns, TableInfo* info) {
  for (const ResultColumn& c : columns) {
    ColumnInfo ci;
    ci.name = c.name;
    ci.type = c.type;
    ci.size = c.size;
    ci.number = static_cast<std::uint16_t>(info->columns.size());
    info->columns.push_back(std::move(ci));
  }
}

std::optional<double> TopOf(const Select& st) {
  if (!st.top) return std::nullopt;
  return std::strtod(st.top->c_str(), nullptr);
}

}  // namespace

// A FROM element laid out in the query's wide row: a table (scanned when
// the pipeline is built), the rows of a saved query or a join of two.
struct Executor::FromPlan {
  enum Kind { kTable, kRows, kJoin } kind = kTable;
  std::size_t begin = 0;
  std::size_t end = 0;
  std::string table;
  std::vector<std::vector<Value>> rows;
  std::vector<bool> wanted;  // kTable: the columns the query reads
  std::string index;         // kTable: read in this index's order (empty: page order)
  bool backward = false;     // from the index's last entry to its first
  const FromItem* join = nullptr;
  std::vector<FromPlan> operands;
};

Result<Executor::FromPlan> Executor::PlanFrom(const FromItem& f, Binding* b) {
  FromPlan plan;
  plan.begin = b->width;
  if (f.is_join) {
    plan.kind = FromPlan::kJoin;
    plan.join = &f;
    for (const FromItem& o : f.operands) {
      VELQUIN_ASSIGN_OR_RETURN(FromPlan p, PlanFrom(o, b));
      plan.operands.push_back(std::move(p));
    }
    plan.end = b->width;
    return plan;
  }
  Source s;
  s.offset = b->width;
  if (!f.subquery.empty()) {
    // (SELECT ...) AS alias: run first, its rows then read like a saved query's.
    VELQUIN_ASSIGN_OR_RETURN(ExecResult r, RunQuery(f.subquery[0]));
    AddResultColumns(r.columns, &s.info);
    s.table = f.alias;
    s.info.name = f.alias;
    plan.kind = FromPlan::kRows;
    plan.rows = std::move(r.rows);
    s.alias = f.alias;
    b->width += s.info.columns.size();
    plan.end = b->width;
    b->sources.push_back(std::move(s));
    return plan;
  }
  auto info = db_->GetTable(f.table);
  if (info.ok()) {
    s.table = info->name;
    s.info = std::move(*info);
    plan.table = s.table;
    plan.wanted.assign(s.info.columns.size(), true);
  } else if (db_->IsQuery(f.table)) {
    VELQUIN_ASSIGN_OR_RETURN(ExecResult r, RunSavedQuery(f.table));
    s.table = f.table;
    AddResultColumns(r.columns, &s.info);
    s.info.name = f.table;
    plan.kind = FromPlan::kRows;
    plan.rows = std::move(r.rows);
  } else {
    return Fail(NoSuchInputMessage(f.table));
  }
  s.alias = f.alias.empty() ? s.table : f.alias;
  b->width += s.info.columns.size();
  plan.end = b->width;
  b->sources.push_back(std::move(s));
  return plan;
}

Result<std::unique_ptr<RowSource>> Executor::OpenPlan(FromPlan& plan, const Binding& b) {
  switch (plan.kind) {
    case FromPlan::kTable: {
      VELQUIN_ASSIGN_OR_RETURN(auto cursor,
                               plan.index.empty()
                                   ? db_->Scan(plan.table)
                                   : db_->ScanInIndexOrder(plan.table, plan.index, plan.backward));
      return TableRows(std::move(cursor), plan.begin, plan.end, std::move(plan.wanted));
    }
    case FromPlan::kRows:
      return BufferedRows(std::move(plan.rows), plan.begin, plan.end);
    case FromPlan::kJoin: {
      VELQUIN_ASSIGN_OR_RETURN(auto left, OpenPlan(plan.operands[0], b));
      VELQUIN_ASSIGN_OR_RETURN(auto right, OpenPlan(plan.operands[1], b));
      const Expr* on = plan.join->on ? &*plan.join->on : nullptr;
      std::vector<const Expr*> conjuncts, equalities;
      if (on) SplitConjuncts(*on, &conjuncts);
      for (const Expr* c : conjuncts) {
        if (c->kind == ExprKind::kBinaryOp && c->binary_op == BinaryOp::kEq) {
          equalities.push_back(c);
        }
      }
      return JoinRows(plan.join->join, std::move(left), std::move(right), on, equalities, b);
    }
  }
  return Fail("Unknown FROM element.");
}

Result<Select> Executor::LoadSavedQuery(const std::string& name) {
  for (const std::string& open : open_queries_) {
    if (SameName(open, name)) return Fail("Circular reference caused by '" + name + "'.");
  }
  if (open_queries_.size() >= kMaxQueryNesting) return Fail("Query is too complex.");
  VELQUIN_ASSIGN_OR_RETURN(auto stored, db_->QueryRows(name));
  VELQUIN_ASSIGN_OR_RETURN(std::vector<QueryRow> rows, QueryRowsFromStored(stored));
  return QueryRowsToSelect(rows);
}

Result<ExecResult> Executor::RunSavedQuery(const std::string& name) {
  VELQUIN_ASSIGN_OR_RETURN(Select select, LoadSavedQuery(name));
  open_queries_.push_back(name);
  Result<ExecResult> r = RunQuery(select);
  open_queries_.pop_back();
  return r;
}

Result<ExecResult> Executor::RunSelect(const Select& st) {
  open_queries_.clear();
  VELQUIN_ASSIGN_OR_RETURN(ExecResult result, RunQuery(st));
  if (!st.into.empty()) return RunSelectInto(st, std::move(result));
  return result;
}

Result<ExecResult> Executor::RunQuery(const Select& st) {
  if (st.unions.empty()) return RunSingleSelect(st);
  VELQUIN_ASSIGN_OR_RETURN(ExecResult acc, RunSingleSelect(st, /*in_union=*/true));
  for (const UnionPart& u : st.unions) {
    VELQUIN_ASSIGN_OR_RETURN(ExecResult part, RunSingleSelect(u.select, true));
    if (part.columns.size() != acc.columns.size()) {
      return Fail(
          "The number of columns in the two selected tables or queries of a union query do not "
          "match.");
    }
    for (std::size_t k = 0; k < acc.columns.size(); ++k) {
      ResultColumn& c = acc.columns[k];
      const ResultColumn& p = part.columns[k];
      if (c.type == p.type) {
        c.size = std::max(c.size, p.size);
        continue;
      }
      const bool numbers = c.type != ColumnType::kText && c.type != ColumnType::kMemo &&
                           p.type != ColumnType::kText && p.type != ColumnType::kMemo &&
                           c.type != ColumnType::kBinary && p.type != ColumnType::kBinary &&
                           c.type != ColumnType::kOle && p.type != ColumnType::kOle &&
                           c.type != ColumnType::kGuid && p.type != ColumnType::kGuid;
      c.type = numbers ? ColumnType::kDouble : ColumnType::kMemo;
      c.size = 0;
    }
    for (auto& row : part.rows) acc.rows.push_back(std::move(row));
    if (!u.all) {
      // UNION drops repeated rows of everything before it (and, as Jet
      // sorts to find them, gives the rest in order of their values).
      RowCollector unique(std::vector<bool>(acc.columns.size(), false), true, std::nullopt, false);
      for (auto& row : acc.rows) {
        std::vector<Value> keys = row;
        unique.Add(std::move(row), std::move(keys));
      }
      acc.rows = unique.Finish();
    }
  }
  if (!st.order_by.empty()) {
    VELQUIN_ASSIGN_OR_RETURN(auto refs, ResolveOrder(st.order_by, acc.columns, nullptr));
    RowCollector sorted(Descending(st.order_by), false, std::nullopt, false);
    for (auto& row : acc.rows) {
      std::vector<Value> keys;
      keys.reserve(refs.size());
      for (const OrderRef& r : refs) keys.push_back(row[*r.output]);
      sorted.Add(std::move(row), std::move(keys));
    }
    acc.rows = sorted.Finish();
  }
  return acc;
}

Status Executor::Stream(const Select& select, RowSink* sink) {
  if (!select.into.empty()) return Fail("A SELECT ... INTO gives no rows.");
  open_queries_.clear();
  return StreamQuery(select, sink);
}

Status Executor::StreamQuery(const Select& select, RowSink* sink) {
  // SELECT * FROM a saved query gives that query's rows and columns as they
  // are: they go to the sink as the saved query makes them, rather than
  // being held for this one.
  const bool whole_query =
      select.unions.empty() && select.quantifier == SelectQuantifier::kAll && !select.top &&
      select.items.size() == 1 && select.items[0].expr.kind == ExprKind::kStar &&
      select.items[0].expr.qualifier.empty() && select.from.size() == 1 &&
      !select.from[0].is_join && select.from[0].subquery.empty() && !select.where &&
      select.group_by.empty() && !select.having && select.order_by.empty();
  if (whole_query && !db_->GetTable(select.from[0].table).ok() &&
      db_->IsQuery(select.from[0].table)) {
    const std::string& name = select.from[0].table;
    VELQUIN_ASSIGN_OR_RETURN(Select saved, LoadSavedQuery(name));
    // Its columns' types are known before its rows when it names only
    // columns; a query that groups gives them from its first row, as any
    // streamed query does.
    const bool columns_only =
        std::all_of(saved.items.begin(), saved.items.end(), [](const SelectItem& item) {
          return item.expr.kind == ExprKind::kColumn || item.expr.kind == ExprKind::kStar;
        });
    const bool groups =
        !saved.group_by.empty() || saved.having ||
        std::any_of(saved.items.begin(), saved.items.end(),
                    [](const SelectItem& item) { return HasAggregateCall(item.expr); });
    if (saved.unions.empty() && (columns_only || groups)) {
      open_queries_.push_back(name);
      Status s = StreamQuery(saved, sink);
      open_queries_.pop_back();
      return s;
    }
  }
  ExecResult result;
  if (select.unions.empty()) {
    VELQUIN_ASSIGN_OR_RETURN(result, RunSingleSelect(select, false, sink));
    if (result.streamed) return Status::Ok();
  } else {
    VELQUIN_ASSIGN_OR_RETURN(result, RunQuery(select));
  }
  VELQUIN_RETURN_IF_ERROR(sink->Columns(result.columns));
  for (std::vector<Value>& row : result.rows) VELQUIN_RETURN_IF_ERROR(sink->Row(std::move(row)));
  return Status::Ok();
}

Result<ExecResult> Executor::RunSingleSelect(const Select& st, bool in_union, RowSink* sink) {
  if (st.from.empty()) return Fail("Query input must contain at least one table or query.");
  const std::vector<OrderItem> no_order;
  const std::vector<OrderItem>& order = in_union ? no_order : st.order_by;
  // A subquery: the query around it is consumed here, so that the saved
  // queries and derived tables of its FROM clause do not see it; a union's
  // next SELECT gets it back.
  const OuterQuery outer = std::exchange(outer_, {});
  struct Restore {
    Executor* ex;
    OuterQuery outer;
    ~Restore() { ex->outer_ = outer; }
  } restore{this, outer};
  SubqueryRunner subqueries(this);
  // The FROM clause: first every element's places, then the pipeline.
  Binding b;
  b.outer = outer.binding;
  b.outer_row = outer.row;
  b.outer_refs = outer.refs;
  b.subqueries = &subqueries;
  std::vector<FromPlan> plans;
  for (const FromItem& f : st.from) {
    VELQUIN_ASSIGN_OR_RETURN(FromPlan p, PlanFrom(f, &b));
    plans.push_back(std::move(p));
  }
  std::vector<const Expr*> where_conjuncts, where_equalities;
  if (st.where) SplitConjuncts(*st.where, &where_conjuncts);
  for (const Expr* c : where_conjuncts) {
    if (c->kind == ExprKind::kBinaryOp && c->binary_op == BinaryOp::kEq) {
      where_equalities.push_back(c);
    }
  }
  // Tables decode only the columns the query reads.
  const std::vector<bool> used = UsedColumns(st, order, b);
  std::function<void(FromPlan&)> narrow = [&](FromPlan& p) {
    for (std::size_t i = 0; i < p.wanted.size(); ++i) p.wanted[i] = used[p.begin + i];
    for (FromPlan& o : p.operands) narrow(o);
  };
  for (FromPlan& p : plans) narrow(p);

  // The select list.
  ExecResult result;
  result.has_rows = true;
  struct Out {
    std::optional<std::size_t> column;  // a plain column: its place in the wide row
    const Expr* expr = nullptr;
  };
  std::vector<Out> outs;
  int expr_number = 1000;
  std::vector<const Expr*> aggregate_calls;
  for (const SelectItem& item : st.items) CollectAggregates(item.expr, &aggregate_calls);
  if (st.having) CollectAggregates(*st.having, &aggregate_calls);
  for (const OrderItem& o : order) CollectAggregates(o.expr, &aggregate_calls);
  const bool grouping = !st.group_by.empty() || !aggregate_calls.empty() || st.having;
  for (const SelectItem& item : st.items) {
    if (item.expr.kind == ExprKind::kStar) {
      if (grouping) return Fail("Cannot group on fields selected with '*'.");
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
    if (grouping) {
      VELQUIN_RETURN_IF_ERROR(CheckGrouped(item.expr, st.group_by, b, item.expr));
    }
    if (item.expr.kind == ExprKind::kColumn) {
      VELQUIN_ASSIGN_OR_RETURN(std::size_t i, b.Find(item.expr));
      if (i >= kOuterStep) {  // a column of the query around a subquery
        result.columns.push_back(
            {item.alias.empty() ? item.expr.text : item.alias, ColumnType::kMemo, 0});
        outs.push_back({std::nullopt, &item.expr});
        continue;
      }
      const Source* src = nullptr;
      for (const Source& s : b.sources) {
        if (i >= s.offset && i < s.offset + s.info.columns.size()) src = &s;
      }
      const auto& c = src->info.columns[i - src->offset];
      result.columns.push_back({item.alias.empty() ? c.name : item.alias, c.type, c.size});
      outs.push_back({i, nullptr});
      continue;
    }
    auto kind = AggregateKindOf(item.expr);
    if (kind && (item.expr.args.size() != 1 ||
                 (item.expr.args[0].kind == ExprKind::kStar && *kind != AggregateKind::kCount))) {
      return Fail("Wrong number of arguments used with function in query expression '" +
                  FormatExpression(item.expr) + "'.");
    }
    ColumnType type = kind == AggregateKind::kCount ? ColumnType::kLong
                      : (kind == AggregateKind::kSum || kind == AggregateKind::kAvg)
                          ? ColumnType::kDouble
                          : ColumnType::kMemo;
    result.columns.push_back(
        {item.alias.empty() ? "Expr" + std::to_string(expr_number++) : item.alias, type, 0});
    outs.push_back({std::nullopt, &item.expr});
  }
  if (grouping) {
    for (const Expr& g : st.group_by) {
      if (AggregateKindOf(g)) return Fail("Cannot have aggregate function in GROUP BY clause.");
    }
    if (st.having) VELQUIN_RETURN_IF_ERROR(CheckGrouped(*st.having, st.group_by, b, *st.having));
    for (const OrderItem& o : order) {
      if (o.expr.kind == ExprKind::kNumber) continue;
      if (o.expr.kind == ExprKind::kColumn && !b.Find(o.expr).ok()) continue;  // an alias
      VELQUIN_RETURN_IF_ERROR(CheckGrouped(o.expr, st.group_by, b, o.expr));
    }
  }
  for (const Expr* a : aggregate_calls) {
    if (a->args.size() != 1 ||
        (a->args[0].kind == ExprKind::kStar && *AggregateKindOf(*a) != AggregateKind::kCount)) {
      return Fail("Wrong number of arguments used with function in query expression '" +
                  FormatExpression(*a) + "'.");
    }
  }
  VELQUIN_ASSIGN_OR_RETURN(std::vector<OrderRef> order_refs,
                           ResolveOrder(order, result.columns, &b));

  std::vector<bool> typed(result.columns.size(), false);
  auto project = [&](const std::vector<Value>& row) -> Result<std::vector<Value>> {
    std::vector<Value> out;
    out.reserve(outs.size());
    for (std::size_t k = 0; k < outs.size(); ++k) {
      if (outs[k].column) {
        out.push_back(row[*outs[k].column]);
        continue;
      }
      VELQUIN_ASSIGN_OR_RETURN(Value v, Eval(*outs[k].expr, b, row));
      if (!typed[k] && !v.is_null()) {
        if (result.columns[k].type == ColumnType::kMemo) result.columns[k].type = TypeOfValue(v);
        typed[k] = true;
      }
      out.push_back(std::move(v));
    }
    return out;
  };
  auto order_keys = [&](const std::vector<Value>& row,
                        const std::vector<Value>& out) -> Result<std::vector<Value>> {
    std::vector<Value> keys;
    keys.reserve(order_refs.size());
    for (const OrderRef& r : order_refs) {
      if (r.output) {
        keys.push_back(out[*r.output]);
        continue;
      }
      VELQUIN_ASSIGN_OR_RETURN(Value v, Eval(*r.expr, b, row));
      keys.push_back(std::move(v));
    }
    return keys;
  };
  auto truth = [&](const Expr& condition, const std::vector<Value>& row) -> Result<bool> {
    VELQUIN_ASSIGN_OR_RETURN(Value w, Eval(condition, b, row));
    auto t = AsTruth(w);
    return t && *t;
  };
  // Without an ORDER BY, rows come in the order Access finds them in: groups
  // by their GROUP BY values, DISTINCT rows by their values (Jet sorts to
  // find them), other rows as the sources give them.
  const bool distinct = st.quantifier == SelectQuantifier::kDistinct;
  // An ORDER BY that begins with the primary key of the query's one table
  // is had by reading the rows in the key's order: nothing is held and
  // sorted, and TOP n stops after n rows.
  std::vector<std::optional<std::size_t>> out_places;
  out_places.reserve(outs.size());
  for (const Out& o : outs) out_places.push_back(o.column);
  const bool ordered_by_index =
      !grouping && !distinct && !st.top_percent && plans.size() == 1 &&
      plans[0].kind == FromPlan::kTable &&
      ChooseIndexOrder(order, order_refs, out_places, b, &plans[0].index, &plans[0].backward);
  std::vector<bool> descending = Descending(order);
  if (ordered_by_index) descending.clear();
  std::unique_ptr<RowSource> source;
  for (FromPlan& p : plans) {
    VELQUIN_ASSIGN_OR_RETURN(auto next, OpenPlan(p, b));
    // Comma-listed elements: the WHERE's equalities between them are the
    // hash key; the WHERE itself is checked on every row below.
    source = source ? JoinRows(JoinKind::kInner, std::move(source), std::move(next), nullptr,
                               where_equalities, b)
                    : std::move(next);
  }
  const bool by_group = order.empty() && grouping && !st.group_by.empty();
  const bool by_output = order.empty() && !by_group && distinct;
  if (by_group) descending.assign(st.group_by.size(), false);
  if (by_output) descending.assign(outs.size(), false);
  RowCollector collector(descending, distinct, TopOf(st), st.top_percent);
  std::vector<Value> row(b.width);
  // The next row of the sources that the WHERE keeps; false at the end.
  auto next_row = [&]() -> Result<bool> {
    for (;;) {
      VELQUIN_ASSIGN_OR_RETURN(bool more, source->Next(&row));
      if (!more || !st.where) return more;
      VELQUIN_ASSIGN_OR_RETURN(bool keep, truth(*st.where, row));
      if (keep) return true;
    }
  };
  if (!grouping && sink && !distinct && (order.empty() || ordered_by_index) && !st.top_percent) {
    // Rows go out as the sources give them.
    VELQUIN_RETURN_IF_ERROR(sink->Columns(result.columns));
    const std::optional<double> top = TopOf(st);
    const std::uint64_t limit = top ? static_cast<std::uint64_t>(*top) : 0;  // as Finish keeps
    std::uint64_t given = 0;
    while (!top || given < limit) {
      VELQUIN_ASSIGN_OR_RETURN(bool more, next_row());
      if (!more) break;
      VELQUIN_ASSIGN_OR_RETURN(std::vector<Value> out, project(row));
      VELQUIN_RETURN_IF_ERROR(sink->Row(std::move(out)));
      ++given;
    }
    result.streamed = true;
    return result;
  }
  if (!grouping) {
    const std::optional<double> top = TopOf(st);
    for (std::uint64_t n = 0; !(ordered_by_index && top && n >= static_cast<std::uint64_t>(*top));
         ++n) {
      VELQUIN_ASSIGN_OR_RETURN(bool more, next_row());
      if (!more) break;
      VELQUIN_ASSIGN_OR_RETURN(std::vector<Value> out, project(row));
      std::vector<Value> keys;
      if (by_output) {
        keys = out;
      } else {
        VELQUIN_ASSIGN_OR_RETURN(keys, order_keys(row, out));
      }
      collector.Add(std::move(out), std::move(keys));
    }
    result.rows = collector.Finish();
    return result;
  }

  // Grouping: each group numbered in a KeyIndex as it is first met; per
  // group, in flat arrays, the values of its first row that are read after
  // grouping (`kept` places, then the GROUP BY items that are no plain
  // column) and the aggregates' states.
  // A plain column (a GROUP BY item or an aggregate's argument) is read from
  // its place in the row, without evaluating it.
  auto place_of = [&](const Expr& e) -> std::optional<std::size_t> {
    if (e.kind != ExprKind::kColumn) return std::nullopt;
    auto i = b.Find(e);
    if (!i.ok()) return std::nullopt;
    return *i;
  };
  std::vector<AggregateColumn> aggregates;
  aggregates.reserve(aggregate_calls.size());
  std::unordered_map<const Expr*, std::size_t> aggregate_index;
  for (const Expr* a : aggregate_calls) {
    const Expr* arg = a->args[0].kind == ExprKind::kStar ? nullptr : &a->args[0];
    aggregate_index.emplace(a, aggregates.size());
    aggregates.emplace_back(*AggregateKindOf(*a), arg, arg ? place_of(*arg) : std::nullopt);
  }
  const std::vector<std::size_t> kept = GroupedPlaces(st, order, b);
  // Where each GROUP BY item's value lies among a group's kept values.
  std::vector<std::optional<std::size_t>> group_places;
  std::vector<std::size_t> group_at;
  std::size_t stride = kept.size();
  for (const Expr& g : st.group_by) {
    group_places.push_back(place_of(g));
    const auto k = group_places.back() ? std::find(kept.begin(), kept.end(), *group_places.back())
                                       : kept.end();
    group_at.push_back(k != kept.end() ? static_cast<std::size_t>(k - kept.begin()) : stride++);
  }
  std::vector<Value> kept_values;  // group n's are [n * stride, (n + 1) * stride)
  std::size_t group_count = 0;
  KeyIndex group_of;
  std::string key, last_key;
  std::size_t last_group = 0;
  std::vector<Value> evaluated(st.group_by.size());  // GROUP BY items that are no plain column
  auto value_of = [&](std::size_t group, std::size_t k) -> const Value& {
    return kept_values[group * stride + group_at[k]];
  };
  // While the rows come in the order of their GROUP BY values (numbers,
  // dates or NULL: a table read in the order of its key, or a saved query's
  // groups), a new group comes after every group before it, so it is no
  // group met already and needs no look-up: the KeyIndex is filled only
  // once a row comes out of order.
  bool in_order = true;
  auto comes_after_last = [&]() {
    for (std::size_t k = 0; k < st.group_by.size(); ++k) {
      const Value& v = group_places[k] ? row[*group_places[k]] : evaluated[k];
      const Value& last = value_of(group_count - 1, k);
      if ((!v.is_null() && !IsNumeric(v)) || (!last.is_null() && !IsNumeric(last))) return false;
      if (v.is_null() || last.is_null()) {
        if (v.is_null() != last.is_null()) return last.is_null();
        continue;
      }
      const double x = ToDouble(v);
      const double y = ToDouble(last);
      if (x > y) return true;
      if (!(x == y)) return false;  // before it, or a NaN
    }
    return false;
  };
  std::string old_key;
  for (;;) {
    VELQUIN_ASSIGN_OR_RETURN(bool more, next_row());
    if (!more) break;
    key.clear();
    for (std::size_t k = 0; k < st.group_by.size(); ++k) {
      if (group_places[k]) {
        AppendGroupKey(row[*group_places[k]], &key);
        continue;
      }
      VELQUIN_ASSIGN_OR_RETURN(evaluated[k], Eval(st.group_by[k], b, row));
      AppendGroupKey(evaluated[k], &key);
    }
    // Rows often come in group order (a table read in key order): the
    // group of the row before needs no look-up.
    if (group_count == 0 || key != last_key) {
      std::size_t number = group_count;
      bool added = true;
      if (group_count > 0 && !(in_order && comes_after_last())) {
        if (in_order) {
          in_order = false;
          group_of.Reserve(group_count);
          for (std::size_t n = 0; n < group_count; ++n) {
            old_key.clear();
            for (std::size_t k = 0; k < st.group_by.size(); ++k) {
              AppendGroupKey(value_of(n, k), &old_key);
            }
            group_of.FindOrAdd(old_key);
          }
        }
        std::tie(number, added) = group_of.FindOrAdd(key);
      }
      if (added) {
        for (std::size_t p : kept) kept_values.push_back(row[p]);
        kept_values.resize(kept_values.size() + stride - kept.size());
        for (std::size_t k = 0; k < st.group_by.size(); ++k) {
          if (group_at[k] < kept.size()) continue;
          kept_values[group_count * stride + group_at[k]] =
              group_places[k] ? row[*group_places[k]] : std::move(evaluated[k]);
        }
        for (AggregateColumn& a : aggregates) a.AddGroup();
        ++group_count;
      }
      last_group = number;
      last_key = key;
    }
    for (AggregateColumn& a : aggregates) VELQUIN_RETURN_IF_ERROR(a.Add(last_group, b, row));
  }
  // Aggregates alone (no GROUP BY) give one row, even over no rows.
  if (group_count == 0 && st.group_by.empty()) {
    kept_values.resize(stride);
    for (AggregateColumn& a : aggregates) a.AddGroup();
    group_count = 1;
  }
  group_of.Clear();  // the look-up is done with: its memory goes before the results grow
  // Without an ORDER BY, groups come in the order of their GROUP BY values:
  // the group numbers are sorted (stably, as they were met), text by its
  // sort key worked out once.
  std::vector<std::size_t> sequence(group_count);
  for (std::size_t n = 0; n < group_count; ++n) sequence[n] = n;
  if (by_group) {
    std::vector<std::vector<std::string>> text_keys(st.group_by.size());
    for (std::size_t k = 0; k < st.group_by.size(); ++k) {
      for (std::size_t n = 0; n < group_count; ++n) {
        const Value& v = value_of(n, k);
        if (v.kind() != ValueKind::kText) continue;
        text_keys[k].resize(group_count);
        text_keys[k][n] = TextSortKey(v.text_value());
      }
    }
    auto before = [&](std::size_t x, std::size_t y) {
      for (std::size_t k = 0; k < st.group_by.size(); ++k) {
        const Value& a = value_of(x, k);
        const Value& c = value_of(y, k);
        const int r = a.kind() == ValueKind::kText && c.kind() == ValueKind::kText
                          ? text_keys[k][x].compare(text_keys[k][y])
                          : CompareForSort(a, c);
        if (r != 0) return r < 0;
      }
      return false;
    };
    if (!std::is_sorted(sequence.begin(), sequence.end(), before)) {
      std::stable_sort(sequence.begin(), sequence.end(), before);
    }
  }
  // Groups in that order need no collector unless rows are dropped or cut.
  const bool direct = (by_group || descending.empty()) && !distinct && !st.top;
  std::vector<Value> values;
  b.aggregate_index = &aggregate_index;
  b.aggregate_values = &values;
  std::vector<Value> group_row(b.width);
  // With a sink, groups in that order go out as they are made (the columns
  // typed by the first row, as a streamed query's are).
  const bool to_sink = direct && sink && !in_union;
  bool columns_given = false;
  if (direct && !to_sink) result.rows.reserve(group_count);
  for (std::size_t n : sequence) {
    values.clear();
    for (const AggregateColumn& a : aggregates) values.push_back(a.Result(n));
    for (std::size_t i = 0; i < kept.size(); ++i) {
      group_row[kept[i]] = std::move(kept_values[n * stride + i]);
    }
    if (st.having) {
      VELQUIN_ASSIGN_OR_RETURN(bool keep, truth(*st.having, group_row));
      if (!keep) continue;
    }
    VELQUIN_ASSIGN_OR_RETURN(std::vector<Value> out, project(group_row));
    if (to_sink) {
      if (!columns_given) VELQUIN_RETURN_IF_ERROR(sink->Columns(result.columns));
      columns_given = true;
      VELQUIN_RETURN_IF_ERROR(sink->Row(std::move(out)));
      continue;
    }
    if (direct) {
      result.rows.push_back(std::move(out));
      continue;
    }
    std::vector<Value> keys;
    if (by_group) {
      keys.reserve(st.group_by.size());
      for (std::size_t k = 0; k < st.group_by.size(); ++k) {
        keys.push_back(group_at[k] < kept.size()
                           ? group_row[kept[group_at[k]]]
                           : std::move(kept_values[n * stride + group_at[k]]));
      }
    } else if (by_output) {
      keys = out;
    } else {
      VELQUIN_ASSIGN_OR_RETURN(keys, order_keys(group_row, out));
    }
    collector.Add(std::move(out), std::move(keys));
  }
  if (to_sink) {
    if (!columns_given) VELQUIN_RETURN_IF_ERROR(sink->Columns(result.columns));
    result.streamed = true;
    return result;
  }
  if (!direct) result.rows = collector.Finish();
  return result;
}

}  // namespace velquin::jet::sql
