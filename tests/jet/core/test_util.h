// Helpers shared by the engine's tests.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "jet/database.h"

namespace velquin::jet::testing {

inline std::string TempPath(const std::string& name) {
  auto dir =
      std::filesystem::temp_directory_path() / ("velquin_jet_core_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  auto p = dir / name;
  std::filesystem::remove(p);
  return p.string();
}

inline std::string TestDataDir() { return VELQUIN_TEST_DATA_DIR; }
inline std::string ReferenceFile(const std::string& name) {
  return TestDataDir() + "/reference-mdb/" + name;
}
inline bool HaveShared() { return std::filesystem::exists(ReferenceFile("adox_jet4.mdb")); }

// Runs a command and returns its standard output (exit status in *status).
inline std::string RunCommand(const std::string& cmd, int* status = nullptr) {
  std::string out;
  FILE* f = ::popen(cmd.c_str(), "r");
  if (!f) return out;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  int rc = ::pclose(f);
  if (status) *status = rc;
  return out;
}

inline ColumnSpec Column(std::string name, ColumnType type, std::uint16_t size = 0) {
  ColumnSpec c;
  c.name = std::move(name);
  c.type = type;
  c.size = size;
  return c;
}

}  // namespace velquin::jet::testing

namespace velquin::jet::testing {

// Parses RFC 4180 CSV (quoted fields may hold commas, quotes and newlines).
inline std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> row;
  std::string field;
  bool quoted = false, any = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (quoted) {
      if (c == '"') {
        if (i + 1 < text.size() && text[i + 1] == '"') {
          field.push_back('"');
          ++i;
        } else {
          quoted = false;
        }
      } else {
        field.push_back(c);
      }
      continue;
    }
    if (c == '"') {
      quoted = true;
      any = true;
    } else if (c == ',') {
      row.push_back(field);
      field.clear();
      any = true;
    } else if (c == '\n') {
      row.push_back(field);
      rows.push_back(row);
      row.clear();
      field.clear();
      any = false;
    } else if (c != '\r') {
      field.push_back(c);
      any = true;
    }
  }
  if (any || !field.empty()) {
    row.push_back(field);
    rows.push_back(row);
  }
  return rows;
}

inline std::string UpperHex(const std::vector<std::uint8_t>& b) {
  static const char* kHex = "0123456789ABCDEF";
  std::string s;
  for (auto x : b) {
    s.push_back(kHex[x >> 4]);
    s.push_back(kHex[x & 15]);
  }
  return s;
}

// Compares one of our values with the text mdb-export printed for it
// (run with -b hex -D "%Y-%m-%d %H:%M:%S"). Empty string in `why` = equal.
inline std::string CompareWithMdbExport(const ColumnInfo& col, const Value& v,
                                        const std::string& text) {
  auto fail = [&](const std::string& ours) {
    return "column " + col.name + ": ours \"" + ours + "\" mdb-export \"" + text + "\"";
  };
  if (v.is_null()) {
    return text.empty() ? "" : fail("NULL");
  }
  switch (v.kind()) {
    case ValueKind::kBool:
      return text == (v.bool_value() ? "1" : "0") ? "" : fail(v.ToString());
    case ValueKind::kByte:
    case ValueKind::kShort:
    case ValueKind::kLong:
      return text == v.ToString() ? "" : fail(v.ToString());
    case ValueKind::kSingle:
    case ValueKind::kDouble: {
      double ours = v.kind() == ValueKind::kSingle ? v.single_value() : v.double_value();
      double theirs = std::strtod(text.c_str(), nullptr);
      double tol = (v.kind() == ValueKind::kSingle ? 1e-6 : 1e-14) * std::max(1.0, std::fabs(ours));
      return std::fabs(ours - theirs) <= tol ? "" : fail(v.ToString());
    }
    case ValueKind::kCurrency: {
      auto t = Currency::Parse(text);
      return t.ok() && t->units == v.currency_value().units ? "" : fail(v.ToString());
    }
    case ValueKind::kDecimal: {
      auto t = Decimal::Parse(text, v.decimal_value().scale);
      return t.ok() && t->ToString() == v.ToString() ? "" : fail(v.ToString());
    }
    case ValueKind::kDateTime: {
      // mdbtools rounds to whole seconds.
      double days = v.datetime_value().days;
      double whole = std::trunc(days);
      double frac = std::round(std::fabs(days - whole) * 86400.0) / 86400.0;
      auto p = DateTime{days < 0 ? whole - frac : whole + frac}.ToParts();
      char buf[40];
      std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day,
                    p.hour, p.minute, p.second);
      return text == buf ? "" : fail(buf);
    }
    case ValueKind::kGuid: {
      std::string ours, theirs;
      for (char c : v.guid_value().ToString())
        if (std::isxdigit(static_cast<unsigned char>(c)))
          ours.push_back(static_cast<char>(std::toupper(c)));
      for (char c : text)
        if (std::isxdigit(static_cast<unsigned char>(c)))
          theirs.push_back(static_cast<char>(std::toupper(c)));
      // mdb-export -b hex prints the GUID text itself in hex.
      if (theirs.size() != 32) {
        std::string decoded;
        for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
          decoded.push_back(static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16)));
        }
        theirs.clear();
        for (char c : decoded)
          if (std::isxdigit(static_cast<unsigned char>(c)))
            theirs.push_back(static_cast<char>(std::toupper(c)));
      }
      return ours == theirs ? "" : fail(v.ToString());
    }
    case ValueKind::kText: {
      // mdbtools ends text at an embedded NUL character.
      std::string ours = v.text_value().substr(0, v.text_value().find('\0'));
      if (text == ours) return "";
      // mdbtools converts text as UCS-2: each half of a surrogate pair (a
      // character above U+FFFF, 4 bytes in UTF-8) comes out as '?'.
      std::string ucs2;
      for (std::size_t i = 0; i < ours.size(); ++i) {
        if ((static_cast<unsigned char>(ours[i]) & 0xF8) == 0xF0 && i + 3 < ours.size()) {
          ucs2 += "??";
          i += 3;
        } else {
          ucs2.push_back(ours[i]);
        }
      }
      return text == ucs2 ? "" : fail(ours.substr(0, 80));
    }
    case ValueKind::kBinary: {
      std::vector<std::uint8_t> b = v.binary_value();
      // mdb-export handles binary as a C string: it stops at the first zero
      // byte, and prints nothing for column types it does not know.
      if (text == UpperHex(b)) return "";
      auto zero = std::find(b.begin(), b.end(), 0);
      if (zero != b.end() && text == UpperHex(std::vector<std::uint8_t>(b.begin(), zero)))
        return "";
      if (static_cast<int>(col.type) == 0x11 && text.empty()) return "";
      return fail(UpperHex(b).substr(0, 80));
    }
    default:
      return fail(v.ToString());
  }
}

