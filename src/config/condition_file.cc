#include "config/condition_file.h"

#include <fstream>
#include <system_error>

#include "config/ini_file.h"

namespace velquin {

Status ConditionFile::EnsureExists() const {
  std::error_code ec;
  if (std::filesystem::exists(path_, ec)) return Status::Ok();
  std::ofstream out(path_, std::ios::binary | std::ios::app);
  if (!out) return Status::IOError("cannot create " + path_.string());
  return Status::Ok();
}

namespace {

// One reading of the condition: with `backslash_escapes`, a backslash in a
// string escapes the next character (the server's default); without, it
// stands for itself (NO_BACKSLASH_ESCAPES).
Status CheckConditionAs(std::string_view condition, bool backslash_escapes) {
  char quote = 0;  // the open quote: ', " or `
  for (std::size_t i = 0; i < condition.size(); ++i) {
    const char c = condition[i];
    if (quote != 0) {
      if (c == '\\' && quote != '`' && backslash_escapes) {
        ++i;  // an escaped character inside a string
      } else if (c == quote) {
        if (i + 1 < condition.size() && condition[i + 1] == quote) {
          ++i;  // a doubled quote stands for itself
        } else {
          quote = 0;
        }
      }
      continue;
    }
    if (c == '\'' || c == '"' || c == '`') {
      quote = c;
    } else if (c == ';') {
      return Status::InvalidArgument(
          "the condition holds a ';' outside quotes: a condition cannot end the statement");
    } else if (c == '#' ||
               (c == '-' && condition.substr(i, 2) == "--" &&
                (i + 2 == condition.size() || condition[i + 2] == ' ' ||
                 condition[i + 2] == '\t')) ||
               (c == '/' && i + 1 < condition.size() && condition[i + 1] == '*')) {
      return Status::InvalidArgument(
          "the condition holds a comment: it would hide the rest of the statement");
    }
  }
  if (quote != 0) {
    return Status::InvalidArgument(std::string("the condition leaves a ") + quote +
                                   " open: it would swallow the rest of the statement");
  }
  return Status::Ok();
}

}  // namespace

Status CheckCondition(std::string_view condition) {
  // The server's SQL mode decides how backslashes read: the condition must be
  // safe either way.
  VELQUIN_RETURN_IF_ERROR(CheckConditionAs(condition, true));
  return CheckConditionAs(condition, false);
}

Result<std::string> ConditionFile::Read(std::string_view database, std::string_view table) const {
  VELQUIN_ASSIGN_OR_RETURN(std::string condition, ReadProfileString(path_, database, table));
  if (Status st = CheckCondition(condition); !st.ok()) {
    return st.WithContext("the stored condition of " + std::string(database) + "." +
                          std::string(table));
  }
  return condition;
}

Status ConditionFile::Write(std::string_view database, std::string_view table,
                            std::string_view condition) const {
  std::size_t begin = condition.find_first_not_of(" \t");
  std::size_t end = condition.find_last_not_of(" \t");
  std::string_view trimmed = begin == std::string_view::npos
                                 ? std::string_view()
                                 : condition.substr(begin, end - begin + 1);
  if (trimmed.find_first_of("\r\n") != std::string_view::npos) {
    return Status::InvalidArgument("the condition for table " + std::string(table) +
                                   " spans several lines; write it on one line");
  }
  if (Status st = CheckCondition(trimmed); !st.ok()) return st;
  return WriteProfileString(path_, database, table, trimmed)
      .WithContext("saving the condition of " + std::string(database) + "." + std::string(table));
}

}  // namespace velquin
