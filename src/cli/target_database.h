// The Access target for `velquin migrate`: open or create an .mdb file as a
// Session, and its fast row-insert path.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/status.h"
#include "db/session.h"
#include "migrate/row_copy.h"

namespace velquin {

Result<std::unique_ptr<Session>> OpenTargetDatabase(const std::string& path, bool create);
RowInserterFactory TargetRowInserterFactory();

// The names among `planned` (tables and queries a run would create) that the
// existing file at `path` holds, compared as Access compares them; the file
// is only read.
Result<std::vector<std::string>> ExistingTargetObjects(const std::string& path,
                                                       const std::vector<std::string>& planned);

// Drops these tables and queries of the file (their relationships with each
// other first); a line per object dropped. Refused as a whole when a table
// is related to one that stays.
Status DropTargetObjects(const std::string& path, const std::vector<std::string>& names,
                         const std::function<void(const std::string&)>& out);

}  // namespace velquin
