// The SQL texts that answer the OLE DB schema rowsets (tables, columns,
// indexes, catalogs) of a MySQL server from its INFORMATION_SCHEMA.
#include "db/odbc_schema_sql.h"

#include "base/text.h"
#include "db/sql_quote.h"

namespace velquin {
namespace {

// The restriction at `index` when it is given.
const std::optional<std::string>* Restriction(const SchemaRestrictions& r, std::size_t index) {
  if (index >= r.size() || !r[index].has_value()) return nullptr;
  return &r[index];
}

// "TABLE_SCHEMA = 'x'" for a given catalog; "TRUE" (every database) without
// one. The session fills an absent catalog with its current database first,
// so that the server opens only that database's tables.
std::string CatalogFilter(const std::string& column, const std::optional<std::string>* catalog,
                          bool nbe) {
  if (catalog) return column + " = " + QuoteMySqlString(**catalog, nbe);
  return "TRUE";
}

// The OLE DB type code of a MySQL column, from INFORMATION_SCHEMA.COLUMNS.
constexpr std::string_view kOleDbTypeCase =
    "CASE WHEN DATA_TYPE = 'tinyint' THEN IF(COLUMN_TYPE LIKE '%unsigned%', 17, 16) "
    "WHEN DATA_TYPE = 'smallint' THEN IF(COLUMN_TYPE LIKE '%unsigned%', 18, 2) "
    "WHEN DATA_TYPE IN ('mediumint', 'int') THEN IF(COLUMN_TYPE LIKE '%unsigned%', 19, 3) "
    "WHEN DATA_TYPE = 'bigint' THEN IF(COLUMN_TYPE LIKE '%unsigned%', 21, 20) "
    "WHEN DATA_TYPE = 'decimal' THEN 131 WHEN DATA_TYPE = 'float' THEN 4 "
    "WHEN DATA_TYPE = 'double' THEN 5 "
    "WHEN DATA_TYPE = 'bit' THEN IF(NUMERIC_PRECISION = 1, 11, 128) "
    "WHEN DATA_TYPE = 'year' THEN 2 WHEN DATA_TYPE = 'date' THEN 133 "
    "WHEN DATA_TYPE = 'time' THEN 134 WHEN DATA_TYPE IN ('datetime', 'timestamp') THEN 135 "
    "WHEN DATA_TYPE IN ('binary', 'varbinary', 'tinyblob', 'blob', 'mediumblob', 'longblob', "
    "'geometry', 'point', 'linestring', 'polygon', 'multipoint', 'multilinestring', "
    "'multipolygon', 'geometrycollection') THEN 128 "
    "ELSE 129 END";

}  // namespace

std::string TablesQuery(const SchemaRestrictions& r, bool nbe) {
  std::string type_case =
      "CASE TABLE_TYPE WHEN 'BASE TABLE' THEN 'TABLE' WHEN 'SYSTEM VERSIONED' THEN 'TABLE' "
      "WHEN 'SYSTEM VIEW' THEN 'SYSTEM TABLE' ELSE TABLE_TYPE END";
  std::string sql =
      "SELECT TABLE_SCHEMA AS TABLE_CATALOG, CAST(NULL AS CHAR) AS TABLE_SCHEMA, "
      "TABLE_NAME, " +
      type_case +
      " AS TABLE_TYPE, "
      "CAST(NULL AS CHAR) AS TABLE_GUID, TABLE_COMMENT AS DESCRIPTION "
      "FROM INFORMATION_SCHEMA.TABLES WHERE " +
      CatalogFilter("TABLE_SCHEMA", Restriction(r, 0), nbe);
  if (auto* name = Restriction(r, 2)) sql += " AND TABLE_NAME = " + QuoteMySqlString(**name, nbe);
  if (auto* type = Restriction(r, 3)) {
    sql += " AND " + type_case + " = " + QuoteMySqlString(AsciiUpper(**type), nbe);
  }
  sql += " ORDER BY TABLE_SCHEMA, TABLE_NAME";
  return sql;
}

std::string ColumnsQuery(const SchemaRestrictions& r, bool nbe) {
  std::string sql =
      "SELECT TABLE_SCHEMA AS TABLE_CATALOG, CAST(NULL AS CHAR) AS TABLE_SCHEMA, TABLE_NAME, "
      "COLUMN_NAME, CAST(NULL AS CHAR) AS COLUMN_GUID, CAST(NULL AS CHAR) AS COLUMN_PROPID, "
      "ORDINAL_POSITION, IF(COLUMN_DEFAULT IS NULL, 'False', 'True') AS COLUMN_HASDEFAULT, "
      "COLUMN_DEFAULT, "
      "(IF(IS_NULLABLE = 'YES', 96, 0) + "
      "IF(DATA_TYPE LIKE '%text' OR DATA_TYPE LIKE '%blob' OR DATA_TYPE = 'json', 128, 0) + "
      "IF(DATA_TYPE IN ('char', 'binary') OR NUMERIC_PRECISION IS NOT NULL, 16, 0) + 8) "
      "AS COLUMN_FLAGS, "
      "IF(IS_NULLABLE = 'YES', 'True', 'False') AS IS_NULLABLE, " +
      std::string(kOleDbTypeCase) +
      " AS DATA_TYPE, CAST(NULL AS CHAR) AS TYPE_GUID, CHARACTER_MAXIMUM_LENGTH, "
      "CHARACTER_OCTET_LENGTH, NUMERIC_PRECISION, NUMERIC_SCALE, DATETIME_PRECISION, "
      "CAST(NULL AS CHAR) AS CHARACTER_SET_CATALOG, CAST(NULL AS CHAR) AS CHARACTER_SET_SCHEMA, "
      "CHARACTER_SET_NAME, CAST(NULL AS CHAR) AS COLLATION_CATALOG, "
      "CAST(NULL AS CHAR) AS COLLATION_SCHEMA, COLLATION_NAME, "
      "CAST(NULL AS CHAR) AS DOMAIN_CATALOG, CAST(NULL AS CHAR) AS DOMAIN_SCHEMA, "
      "CAST(NULL AS CHAR) AS DOMAIN_NAME, COLUMN_COMMENT AS DESCRIPTION "
      "FROM INFORMATION_SCHEMA.COLUMNS WHERE " +
      CatalogFilter("TABLE_SCHEMA", Restriction(r, 0), nbe);
  if (auto* table = Restriction(r, 2)) sql += " AND TABLE_NAME = " + QuoteMySqlString(**table, nbe);
  if (auto* column = Restriction(r, 3)) {
    sql += " AND COLUMN_NAME = " + QuoteMySqlString(**column, nbe);
  }
  sql += " ORDER BY TABLE_SCHEMA, TABLE_NAME, ORDINAL_POSITION";
  return sql;
}

std::string IndexesQuery(const SchemaRestrictions& r, bool nbe) {
  std::string type_case =
      "CASE INDEX_TYPE WHEN 'BTREE' THEN 1 WHEN 'HASH' THEN 2 WHEN 'FULLTEXT' THEN 3 ELSE 4 END";
  std::string sql =
      "SELECT TABLE_SCHEMA AS TABLE_CATALOG, CAST(NULL AS CHAR) AS TABLE_SCHEMA, TABLE_NAME, "
      "INDEX_SCHEMA AS INDEX_CATALOG, CAST(NULL AS CHAR) AS INDEX_SCHEMA, INDEX_NAME, "
      "IF(INDEX_NAME = 'PRIMARY', 'True', 'False') AS PRIMARY_KEY, "
      "IF(NON_UNIQUE = 0, 'True', 'False') AS `UNIQUE`, "
      "IF(INDEX_NAME = 'PRIMARY', 'True', 'False') AS CLUSTERED, " +
      type_case +
      " AS TYPE, CAST(NULL AS CHAR) AS FILL_FACTOR, CAST(NULL AS CHAR) AS INITIAL_SIZE, "
      "IF(NULLABLE = 'YES', 0, 1) AS NULLS, CAST(NULL AS CHAR) AS SORT_BOOKMARKS, "
      "'True' AS AUTO_UPDATE, CAST(NULL AS CHAR) AS NULL_COLLATION, "
      "SEQ_IN_INDEX AS ORDINAL_POSITION, COLUMN_NAME, CAST(NULL AS CHAR) AS COLUMN_GUID, "
      "CAST(NULL AS CHAR) AS COLUMN_PROPID, "
      "CASE COLLATION WHEN 'A' THEN 1 WHEN 'D' THEN 2 ELSE NULL END AS COLLATION, "
      "CARDINALITY, CAST(NULL AS CHAR) AS PAGES, CAST(NULL AS CHAR) AS FILTER_CONDITION, "
      "IF(INDEX_NAME = 'PRIMARY', 'True', 'False') AS INTEGRATED "
      "FROM INFORMATION_SCHEMA.STATISTICS WHERE " +
      CatalogFilter("TABLE_SCHEMA", Restriction(r, 0), nbe);
  if (auto* index = Restriction(r, 2)) sql += " AND INDEX_NAME = " + QuoteMySqlString(**index, nbe);
  if (auto* type = Restriction(r, 3))
    sql += " AND " + type_case + " = " + QuoteMySqlString(**type, nbe);
  if (auto* table = Restriction(r, 4)) sql += " AND TABLE_NAME = " + QuoteMySqlString(**table, nbe);
  sql += " ORDER BY TABLE_SCHEMA, TABLE_NAME, NON_UNIQUE, INDEX_NAME, SEQ_IN_INDEX";
  return sql;
}

std::string CatalogsQuery(const SchemaRestrictions& r, bool nbe) {
  std::string sql =
      "SELECT SCHEMA_NAME AS CATALOG_NAME, CAST(NULL AS CHAR) AS DESCRIPTION "
      "FROM INFORMATION_SCHEMA.SCHEMATA";
  if (auto* name = Restriction(r, 0))
    sql += " WHERE SCHEMA_NAME = " + QuoteMySqlString(**name, nbe);
  sql += " ORDER BY SCHEMA_NAME";
  return sql;
}

}  // namespace velquin
