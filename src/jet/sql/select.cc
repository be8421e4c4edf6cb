// SELECT and SELECT ... INTO.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>

#include "jet/sql/executor.h"
#include "jet/sql/executor_internal.h"
#include "jet/sql/format.h"
#include "jet/sql/names.h"
#include "jet/sql/value_ops.h"

namespace velquin::jet::sql {

Result<ExecResult> Executor::RunSelect(const Select& st) {
  if (st.from.empty()) return Fail("Query input must contain at least one table or query.");
  if (!st.unions.empty()) {
    return Fail(
        "UNION queries are not run here; save one with CREATE VIEW, or run its SELECTs "
        "one by one.");
  }
  if (!st.group_by.empty() || st.having) return Fail("GROUP BY and HAVING are not supported here.");
  Binding b;
  std::vector<std::vector<std::vector<Value>>> data;
  for (const FromItem& f : st.from) {
    if (f.is_join)
      return Fail("JOIN is not supported here; list the tables with commas and a WHERE condition.");
    auto info = db_->GetTable(f.table);
    if (!info.ok()) return Fail(NoSuchInputMessage(f.table));
    Source s;
    s.table = info->name;
    s.alias = f.alias.empty() ? info->name : f.alias;
    s.info = std::move(*info);
    s.offset = b.width;
    b.width += s.info.columns.size();
    VELQUIN_ASSIGN_OR_RETURN(auto cur, db_->Scan(s.table));
    std::vector<std::vector<Value>> rows;
    std::vector<Value> row;
    for (;;) {
      VELQUIN_ASSIGN_OR_RETURN(bool more, cur->Next(&row));
      if (!more) break;
      rows.push_back(row);
    }
    data.push_back(std::move(rows));
    b.sources.push_back(std::move(s));
  }
  // Output columns.
  ExecResult result;
  result.has_rows = true;
  struct Out {
    std::optional<std::size_t> column;  // a plain column: its place in the joined row
    const Expr* expr = nullptr;
  };
  std::vector<Out> outs;
  int expr_number = 1000;
  // Count, Sum, Avg, Min and Max over the rows the WHERE keeps: a select
  // list of these alone (there is no GROUP BY) gives one row.
  std::vector<Aggregate> aggregates;
  bool aggregating = false;
  for (const SelectItem& item : st.items) {
    if (AggregateKindOf(item.expr)) aggregating = true;
  }
  if (aggregating) {
    for (const SelectItem& item : st.items) {
      auto kind = AggregateKindOf(item.expr);
      if (!kind) {
        return Fail(
            "You tried to execute a query that does not include the specified "
            "expression '" +
            FormatExpression(item.expr) + "' as part of an aggregate function.");
      }
      if (item.expr.args.size() != 1 ||
          (item.expr.args[0].kind == ExprKind::kStar && *kind != AggregateKind::kCount)) {
        return Fail("Wrong number of arguments used with function in query expression '" +
                    FormatExpression(item.expr) + "'.");
      }
      Aggregate a;
      a.kind = *kind;
      a.arg = item.expr.args[0].kind == ExprKind::kStar ? nullptr : &item.expr.args[0];
      aggregates.push_back(a);
      ColumnType type = *kind == AggregateKind::kCount ? ColumnType::kLong
                        : (*kind == AggregateKind::kSum || *kind == AggregateKind::kAvg)
                            ? ColumnType::kDouble
                            : ColumnType::kMemo;
      result.columns.push_back(
          {item.alias.empty() ? "Expr" + std::to_string(expr_number++) : item.alias, type, 0});
      outs.push_back({std::nullopt, &item.expr});
    }
  }
  for (const SelectItem& item : st.items) {
    if (aggregating) break;
    if (item.expr.kind == ExprKind::kStar) {
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
    if (item.expr.kind == ExprKind::kColumn) {
      VELQUIN_ASSIGN_OR_RETURN(std::size_t i, b.Find(item.expr));
      const Source* src = nullptr;
      for (const Source& s : b.sources) {
        if (i >= s.offset && i < s.offset + s.info.columns.size()) src = &s;
      }
      const auto& c = src->info.columns[i - src->offset];
      result.columns.push_back({item.alias.empty() ? c.name : item.alias, c.type, c.size});
      outs.push_back({i, nullptr});
      continue;
    }
    result.columns.push_back(
        {item.alias.empty() ? "Expr" + std::to_string(expr_number++) : item.alias,
         ColumnType::kMemo, 0});
    outs.push_back({std::nullopt, &item.expr});
  }
  // Walk the product of the tables.
  std::vector<std::vector<Value>> order_keys;
  std::vector<std::size_t> index(data.size(), 0);
  bool empty = std::any_of(data.begin(), data.end(), [](const auto& d) { return d.empty(); });
  std::vector<Value> joined(b.width);
  std::vector<bool> typed(result.columns.size(), false);
  while (!empty) {
    for (std::size_t t = 0; t < data.size(); ++t) {
      std::copy(data[t][index[t]].begin(), data[t][index[t]].end(),
                joined.begin() + b.sources[t].offset);
    }
    bool keep = true;
    if (st.where) {
      VELQUIN_ASSIGN_OR_RETURN(Value w, Eval(*st.where, b, joined));
      auto t = AsTruth(w);
      keep = t && *t;
    }
    if (keep && aggregating) {
      for (Aggregate& a : aggregates) VELQUIN_RETURN_IF_ERROR(a.Add(b, joined));
    } else if (keep) {
      std::vector<Value> out;
      out.reserve(outs.size());
      for (std::size_t k = 0; k < outs.size(); ++k) {
        if (outs[k].column) {
          out.push_back(joined[*outs[k].column]);
        } else {
          VELQUIN_ASSIGN_OR_RETURN(Value v, Eval(*outs[k].expr, b, joined));
          if (!typed[k] && !v.is_null()) {
            result.columns[k].type = TypeOfValue(v);
            typed[k] = true;
          }
          out.push_back(std::move(v));
        }
      }
      std::vector<Value> keys;
      for (const OrderItem& o : st.order_by) {
        if (o.expr.kind == ExprKind::kNumber) {
          std::size_t pos = static_cast<std::size_t>(std::atoi(o.expr.text.c_str()));
          keys.push_back(pos >= 1 && pos <= out.size() ? out[pos - 1] : Value());
          continue;
        }
        VELQUIN_ASSIGN_OR_RETURN(Value v, Eval(o.expr, b, joined));
        keys.push_back(std::move(v));
      }
      result.rows.push_back(std::move(out));
      order_keys.push_back(std::move(keys));
    }
    // Next combination (the last table varies fastest).
    std::size_t t = data.size();
    while (t > 0) {
      --t;
      if (++index[t] < data[t].size()) break;
      index[t] = 0;
      if (t == 0) empty = true;
    }
    if (data.empty()) break;
  }
  if (aggregating) {
    std::vector<Value> out;
    for (std::size_t k = 0; k < aggregates.size(); ++k) {
      out.push_back(aggregates[k].Result());
      if (result.columns[k].type == ColumnType::kMemo && !out.back().is_null()) {
        result.columns[k].type = TypeOfValue(out.back());
      }
    }
    result.rows.push_back(std::move(out));
    order_keys.push_back(std::vector<Value>(st.order_by.size()));
  }
  if (!st.order_by.empty()) {
    std::vector<std::size_t> perm(result.rows.size());
    for (std::size_t i = 0; i < perm.size(); ++i) perm[i] = i;
    std::stable_sort(perm.begin(), perm.end(), [&](std::size_t x, std::size_t y) {
      for (std::size_t k = 0; k < st.order_by.size(); ++k) {
        const Value& a = order_keys[x][k];
        const Value& c = order_keys[y][k];
        int r;
        if (a.is_null() || c.is_null()) {
          r = a.is_null() == c.is_null() ? 0 : (a.is_null() ? -1 : 1);  // NULL first
        } else {
          r = CompareValues(a, c).value_or(0);
        }
        if (st.order_by[k].descending) r = -r;
        if (r != 0) return r < 0;
      }
      return false;
    });
    std::vector<std::vector<Value>> sorted;
    sorted.reserve(perm.size());
    for (std::size_t i : perm) sorted.push_back(std::move(result.rows[i]));
    result.rows = std::move(sorted);
  }
  if (st.quantifier != SelectQuantifier::kAll) {
    std::vector<std::vector<Value>> unique;
    for (auto& r : result.rows) {
      bool seen = false;
      for (const auto& u : unique) {
        bool same = true;
        for (std::size_t k = 0; k < r.size() && same; ++k) {
          if (r[k].is_null() || u[k].is_null()) {
            same = r[k].is_null() == u[k].is_null();
          } else {
            same = CompareValues(r[k], u[k]).value_or(1) == 0;
          }
        }
        if (same) {
          seen = true;
          break;
        }
      }
      if (!seen) unique.push_back(std::move(r));
    }
    result.rows = std::move(unique);
  }
  if (st.top) {
    double n = std::strtod(st.top->c_str(), nullptr);
    std::size_t keep = st.top_percent
                           ? static_cast<std::size_t>(std::ceil(result.rows.size() * n / 100.0))
                           : static_cast<std::size_t>(n);
    if (keep < result.rows.size()) result.rows.resize(keep);
  }
  if (!st.into.empty()) return RunSelectInto(st, std::move(result));
  return result;
}

Result<ExecResult> Executor::RunSelectInto(const Select& st, ExecResult result) {
  if (db_->NameInUse(st.into)) return Fail(TableExistsMessage(st.into));
  TableSpec spec;
  spec.name = st.into;
  for (const ResultColumn& c : result.columns) {
    for (const ColumnSpec& have : spec.columns) {
      if (SameName(have.name, c.name))
        return Fail("Duplicate output destination '" + c.name + "'.");
    }
    ColumnSpec cs;
    cs.name = c.name;
    cs.type = c.type;
    cs.size = c.size;
    spec.columns.push_back(cs);
  }
  // Decimal columns keep their precision and scale.
  for (const FromItem& f : st.from) {
    auto info = db_->GetTable(f.table);
    if (!info.ok()) continue;
    for (ColumnSpec& cs : spec.columns) {
      for (const auto& c : info->columns) {
        if (SameName(c.name, cs.name) && c.type == ColumnType::kNumeric &&
            cs.type == ColumnType::kNumeric) {
          cs.precision = c.precision;
          cs.scale = c.scale;
        }
      }
    }
  }
  VELQUIN_RETURN_IF_ERROR(db_->CreateTable(spec));
  Status s = [&]() -> Status {
    VELQUIN_ASSIGN_OR_RETURN(auto w, db_->BulkAppend(st.into));
    for (const auto& row : result.rows) VELQUIN_RETURN_IF_ERROR(w->Append(row));
    return w->Finish();
  }();
  if (!s.ok()) {
    (void)db_->DropTable(st.into);
    return s;
  }
  ExecResult r;
  r.rows_affected = result.rows.size();
  return r;
}

}  // namespace velquin::jet::sql
