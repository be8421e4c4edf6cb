#include "catalog/catalog_source.h"

#include <algorithm>

namespace velquin {

namespace {
bool Contains(const std::vector<std::string>& names, std::string_view name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}
}  // namespace

const MemoryCatalogSource::Database* MemoryCatalogSource::Current() const {
  for (const Database& db : databases) {
    if (db.name == current_catalog) return &db;
  }
  return nullptr;
}

Result<std::string> MemoryCatalogSource::DataSourceName() {
  if (fail_data_source_name) return Status::IOError("data source name cannot be read");
  return data_source_name;
}

Result<std::string> MemoryCatalogSource::CurrentCatalog() {
  if (fail_current_catalog) return Status::IOError("current catalog cannot be read");
  return current_catalog;
}

Result<std::vector<std::string>> MemoryCatalogSource::Catalogs() {
  if (fail_catalogs) return Status::IOError("CATALOGS rowset cannot be opened");
  std::vector<std::string> names;
  for (const Database& db : databases) names.push_back(db.name);
  return names;
}

Result<std::vector<CatalogTableRow>> MemoryCatalogSource::Tables(std::string_view type) {
  const bool views = type == "VIEW";
  if (views ? fail_views : fail_tables) return Status::IOError("TABLES rowset cannot be opened");
  std::vector<CatalogTableRow> rows;
  const Database* db = Current();
  if (db == nullptr) return rows;
  if (views) {
    for (const View& v : db->views) {
      rows.push_back({v.schema.empty() ? db->name : v.schema, v.name, "VIEW"});
    }
  } else {
    for (const Table& t : db->tables) rows.push_back({db->name, t.name, t.type});
  }
  return rows;
}

Result<std::vector<std::string>> MemoryCatalogSource::Columns(std::string_view object) {
  if (Contains(fail_columns_of, object)) return Status::IOError("COLUMNS rowset cannot be opened");
  if (const Database* db = Current()) {
    for (const Table& t : db->tables) {
      if (t.name == object) return t.columns;
    }
    for (const View& v : db->views) {
      if (v.name == object) return v.columns;
    }
  }
  return std::vector<std::string>{};
}

Result<std::vector<std::string>> MemoryCatalogSource::Indexes(std::string_view table) {
  if (Contains(fail_indexes_of, table)) return Status::IOError("INDEXES rowset cannot be opened");
  if (const Database* db = Current()) {
    for (const Table& t : db->tables) {
      if (t.name == table) return t.index_rows;
    }
  }
  return std::vector<std::string>{};
}

}  // namespace velquin
