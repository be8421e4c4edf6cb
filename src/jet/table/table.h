// Reading and writing the rows of one table: value <-> stored cell
// conversion [COL-1]..[COL-4], the read cursor, and the appending writer that
// keeps the table's usage maps, long values and TDEF counters right
// [ROW-*], [LVAL-*], [SAFE-3].
//
//   type      stored bytes (little-endian)
//   BYTE      1, unsigned
//   SHORT     2, signed          LONG      4, signed
//   CURRENCY  8, signed, value x 10 000
//   SINGLE    4, IEEE            DOUBLE    8, IEEE
//   DATETIME  8, IEEE days since 1899-12-30, fraction = time of day
//   GUID      16: 4 + 2 + 2 bytes little-endian, then 8 bytes as written
//   NUMERIC   17: sign (80 = negative), 4 x uint32 LE, most significant first
//   TEXT      UTF-16LE or FF FE compressed (text_codec.h)
//   BINARY    raw bytes
//   MEMO/OLE  12-byte long-value header (long_value.h)
//   BOOL      no bytes: the null-mask bit
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "base/status.h"
#include "jet/format/page_store.h"
#include "jet/format/usage_map.h"
#include "jet/table/row_codec.h"
#include "jet/table/table_def.h"
#include "jet/table/value.h"

namespace velquin::jet {

class IndexCursor;

// Stored bytes of a fixed or short variable column (not MEMO/OLE/BOOL).
// InvalidArgument when the value's kind does not suit the column, Constraint
// when it does not fit (too long, out of range).
Status EncodeCellValue(const Column& col, const Value& v, std::vector<std::uint8_t>* out);
// The value of a stored cell; long values are read through `store`.
Result<Value> DecodeCellValue(PageStore& store, const Column& col, const Cell& cell,
                              PageNumber page);

// Reads every live row of a table in page order, or in the order of one of
// its indexes (forward or backward).
class TableCursor {
 public:
  TableCursor(PageStore& store, TableDef def);
  ~TableCursor();
  // Loads the table's owned-pages map.
  Status Open();
  // Instead of Open: the rows in the order of real index `real_index`
  // (def().real_indexes), from its last entry to its first when `backward`.
  Status OpenInIndexOrder(std::size_t real_index, bool backward);
  // Fills `row` (one Value per column, in column-number order) and returns
  // true, or returns false at the end.
  Result<bool> Next(std::vector<Value>* row);
  // Like Next, but decodes only the columns whose `wanted` flag is set, into
  // out[0, columns): the other places are left as they were (an empty
  // `wanted` decodes none, for counting rows).
  Result<bool> NextInto(Value* out, const std::vector<bool>& wanted);
  // Like Next, but hands out the raw cells (valid until the next call).
  Result<bool> NextCells(std::vector<Cell>* cells);
  const TableDef& def() const { return def_; }
  // Where the last row returned came from (page order only).
  RowPointer position() const {
    return {pages_[page_index_ - 1], static_cast<std::uint8_t>(row_ - 1)};
  }

 private:
  Status LoadPage();
  PageStore& store_;
  TableDef def_;
  std::vector<PageNumber> pages_;
  std::size_t page_index_ = 0;  // next page to load
  Page page_{};
  bool page_loaded_ = false;
  std::size_t row_ = 0;
  std::size_t rows_ = 0;
  Page overflow_{};
  std::vector<Cell> cells_;
  PageNumber current_page_ = 0;  // of the last row returned
  // Index order: the index's entries, walked one step before each row.
  std::unique_ptr<IndexCursor> index_;
  bool backward_ = false;
  bool index_started_ = false;
  PageNumber index_page_ = 0;  // the data page held in page_ (0: none)
  Result<bool> NextCellsInIndexOrder(std::vector<Cell>* cells);
};

class TableIndexWriter;

// Appends rows to a table. Rows become visible to readers when their data
// page is written; Commit() writes the usage maps and the TDEF counters.
// The table's index trees stay open (and their pages cached) for the
// writer's lifetime: nothing else may write the table meanwhile.
//
// A bulk writer (`bulk`) on a table whose indexes are empty builds them at
// its first Commit (see TableIndexWriter's bulk mode): until then
// defers_indexes() is true and the owner should not Commit between rows,
// because each Commit ends the deferral.
class TableWriter {
 public:
  static Result<std::unique_ptr<TableWriter>> Open(PageStore& store, PageNumber tdef_page,
                                                   bool bulk = false);
  ~TableWriter();

  // `row` has one value per column, in column-number order (def().columns).
  // A NULL in an AutoNumber column takes the next number.
  Status Append(const std::vector<Value>& row);
  // Writes pending pages, usage maps and the TDEF (row count, AutoNumber).
  Status Commit();

  const TableDef& def() const { return def_; }
  // Whether index entries are still being collected in memory.
  bool defers_indexes() const;
  // Value given to the AutoNumber column by the last Append (0 if none).
  std::int64_t last_autonumber() const { return def_.last_autonumber; }

 private:
  struct LvState {
    std::size_t column = 0;
    UsageMap owned;
    UsageMap free;
    Page page{};
    PageNumber number = 0;
    bool dirty = false;
    // Pages of the column's free-space map when it first needed a page.
    std::vector<PageNumber> candidates;
    std::size_t next_candidate = 0;
    bool candidates_loaded = false;
  };
  TableWriter(PageStore& store, TableDef def);
  Status Init(bool bulk);
  Status FlushLvPages();
  Status FlushDataPage();
  // Moves to a page that can take a row of `row_size` bytes: one of the
  // table's pages with free space (rows deleted there), else a new page.
  Status NewDataPage(std::size_t row_size);
  Result<RowPointer> PutLvRow(LvState& lv, Bytes data);
  // Lays out a long value's field in *out: inline data, or a header whose
  // pointer StoreLongValue fills in once the row is known to be taken
  // (*stored_apart true), so a refused row leaves no long value behind.
  Status LayOutLongValue(Bytes data, bool allow_inline, std::vector<std::uint8_t>* out,
                         bool* stored_apart);
  Result<RowPointer> StoreLongValue(LvState& lv, Bytes data);
  // Writes the long values the current row keeps apart from it.
  Status StoreLongValues();

  PageStore& store_;
  TableDef def_;
  UsageMap owned_;
  UsageMap free_;
  Page page_{};
  PageNumber page_no_ = 0;
  bool page_dirty_ = false;
  // Pages the free-space map listed when the writer first needed a page,
  // tried in order.
  std::vector<PageNumber> candidates_;
  std::size_t next_candidate_ = 0;
  bool candidates_loaded_ = false;
  std::vector<LvState> lv_;
  std::vector<int> lv_of_column_;
  std::vector<std::vector<std::uint8_t>> scratch_;
  std::vector<std::uint8_t> row_buf_;
  // Per column: a long value's bytes as stored (MEMO text encoded), and
  // whether the current row keeps it apart.
  std::vector<std::vector<std::uint8_t>> lv_bufs_;
  std::vector<bool> lv_apart_;
  // Whether an index keys a long-value column (its key reads the value).
  bool index_reads_long_values_ = false;
  std::vector<Cell> cells_;
  std::unique_ptr<TableIndexWriter> indexes_;
};

}  // namespace velquin::jet
