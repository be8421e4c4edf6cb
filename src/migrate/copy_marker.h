// A marker file "<table>.copying" in the data folder while a table's rows
// are being copied, so that a later run can name a table an earlier run left
// half copied (stopped, failed, or killed).
//
// The file holds one line of text: "started" while the copy runs, then
// "stopped after N rows" or "failed after N rows: why" when it ends early; it
// is removed when every row went in.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "base/status.h"

namespace velquin {

// Writes the marker of `stem` ("started").
Status MarkCopyStarted(const std::filesystem::path& data_dir, const std::string& stem);

// Ends the marker: removed when `complete`, else rewritten with `how`
// ("stopped after 12 rows").
Status MarkCopyEnded(const std::filesystem::path& data_dir, const std::string& stem, bool complete,
                     const std::string& how);

// The marker's text when an earlier run left one ("started" when that run
// ended before it could say more), nullopt when there is none.
std::optional<std::string> HalfCopiedMarker(const std::filesystem::path& data_dir,
                                            const std::string& stem);

}  // namespace velquin
