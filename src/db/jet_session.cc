#include "db/jet_session.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <optional>

#include "base/text.h"
#include "db/memory_cursor.h"

namespace velquin {
namespace {

using jet::ColumnType;

// A restriction given at `i` that `value` does not meet.
bool Excluded(const SchemaRestrictions& r, std::size_t i, std::string_view value) {
  return i < r.size() && r[i] && !EqualsIgnoreCase(*r[i], value);
}

// ODBC SQL type codes for ColumnInfo::sql_type.
int OdbcType(ColumnType t) {
  switch (t) {
    case ColumnType::kBool:
      return -7;  // SQL_BIT
    case ColumnType::kByte:
      return -6;  // SQL_TINYINT
    case ColumnType::kShort:
      return 5;  // SQL_SMALLINT
    case ColumnType::kLong:
      return 4;  // SQL_INTEGER
    case ColumnType::kCurrency:
      return 3;  // SQL_DECIMAL
    case ColumnType::kSingle:
      return 7;  // SQL_REAL
    case ColumnType::kDouble:
      return 8;  // SQL_DOUBLE
    case ColumnType::kDateTime:
      return 93;  // SQL_TYPE_TIMESTAMP
    case ColumnType::kBinary:
      return -3;  // SQL_VARBINARY
    case ColumnType::kText:
      return -9;  // SQL_WVARCHAR
    case ColumnType::kOle:
      return -4;  // SQL_LONGVARBINARY
    case ColumnType::kMemo:
      return -10;  // SQL_WLONGVARCHAR
    case ColumnType::kGuid:
      return -11;  // SQL_GUID
    case ColumnType::kNumeric:
      return 2;  // SQL_NUMERIC
  }
  return 0;
}

ColumnInfo ResultColumnInfo(const jet::sql::ResultColumn& c, int ordinal) {
  ColumnInfo ci;
  ci.name = c.name;
  ci.ordinal = ordinal;
  ci.sql_type = OdbcType(c.type);
  ci.type_name = jet::ColumnTypeName(c.type);
  ci.column_size = c.size;
  ci.binary = c.type == ColumnType::kBinary || c.type == ColumnType::kOle;
  return ci;
}

std::optional<std::string> Text(std::string s) { return std::optional<std::string>(std::move(s)); }
std::optional<std::string> Bool(bool b) { return Text(b ? "True" : "False"); }
std::optional<std::string> Int(long long v) { return Text(std::to_string(v)); }

}  // namespace

int JetOleDbType(ColumnType type) {
  switch (type) {
    case ColumnType::kBool:
      return 11;  // DBTYPE_BOOL
    case ColumnType::kByte:
      return 17;  // DBTYPE_UI1
    case ColumnType::kShort:
      return 2;  // DBTYPE_I2
    case ColumnType::kLong:
      return 3;  // DBTYPE_I4
    case ColumnType::kCurrency:
      return 6;  // DBTYPE_CY
    case ColumnType::kSingle:
      return 4;  // DBTYPE_R4
    case ColumnType::kDouble:
      return 5;  // DBTYPE_R8
    case ColumnType::kDateTime:
      return 7;  // DBTYPE_DATE
    case ColumnType::kBinary:
      return 128;  // DBTYPE_BYTES
    case ColumnType::kText:
      return 130;  // DBTYPE_WSTR
    case ColumnType::kOle:
      return 128;  // DBTYPE_BYTES (long)
    case ColumnType::kMemo:
      return 130;  // DBTYPE_WSTR (long)
    case ColumnType::kGuid:
      return 72;  // DBTYPE_GUID
    case ColumnType::kNumeric:
      return 131;  // DBTYPE_NUMERIC
  }
  return 0;
}

std::uint32_t JetColumnFlags(const jet::ColumnInfo& c) {
  // DBCOLUMNFLAGS: 0x02 MAYDEFER, 0x08 WRITEUNKNOWN, 0x10 ISFIXEDLENGTH,
  // 0x20 ISNULLABLE, 0x40 MAYBENULL, 0x80 ISLONG. The Jet provider reports
  // AutoNumber and Yes/No columns as never null (flags 24).
  if (c.auto_increment || c.type == ColumnType::kBool) return 0x10 | 0x08;
  std::uint32_t f = 0x02 | 0x08;
  const bool long_value = c.type == ColumnType::kMemo || c.type == ColumnType::kOle;
  const bool variable = c.type == ColumnType::kText || c.type == ColumnType::kBinary || long_value;
  if (!variable) f |= 0x10;
  if (long_value) f |= 0x80;
  f |= 0x40;
  if (!c.not_null) f |= 0x20;
  return f;
}

Result<std::unique_ptr<JetSession>> JetSession::Open(const std::string& path, bool create) {
  std::error_code ec;
  std::unique_ptr<jet::Database> db;
  if (create && !std::filesystem::exists(path, ec)) {
    VELQUIN_ASSIGN_OR_RETURN(db, jet::Database::Create(path));
  } else {
    VELQUIN_ASSIGN_OR_RETURN(db, jet::Database::Open(path));
  }
  return std::unique_ptr<JetSession>(new JetSession(path, std::move(db)));
}

Result<std::string> JetSession::CurrentCatalog() {
  std::string p = path_;
  if (p.size() >= 4 && p.compare(p.size() - 4, 4, ".mdb") == 0) p.resize(p.size() - 4);
  return p;
}

std::string JetSession::QuoteString(std::string_view text) const {
  std::string out = "'";
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  out += '\'';
  return out;
}

Result<ExecuteOutcome> JetSession::Execute(std::string_view sql) {
  std::lock_guard<std::mutex> lock(mu_);
  VELQUIN_ASSIGN_OR_RETURN(jet::sql::ExecResult r, executor_.Execute(sql));
  return r.has_rows ? ExecuteOutcome::kRowset : ExecuteOutcome::kNoRowset;
}

Result<std::unique_ptr<QueryCursor>> JetSession::OpenQuery(std::string_view sql) {
  std::lock_guard<std::mutex> lock(mu_);
  VELQUIN_ASSIGN_OR_RETURN(jet::sql::ExecResult r, executor_.Execute(sql));
  std::vector<ColumnInfo> cols;
  for (std::size_t i = 0; i < r.columns.size(); ++i) {
    cols.push_back(ResultColumnInfo(r.columns[i], static_cast<int>(i + 1)));
  }
  std::vector<MemoryCursor::Row> rows;
  rows.reserve(r.rows.size());
  for (const auto& row : r.rows) {
    MemoryCursor::Row out;
    out.reserve(row.size());
    for (const jet::Value& v : row) {
      if (v.is_null()) {
        out.push_back(std::nullopt);
      } else {
        out.push_back(jet::sql::ValueText(v));
      }
    }
    rows.push_back(std::move(out));
  }
  return std::unique_ptr<QueryCursor>(new MemoryCursor(std::move(cols), std::move(rows)));
}

Result<std::unique_ptr<QueryCursor>> JetSession::OpenSchemaRowset(SchemaRowset kind,
                                                                  const SchemaRestrictions& r) {
  std::lock_guard<std::mutex> lock(mu_);
  const std::vector<std::string>& names = SchemaRowsetColumns(kind);
  std::vector<MemoryCursor::Row> rows;
  auto row_of =
      [&](std::initializer_list<std::pair<const char*, std::optional<std::string>>> cells) {
        MemoryCursor::Row row(names.size());
        for (const auto& [name, value] : cells) {
          for (std::size_t i = 0; i < names.size(); ++i) {
            if (names[i] == name) row[i] = value;
          }
        }
        return row;
      };
  VELQUIN_ASSIGN_OR_RETURN(std::string catalog, CurrentCatalog());
  if (kind == SchemaRowset::kCatalogs) {
    if (!Excluded(r, 0, catalog)) rows.push_back(row_of({{"CATALOG_NAME", catalog}}));
    return std::unique_ptr<QueryCursor>(
        new MemoryCursor(MemoryCursor::TextColumns(names), std::move(rows)));
  }
  VELQUIN_ASSIGN_OR_RETURN(std::vector<std::string> all, db_->ListTables(true));
  for (const std::string& table : all) {
    VELQUIN_ASSIGN_OR_RETURN(jet::TableInfo info, db_->GetTable(table));
    if (kind == SchemaRowset::kTables) {
      std::string type = info.system || table.starts_with("MSys") ? "SYSTEM TABLE" : "TABLE";
      if (Excluded(r, 2, table) || Excluded(r, 3, type)) continue;
      rows.push_back(row_of({{"TABLE_NAME", table}, {"TABLE_TYPE", type}}));
      continue;
    }
    if (kind == SchemaRowset::kColumns) {
      if (Excluded(r, 2, table)) continue;
      for (std::size_t i = 0; i < info.columns.size(); ++i) {
        const jet::ColumnInfo& c = info.columns[i];
        if (Excluded(r, 3, c.name)) continue;
        std::optional<std::string> max_len, octets, precision, scale, dt_precision;
        switch (c.type) {
          case ColumnType::kText:
            max_len = Int(c.size ? c.size : 255);
            break;
          case ColumnType::kBinary:
            max_len = Int(c.size);
            break;
          case ColumnType::kMemo:
            max_len = Int(536870910);
            break;
          case ColumnType::kOle:
            max_len = Int(1073741823);
            break;
          case ColumnType::kByte:
            precision = Int(3);
            break;
          case ColumnType::kShort:
            precision = Int(5);
            break;
          case ColumnType::kLong:
            precision = Int(10);
            break;
          case ColumnType::kSingle:
            precision = Int(7);
            break;
          case ColumnType::kDouble:
            precision = Int(15);
            break;
          case ColumnType::kCurrency:
            precision = Int(19);
            break;
          case ColumnType::kNumeric:
            precision = Int(c.precision);
            scale = Int(c.scale);
            break;
          case ColumnType::kDateTime:
            dt_precision = Int(0);
            break;
          default:
            break;
        }
        if (c.type == ColumnType::kText || c.type == ColumnType::kMemo) {
          octets = Int(std::stoll(*max_len) * 2);
        } else if (max_len) {
          octets = max_len;
        }
        const std::uint32_t flags = JetColumnFlags(c);
        // The column property "DefaultValue", as the provider reports it.
        std::optional<std::string> dflt;
        if (!c.default_value.empty()) dflt = c.default_value;
        rows.push_back(row_of({{"TABLE_NAME", table},
                               {"COLUMN_NAME", c.name},
                               {"ORDINAL_POSITION", Int(static_cast<long long>(i + 1))},
                               {"COLUMN_HASDEFAULT", Bool(dflt.has_value())},
                               {"COLUMN_DEFAULT", dflt},
                               {"COLUMN_FLAGS", Int(flags)},
                               {"IS_NULLABLE", Bool((flags & 0x20) != 0)},
                               {"DATA_TYPE", Int(JetOleDbType(c.type))},
                               {"CHARACTER_MAXIMUM_LENGTH", max_len},
                               {"CHARACTER_OCTET_LENGTH", octets},
                               {"NUMERIC_PRECISION", precision},
                               {"NUMERIC_SCALE", scale},
                               {"DATETIME_PRECISION", dt_precision}}));
      }
      continue;
    }
    // Indexes: one row per index column.
    if (Excluded(r, 4, table)) continue;
    for (const jet::IndexInfo& ix : info.indexes) {
      if (Excluded(r, 2, ix.name)) continue;
      for (std::size_t k = 0; k < ix.columns.size(); ++k) {
        rows.push_back(row_of({{"TABLE_NAME", table},
                               {"INDEX_NAME", ix.name},
                               {"PRIMARY_KEY", Bool(ix.primary_key)},
                               {"UNIQUE", Bool(ix.unique || ix.primary_key)},
                               {"CLUSTERED", Bool(false)},
                               {"TYPE", Int(1)},
                               {"NULLS", Int(ix.ignore_nulls ? 2 : 1)},
                               {"ORDINAL_POSITION", Int(static_cast<long long>(k + 1))},
                               {"COLUMN_NAME", ix.columns[k].first},
                               {"COLLATION", Int(ix.columns[k].second ? 1 : 2)}}));
      }
    }
  }
  if (kind == SchemaRowset::kTables) {
    for (const std::string& q : db_->ListQueries()) {
      if (Excluded(r, 2, q) || Excluded(r, 3, "VIEW")) continue;
      rows.push_back(row_of({{"TABLE_NAME", q}, {"TABLE_TYPE", Text("VIEW")}}));
    }
  }
  return std::unique_ptr<QueryCursor>(
      new MemoryCursor(MemoryCursor::TextColumns(names), std::move(rows)));
}

Status JetSession::InsertRow(std::string_view table, const std::vector<jet::Value>& row) {
  std::lock_guard<std::mutex> lock(mu_);
  return executor_.InsertRow(table, row);
}

Result<std::unique_ptr<jet::BulkWriter>> JetSession::BulkAppend(std::string_view table) {
  std::lock_guard<std::mutex> lock(mu_);
  executor_.InvalidateCache();
  return db_->BulkAppend(table);
}

Result<jet::TableInfo> JetSession::DescribeTable(std::string_view table) {
  std::lock_guard<std::mutex> lock(mu_);
  return db_->GetTable(table);
}

}  // namespace velquin
