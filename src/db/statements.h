// The statement routines every part of the program runs its SQL through, with
// the fixed result texts and output lines the callers rely on.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "db/session.h"

namespace velquin {

// Fixed result texts of the source queries.
inline constexpr std::string_view kNoConnection = "No Connection!";
inline constexpr std::string_view kQueryFalse = "FALSE";
inline constexpr std::string_view kResultSuccess = "RESULT: The operation completed SUCCESSFULLY";

// Runs a statement that returns no rows.
//   no session: writes "E::No Connection!" (whatever `report`), returns false;
//   failure: with `report`, writes "T::" + the provider's description; false;
//   success without rows: with `report`, writes "RESULT: The operation
//     completed SUCCESSFULLY"; true;
//   success with rows (a select): the rows are discarded, nothing written; true.
bool ExecuteStatement(Session* session, std::string_view statement, bool report,
                      const LineSink& out);

// How RunSourceQuery ended.
enum class SourceQueryStatus {
  kRows,          // the query produced a rowset; every row went to the handler
  kNoConnection,  // no session; nothing was run
  kFailed,        // the query could not be run, or its rows could not all be read
  kNoRowset,      // the query ran and produced no rowset
};

struct SourceQueryResult {
  SourceQueryStatus status = SourceQueryStatus::kRows;
  // "No Connection!", "FALSE", "RESULT: The operation completed SUCCESSFULLY",
  // or empty for kRows (the handler has gathered the routine's own result).
  std::string text;
};

using RowHandler = std::function<void(const QueryCursor& row)>;

// Runs a source query and hands each row to `on_row`.
//   no session: writes the plain line "No Connection!" -> kNoConnection;
//   the query fails: writes the provider's description as a plain line -> kFailed, "FALSE";
//   no rowset: writes "RESULT: The operation completed SUCCESSFULLY" -> kNoRowset;
//   rows: kRows. A fetch that fails part way (a lost connection) also writes
//     the description and gives kFailed with "FALSE": a cut walk never passes
//     for a complete one.
SourceQueryResult RunSourceQuery(Session* session, std::string_view query, const RowHandler& on_row,
                                 const LineSink& out);

// RunSourceQuery for routines whose result is a text: `on_row` builds it in
// `result`; the return value is that text for kRows, else the fixed text.
std::string RunSourceQueryText(
    Session* session, std::string_view query,
    const std::function<void(const QueryCursor& row, std::string& result)>& on_row,
    const LineSink& out);

// Removes everything up to and including the last '\' or '/': a path to
// shop.mdb gives shop.mdb; a plain name is unchanged.
std::string StripDirectoryPart(std::string_view name);

// Makes `database_name` (directory part stripped) the session's current
// database with "use `name`;" (back quotes doubled inside), writing nothing
// on failure. `stored_name`, when given, receives the stripped name before
// the statement runs (it is the tree's catalog name, updated even on failure).
bool SelectDatabase(Session* session, std::string_view database_name, const LineSink& out,
                    std::string* stored_name = nullptr);

// "select @@Version": the server's version text, or one of the fixed texts.
std::string GetServerVersion(Session* session, const LineSink& out);

}  // namespace velquin
