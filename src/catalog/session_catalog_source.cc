#include "catalog/session_catalog_source.h"

#include <algorithm>

namespace velquin {
namespace {

// Index of a named column of a schema rowset's result.
Result<std::size_t> ColumnIndex(const QueryCursor& cursor, std::string_view name) {
  const auto& columns = cursor.Columns();
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (columns[i].name == name) return i;
  }
  return Status::Corruption("the schema rowset has no column " + std::string(name));
}

// Reads the named columns of every row of a schema rowset; a null value
// reads as empty text.
Result<std::vector<std::vector<std::string>>> ReadRowset(Session& session, SchemaRowset kind,
                                                         const SchemaRestrictions& restrictions,
                                                         const std::vector<std::string>& names) {
  VELQUIN_ASSIGN_OR_RETURN(std::unique_ptr<QueryCursor> cursor,
                           session.OpenSchemaRowset(kind, restrictions));
  std::vector<std::size_t> at;
  for (const std::string& name : names) {
    VELQUIN_ASSIGN_OR_RETURN(std::size_t i, ColumnIndex(*cursor, name));
    at.push_back(i);
  }
  std::vector<std::vector<std::string>> rows;
  for (;;) {
    VELQUIN_ASSIGN_OR_RETURN(bool more, cursor->MoveNext());
    if (!more) break;
    std::vector<std::string>& row = rows.emplace_back();
    for (std::size_t i : at) row.push_back(cursor->IsNull(i) ? std::string() : cursor->Value(i));
  }
  return rows;
}

}  // namespace

SessionCatalogSource::SessionCatalogSource(Session* session)
    : lookup_([session] { return std::shared_ptr<Session>(std::shared_ptr<Session>(), session); }) {
}

Result<std::shared_ptr<Session>> SessionCatalogSource::Get() const {
  std::shared_ptr<Session> session = lookup_ ? lookup_() : nullptr;
  if (!session) return Status::IOError("No Connection!");
  return session;
}

Result<std::string> SessionCatalogSource::DataSourceName() {
  VELQUIN_ASSIGN_OR_RETURN(auto session, Get());
  return session->DataSourceName();
}

Result<std::string> SessionCatalogSource::CurrentCatalog() {
  VELQUIN_ASSIGN_OR_RETURN(auto session, Get());
  return session->CurrentCatalog();
}

Result<std::vector<std::string>> SessionCatalogSource::Catalogs() {
  VELQUIN_ASSIGN_OR_RETURN(auto session, Get());
  VELQUIN_ASSIGN_OR_RETURN(auto rows,
                           ReadRowset(*session, SchemaRowset::kCatalogs, {}, {"CATALOG_NAME"}));
  std::vector<std::string> names;
  for (auto& row : rows) names.push_back(std::move(row[0]));
  return names;
}

Result<std::vector<CatalogTableRow>> SessionCatalogSource::Tables(std::string_view type) {
  VELQUIN_ASSIGN_OR_RETURN(auto session, Get());
  SchemaRestrictions restrictions{std::nullopt, std::nullopt, std::nullopt, std::string(type)};
  VELQUIN_ASSIGN_OR_RETURN(auto rows, ReadRowset(*session, SchemaRowset::kTables, restrictions,
                                                 {"TABLE_SCHEMA", "TABLE_NAME", "TABLE_TYPE"}));
  std::vector<CatalogTableRow> tables;
  for (auto& row : rows) {
    tables.push_back({std::move(row[0]), std::move(row[1]), std::move(row[2])});
  }
  return tables;
}

Result<std::vector<std::string>> SessionCatalogSource::Columns(std::string_view object) {
  VELQUIN_ASSIGN_OR_RETURN(auto session, Get());
  SchemaRestrictions restrictions{std::nullopt, std::nullopt, std::string(object)};
  VELQUIN_ASSIGN_OR_RETURN(
      auto rows, ReadRowset(*session, SchemaRowset::kColumns, restrictions, {"COLUMN_NAME"}));
  std::vector<std::string> names;
  for (auto& row : rows) names.push_back(std::move(row[0]));
  return names;
}

Result<std::vector<std::string>> SessionCatalogSource::Indexes(std::string_view table) {
  VELQUIN_ASSIGN_OR_RETURN(auto session, Get());
  SchemaRestrictions restrictions{std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                                  std::string(table)};
  VELQUIN_ASSIGN_OR_RETURN(
      auto rows, ReadRowset(*session, SchemaRowset::kIndexes, restrictions, {"INDEX_NAME"}));
  std::vector<std::string> names;
  for (auto& row : rows) names.push_back(std::move(row[0]));
  return names;
}

}  // namespace velquin
