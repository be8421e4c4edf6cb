#include "db/statements.h"

#include "db/sql_quote.h"

namespace velquin {
namespace {

void Write(const LineSink& out, const std::string& line) {
  if (out) out(line);
}

}  // namespace

bool ExecuteStatement(Session* session, std::string_view statement, bool report,
                      const LineSink& out) {
  if (session == nullptr) {
    Write(out, "E::" + std::string(kNoConnection));
    return false;
  }
  Result<ExecuteOutcome> outcome = session->Execute(statement);
  if (!outcome.ok()) {
    if (report) Write(out, "T::" + outcome.status().message());
    return false;
  }
  if (*outcome == ExecuteOutcome::kNoRowset && report) Write(out, std::string(kResultSuccess));
  return true;
}

SourceQueryResult RunSourceQuery(Session* session, std::string_view query, const RowHandler& on_row,
                                 const LineSink& out) {
  if (session == nullptr) {
    Write(out, std::string(kNoConnection));
    return {SourceQueryStatus::kNoConnection, std::string(kNoConnection)};
  }
  Result<std::unique_ptr<QueryCursor>> opened = session->OpenQuery(query);
  if (!opened.ok()) {
    Write(out, opened.status().message());
    return {SourceQueryStatus::kFailed, std::string(kQueryFalse)};
  }
  QueryCursor& cursor = **opened;
  if (!HasRowset(cursor)) {
    Write(out, std::string(kResultSuccess));
    return {SourceQueryStatus::kNoRowset, std::string(kResultSuccess)};
  }
  for (;;) {
    Result<bool> next = cursor.MoveNext();
    if (!next.ok()) {
      Write(out, next.status().message());
      cursor.Close();
      return {SourceQueryStatus::kFailed, std::string(kQueryFalse)};
    }
    if (!*next) break;
    if (on_row) on_row(cursor);
  }
  cursor.Close();
  return {SourceQueryStatus::kRows, std::string()};
}

std::string RunSourceQueryText(
    Session* session, std::string_view query,
    const std::function<void(const QueryCursor& row, std::string& result)>& on_row,
    const LineSink& out) {
  std::string result;
  SourceQueryResult outcome = RunSourceQuery(
      session, query, [&](const QueryCursor& row) { on_row(row, result); }, out);
  if (outcome.status == SourceQueryStatus::kRows) return result;
  return outcome.text;
}

std::string StripDirectoryPart(std::string_view name) {
  std::size_t cut = name.find_last_of("\\/");
  if (cut == std::string_view::npos) return std::string(name);
  return std::string(name.substr(cut + 1));
}

bool SelectDatabase(Session* session, std::string_view database_name, const LineSink& out,
                    std::string* stored_name) {
  std::string name = StripDirectoryPart(database_name);
  if (stored_name) *stored_name = name;
  std::string statement = "use " + QuoteIdentifier(name) + ";";
  return ExecuteStatement(session, statement, /*report=*/false, out);
}

std::string GetServerVersion(Session* session, const LineSink& out) {
  return RunSourceQueryText(
      session, "select @@Version",
      [](const QueryCursor& row, std::string& result) {
        if (!row.Columns().empty()) result = row.Value(0);
      },
      out);
}

}  // namespace velquin
