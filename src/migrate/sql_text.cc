#include "migrate/sql_text.h"

#include <algorithm>

#include "db/sql_quote.h"

namespace velquin {

std::string QuoteJetNameInText(std::string_view name) {
  auto quoted = QuoteJetName(name);
  return quoted.ok() ? *quoted : "[" + std::string(name) + "]";
}

Result<std::string> QuoteJetName(std::string_view name) {
  if (name.find('`') == std::string_view::npos) return "`" + std::string(name) + "`";
  if (name.find_first_of("[]") == std::string_view::npos) return "[" + std::string(name) + "]";
  return Status::InvalidArgument("the name \"" + std::string(name) +
                                 "\" holds both a back quote and a bracket and cannot be "
                                 "written in an Access statement");
}

bool CaseInsensitiveLess::operator()(std::string_view a, std::string_view b) const {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    auto lx = (x >= 'A' && x <= 'Z') ? x - 'A' + 'a' : x;
    auto ly = (y >= 'A' && y <= 'Z') ? y - 'A' + 'a' : y;
    return static_cast<unsigned char>(lx) < static_cast<unsigned char>(ly);
  });
}

}  // namespace velquin
