// The product's identity, as shown in the status bar and by --version.
#pragma once

#include <string>

namespace velquin {

inline constexpr char kVersion[] = "1.0";

// The product line is joined from its pieces, as the status bar shows it:
// "Omdara MySQL To Access Velquin Version: 1.0".
inline std::string ProductLine() {
  return std::string("Omdara ") + "MySQL" + " To " + "Access" + " Velquin" +
         " Version: " + kVersion;
}

}  // namespace velquin
