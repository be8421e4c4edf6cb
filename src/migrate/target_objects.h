// The objects a migration would create that its Access target holds
// already, and dropping them before they are created again. The command
// line and the desktop program ask the same question with these: stop,
// replace the objects, or append the rows to the existing tables.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "base/status.h"
#include "jet/database.h"

namespace velquin {

// The names among `planned` (tables and queries a run would create) that the
// database holds, compared as Access compares them, spelled as the file
// spells them. Only reads.
Result<std::vector<std::string>> ExistingTargetObjects(jet::Database& db,
                                                       const std::vector<std::string>& planned);
// The same on the file at `path`, opened for reading for the call.
Result<std::vector<std::string>> ExistingTargetObjects(const std::string& path,
                                                       const std::vector<std::string>& planned);

// Drops these tables and queries (their relationships with each other
// first); `out` gets a line per object dropped. Refused as a whole when a
// table is related to one that stays.
Status DropTargetObjects(jet::Database& db, const std::vector<std::string>& names,
                         const std::function<void(const std::string&)>& out);
// The same on the file at `path`, opened for writing for the call.
Status DropTargetObjects(const std::string& path, const std::vector<std::string>& names,
                         const std::function<void(const std::string&)>& out);

}  // namespace velquin
