#include "cli/migrate_checks.h"

#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <map>

#include "base/text.h"
#include "db/jet_session.h"
#include "db/sql_quote.h"

namespace velquin {
namespace {

namespace fs = std::filesystem;

std::string Joined(const std::vector<std::string>& items) {
  std::string out;
  for (const auto& item : items) out += (out.empty() ? "" : ", ") + item;
  return out;
}

}  // namespace

std::vector<std::string> SplitNameList(const std::string& list) {
  std::vector<std::string> out;
  std::size_t from = 0;
  for (;;) {
    const std::size_t comma = list.find(',', from);
    std::string item = std::string(
        Trim(list.substr(from, comma == std::string::npos ? std::string::npos : comma - from)));
    if (!item.empty() && std::find(out.begin(), out.end(), item) == out.end()) out.push_back(item);
    if (comma == std::string::npos) break;
    from = comma + 1;
  }
  return out;
}

Status CheckOutputPaths(const std::vector<OutputPath>& outputs) {
  std::vector<std::pair<fs::path, std::string>> seen;
  for (const OutputPath& o : outputs) {
    if (o.path.empty()) continue;
    std::error_code ec;
    fs::path resolved = fs::weakly_canonical(fs::absolute(o.path, ec), ec);
    if (ec) resolved = fs::absolute(o.path).lexically_normal();
    for (const auto& [other, option] : seen) {
      bool same = other == resolved;
      std::error_code eq_ec;
      if (!same && fs::exists(other, eq_ec) && fs::exists(resolved, eq_ec)) {
        same = fs::equivalent(other, resolved, eq_ec);  // hard links
      }
      if (same) {
        return Status::InvalidArgument(option + " and " + o.option + " name the same file " +
                                       resolved.string());
      }
    }
    seen.emplace_back(resolved, o.option);
  }
  return Status::Ok();
}

Status CheckConditionsFile(const fs::path& path) {
  std::error_code ec;
  const auto status = fs::status(path, ec);
  if (ec || !fs::exists(status)) {
    return Status::InvalidArgument("the conditions file " + path.string() + " does not exist");
  }
  if (!fs::is_regular_file(status)) {
    return Status::InvalidArgument("the conditions file " + path.string() + " is not a file");
  }
  std::ifstream in(path, std::ios::binary);
  char c;
  in.get(c);
  if (!in && !in.eof()) {
    return Status::InvalidArgument("the conditions file " + path.string() + " cannot be read");
  }
  return Status::Ok();
}

Status CheckExistingTarget(const fs::path& path) {
  auto not_access = [&](const std::string& why) {
    return Status::InvalidArgument(path.string() + " is not an Access database: " + why);
  };
  std::error_code ec;
  const auto status = fs::status(path, ec);
  if (fs::is_directory(status)) return not_access("it is a folder");
  if (!fs::is_regular_file(status)) return not_access("it is not a regular file");
  if (fs::file_size(path, ec) == 0) return not_access("the file is empty");
  if (::access(path.c_str(), R_OK | W_OK) != 0) {
    return Status::InvalidArgument(path.string() +
                                   " cannot be written (it is read-only); nothing was migrated");
  }
  auto opened = JetSession::Open(path.string(), false);
  if (!opened.ok()) return not_access(opened.status().message());
  return Status::Ok();
}

Result<ChosenObjects> ResolveChosenObjects(Session& source, const std::string& database,
                                           const std::vector<std::string>& tables,
                                           const std::vector<std::string>& views) {
  ChosenObjects chosen;
  bool case_blind = false;
  {
    VELQUIN_ASSIGN_OR_RETURN(auto cursor, source.OpenQuery("SELECT @@lower_case_table_names"));
    VELQUIN_ASSIGN_OR_RETURN(bool row, cursor->MoveNext());
    case_blind = row && !cursor->IsNull(0) && cursor->Value(0) != "0";
  }
  std::vector<std::string> have_tables, have_views;
  {
    VELQUIN_ASSIGN_OR_RETURN(
        auto cursor,
        source.OpenQuery("SELECT TABLE_NAME, TABLE_TYPE FROM INFORMATION_SCHEMA.TABLES WHERE "
                         "TABLE_SCHEMA = " +
                         QuoteMySqlString(database)));
    for (;;) {
      VELQUIN_ASSIGN_OR_RETURN(bool row, cursor->MoveNext());
      if (!row) break;
      (cursor->Value(1) == "VIEW" ? have_views : have_tables).push_back(cursor->Value(0));
    }
  }
  chosen.all_tables = have_tables;
  chosen.all_views = have_views;
  std::vector<std::string> missing;
  auto match = [&](const std::vector<std::string>& given, const std::vector<std::string>& have,
                   const std::vector<std::string>& other_kind, const char* kind, const char* other,
                   std::set<std::string>* out) {
    for (const std::string& name : given) {
      std::string found, near;
      for (const std::string& h : have) {
        if (h == name) found = h;
        if (found.empty() && AsciiLower(h) == AsciiLower(name)) near = h;
      }
      if (found.empty() && case_blind) found = near;
      if (!found.empty()) {
        out->insert(found);
        continue;
      }
      std::string line = std::string(kind) + " " + name;
      if (!near.empty()) {
        line += " (the server compares names with case: did you mean " + near + "?)";
      } else if (std::any_of(other_kind.begin(), other_kind.end(), [&](const std::string& h) {
                   return h == name || (case_blind && AsciiLower(h) == AsciiLower(name));
                 })) {
        line += std::string(" (it is a ") + other + ")";
      }
      missing.push_back(line);
    }
  };
  match(tables, have_tables, have_views, "table", "view", &chosen.tables);
  match(views, have_views, have_tables, "view", "table", &chosen.views);
  if (!missing.empty()) {
    return Status::NotFound("not in the database " + database + ": " + Joined(missing));
  }
  return chosen;
}

}  // namespace velquin
