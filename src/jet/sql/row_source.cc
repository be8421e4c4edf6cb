// Row sources of a query's FROM clause: see row_source.h.
#include "jet/sql/row_source.h"

#include <algorithm>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>

#include "jet/sql/value_ops.h"

namespace velquin::jet::sql {
namespace {

class TableSource : public RowSource {
 public:
  TableSource(std::unique_ptr<RowCursor> cursor, std::size_t begin, std::size_t end,
              std::vector<bool> wanted)
      : RowSource(begin, end), cursor_(std::move(cursor)), wanted_(std::move(wanted)) {
    wanted_.resize(std::min(wanted_.size(), end - begin));
  }

  Result<bool> Next(std::vector<Value>* row) override {
    return cursor_->NextInto(row->data() + begin(), wanted_);
  }
  std::uint64_t EstimatedRows() const override { return cursor_->table().row_count; }

 private:
  std::unique_ptr<RowCursor> cursor_;
  std::vector<bool> wanted_;
};

class BufferedSource : public RowSource {
 public:
  BufferedSource(std::vector<std::vector<Value>> rows, std::size_t begin, std::size_t end)
      : RowSource(begin, end), rows_(std::move(rows)) {}

  Result<bool> Next(std::vector<Value>* row) override {
    if (next_ >= rows_.size()) return false;
    const std::vector<Value>& r = rows_[next_++];
    std::size_t n = std::min(r.size(), end() - begin());
    std::copy(r.begin(), r.begin() + static_cast<std::ptrdiff_t>(n), row->begin() + begin());
    return true;
  }
  std::uint64_t EstimatedRows() const override { return rows_.size(); }
  const std::vector<std::vector<Value>>* HeldRows() const override { return &rows_; }

 private:
  std::vector<std::vector<Value>> rows_;
  std::size_t next_ = 0;
};

class JoinSource : public RowSource {
 public:
  JoinSource(JoinKind kind, std::unique_ptr<RowSource> left, std::unique_ptr<RowSource> right,
             const Expr* on, const std::vector<const Expr*>& equalities, const Binding& binding)
      : RowSource(left->begin(), right->end()),
        outer_(kind != JoinKind::kInner),
        on_(on),
        binding_(binding) {
    // The side that may be padded with NULLs is the one held in memory; of
    // an inner join, the smaller one.
    if (kind == JoinKind::kRight ||
        (kind == JoinKind::kInner && left->EstimatedRows() < right->EstimatedRows())) {
      probe_ = std::move(right);
      build_ = std::move(left);
    } else {
      probe_ = std::move(left);
      build_ = std::move(right);
    }
    std::vector<const Expr*> keyed;  // the equalities that are the hash key
    for (const Expr* eq : equalities) {
      const Expr& a = eq->args[0];
      const Expr& b = eq->args[1];
      if (ColumnsWithin(a, binding, probe_->begin(), probe_->end()) &&
          ColumnsWithin(b, binding, build_->begin(), build_->end())) {
        probe_keys_.push_back(&a);
        build_keys_.push_back(&b);
        keyed.push_back(eq);
      } else if (ColumnsWithin(b, binding, probe_->begin(), probe_->end()) &&
                 ColumnsWithin(a, binding, build_->begin(), build_->end())) {
        probe_keys_.push_back(&b);
        build_keys_.push_back(&a);
        keyed.push_back(eq);
      }
    }
    if (on_) {
      std::vector<const Expr*> conjuncts;
      SplitConjuncts(*on_, &conjuncts);
      for (const Expr* c : conjuncts) {
        if (std::find(keyed.begin(), keyed.end(), c) == keyed.end()) rest_.push_back(c);
      }
    }
    probe_places_ = PlacesOf(probe_keys_);
    build_places_ = PlacesOf(build_keys_);
  }

  std::uint64_t EstimatedRows() const override {
    return std::max(probe_->EstimatedRows(), build_->EstimatedRows());
  }

