#include "cli/target_database.h"

#include <filesystem>

#include "db/jet_session.h"
#include "jet/database.h"
#include "jet/sql/names.h"
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

Result<std::vector<std::string>> ExistingTargetObjects(const std::string& path,
                                                       const std::vector<std::string>& planned) {
  jet::OpenOptions options;
  options.read_only = true;
  VELQUIN_ASSIGN_OR_RETURN(auto db, jet::Database::Open(path, options));
  VELQUIN_ASSIGN_OR_RETURN(std::vector<std::string> held, db->ListTables());
  for (const auto& q : db->ListQueries()) held.push_back(q);
  std::vector<std::string> out;
  for (const std::string& name : planned) {
    for (const std::string& h : held) {
      if (jet::sql::SameObjectName(h, name)) {
        out.push_back(h);
        break;
      }
    }
  }
  return out;
}

Status DropTargetObjects(const std::string& path, const std::vector<std::string>& names,
                         const std::function<void(const std::string&)>& out) {
  VELQUIN_ASSIGN_OR_RETURN(auto db, jet::Database::Open(path));
  std::vector<std::string> tables, queries;
  for (const std::string& name : names) (db->IsQuery(name) ? queries : tables).push_back(name);
  // The tables first: their relationships are checked before anything
  // changes, so a refusal leaves the file as it was.
  if (!tables.empty()) VELQUIN_RETURN_IF_ERROR(db->DropTablesWithRelationships(tables));
  for (const std::string& t : tables) {
    if (out) out("drop table " + t);
  }
  for (const std::string& q : queries) {
    VELQUIN_RETURN_IF_ERROR(db->DropQuery(q));
    if (out) out("drop view " + q);
  }
  return Status::Ok();
}

}  // namespace velquin
