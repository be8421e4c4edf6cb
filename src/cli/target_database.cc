#include "cli/target_database.h"

#include <filesystem>

#include "db/jet_session.h"
#include "migrate/jet_row_inserter.h"

namespace velquin {

Result<std::unique_ptr<Session>> OpenTargetDatabase(const std::string& path, bool create) {
  if (create && std::filesystem::exists(path)) {
    return Status::InvalidArgument("the database file " + path + " exists already");
  }
  VELQUIN_ASSIGN_OR_RETURN(std::unique_ptr<JetSession> session, JetSession::Open(path, create));
  return std::unique_ptr<Session>(std::move(session));
}

RowInserterFactory TargetRowInserterFactory() { return JetRowInserterFactory(); }

}  // namespace velquin