  Result<bool> Next(std::vector<Value>* row) override {
    if (!built_) VELQUIN_RETURN_IF_ERROR(Build(row));
    const std::size_t width = build_->end() - build_->begin();
    for (;;) {
      if (!have_probe_) {
        VELQUIN_ASSIGN_OR_RETURN(bool more, probe_->Next(row));
        if (!more) return false;
        have_probe_ = true;
        matched_ = false;
        candidate_ = rows_ > 0 ? 0 : kNone;  // without a key: every build row
        if (!probe_keys_.empty()) {
          VELQUIN_ASSIGN_OR_RETURN(bool keyed, Key(probe_keys_, probe_places_, *row));
          auto k = keyed ? index_.Find(key_) : std::nullopt;
          candidate_ = k ? first_[*k] : kNone;
        }
      }
      while (candidate_ != kNone) {
        const std::size_t at = candidate_;
        candidate_ = probe_keys_.empty() ? (at + 1 < rows_ ? at + 1 : kNone) : next_[at];
        if (held_) {
          const std::vector<Value>& r = (*held_)[at];
          std::copy(r.begin(), r.begin() + static_cast<std::ptrdiff_t>(std::min(r.size(), width)),
                    row->begin() + build_->begin());
        } else {
          const auto from = values_.begin() + static_cast<std::ptrdiff_t>(at * width);
          std::copy(from, from + static_cast<std::ptrdiff_t>(width),
                    row->begin() + build_->begin());
        }
        bool keep = true;
        if (on_ && !(probe_keys_.size() > 0 && key_decides_)) {
          VELQUIN_ASSIGN_OR_RETURN(Value v, Eval(*on_, binding_, *row));
          auto t = AsTruth(v);
          keep = t && *t;
        } else if (on_) {
          // Equal keys of numbers, dates and text make their equalities true,
          // as `=` compares them: only the rest of the condition is checked.
          for (const Expr* c : rest_) {
            VELQUIN_ASSIGN_OR_RETURN(Value v, Eval(*c, binding_, *row));
            auto t = AsTruth(v);
            keep = t && *t;
            if (!keep) break;
          }
        }
        if (keep) {
          matched_ = true;
          return true;
        }
      }
      have_probe_ = false;
      if (outer_ && !matched_) {
        std::fill(row->begin() + build_->begin(), row->begin() + build_->end(), Value());
        return true;
      }
    }
  }

 private:
  // The places of the key expressions that are plain columns (read there
  // without evaluating them).
  std::vector<std::optional<std::size_t>> PlacesOf(const std::vector<const Expr*>& exprs) const {
    std::vector<std::optional<std::size_t>> places;
    places.reserve(exprs.size());
    for (const Expr* e : exprs) {
      std::optional<std::size_t> place;
      if (e->kind == ExprKind::kColumn) {
        auto i = binding_.Find(*e);
        if (i.ok() && *i < kOuterStep) place = *i;  // beyond: the outer query's row
      }
      places.push_back(place);
    }
    return places;
  }

  // The key of the current row's values of `exprs` in key_; false when one
  // is NULL (such a row equals nothing).
  // key_decides_ tells whether every value is a number, a date or a text.
  Result<bool> Key(const std::vector<const Expr*>& exprs,
                   const std::vector<std::optional<std::size_t>>& places,
                   const std::vector<Value>& row) {
    key_.clear();
    key_decides_ = true;
    Value evaluated;
    for (std::size_t k = 0; k < exprs.size(); ++k) {
      if (!places[k]) {
        VELQUIN_ASSIGN_OR_RETURN(evaluated, Eval(*exprs[k], binding_, row));
      }
      const Value& v = places[k] ? row[*places[k]] : evaluated;
      if (v.is_null()) return false;
      key_decides_ = key_decides_ && (IsNumeric(v) || v.kind() == ValueKind::kText);
      AppendGroupKey(v, &key_);
    }
    return true;
  }

