// The Access target for `velquin migrate`: open or create an .mdb file as a
// Session, and its fast row-insert path.
#pragma once

#include <memory>
#include <string>

#include "base/status.h"
#include "db/session.h"
#include "migrate/row_copy.h"

namespace velquin {

Result<std::unique_ptr<Session>> OpenTargetDatabase(const std::string& path, bool create);
RowInserterFactory TargetRowInserterFactory();

}  // namespace velquin
