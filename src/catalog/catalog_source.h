// CatalogSource: what a database tree is filled from.
//
// One side's open connection seen through its schema information: the data
// source's name and current catalogue, the catalogues, the tables and views of
// the current catalogue, and the columns and indexes of one object. The real
// sessions (ODBC for MySQL, the Jet engine for Access) implement it in db/;
// MemoryCatalogSource serves tests and the demo.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"

namespace velquin {

// One row of the TABLES schema rowset.
struct CatalogTableRow {
  std::string schema;
  std::string name;
  std::string type;  // "TABLE" or "VIEW" (as the provider reports it)
};

class CatalogSource {
 public:
  virtual ~CatalogSource() = default;

  virtual Result<std::string> DataSourceName() = 0;
  virtual Result<std::string> CurrentCatalog() = 0;
  virtual Result<std::vector<std::string>> Catalogs() = 0;
  // Rows of the TABLES rowset restricted to `type` ("TABLE" or "VIEW").
  virtual Result<std::vector<CatalogTableRow>> Tables(std::string_view type) = 0;
  virtual Result<std::vector<std::string>> Columns(std::string_view object) = 0;
  // One entry per index column, as the INDEXES rowset has one row per column.
  virtual Result<std::vector<std::string>> Indexes(std::string_view table) = 0;
};

// An in-memory catalogue: databases of tables and views. Each query can be
// made to fail, so callers' error paths can be exercised.
class MemoryCatalogSource : public CatalogSource {
 public:
  struct Table {
    std::string name;
    std::vector<std::string> columns;
    std::vector<std::string> index_rows;
    std::string type = "TABLE";
  };
  struct View {
    std::string name;
    std::vector<std::string> columns;
    std::string schema;  // empty: the database's name
  };
  struct Database {
    std::string name;
    std::vector<Table> tables;
    std::vector<View> views;
  };

  std::string data_source_name;
  std::string current_catalog;
  std::vector<Database> databases;

  bool fail_data_source_name = false;
  bool fail_current_catalog = false;
  bool fail_catalogs = false;
  bool fail_tables = false;
  bool fail_views = false;
  std::vector<std::string> fail_columns_of;  // object names whose COLUMNS query fails
  std::vector<std::string> fail_indexes_of;

  Result<std::string> DataSourceName() override;
  Result<std::string> CurrentCatalog() override;
  Result<std::vector<std::string>> Catalogs() override;
  Result<std::vector<CatalogTableRow>> Tables(std::string_view type) override;
  Result<std::vector<std::string>> Columns(std::string_view object) override;
  Result<std::vector<std::string>> Indexes(std::string_view table) override;

 private:
  const Database* Current() const;
};

}  // namespace velquin
