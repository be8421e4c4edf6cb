// MemoryCursor: a QueryCursor over rows held in memory. Backends use it for
// results they build themselves (catalogue rowsets of the Jet target), and
// tests use it to stand in for a server's result.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "db/session.h"

namespace velquin {

class MemoryCursor : public QueryCursor {
 public:
  using Row = std::vector<std::optional<std::string>>;  // std::nullopt = null

  // Rows shorter than the column list count as null in the missing columns.
  MemoryCursor(std::vector<ColumnInfo> columns, std::vector<Row> rows);

  // Text columns with these names, ordinals 1..n.
  static std::vector<ColumnInfo> TextColumns(const std::vector<std::string>& names);

  const std::vector<ColumnInfo>& Columns() const override { return columns_; }
  Result<bool> MoveNext() override;
  ValueStatus Status(std::size_t column) const override;
  const std::string& Value(std::size_t column) const override;
  void Close() override;

 private:
  const std::optional<std::string>* Cell(std::size_t column) const;

  std::vector<ColumnInfo> columns_;
  std::vector<Row> rows_;
  std::size_t next_ = 0;  // index of the row MoveNext reads next
  bool closed_ = false;
};

}  // namespace velquin
