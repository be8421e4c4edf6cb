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

Result<std::string> ConditionFile::Read(std::string_view database, std::string_view table) const {
  return ReadProfileString(path_, database, table);
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
  return WriteProfileString(path_, database, table, trimmed)
      .WithContext("saving the condition of " + std::string(database) + "." + std::string(table));
}

}  // namespace velquin
