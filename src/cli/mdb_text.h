// Text forms of Jet values for `velquin mdb export` and `velquin mdb import`:
// a CSV writer (RFC 4180), readers for CSV and for the tab-separated text the
// MySQL client writes, and the conversion of a text field into a value of a
// column's type.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "jet/database.h"
#include "jet/table/value.h"

namespace velquin::cli {

// One field as read from a file; nullopt is NULL (an empty unquoted CSV field
// or \N in tab-separated text).
using Field = std::optional<std::string>;

// One record and the line of the file it starts on (1-based).
struct Record {
  std::vector<Field> fields;
  std::uint64_t line = 0;
};

enum class TextFormat { kCsv, kTsv };

// Reads records from a file or from memory. CSV follows RFC 4180 (quoted
// fields may hold commas, quotes and line breaks; CRLF or LF ends a record);
// an empty unquoted field is NULL and "" is an empty string. Tab-separated
// text follows the MySQL client: one record per line, fields split at tabs,
// \N is NULL, and \0 \b \n \r \t \Z \\ are escapes (a backslash before any
// other character stands for that character). A UTF-8 byte order mark at the
// start is skipped.
class RecordReader {
 public:
  RecordReader(TextFormat format, std::FILE* in) : format_(format), in_(in) {}
  RecordReader(TextFormat format, std::string text)
      : format_(format), text_(std::move(text)), in_(nullptr) {
    data_ = text_.data();
    len_ = text_.size();
  }
  RecordReader(const RecordReader&) = delete;
  RecordReader& operator=(const RecordReader&) = delete;

  // False at the end of input. A malformed record (a quote left open at the
  // end of input, a stray quote inside an unquoted CSV field) is an
  // InvalidArgument naming the line; reading continues after it.
  Result<bool> Next(Record* record);

 private:
  int Get();
  void Unget(int c);
  bool Refill();  // the next block of a file; false at its end
  Result<bool> NextCsv(Record* record);
  Result<bool> NextTsv(Record* record);

  TextFormat format_;
  std::string text_;
  std::FILE* in_;
  std::vector<char> buf_;       // a block of the file
  const char* data_ = nullptr;  // text_ or buf_
  std::size_t pos_ = 0, len_ = 0;
  int pushed_ = -2;  // one character of look-ahead; -2 = none
  std::uint64_t line_ = 1;
  bool bom_checked_ = false;
};

// Converts a text field into a value for `column`; NULL stays NULL.
// `tsv` selects how binary values are read: CSV holds them as hex (an
// optional 0x prefix), tab-separated text as raw bytes unless written as
// 0x-prefixed hex (the MySQL client's --binary-as-hex form).
// InvalidArgument explains why a value does not fit the column.
Result<jet::Value> ConvertField(const jet::ColumnInfo& column, const Field& field, bool tsv);

// The export text of a value: NULL as nullopt, booleans 1/0, dates as
// "YYYY-MM-DD HH:MM:SS[.fff]", binary as upper-case hex, numbers exact.
Field ExportText(const jet::Value& value);

// Appends one CSV field: quoted when it holds a comma, quote, CR or LF, or
// is an empty string (so that it reads back as empty text, not NULL).
void AppendCsvField(const Field& field, std::string* out);

// Jet SQL for a table: CREATE TABLE with types, sizes, defaults (in SQL
// form: 'text') and NOT NULL, then one CREATE INDEX per index (primary keys
// WITH PRIMARY).
std::string TableSchemaSql(const jet::TableInfo& table);

// The Jet SQL type of a column: "LONG", "TEXT(50)", "DECIMAL(28,6)", "COUNTER"...
std::string JetSqlType(const jet::ColumnInfo& column);

}  // namespace velquin::cli
