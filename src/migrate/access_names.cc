#include "migrate/access_names.h"

#include <algorithm>
#include <cstdint>

namespace velquin {
namespace {

constexpr std::size_t kMaxNameUnits = 64;

// Length of the UTF-8 sequence starting with `lead` (1 for stray bytes).
std::size_t SequenceLength(unsigned char lead) {
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  if (lead >= 0xE0) return 3;
  if (lead >= 0xC2 && lead < 0xE0) return 2;
  return 1;
}

// Cuts `name` to at most `units` UTF-16 units at a character boundary.
std::string CutToUnits(const std::string& name, std::size_t units) {
  std::size_t used = 0;
  std::size_t at = 0;
  while (at < name.size()) {
    std::size_t len = SequenceLength(static_cast<unsigned char>(name[at]));
    if (at + len > name.size()) len = name.size() - at;
    std::size_t cost = len == 4 ? 2 : 1;
    if (used + cost > units) break;
    used += cost;
    at += len;
  }
  return name.substr(0, at);
}

}  // namespace

std::string AccessSafeName(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  bool leading = true;
  for (char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (leading && c == ' ') {
      out += '_';
      continue;
    }
    leading = false;
    if (u < 32 || c == '.' || c == '!' || c == '`' || c == '[' || c == ']') {
      out += '_';
    } else {
      out += c;
    }
  }
  out = CutToUnits(out, kMaxNameUnits);
  if (out.empty()) out = "_";
  return out;
}

NameSpaceMap::NameSpaceMap(const std::vector<std::string>& given,
                           const std::vector<std::string>& reserved, bool object_names)
    : object_names_(object_names) {
  for (const auto& name : reserved) taken_[name] = true;
  // Byte order, so the outcome does not depend on the catalogue's order
  // ("CaseTest" keeps its name, "casetest" becomes "casetest_2").
  std::vector<std::string> names = given;
  std::sort(names.begin(), names.end());
  // Names Access takes as they are keep them; the first of a case-insensitive
  // group wins.
  for (const auto& name : names) {
    if (map_.count(name)) continue;
    if (Safe(name) == name && !taken_.count(name)) {
      taken_[name] = true;
      map_[name] = name;
      order_.push_back(name);
    }
  }
  for (const auto& name : names) {
    if (!map_.count(name)) Map(name);
  }
}

std::string NameSpaceMap::Safe(std::string_view name) const {
  std::string safe = AccessSafeName(name);
  if (object_names_ && safe.size() >= 4 && AsciiLower(safe.substr(0, 4)) == "msys") {
    safe = CutToUnits("_" + safe, kMaxNameUnits);
  }
  return safe;
}

std::string NameSpaceMap::Reserve(std::string_view name) {
  std::string base = Safe(name);
  std::string candidate = base;
  for (int n = 2; taken_.count(candidate); ++n) {
    std::string suffix = "_" + std::to_string(n);
    candidate = CutToUnits(base, kMaxNameUnits - suffix.size()) + suffix;
  }
  taken_[candidate] = true;
  return candidate;
}

const std::string& NameSpaceMap::Map(std::string_view name) {
  auto it = map_.find(std::string(name));
  if (it != map_.end()) return it->second;
  std::string access = Reserve(name);
  order_.emplace_back(name);
  return map_.emplace(std::string(name), std::move(access)).first->second;
}

std::vector<std::pair<std::string, std::string>> NameSpaceMap::Renamed() const {
  std::vector<std::pair<std::string, std::string>> out;
  for (const auto& name : order_) {
    const std::string& access = map_.at(name);
    if (access != name) out.emplace_back(name, access);
  }
  return out;
}

DatabaseNames::DatabaseNames(const std::vector<std::string>& tables_and_views)
    : objects_(tables_and_views, {}, true) {}

const std::string& DatabaseNames::Index(std::string_view table, std::string_view index) {
  auto it = indexes_.find(std::string(table));
  if (it == indexes_.end()) {
    it = indexes_.emplace(std::string(table), NameSpaceMap({}, {"PrimaryKey"})).first;
  }
  return it->second.Map(index);
}

void DatabaseNames::SetColumns(std::string_view table, const std::vector<std::string>& columns) {
  columns_[std::string(table)] = NameSpaceMap(columns);
}

const std::string& DatabaseNames::Column(std::string_view table, std::string_view column) {
  return columns_[std::string(table)].Map(column);
}

std::vector<std::string> DatabaseNames::RenameLines() const {
  std::vector<std::string> lines;
  for (const auto& [from, to] : objects_.Renamed()) {
    lines.push_back("table or view `" + from + "` -> `" + to + "`");
  }
  for (const auto& [table, map] : columns_) {
    for (const auto& [from, to] : map.Renamed()) {
      lines.push_back("column `" + table + "`.`" + from + "` -> `" + to + "`");
    }
  }
  for (const auto& [table, map] : indexes_) {
    for (const auto& [from, to] : map.Renamed()) {
      lines.push_back("index `" + table + "`.`" + from + "` -> `" + to + "`");
    }
  }
  for (const auto& [from, to] : relationships_.Renamed()) {
    lines.push_back("relationship `" + from + "` -> `" + to + "`");
  }
  return lines;
}

}  // namespace velquin
