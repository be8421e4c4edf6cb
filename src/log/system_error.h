// SystemErrorText: the calling thread's last system error as text, in the
// layout the output pane shows for system failures:
//   "<text> \r\n failed with error code:[0x0000000d] \r\n discription:Permission denied"
// ("discription" is the program's own spelling and is kept).
#pragma once

#include <string>
#include <string_view>

namespace velquin {

// Uses errno as the last system error.
std::string SystemErrorText(std::string_view text);

// The same for a given error code; a code the system has no text for gives
// an empty description.
std::string SystemErrorText(std::string_view text, int error_code);

}  // namespace velquin
