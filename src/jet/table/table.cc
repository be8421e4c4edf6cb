// Row reading and writing: see table.h; layouts in row_codec.h,
// long_value.h, [COL-*], [ROW-*], [LVAL-*] in docs/jet4-format.md.
#include "jet/table/table.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "jet/index/index_tree.h"
#include "jet/table/long_value.h"
#include "jet/table/table_indexes.h"
#include "jet/table/text_codec.h"

namespace velquin::jet {
namespace {

__extension__ typedef unsigned __int128 U128;

// A page stays in the free-space map while it can take another small row.
constexpr std::size_t kFreeSpaceThreshold = 64;

Status Mismatch(const Column& c, const Value& v) {
  return Status::InvalidArgument("column \"" + c.name + "\" (" + ColumnTypeName(c.type) +
                                 ") cannot take the value \"" + v.ToString() + "\"");
}

Status Range(const Column& c, const Value& v) {
  return Status::Constraint("value \"" + v.ToString() + "\" is out of range for column \"" +
                            c.name + "\" (" + ColumnTypeName(c.type) + ")");
}

void PutLE(std::vector<std::uint8_t>* out, std::uint64_t v, int n) {
  const std::size_t at = out->size();
  out->resize(at + static_cast<std::size_t>(n));
  std::uint8_t* p = out->data() + at;
  for (int i = 0; i < n; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

int DigitCount(U128 m) {
  int n = 0;
  while (m != 0) {
    ++n;
    m /= 10;
  }
  return n;
}

Result<Decimal> ToDecimal(const Column& c, const Value& v) {
  std::int64_t i;
  std::string text;
  if (v.AsInt64(&i)) {
    text = std::to_string(i);
  } else if (v.kind() == ValueKind::kDecimal || v.kind() == ValueKind::kCurrency) {
    text = v.ToString();
  } else if (v.kind() == ValueKind::kDouble || v.kind() == ValueKind::kSingle) {
    double d = v.kind() == ValueKind::kDouble ? v.double_value() : v.single_value();
    if (!std::isfinite(d)) return Range(c, v);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", static_cast<int>(c.scale()), d);
    text = buf;
  } else if (v.kind() == ValueKind::kText) {
    text = v.text_value();
  } else {
    return Mismatch(c, v);
  }
  auto d = Decimal::Parse(text, c.scale());
  if (!d.ok()) return Range(c, v);
  U128 m = (static_cast<U128>(d->hi) << 64) | d->lo;
  int precision = c.precision() == 0 ? 18 : c.precision();
  if (DigitCount(m) > precision) return Range(c, v);
  return *d;
}

}  // namespace

Status EncodeCellValue(const Column& c, const Value& v, std::vector<std::uint8_t>* out) {
  out->clear();
  std::int64_t i = 0;
  bool is_int = v.AsInt64(&i);
  switch (c.type) {
    case ColumnType::kByte:
      if (!is_int) return Mismatch(c, v);
      if (i < 0 || i > 255) return Range(c, v);
      out->push_back(static_cast<std::uint8_t>(i));
      return Status::Ok();
    case ColumnType::kShort:
      if (!is_int) return Mismatch(c, v);
      if (i < -32768 || i > 32767) return Range(c, v);
      PutLE(out, static_cast<std::uint64_t>(i), 2);
      return Status::Ok();
    case ColumnType::kLong:
      if (!is_int) return Mismatch(c, v);
      if (i < std::numeric_limits<std::int32_t>::min() ||
          i > std::numeric_limits<std::int32_t>::max()) {
        return Range(c, v);
      }
      PutLE(out, static_cast<std::uint64_t>(i), 4);
      return Status::Ok();
    case ColumnType::kCurrency: {
      std::int64_t units;
      if (v.kind() == ValueKind::kCurrency) {
        units = v.currency_value().units;
      } else if (is_int) {
        units = i * 10000;
      } else if (v.kind() == ValueKind::kDouble || v.kind() == ValueKind::kDecimal ||
                 v.kind() == ValueKind::kText) {
        std::string text = v.ToString();
        if (v.kind() == ValueKind::kDouble) {
          if (!std::isfinite(v.double_value())) return Range(c, v);
          char buf[64];
          std::snprintf(buf, sizeof buf, "%.4f", v.double_value());
          text = buf;
        }
        auto cur = Currency::Parse(text);
        if (!cur.ok()) return Range(c, v);
        units = cur->units;
      } else {
        return Mismatch(c, v);
      }
      PutLE(out, static_cast<std::uint64_t>(units), 8);
      return Status::Ok();
    }
    case ColumnType::kSingle: {
      float f;
      if (v.kind() == ValueKind::kSingle) {
        f = v.single_value();
      } else if (v.kind() == ValueKind::kDouble) {
        double d = v.double_value();
        if (std::isfinite(d) && std::fabs(d) > std::numeric_limits<float>::max())
          return Range(c, v);
        f = static_cast<float>(d);
      } else if (is_int) {
        f = static_cast<float>(i);
      } else {
        return Mismatch(c, v);
      }
      std::uint32_t u;
      std::memcpy(&u, &f, 4);
      PutLE(out, u, 4);
      return Status::Ok();
    }
    case ColumnType::kDouble:
    case ColumnType::kDateTime: {
      double d;
      if (c.type == ColumnType::kDateTime) {
        if (v.kind() == ValueKind::kDateTime) {
          d = v.datetime_value().days;
        } else if (v.kind() == ValueKind::kDouble) {
          d = v.double_value();
        } else if (v.kind() == ValueKind::kText) {
          auto dt = DateTime::Parse(v.text_value());
          if (!dt.ok()) return Mismatch(c, v);
          d = dt->days;
        } else {
          return Mismatch(c, v);
        }
        // Jet dates run from year 100 to 9999.
        if (!std::isfinite(d) || d < -657434.0 - 0.9999999 || d >= 2958466.0) return Range(c, v);
      } else if (v.kind() == ValueKind::kDouble) {
        d = v.double_value();
      } else if (v.kind() == ValueKind::kSingle) {
        d = v.single_value();
      } else if (is_int) {
        d = static_cast<double>(i);
      } else if (v.kind() == ValueKind::kCurrency) {
        d = static_cast<double>(v.currency_value().units) / 10000.0;
      } else {
        return Mismatch(c, v);
      }
      std::uint64_t u;
      std::memcpy(&u, &d, 8);
      PutLE(out, u, 8);
      return Status::Ok();
    }
    case ColumnType::kGuid: {
      Guid g;
      if (v.kind() == ValueKind::kGuid) {
        g = v.guid_value();
      } else if (v.kind() == ValueKind::kText) {
        auto p = Guid::Parse(v.text_value());
        if (!p.ok()) return Mismatch(c, v);
        g = *p;
      } else {
        return Mismatch(c, v);
      }
      static const int kOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
      for (int k = 0; k < 16; ++k) out->push_back(g.bytes[kOrder[k]]);
      return Status::Ok();
    }
    case ColumnType::kNumeric: {
      VELQUIN_ASSIGN_OR_RETURN(Decimal d, ToDecimal(c, v));
      out->push_back(d.negative ? 0x80 : 0x00);
      std::uint32_t words[4] = {
          static_cast<std::uint32_t>(d.hi >> 32), static_cast<std::uint32_t>(d.hi),
          static_cast<std::uint32_t>(d.lo >> 32), static_cast<std::uint32_t>(d.lo)};
      for (std::uint32_t w : words) PutLE(out, w, 4);
      return Status::Ok();
    }
    case ColumnType::kText: {
      if (v.kind() != ValueKind::kText) return Mismatch(c, v);
      VELQUIN_ASSIGN_OR_RETURN(std::size_t units,
                               EncodeTextUtf8(v.text_value(), c.compressed(), out));
      if (units * 2 > c.length) {
        out->clear();
        return Status::Constraint("text of " + std::to_string(units) +
                                  " characters is too long for column \"" + c.name + "\" (" +
                                  std::to_string(c.length / 2) + ")");
      }
      return Status::Ok();
    }
    case ColumnType::kBinary: {
      if (v.kind() != ValueKind::kBinary) return Mismatch(c, v);
      if (v.binary_value().size() > c.length) {
        return Status::Constraint("binary value of " + std::to_string(v.binary_value().size()) +
                                  " bytes is too long for column \"" + c.name + "\" (" +
                                  std::to_string(c.length) + ")");
      }
      out->assign(v.binary_value().begin(), v.binary_value().end());
      return Status::Ok();
    }
    default:
      if (c.is_fixed() && v.kind() == ValueKind::kBinary && v.binary_value().size() == c.length) {
        out->assign(v.binary_value().begin(), v.binary_value().end());
        return Status::Ok();
      }
      return Mismatch(c, v);
  }
}

Result<Value> DecodeCellValue(PageStore& store, const Column& c, const Cell& cell,
                              PageNumber page) {
  if (c.type == ColumnType::kBool) return Value::Bool(cell.present);
  if (!cell.present) return Value::Null();
  Bytes b = cell.data;
  auto need = [&](std::size_t n) -> Status {
    if (b.size() < n) {
      return PageCorruption(page, "column value",
                            "column \"" + c.name + "\" has " + std::to_string(b.size()) +
                                " bytes, needs " + std::to_string(n));
    }
    return Status::Ok();
  };
  switch (c.type) {
    case ColumnType::kByte:
      VELQUIN_RETURN_IF_ERROR(need(1));
      return Value::Byte(b[0]);
    case ColumnType::kShort:
      VELQUIN_RETURN_IF_ERROR(need(2));
      return Value::Short(static_cast<std::int16_t>(Get16(b, 0)));
    case ColumnType::kLong:
      VELQUIN_RETURN_IF_ERROR(need(4));
      return Value::Long(static_cast<std::int32_t>(Get32(b, 0)));
    case ColumnType::kCurrency:
      VELQUIN_RETURN_IF_ERROR(need(8));
      return Value::Money(Currency{static_cast<std::int64_t>(Get64(b, 0))});
    case ColumnType::kSingle:
      VELQUIN_RETURN_IF_ERROR(need(4));
      return Value::Single(GetFloat(b, 0));
    case ColumnType::kDouble:
      VELQUIN_RETURN_IF_ERROR(need(8));
      return Value::Double(GetDouble(b, 0));
    case ColumnType::kDateTime:
      VELQUIN_RETURN_IF_ERROR(need(8));
      return Value::Date(DateTime{GetDouble(b, 0)});
    case ColumnType::kGuid: {
      VELQUIN_RETURN_IF_ERROR(need(16));
      static const int kOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
      Guid g;
      for (int k = 0; k < 16; ++k) g.bytes[kOrder[k]] = b[k];
      return Value::Uuid(g);
    }
    case ColumnType::kNumeric: {
      VELQUIN_RETURN_IF_ERROR(need(17));
      Decimal d;
      d.negative = (b[0] & 0x80) != 0;
      d.hi = (static_cast<std::uint64_t>(Get32(b, 1)) << 32) | Get32(b, 5);
      d.lo = (static_cast<std::uint64_t>(Get32(b, 9)) << 32) | Get32(b, 13);
      d.scale = std::min<std::uint8_t>(c.scale(), 28);
      if (d.IsZero()) d.negative = false;
      return Value::Numeric(d);
    }
    case ColumnType::kText:
      return Value::Text(DecodeText(b));
    case ColumnType::kBinary:
      return Value::Binary(std::vector<std::uint8_t>(b.begin(), b.end()));
    case ColumnType::kMemo:
    case ColumnType::kOle: {
      std::vector<std::uint8_t> data;
      VELQUIN_RETURN_IF_ERROR(
          ReadLongValue(store, b, page, &data).WithContext("column \"" + c.name + "\""));
      if (c.type == ColumnType::kMemo) return Value::Text(DecodeText(Bytes(data)));
      return Value::Binary(std::move(data));
    }
    default:
      return Value::Binary(std::vector<std::uint8_t>(b.begin(), b.end()));
  }
}

// ---------------------------------------------------------------------------
// TableCursor

TableCursor::TableCursor(PageStore& store, TableDef def) : store_(store), def_(std::move(def)) {}
TableCursor::~TableCursor() = default;

Status TableCursor::OpenInIndexOrder(std::size_t real_index, bool backward) {
  if (real_index >= def_.real_indexes.size()) {
    return Status::InvalidArgument("the table has no index " + std::to_string(real_index));
  }
  const RealIndex& ri = def_.real_indexes[real_index];
  IndexTreeOptions options;
  options.tdef_page = def_.tdef_page;
  options.unique = (ri.flags & 0x01) != 0;
  options.column_count = ri.columns.size();
  IndexTree tree(store_, ri.root, options);
  VELQUIN_ASSIGN_OR_RETURN(IndexCursor c, backward ? tree.End() : tree.Begin());
  index_ = std::make_unique<IndexCursor>(std::move(c));
  backward_ = backward;
  index_started_ = false;
  index_page_ = 0;
  return Status::Ok();
}

// The row of the next index entry, read from its data page (the page stays
// loaded while the entries point into it).
Result<bool> TableCursor::NextCellsInIndexOrder(std::vector<Cell>* cells) {
  if (!index_started_) {
    index_started_ = true;
    if (backward_) VELQUIN_RETURN_IF_ERROR(index_->Prev());
  } else if (index_->Valid()) {
    VELQUIN_RETURN_IF_ERROR(backward_ ? index_->Prev() : index_->Next());
  }
  if (!index_->Valid()) return false;
  const RowId at = index_->entry().row;
  if (at.page != index_page_) {
    if (at.page == 0 || at.page >= store_.PageCount()) {
      return PageCorruption(index_->leaf_page(), "index entry",
                            "points at page " + std::to_string(at.page));
    }
    VELQUIN_RETURN_IF_ERROR(store_.ReadPage(at.page, page_));
    index_page_ = at.page;
  }
  DataPage dp(page_, at.page);
  if (dp.type() != kPageTypeData || dp.owner() != def_.tdef_page || at.row >= dp.row_count()) {
    return PageCorruption(index_->leaf_page(), "index entry",
                          "points at row " + std::to_string(at.row) + " of page " +
                              std::to_string(at.page) + ", no row of this table");
  }
  VELQUIN_ASSIGN_OR_RETURN(RowSlot s, dp.Slot(at.row));
  if (s.deleted) {
    return PageCorruption(index_->leaf_page(), "index entry",
                          "points at the deleted row " + std::to_string(at.row) + " of page " +
                              std::to_string(at.page));
  }
  Bytes row = dp.RowBytes(s);
  RowPointer where{at.page, at.row};
  if (s.overflow) VELQUIN_RETURN_IF_ERROR(FollowOverflow(store_, overflow_, &row, &where));
  current_page_ = where.page;
  VELQUIN_RETURN_IF_ERROR(DecodeRow(def_, row, where.page, at.row, cells));
  return true;
}

Status TableCursor::Open() {
  VELQUIN_ASSIGN_OR_RETURN(UsageMap owned, LoadUsageMap(store_, def_.owned_map));
  pages_ = owned.Pages(0xFFFFFFFFu);
  if (!pages_.empty() && pages_.back() >= store_.PageCount()) {
    return PageCorruption(def_.owned_map.page, "usage map",
                          "the table at page " + std::to_string(def_.tdef_page) + " lists page " +
                              std::to_string(pages_.back()) +
                              " past the end of the file (truncated file?)");
  }
  page_index_ = 0;
  page_loaded_ = false;
  return Status::Ok();
}

Status TableCursor::LoadPage() {
  while (page_index_ < pages_.size()) {
    PageNumber pn = pages_[page_index_++];
    VELQUIN_RETURN_IF_ERROR(store_.ReadPage(pn, page_));
    DataPage dp(page_, pn);
    // Pages of other tables or of other kinds are not this table's rows.
    if (dp.type() != kPageTypeData || dp.owner() != def_.tdef_page) continue;
    if (dp.row_count() > kMaxRowsPerPage) {
      return PageCorruption(pn, "row count", std::to_string(dp.row_count()) + " rows");
    }
    rows_ = dp.row_count();
    row_ = 0;
    page_loaded_ = true;
    return Status::Ok();
  }
  page_loaded_ = false;
  return Status::Ok();
}

Result<bool> TableCursor::NextCells(std::vector<Cell>* cells) {
  if (index_) return NextCellsInIndexOrder(cells);
  for (;;) {
    if (!page_loaded_ || row_ >= rows_) {
      VELQUIN_RETURN_IF_ERROR(LoadPage());
      if (!page_loaded_) return false;
      continue;
    }
    PageNumber pn = pages_[page_index_ - 1];
    DataPage dp(page_, pn);
    std::size_t r = row_++;
    VELQUIN_ASSIGN_OR_RETURN(RowSlot s, dp.Slot(r));
    if (s.deleted) continue;
    Bytes row = dp.RowBytes(s);
    PageNumber row_page = pn;
    if (s.overflow) {
      // The row lives elsewhere; follow the pointer [ROW-6].
      RowPointer at{pn, static_cast<std::uint8_t>(r)};
      VELQUIN_RETURN_IF_ERROR(FollowOverflow(store_, overflow_, &row, &at));
      row_page = at.page;
    }
    VELQUIN_RETURN_IF_ERROR(DecodeRow(def_, row, row_page, r, cells));
    current_page_ = pn;
    return true;
  }
}

Result<bool> TableCursor::Next(std::vector<Value>* row) {
  VELQUIN_ASSIGN_OR_RETURN(bool more, NextCells(&cells_));
  if (!more) return false;
  row->clear();
  row->reserve(def_.columns.size());
  const PageNumber pn = current_page_;
  for (std::size_t i = 0; i < def_.columns.size(); ++i) {
    VELQUIN_ASSIGN_OR_RETURN(Value v, DecodeCellValue(store_, def_.columns[i], cells_[i], pn));
    row->push_back(std::move(v));
  }
  return true;
}

Result<bool> TableCursor::NextInto(Value* out, const std::vector<bool>& wanted) {
  VELQUIN_ASSIGN_OR_RETURN(bool more, NextCells(&cells_));
  if (!more) return false;
  const PageNumber pn = current_page_;
  const std::size_t n = std::min(wanted.size(), def_.columns.size());
  for (std::size_t i = 0; i < n; ++i) {
    if (!wanted[i]) continue;
    VELQUIN_ASSIGN_OR_RETURN(out[i], DecodeCellValue(store_, def_.columns[i], cells_[i], pn));
  }
  return true;
}

// ---------------------------------------------------------------------------
// TableWriter

Result<std::unique_ptr<TableWriter>> TableWriter::Open(PageStore& store, PageNumber tdef_page,
                                                       bool bulk) {
  VELQUIN_ASSIGN_OR_RETURN(TableDef def, ReadTableDef(store, tdef_page));
  std::unique_ptr<TableWriter> w(new TableWriter(store, std::move(def)));
  VELQUIN_RETURN_IF_ERROR(w->Init(bulk));
  return w;
}

bool TableWriter::defers_indexes() const { return indexes_ && indexes_->deferring(); }

TableWriter::TableWriter(PageStore& store, TableDef def) : store_(store), def_(std::move(def)) {}

TableWriter::~TableWriter() = default;

Status TableWriter::Init(bool bulk) {
  if (!def_.real_indexes.empty()) {
    indexes_ = std::make_unique<TableIndexWriter>(store_, &def_, bulk);
    VELQUIN_RETURN_IF_ERROR(indexes_->Open());
  }
  VELQUIN_ASSIGN_OR_RETURN(owned_, LoadUsageMap(store_, def_.owned_map));
  VELQUIN_ASSIGN_OR_RETURN(free_, LoadUsageMap(store_, def_.free_map));
  lv_of_column_.assign(def_.columns.size(), -1);
  for (std::size_t i = 0; i < def_.columns.size(); ++i) {
    const Column& c = def_.columns[i];
    if (!c.is_long_value()) continue;
    if (c.lv_owned.page == 0 || c.lv_free.page == 0) {
      return Status::NotSupported("column \"" + c.name + "\" has no long-value usage maps");
    }
    LvState lv;
    lv.column = i;
    VELQUIN_ASSIGN_OR_RETURN(lv.owned, LoadUsageMap(store_, c.lv_owned));
    VELQUIN_ASSIGN_OR_RETURN(lv.free, LoadUsageMap(store_, c.lv_free));
    // Keep filling the column's last LVAL page that has room.
    PageNumber last = lv.free.LastPage(store_.PageCount());
    if (last != 0 && lv.owned.Contains(last)) {
      VELQUIN_RETURN_IF_ERROR(store_.ReadPage(last, lv.page));
      DataPage dp(lv.page, last);
      if (dp.type() == kPageTypeData && dp.owner() == kLvalOwner && dp.Validate().ok()) {
        lv.number = last;
      }
    }
    lv_of_column_[i] = static_cast<int>(lv_.size());
    lv_.push_back(std::move(lv));
  }
  scratch_.resize(def_.columns.size());
  lv_bufs_.resize(def_.columns.size());
  lv_apart_.assign(def_.columns.size(), false);
  for (const RealIndex& ri : def_.real_indexes) {
    for (const IndexColumn& ic : ri.columns) {
      for (const Column& c : def_.columns) {
        if (c.number == ic.column_number && c.is_long_value()) index_reads_long_values_ = true;
      }
    }
  }
  // Continue on the table's last data page when it has room.
  PageNumber last = owned_.LastPage(store_.PageCount());
  if (last != 0) {
    VELQUIN_RETURN_IF_ERROR(store_.ReadPage(last, page_));
    DataPage dp(page_, last);
    if (dp.type() == kPageTypeData && dp.owner() == def_.tdef_page && dp.Validate().ok()) {
      page_no_ = last;
    }
  }
  return Status::Ok();
}

Status TableWriter::FlushLvPages() {
  for (auto& lv : lv_) {
    if (!lv.dirty) continue;
    VELQUIN_RETURN_IF_ERROR(store_.WritePage(lv.number, lv.page));
    lv.dirty = false;
  }
  return Status::Ok();
}

Status TableWriter::FlushDataPage() {
  if (!page_dirty_) return Status::Ok();
  // Long values first: a written row must never point at unwritten data.
  VELQUIN_RETURN_IF_ERROR(FlushLvPages());
  VELQUIN_RETURN_IF_ERROR(store_.WritePage(page_no_, page_));
  page_dirty_ = false;
  DataPage dp(page_, page_no_);
  PageAllocator alloc = [this]() { return store_.AllocatePage(); };
  VELQUIN_RETURN_IF_ERROR(owned_.Set(page_no_, true, alloc));
  VELQUIN_RETURN_IF_ERROR(free_.Set(page_no_, dp.free_space() >= kFreeSpaceThreshold, alloc));
  return Status::Ok();
}

Status TableWriter::NewDataPage(std::size_t row_size) {
  VELQUIN_RETURN_IF_ERROR(FlushDataPage());
  // Reuse space freed by deleted rows: a page of the free-space map that has
  // deleted rows and can take this one. Other pages leave the map (a later
  // delete puts them back), so each is tried once, a few per new page; pages
  // the writer left behind without deletes are never filled afterwards, and
  // rows appended to a table without deletes stay in their order.
  PageAllocator alloc = [this]() { return store_.AllocatePage(); };
  if (!candidates_loaded_) {
    candidates_ = free_.Pages(store_.PageCount());
    candidates_loaded_ = true;
  }
  for (int tries = 0; tries < 16 && next_candidate_ < candidates_.size();) {
    PageNumber c = candidates_[next_candidate_++];
    if (c == page_no_ || !free_.Contains(c) || !owned_.Contains(c)) continue;
    ++tries;
    VELQUIN_RETURN_IF_ERROR(store_.ReadPage(c, page_));
    DataPage dp(page_, c);
    if (dp.type() == kPageTypeData && dp.owner() == def_.tdef_page && dp.Validate().ok() &&
        dp.HasDeletedRows() && dp.CanAdd(row_size)) {
      page_no_ = c;
      return Status::Ok();
    }
    VELQUIN_RETURN_IF_ERROR(free_.Set(c, false, alloc));
  }
  VELQUIN_ASSIGN_OR_RETURN(page_no_, store_.AllocatePage());
  DataPage dp(page_, page_no_);
  dp.Init(def_.tdef_page);
  page_dirty_ = true;
  return Status::Ok();
}

Result<RowPointer> TableWriter::PutLvRow(LvState& lv, Bytes data) {
  PageAllocator alloc = [this]() { return store_.AllocatePage(); };
  if (lv.number != 0) {
    DataPage dp(lv.page, lv.number);
    if (dp.CanAdd(data.size())) {
      std::uint8_t r = dp.Add(data);
      lv.dirty = true;
      return RowPointer{lv.number, r};
    }
    if (lv.dirty) {
      VELQUIN_RETURN_IF_ERROR(store_.WritePage(lv.number, lv.page));
      lv.dirty = false;
    }
    VELQUIN_RETURN_IF_ERROR(lv.free.Set(lv.number, false, alloc));
  }
  // Space freed by deleted long values first, as for data pages.
  if (!lv.candidates_loaded) {
    lv.candidates = lv.free.Pages(store_.PageCount());
    lv.candidates_loaded = true;
  }
  for (int tries = 0; tries < 16 && lv.next_candidate < lv.candidates.size();) {
    PageNumber c = lv.candidates[lv.next_candidate++];
    if (c == lv.number || !lv.free.Contains(c) || !lv.owned.Contains(c)) continue;
    ++tries;
    VELQUIN_RETURN_IF_ERROR(store_.ReadPage(c, lv.page));
    DataPage dp(lv.page, c);
    if (dp.type() == kPageTypeData && dp.owner() == kLvalOwner && dp.Validate().ok() &&
        dp.CanAdd(data.size())) {
      lv.number = c;
      std::uint8_t r = dp.Add(data);
      lv.dirty = true;
      return RowPointer{c, r};
    }
    VELQUIN_RETURN_IF_ERROR(lv.free.Set(c, false, alloc));
  }
  VELQUIN_ASSIGN_OR_RETURN(lv.number, store_.AllocatePage());
  DataPage dp(lv.page, lv.number);
  dp.Init(kLvalOwner);
  VELQUIN_RETURN_IF_ERROR(lv.owned.Set(lv.number, true, alloc));
  VELQUIN_RETURN_IF_ERROR(lv.free.Set(lv.number, true, alloc));
  std::uint8_t r = dp.Add(data);
  lv.dirty = true;
  return RowPointer{lv.number, r};
}

Status TableWriter::LayOutLongValue(Bytes data, bool allow_inline, std::vector<std::uint8_t>* out,
                                    bool* stored_apart) {
  out->clear();
  *stored_apart = false;
  if (data.size() > kLvMaxLength) {
    return Status::Constraint("long value of " + std::to_string(data.size()) +
                              " bytes exceeds the 1 GB limit");
  }
  const LongValueKind kind = LongValueKindFor(data.size(), allow_inline);
  EncodeLongValueHeader(kind, static_cast<std::uint32_t>(data.size()), data, out);
  *stored_apart = kind != LongValueKind::kInline;
  return Status::Ok();
}

Result<RowPointer> TableWriter::StoreLongValue(LvState& lv, Bytes data) {
  if (LongValueKindFor(data.size(), false) == LongValueKind::kSingle) return PutLvRow(lv, data);
  // A chain: one fresh page per chunk, pages allocated first so each row can
  // name the next; written last chunk first [LVAL-4].
  std::size_t chunks = (data.size() + kLvChainChunk - 1) / kLvChainChunk;
  std::vector<PageNumber> pages(chunks);
  PageAllocator alloc = [this]() { return store_.AllocatePage(); };
  for (auto& p : pages) {
    VELQUIN_ASSIGN_OR_RETURN(p, store_.AllocatePage());
    VELQUIN_RETURN_IF_ERROR(lv.owned.Set(p, true, alloc));
  }
  Page buf;
  std::vector<std::uint8_t> row;
  for (std::size_t k = chunks; k-- > 0;) {
    DataPage dp(buf, pages[k]);
    dp.Init(kLvalOwner);
    std::size_t from = k * kLvChainChunk;
    std::size_t n = std::min(kLvChainChunk, data.size() - from);
    EncodeChainRow(k + 1 < chunks ? RowPointer{pages[k + 1], 0} : RowPointer{},
                   data.subspan(from, n), &row);
    dp.Add(Bytes(row));
    VELQUIN_RETURN_IF_ERROR(store_.WritePage(pages[k], buf));
  }
  return RowPointer{pages[0], 0};
}

Status TableWriter::StoreLongValues() {
  // The encoded row ends with the variable columns' offsets (last column
  // first), their count and the null mask [ROW-1]: the value's header sits at
  // its column's offset, where its pointer is filled in.
  const std::size_t end = row_buf_.size() - (def_.max_columns + 7) / 8;
  for (std::size_t i = 0; i < def_.columns.size(); ++i) {
    if (!lv_apart_[i]) continue;
    VELQUIN_ASSIGN_OR_RETURN(RowPointer first,
                             StoreLongValue(lv_[lv_of_column_[i]], Bytes(lv_bufs_[i])));
    const std::size_t at =
        Get16(Bytes(row_buf_), end - 4 - std::size_t{2} * def_.columns[i].var_index);
    SetLongValuePointer(MutableBytes(row_buf_).subspan(at, kLvHeaderSize), first);
    SetLongValuePointer(MutableBytes(scratch_[i]), first);  // the cell an index may read
    lv_apart_[i] = false;
  }
  return Status::Ok();
}

Status TableWriter::Append(const std::vector<Value>& row) {
  if (row.size() != def_.columns.size()) {
    return Status::InvalidArgument("row has " + std::to_string(row.size()) + " values, table has " +
                                   std::to_string(def_.columns.size()) + " columns");
  }
  cells_.resize(def_.columns.size());  // each cell is set below
  std::uint32_t autonumber = def_.last_autonumber;
  for (bool allow_inline : {true, false}) {
    autonumber = def_.last_autonumber;
    std::fill(lv_apart_.begin(), lv_apart_.end(), false);
    for (std::size_t i = 0; i < def_.columns.size(); ++i) {
      const Column& c = def_.columns[i];
      const Value& v = row[i];
      Cell& cell = cells_[i];
      cell = Cell{};
      auto& buf = scratch_[i];
      if (c.type == ColumnType::kBool) {
        if (v.is_null()) {
          cell.present = false;  // Yes/No columns have no NULL: stored as No
        } else {
          std::int64_t b;
          if (!v.AsInt64(&b)) return Mismatch(c, v);
          cell.present = b != 0;
        }
        continue;
      }
      if ((c.flags & kColumnAutoNumber) && c.type == ColumnType::kLong) {
        if (v.is_null()) {
          if (autonumber >= 0x7FFFFFFFu) {
            return Status::Constraint("AutoNumber of column \"" + c.name + "\" is exhausted");
          }
          ++autonumber;
          VELQUIN_RETURN_IF_ERROR(
              EncodeCellValue(c, Value::Long(static_cast<std::int32_t>(autonumber)), &buf));
        } else {
          VELQUIN_RETURN_IF_ERROR(EncodeCellValue(c, v, &buf));
          std::int32_t given = static_cast<std::int32_t>(Get32(Bytes(buf), 0));
          if (given > 0 && static_cast<std::uint32_t>(given) > autonumber) {
            autonumber = static_cast<std::uint32_t>(given);
          }
        }
        cell.present = true;
        cell.data = Bytes(buf);
        continue;
      }
      if (v.is_null()) continue;
      if (c.is_long_value()) {
        std::vector<std::uint8_t>& data = lv_bufs_[i];
        if (allow_inline) {  // the second pass lays out the same bytes
          if (c.type == ColumnType::kMemo) {
            if (v.kind() != ValueKind::kText) return Mismatch(c, v);
            data.clear();
            VELQUIN_ASSIGN_OR_RETURN(std::size_t units,
                                     EncodeTextUtf8(v.text_value(), c.compressed(), &data));
            (void)units;
          } else {
            if (v.kind() != ValueKind::kBinary) return Mismatch(c, v);
            data.assign(v.binary_value().begin(), v.binary_value().end());
          }
        }
        bool apart = false;
        VELQUIN_RETURN_IF_ERROR(LayOutLongValue(Bytes(data), allow_inline, &buf, &apart));
        lv_apart_[i] = apart;
      } else {
        VELQUIN_RETURN_IF_ERROR(EncodeCellValue(c, v, &buf));
        if (c.is_fixed() && buf.size() != c.length) {
          return Status::InvalidArgument("column \"" + c.name + "\" has an unsupported length");
        }
      }
      cell.present = true;
      cell.data = Bytes(buf);
    }
    EncodeRow(def_, cells_, &row_buf_);
    if (row_buf_.size() <= kMaxRowSize) break;
    if (!allow_inline) {
      return Status::Constraint("row of " + std::to_string(row_buf_.size()) +
                                " bytes is larger than a page allows (" +
                                std::to_string(kMaxRowSize) + ")");
    }
  }
  if (page_no_ == 0) VELQUIN_RETURN_IF_ERROR(NewDataPage(row_buf_.size()));
  {
    DataPage dp(page_, page_no_);
    if (!dp.CanAdd(row_buf_.size())) VELQUIN_RETURN_IF_ERROR(NewDataPage(row_buf_.size()));
  }
  // Long values kept apart are written once nothing can refuse the row any
  // more, unless an index must read them to make its key: then they are
  // written first, their pages too, so the key reads them from the file.
  if (index_reads_long_values_) {
    VELQUIN_RETURN_IF_ERROR(StoreLongValues());
    VELQUIN_RETURN_IF_ERROR(FlushLvPages());
  }
  if (!def_.real_indexes.empty()) {
    VELQUIN_RETURN_IF_ERROR(indexes_->Check(cells_, page_no_));
  }
  VELQUIN_RETURN_IF_ERROR(StoreLongValues());
  DataPage dp(page_, page_no_);
  std::uint8_t r = dp.Add(Bytes(row_buf_));
  page_dirty_ = true;
  if (!def_.real_indexes.empty()) {
    VELQUIN_RETURN_IF_ERROR(indexes_->Insert({page_no_, r}));
  }
  def_.last_autonumber = autonumber;
  ++def_.row_count;
  return Status::Ok();
}

Status TableWriter::Commit() {
  VELQUIN_RETURN_IF_ERROR(FlushLvPages());
  VELQUIN_RETURN_IF_ERROR(FlushDataPage());
  for (std::size_t k = 0; k < lv_.size(); ++k) {
    const Column& c = def_.columns[lv_[k].column];
    if (lv_[k].owned.dirty())
      VELQUIN_RETURN_IF_ERROR(StoreUsageMap(store_, c.lv_owned, lv_[k].owned));
    if (lv_[k].free.dirty()) VELQUIN_RETURN_IF_ERROR(StoreUsageMap(store_, c.lv_free, lv_[k].free));
  }
  if (owned_.dirty()) VELQUIN_RETURN_IF_ERROR(StoreUsageMap(store_, def_.owned_map, owned_));
  if (free_.dirty()) VELQUIN_RETURN_IF_ERROR(StoreUsageMap(store_, def_.free_map, free_));
  if (indexes_) {
    VELQUIN_RETURN_IF_ERROR(indexes_->Finalize());
    VELQUIN_RETURN_IF_ERROR(indexes_->StoreMaps());
  }
  return WriteTableDef(store_, def_);
}

}  // namespace velquin::jet