// Every row of a table as a scan returns it; a failed scan fails the test.
inline std::vector<std::vector<Value>> ReadAllRows(Database& db, const std::string& table) {
  std::vector<std::vector<Value>> rows;
  auto cur = db.Scan(table);
  EXPECT_TRUE(cur.ok()) << cur.status().ToString();
  if (!cur.ok()) return rows;
  std::vector<Value> row;
  for (;;) {
    auto more = (*cur)->Next(&row);
    EXPECT_TRUE(more.ok()) << more.status().ToString();
    if (!more.ok() || !*more) break;
    rows.push_back(row);
  }
  return rows;
}

inline bool HaveMdbTools() { return std::filesystem::exists("/usr/bin/mdb-export"); }

// Reads a table with our cursor and with mdb-export and compares every value;
// returns the number of rows compared, failures into `errors`.
inline std::size_t CompareTableWithMdbExport(Database& db, const std::string& path,
                                             const std::string& table,
                                             std::vector<std::string>* errors) {
  auto info = db.GetTable(table);
  if (!info.ok()) {
    errors->push_back(info.status().ToString());
    return 0;
  }
  std::string cmd = "mdb-export -b hex -D '%Y-%m-%d %H:%M:%S' -T '%Y-%m-%d %H:%M:%S' '" + path +
                    "' '" + table + "'";
  auto csv = ParseCsv(RunCommand(cmd));
  if (csv.empty()) {
    errors->push_back(table + ": mdb-export printed nothing");
    return 0;
  }
  auto cur = db.Scan(table);
  if (!cur.ok()) {
    errors->push_back(cur.status().ToString());
    return 0;
  }
  std::vector<std::vector<Value>> ours;
  std::vector<Value> row;
  for (;;) {
    auto more = (*cur)->Next(&row);
    if (!more.ok()) {
      errors->push_back(table + ": " + more.status().ToString());
      return 0;
    }
    if (!*more) break;
    ours.push_back(row);
  }
  if (ours.size() + 1 != csv.size()) {
    errors->push_back(table + ": " + std::to_string(ours.size()) + " rows, mdb-export " +
                      std::to_string(csv.size() - 1));
    return 0;
  }
  // Rows are matched in order first; mdbtools lists overflow rows out of
  // order, so a row that differs is looked up among the unmatched ones.
  auto row_diff = [&](std::size_t r, std::size_t k) -> std::string {
    if (csv[k].size() != info->columns.size()) return "field count";
    for (std::size_t c = 0; c < info->columns.size(); ++c) {
      std::string why = CompareWithMdbExport(info->columns[c], ours[r][c], csv[k][c]);
      if (!why.empty()) return why;
    }
    return "";
  };
  std::vector<bool> used(csv.size(), false);
  for (std::size_t r = 0; r < ours.size(); ++r) {
    std::string why = row_diff(r, r + 1);
    if (why.empty() && !used[r + 1]) {
      used[r + 1] = true;
      continue;
    }
    bool found = false;
    for (std::size_t k = 1; k < csv.size() && !found; ++k) {
      if (!used[k] && row_diff(r, k).empty()) {
        used[k] = true;
        found = true;
      }
    }
    if (!found) errors->push_back(table + " row " + std::to_string(r) + ": " + why);
  }
  return ours.size();
}

}  // namespace velquin::jet::testing
