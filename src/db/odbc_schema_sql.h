// The SQL texts that answer the OLE DB schema rowsets of a MySQL server from
// its INFORMATION_SCHEMA, in the columns and order the rowsets have. `r` holds
// the rowset's restrictions (an absent one is not applied); `nbe`: the
// server's sql_mode has NO_BACKSLASH_ESCAPES (it decides how strings quote).
#pragma once

#include <string>

#include "db/session.h"

namespace velquin {

std::string TablesQuery(const SchemaRestrictions& r, bool nbe);
std::string ColumnsQuery(const SchemaRestrictions& r, bool nbe);
std::string IndexesQuery(const SchemaRestrictions& r, bool nbe);
std::string CatalogsQuery(const SchemaRestrictions& r, bool nbe);

}  // namespace velquin
