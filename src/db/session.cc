#include "db/session.h"

#include "db/sql_quote.h"

namespace velquin {

const std::vector<std::string>& SchemaRowsetColumns(SchemaRowset kind) {
  static const std::vector<std::string> kTables = {"TABLE_CATALOG", "TABLE_SCHEMA", "TABLE_NAME",
                                                   "TABLE_TYPE",    "TABLE_GUID",   "DESCRIPTION"};
  static const std::vector<std::string> kColumns = {"TABLE_CATALOG",
                                                    "TABLE_SCHEMA",
                                                    "TABLE_NAME",
                                                    "COLUMN_NAME",
                                                    "COLUMN_GUID",
                                                    "COLUMN_PROPID",
                                                    "ORDINAL_POSITION",
                                                    "COLUMN_HASDEFAULT",
                                                    "COLUMN_DEFAULT",
                                                    "COLUMN_FLAGS",
                                                    "IS_NULLABLE",
                                                    "DATA_TYPE",
                                                    "TYPE_GUID",
                                                    "CHARACTER_MAXIMUM_LENGTH",
                                                    "CHARACTER_OCTET_LENGTH",
                                                    "NUMERIC_PRECISION",
                                                    "NUMERIC_SCALE",
                                                    "DATETIME_PRECISION",
                                                    "CHARACTER_SET_CATALOG",
                                                    "CHARACTER_SET_SCHEMA",
                                                    "CHARACTER_SET_NAME",
                                                    "COLLATION_CATALOG",
                                                    "COLLATION_SCHEMA",
                                                    "COLLATION_NAME",
                                                    "DOMAIN_CATALOG",
                                                    "DOMAIN_SCHEMA",
                                                    "DOMAIN_NAME",
                                                    "DESCRIPTION"};
  static const std::vector<std::string> kIndexes = {
      "TABLE_CATALOG",  "TABLE_SCHEMA",     "TABLE_NAME",  "INDEX_CATALOG",    "INDEX_SCHEMA",
      "INDEX_NAME",     "PRIMARY_KEY",      "UNIQUE",      "CLUSTERED",        "TYPE",
      "FILL_FACTOR",    "INITIAL_SIZE",     "NULLS",       "SORT_BOOKMARKS",   "AUTO_UPDATE",
      "NULL_COLLATION", "ORDINAL_POSITION", "COLUMN_NAME", "COLUMN_GUID",      "COLUMN_PROPID",
      "COLLATION",      "CARDINALITY",      "PAGES",       "FILTER_CONDITION", "INTEGRATED"};
  static const std::vector<std::string> kCatalogs = {"CATALOG_NAME", "DESCRIPTION"};
  switch (kind) {
    case SchemaRowset::kTables:
      return kTables;
    case SchemaRowset::kColumns:
      return kColumns;
    case SchemaRowset::kIndexes:
      return kIndexes;
    case SchemaRowset::kCatalogs:
      return kCatalogs;
  }
  return kCatalogs;
}

std::size_t SchemaRestrictionCount(SchemaRowset kind) {
  switch (kind) {
    case SchemaRowset::kTables:
      return 4;
    case SchemaRowset::kColumns:
      return 4;
    case SchemaRowset::kIndexes:
      return 5;
    case SchemaRowset::kCatalogs:
      return 1;
  }
  return 0;
}

Result<std::unique_ptr<QueryCursor>> Session::OpenTableReader(const TableReadOptions& options,
                                                              TableReadMode*, std::size_t*) {
  std::string query = "select * from ";
  if (!options.database.empty()) query += QuoteIdentifier(options.database) + ".";
  query += QuoteIdentifier(options.table);
  if (!options.where.empty()) query += " where " + options.where;
  return OpenQuery(query);
}

}  // namespace velquin
