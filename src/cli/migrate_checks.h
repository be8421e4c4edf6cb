// The checks `velquin migrate` makes before it writes anything: every name
// given must exist, no two output paths may be one file, the conditions file
// must be readable and an existing target must be an Access database. A
// failed check ends the run with exit code 2 and says what was wrong.
#pragma once

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "base/status.h"
#include "db/session.h"

namespace velquin {

// "actor, film,Category" -> {"actor", "film", "Category"}: blanks around the
// commas trimmed, empty items dropped, the order kept, repeats dropped.
std::vector<std::string> SplitNameList(const std::string& list);

// One output of the run: what it is ("--target") and where.
struct OutputPath {
  std::string option;
  std::filesystem::path path;
};

// InvalidArgument when two of the outputs are the same file (compared after
// resolving ".", "..", symbolic links and the current folder), naming both.
// Empty paths are not outputs.
Status CheckOutputPaths(const std::vector<OutputPath>& outputs);

// InvalidArgument when `path` is not a readable regular file.
Status CheckConditionsFile(const std::filesystem::path& path);

// For a target that exists: InvalidArgument "<path> is not an Access
// database: <why>" unless it opens as one (a folder, text, an image, an
// empty, truncated or damaged file, or one that cannot be written).
Status CheckExistingTarget(const std::filesystem::path& path);

// The tables and views given, as the server names them, and every table
// and view of the database in the server's order (for the summary of a run
// that ends before it reaches them).
struct ChosenObjects {
  std::set<std::string> tables;
  std::set<std::string> views;
  std::vector<std::string> all_tables;
  std::vector<std::string> all_views;
};

// Matches the names given against the database's tables and views as the
// server matches names (exactly, or without regard to case when the server's
// lower_case_table_names is 1 or 2). InvalidArgument listing every name that
// matches nothing (with the name it differs from only in case, when there
// is one).
Result<ChosenObjects> ResolveChosenObjects(Session& source, const std::string& database,
                                           const std::vector<std::string>& tables,
                                           const std::vector<std::string>& views);

}  // namespace velquin
