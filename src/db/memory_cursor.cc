#include "db/memory_cursor.h"

namespace velquin {

MemoryCursor::MemoryCursor(std::vector<ColumnInfo> columns, std::vector<Row> rows)
    : columns_(std::move(columns)), rows_(std::move(rows)) {}

std::vector<ColumnInfo> MemoryCursor::TextColumns(const std::vector<std::string>& names) {
  std::vector<ColumnInfo> columns;
  for (std::size_t i = 0; i < names.size(); ++i) {
    ColumnInfo info;
    info.name = names[i];
    info.ordinal = static_cast<int>(i) + 1;
    info.sql_type = 12;  // SQL_VARCHAR
    info.type_name = "varchar";
    columns.push_back(std::move(info));
  }
  return columns;
}

Result<bool> MemoryCursor::MoveNext() {
  if (closed_ || next_ >= rows_.size()) {
    next_ = rows_.size() + 1;  // past the end: no current row
    return false;
  }
  ++next_;
  return true;
}

const std::optional<std::string>* MemoryCursor::Cell(std::size_t column) const {
  if (next_ == 0 || next_ > rows_.size()) return nullptr;
  const Row& row = rows_[next_ - 1];
  if (column >= row.size() || column >= columns_.size()) return nullptr;
  return &row[column];
}

ValueStatus MemoryCursor::Status(std::size_t column) const {
  const std::optional<std::string>* cell = Cell(column);
  return cell && cell->has_value() ? ValueStatus::kValuePresent : ValueStatus::kValueNull;
}

const std::string& MemoryCursor::Value(std::size_t column) const {
  static const std::string kEmpty;
  const std::optional<std::string>* cell = Cell(column);
  return cell && cell->has_value() ? **cell : kEmpty;
}

void MemoryCursor::Close() {
  closed_ = true;
  rows_.clear();
  next_ = 0;
}

}  // namespace velquin
