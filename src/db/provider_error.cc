#include "db/provider_error.h"

#include <cstdio>

namespace velquin {

std::string FormatProviderError(std::string_view label, std::uint32_t code,
                                std::optional<std::string_view> message_text) {
  char code_text[16];
  std::snprintf(code_text, sizeof(code_text), "%08x", static_cast<unsigned>(code));
  std::string out;
  out.append(label);
  out += " \r\n failed with error code:[0x";
  out += code_text;
  out += "] \r\n discription:";
  if (!message_text) {
    out += "(null)";
  } else {
    out.append(*message_text);
    if (message_text->empty() || message_text->back() != '\n') out += "\r\n";
  }
  return out;
}

std::string FormatProviderError(std::string_view label, const ProviderDiagnostic& diagnostic) {
  std::optional<std::string_view> text;
  if (!diagnostic.message.empty()) text = diagnostic.message;
  return FormatProviderError(label, static_cast<std::uint32_t>(diagnostic.native_error), text);
}

}  // namespace velquin
