#include "migrate/value_transforms.h"

#include <fmt/format.h>

#include <algorithm>

namespace velquin {
namespace {

// The line of a SHOW CREATE TABLE text that declares `column` (names
// compared as MySQL compares column names, without regard to case): [begin, end).
bool FindColumnLine(std::string_view text, std::string_view column, std::size_t* begin,
                    std::size_t* end) {
  const std::string head = AsciiLower("  " + QuoteIdentifier(column) + " ");
  for (std::size_t at = 0; at < text.size();) {
    std::size_t eol = text.find('\n', at);
    if (eol == std::string_view::npos) eol = text.size();
    if (AsciiLower(text.substr(at, std::min(head.size(), eol - at))) == head) {
      *begin = at;
      *end = eol;
      return true;
    }
    at = eol + 1;
  }
  return false;
}

// Where `word` first stands outside quoted names and literals in `line`
// (from `from`), or npos.
std::size_t FindOutsideQuotes(std::string_view line, std::string_view word, std::size_t from) {
  char quote = 0;
  for (std::size_t i = from; i < line.size(); ++i) {
    const char c = line[i];
    if (quote) {
      if (c == '\\' && quote != '`') {
        ++i;
      } else if (c == quote) {
        if (i + 1 < line.size() && line[i + 1] == quote)
          ++i;
        else
          quote = 0;
      }
      continue;
    }
    if (c == '\'' || c == '"' || c == '`') {
      quote = c;
      continue;
    }
    if (line.substr(i).starts_with(word)) return i;
  }
  return std::string_view::npos;
}

}  // namespace

const char* TransformKindName(TransformKind kind) {
  switch (kind) {
    case TransformKind::kZeroDateToNull:
      return "zero date to NULL";
    case TransformKind::kFractionCut:
      return "fraction cut to ms";
    case TransformKind::kTimeAsDate:
      return "time as date";
    case TransformKind::kMadeNullable:
      return "made nullable";
  }
  return "?";
}

void TransformCounter::Add(const std::string& column, TransformKind kind, std::string_view example,
                           uint64_t n) {
  for (TransformCount& c : counts_) {
    if (c.kind == kind && c.column == column) {
      c.count += n;
      return;
    }
  }
  counts_.push_back(TransformCount{column, kind, n, std::string(example)});
}

std::string DescribeTransform(const TransformCount& c) {
  if (c.kind == TransformKind::kMadeNullable) {
    return fmt::format("`{}`: made nullable, it holds {} zero dates{}", c.column, c.count,
                       c.example.empty() ? "" : " (default '" + c.example + "')");
  }
  return fmt::format("`{}`: {}, {} value{} (e.g. '{}')", c.column, TransformKindName(c.kind),
                     c.count, c.count == 1 ? "" : "s", c.example);
}

bool IsZeroDateText(std::string_view t) {
  // YYYY-MM-DD...: month at 5, day at 8.
  if (t.size() < 10 || t[4] != '-' || t[7] != '-') return false;
  return t.substr(5, 2) == "00" || t.substr(8, 2) == "00";
}

std::vector<std::string> NotNullDateColumns(const std::vector<SourceColumn>& columns) {
  std::vector<std::string> out;
  for (const SourceColumn& c : columns) {
    if (c.not_null && !c.generated &&
        (c.type == "date" || c.type == "datetime" || c.type == "timestamp")) {
      out.push_back(c.name);
    }
  }
  return out;
}

std::string ZeroDateDefault(std::string_view text, std::string_view column) {
  std::size_t begin = 0, end = 0;
  if (!FindColumnLine(text, column, &begin, &end)) return "";
  const std::string_view line = text.substr(begin, end - begin);
  const std::size_t at = FindOutsideQuotes(line, " DEFAULT '", 0);
  if (at == std::string_view::npos) return "";
  const std::size_t from = at + 10;
  const std::size_t close = line.find('\'', from);
  if (close == std::string_view::npos) return "";
  const std::string_view value = line.substr(from, close - from);
  return IsZeroDateText(value) ? std::string(value) : "";
}

std::string ZeroDateCountQuery(std::string_view database, std::string_view table,
                               const std::vector<std::string>& columns) {
  std::string sql = "SELECT ";
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const std::string c = QuoteIdentifier(columns[i]);
    sql +=
        fmt::format("{}COALESCE(SUM(MONTH({}) = 0 OR DAYOFMONTH({}) = 0), 0)", i ? ", " : "", c, c);
  }
  sql += " FROM ";
  if (!database.empty()) sql += QuoteIdentifier(database) + ".";
  return sql + QuoteIdentifier(table);
}

std::string ZeroDateProbeQuery(std::string_view database, std::string_view table,
                               const std::vector<std::string>& columns) {
  std::string sql = "SELECT 1 FROM ";
  if (!database.empty()) sql += QuoteIdentifier(database) + ".";
  sql += QuoteIdentifier(table) + " WHERE ";
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const std::string c = QuoteIdentifier(columns[i]);
    sql += fmt::format("{}MONTH({}) = 0 OR DAYOFMONTH({}) = 0", i ? " OR " : "", c, c);
  }
  return sql + " LIMIT 1";
}

std::string DropNotNull(std::string_view text,
                        const std::set<std::string, CaseInsensitiveLess>& columns) {
  std::string out(text);
  for (const std::string& column : columns) {
    std::size_t begin = 0, end = 0;
    if (!FindColumnLine(out, column, &begin, &end)) continue;
    const std::string_view line = std::string_view(out).substr(begin, end - begin);
    // After the name, so a column called "NOT NULL" stays whole.
    const std::size_t at = FindOutsideQuotes(line, " NOT NULL", 2 + QuoteIdentifier(column).size());
    if (at != std::string_view::npos) out.erase(begin + at, 9);
  }
  return out;
}

}  // namespace velquin
