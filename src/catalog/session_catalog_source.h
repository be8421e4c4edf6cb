// SessionCatalogSource: a tree's catalogue read from a real database Session
// through its schema rowsets: CATALOGS for the databases, TABLES restricted
// to a type for the tables and views, COLUMNS and INDEXES restricted to one
// object's name for its fields and index rows.
//
// The session is looked up at each call, so a side that reconnects (a
// database switch replaces the target session) is listed from its new
// session; while no session is there every query fails with "No Connection!".
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/catalog_source.h"
#include "db/session.h"

namespace velquin {

class SessionCatalogSource : public CatalogSource {
 public:
  // Returns the side's current session (null when not connected); the
  // returned pointer keeps it alive for the duration of one query.
  using Lookup = std::function<std::shared_ptr<Session>()>;

  explicit SessionCatalogSource(Lookup lookup) : lookup_(std::move(lookup)) {}
  // Over one session that outlives this object.
  explicit SessionCatalogSource(Session* session);

  Result<std::string> DataSourceName() override;
  Result<std::string> CurrentCatalog() override;
  Result<std::vector<std::string>> Catalogs() override;
  Result<std::vector<CatalogTableRow>> Tables(std::string_view type) override;
  Result<std::vector<std::string>> Columns(std::string_view object) override;
  Result<std::vector<std::string>> Indexes(std::string_view table) override;

 private:
  Result<std::shared_ptr<Session>> Get() const;
  Lookup lookup_;
};

}  // namespace velquin
