// Error texts for provider failures, in the two forms the output pane and the
// message boxes show:
//
//   FormatProviderError: "<label> \r\n failed with error code:[0x%08x] \r\n discription:<text>"
//     where <text> is the provider's message for the code, ending with its
//     own line break, or "(null)" when there is no message for it;
//   DescribeOleDbError (odbc_error.h): the first diagnostic record's message
//     of the failing handle, "Unknown Error!" when the handle has none, and
//     the empty text when the record exists but cannot be read.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velquin {

// The fixed text for a failure that left no error information.
inline constexpr std::string_view kUnknownError = "Unknown Error!";

// One diagnostic record as a provider reports it.
struct ProviderDiagnostic {
  std::string sql_state;          // five characters, e.g. "08S01"; may be empty
  std::int32_t native_error = 0;  // the server's or driver's own error number
  std::string message;            // the description, as the driver words it
};

// `message_text` is the text looked up for `code`; std::nullopt prints "(null)".
// A text without a final line break gets "\r\n", as message-table texts have.
std::string FormatProviderError(std::string_view label, std::uint32_t code,
                                std::optional<std::string_view> message_text);

// The same form for a diagnostic record: its native error as the code and
// its message as the text (an empty message prints "(null)").
std::string FormatProviderError(std::string_view label, const ProviderDiagnostic& diagnostic);

}  // namespace velquin