  Status Build(std::vector<Value>* row) {
    built_ = true;
    // Rows the side holds already are read where they are; others are
    // copied here, with room for the rows the side says it has (no copying
    // as the array grows).
    held_ = build_->HeldRows();
    const std::uint64_t expected = std::min<std::uint64_t>(build_->EstimatedRows(), 1u << 22);
    if (!held_) {
      values_.reserve(static_cast<std::size_t>(expected) * (build_->end() - build_->begin()));
    }
    if (!build_keys_.empty()) {
      next_.reserve(static_cast<std::size_t>(expected));
      index_.Reserve(static_cast<std::size_t>(expected));
    }
    for (;;) {
      VELQUIN_ASSIGN_OR_RETURN(bool more, build_->Next(row));
      if (!more) break;
      const std::size_t at = rows_++;
      if (!held_) {
        values_.insert(values_.end(), row->begin() + build_->begin(), row->begin() + build_->end());
      }
      if (build_keys_.empty()) continue;
      next_.push_back(kNone);
      VELQUIN_ASSIGN_OR_RETURN(bool keyed, Key(build_keys_, build_places_, *row));
      if (!keyed) continue;
      const std::size_t k = index_.FindOrAdd(key_).first;
      if (k == first_.size()) {
        first_.push_back(at);
        last_.push_back(at);
      } else {
        next_[last_[k]] = at;
        last_[k] = at;
      }
    }
    return Status::Ok();
  }

  bool outer_;
  const Expr* on_;
  const Binding& binding_;
  std::unique_ptr<RowSource> probe_;
  std::unique_ptr<RowSource> build_;
  std::vector<const Expr*> probe_keys_;
  std::vector<const Expr*> build_keys_;
  std::vector<std::optional<std::size_t>> probe_places_;
  std::vector<std::optional<std::size_t>> build_places_;
  bool built_ = false;
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  // The build side's rows (its places only), one after another, unless
  // the side holds them (held_).
  const std::vector<std::vector<Value>>* held_ = nullptr;
  std::vector<Value> values_;
  std::size_t rows_ = 0;
  // With a key: the build rows of each key number, in the order they came,
  // chained from first_ through next_ (by row) to last_.
  KeyIndex index_;
  std::vector<std::size_t> first_;
  std::vector<std::size_t> last_;
  std::vector<std::size_t> next_;
  std::size_t candidate_ = kNone;  // the next build row to try for the probe row
  bool have_probe_ = false;
  bool matched_ = false;
  std::string key_;
  bool key_decides_ = false;
  std::vector<const Expr*> rest_;  // the conjuncts of `on_` that are not the key's
};

bool CollectColumns(const Expr& e, const Binding& binding, std::size_t begin, std::size_t end,
                    bool* any) {
  if (e.kind == ExprKind::kColumn) {
    auto i = binding.Find(e);
    if (!i.ok() || *i < begin || *i >= end) return false;
    *any = true;
    return true;
  }
  // A subquery may name columns of either side: never a side's key.
  if (e.kind == ExprKind::kStar || !e.subquery.empty()) return false;
  for (const Expr& a : e.args) {
    if (!CollectColumns(a, binding, begin, end, any)) return false;
  }
  return true;
}

}  // namespace

std::unique_ptr<RowSource> TableRows(std::unique_ptr<RowCursor> cursor, std::size_t begin,
                                     std::size_t end, std::vector<bool> wanted) {
  return std::make_unique<TableSource>(std::move(cursor), begin, end, std::move(wanted));
}

std::unique_ptr<RowSource> BufferedRows(std::vector<std::vector<Value>> rows, std::size_t begin,
                                        std::size_t end) {
  return std::make_unique<BufferedSource>(std::move(rows), begin, end);
}

std::unique_ptr<RowSource> JoinRows(JoinKind kind, std::unique_ptr<RowSource> left,
                                    std::unique_ptr<RowSource> right, const Expr* on,
                                    const std::vector<const Expr*>& equalities,
                                    const Binding& binding) {
  return std::make_unique<JoinSource>(kind, std::move(left), std::move(right), on, equalities,
                                      binding);
}

void SplitConjuncts(const Expr& e, std::vector<const Expr*>* out) {
  if (e.kind == ExprKind::kBinaryOp && e.binary_op == BinaryOp::kAnd) {
    SplitConjuncts(e.args[0], out);
    SplitConjuncts(e.args[1], out);
    return;
  }
  out->push_back(&e);
}

bool ColumnsWithin(const Expr& e, const Binding& binding, std::size_t begin, std::size_t end) {
  bool any = false;
  return CollectColumns(e, binding, begin, end, &any) && any;
}

}  // namespace velquin::jet::sql
