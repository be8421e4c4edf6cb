// What the Database's own files share, and the storage under a Database for
// the engine's tests and file checks: not part of the engine's public face
// (database.h).
#pragma once

#include <string_view>

#include "jet/database.h"
#include "jet/format/page_file.h"

namespace velquin::jet {

// True for the names Access reserves for its system tables ("MSys...",
// compared as names are).
bool IsSystemName(std::string_view name);

// The page store and page file a Database works on. Code outside the engine
// goes through Database's own calls; tests use this to look at the pages.
struct DatabaseInternals {
  static PageStore& Store(Database& db) { return *db.pages_; }
  static PageFile& Pages(Database& db) { return *db.pages_; }
};

}  // namespace velquin::jet
