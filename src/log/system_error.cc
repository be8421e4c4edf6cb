#include "log/system_error.h"

#include <fmt/printf.h>

#include <cerrno>
#include <cstring>

namespace velquin {

std::string SystemErrorText(std::string_view text) { return SystemErrorText(text, errno); }

std::string SystemErrorText(std::string_view text, int error_code) {
  std::string description;
  // strerrordesc_np answers null for a code without a text; strerror_r then
  // gives the text in the user's language.
  if (strerrordesc_np(error_code) != nullptr) {
    char buffer[256];
    description = strerror_r(error_code, buffer, sizeof(buffer));
  }
  return fmt::sprintf("%s \r\n failed with error code:[0x%08x] \r\n discription:%s", text,
                      static_cast<unsigned>(error_code), description);
}

}  // namespace velquin
