// Condition.cfg: per-table row conditions for the row copy.
//
// An INI file beside the program: section = the database name, key = the
// table (or view) name, value = the text of an SQL WHERE clause without the
// word "where". A missing key means no condition (every row is copied).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "base/status.h"

namespace velquin {

// A condition is sent to the server as the WHERE clause of a statement. It
// must stay inside that statement: a ";" outside quotes (which would end the
// statement and start another) is refused, as is a quote, backquote or
// comment left open (which would swallow the rest of the statement).
Status CheckCondition(std::string_view condition);

class ConditionFile {
 public:
  static constexpr std::string_view kFileName = "Condition.cfg";

  explicit ConditionFile(std::filesystem::path path) : path_(std::move(path)) {}
  // Condition.cfg inside `folder`.
  static ConditionFile InFolder(const std::filesystem::path& folder) {
    return ConditionFile(folder / std::string(kFileName));
  }

  const std::filesystem::path& path() const { return path_; }

  // Creates the file empty when it does not exist.
  Status EnsureExists() const;
  // The table's condition; empty when the file, section or key is missing.
  // A stored condition that CheckCondition refuses is an error.
  Result<std::string> Read(std::string_view database, std::string_view table) const;
  // Stores the condition (blanks around it are dropped; an empty condition is
  // stored as an empty value). A condition with a line break is refused: the
  // file would end the value at the break and keep the rest as a stray line.
  // So is one that CheckCondition refuses.
  Status Write(std::string_view database, std::string_view table, std::string_view condition) const;

 private:
  std::filesystem::path path_;
};

}  // namespace velquin
