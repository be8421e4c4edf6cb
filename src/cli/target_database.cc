#include "cli/target_database.h"

namespace velquin {

Result<std::unique_ptr<Session>> OpenTargetDatabase(const std::string& path, bool) {
  return Status::NotSupported("the Access engine cannot open " + path + " in this build");
}

RowInserterFactory TargetRowInserterFactory() { return nullptr; }

}  // namespace velquin
