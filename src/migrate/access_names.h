// Names Access can hold. Access refuses in object names (tables, queries,
// columns, indexes, relationships) the period, the exclamation mark, the back
// quote, square brackets, a leading space and control characters, allows at
// most 64 characters, and compares table and query names without regard to
// case (so CaseTest and casetest cannot both exist). MySQL allows all of that.
//
// The one renaming rule (docs/migration.md):
//   1. every forbidden character (. ! ` [ ] and characters 0-31) becomes "_";
//   2. each leading space becomes "_";
//   3. the name is cut to 64 characters (UTF-16 units, as Access counts);
//      an empty name becomes "_";
//   4. when the result is already taken in its namespace (compared without
//      regard to case), "_2", "_3", ... is appended (cutting the name so the
//      whole stays within 64 characters).
// Names that need no change are reserved first, so they keep their name and
// only the renamed ones take suffixes; within each group the names are taken
// in byte order (so "CaseTest" keeps its name and "casetest" becomes
// "casetest_2", whatever order the catalogue lists them in).
// Namespaces: tables and views together (per database); columns per table;
// indexes per table; relationships per database.
// Names Access keeps for itself are renamed too: a table or query whose name
// starts with "MSys" (Access takes every such object for a system table)
// gets "_" in front, and an index named "PrimaryKey" (the name of every
// primary key in Access) is taken by "PrimaryKey_2".
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "migrate/sql_text.h"

namespace velquin {

// Steps 1-3 of the rule (no collision suffix).
std::string AccessSafeName(std::string_view name);

// One namespace: each source name mapped to its Access name.
class NameSpaceMap {
 public:
  NameSpaceMap() = default;
  // Maps `names` by the rule above; `reserved` names (compared without
  // regard to case) are never given to a source name. `object_names`: the
  // namespace of tables and queries, where "MSys" names are Access's own.
  explicit NameSpaceMap(const std::vector<std::string>& names,
                        const std::vector<std::string>& reserved = {}, bool object_names = false);

  // The Access name of `name`; a name not given at construction is mapped
  // on the fly (and reserved), so it never collides with the others.
  const std::string& Map(std::string_view name);
  // True when `name` was given or mapped (exact spelling).
  bool Has(std::string_view name) const { return map_.count(std::string(name)) > 0; }
  // The renamed ones only: source name -> Access name, in source order.
  std::vector<std::pair<std::string, std::string>> Renamed() const;
  // Every source name, in the order given or mapped.
  const std::vector<std::string>& SourceNames() const { return order_; }

 private:
  std::string Reserve(std::string_view name);
  std::string Safe(std::string_view name) const;

  bool object_names_ = false;

  std::map<std::string, std::string> map_;  // source name (exact) -> Access name
  std::vector<std::string> order_;
  std::map<std::string, bool, CaseInsensitiveLess> taken_;
};

// The names of one database as they go into Access.
class DatabaseNames {
 public:
  DatabaseNames() = default;
  // Tables and views of the source database, in catalogue order.
  explicit DatabaseNames(const std::vector<std::string>& tables_and_views);

  const std::string& Object(std::string_view table_or_view) { return objects_.Map(table_or_view); }
  // True when the name is one of the tables and views given at construction.
  bool HasObject(std::string_view name) const { return objects_.Has(name); }
  // Columns of a table: set once with the table's column list, then mapped.
  void SetColumns(std::string_view table, const std::vector<std::string>& columns);
  bool HasColumns(std::string_view table) const { return columns_.count(std::string(table)) > 0; }
  // The source names of a table's columns (empty before SetColumns).
  std::vector<std::string> SourceColumns(std::string_view table) const {
    auto it = columns_.find(std::string(table));
    return it == columns_.end() ? std::vector<std::string>{} : it->second.SourceNames();
  }
  const std::string& Column(std::string_view table, std::string_view column);
  const std::string& Index(std::string_view table, std::string_view index);
  const std::string& Relationship(std::string_view name) { return relationships_.Map(name); }

  // "table `a.b` -> `a_b`" lines for everything renamed so far.
  std::vector<std::string> RenameLines() const;

 private:
  NameSpaceMap objects_{{}, {}, true};
  NameSpaceMap relationships_;
  std::map<std::string, NameSpaceMap> columns_;  // by source table name
  std::map<std::string, NameSpaceMap> indexes_;
};

}  // namespace velquin
