#include "migrate/target_objects.h"

#include "jet/sql/names.h"

namespace velquin {

Result<std::vector<std::string>> ExistingTargetObjects(jet::Database& db,
                                                       const std::vector<std::string>& planned) {
  VELQUIN_ASSIGN_OR_RETURN(std::vector<std::string> held, db.ListTables());
  for (const auto& q : db.ListQueries()) held.push_back(q);
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

Result<std::vector<std::string>> ExistingTargetObjects(const std::string& path,
                                                       const std::vector<std::string>& planned) {
  jet::OpenOptions options;
  options.read_only = true;
  VELQUIN_ASSIGN_OR_RETURN(auto db, jet::Database::Open(path, options));
  return ExistingTargetObjects(*db, planned);
}

Status DropTargetObjects(jet::Database& db, const std::vector<std::string>& names,
                         const std::function<void(const std::string&)>& out) {
  std::vector<std::string> tables, queries;
  for (const std::string& name : names) (db.IsQuery(name) ? queries : tables).push_back(name);
  // The tables first: their relationships are checked before anything
  // changes, so a refusal leaves the file as it was.
  if (!tables.empty()) VELQUIN_RETURN_IF_ERROR(db.DropTablesWithRelationships(tables));
  for (const std::string& t : tables) {
    if (out) out("drop table " + t);
  }
  for (const std::string& q : queries) {
    VELQUIN_RETURN_IF_ERROR(db.DropQuery(q));
    if (out) out("drop view " + q);
  }
  return Status::Ok();
}

Status DropTargetObjects(const std::string& path, const std::vector<std::string>& names,
                         const std::function<void(const std::string&)>& out) {
  VELQUIN_ASSIGN_OR_RETURN(auto db, jet::Database::Open(path));
  return DropTargetObjects(*db, names, out);
}

}  // namespace velquin
