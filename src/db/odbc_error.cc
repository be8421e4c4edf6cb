#include "db/odbc_error.h"

#include <sqlext.h>

namespace velquin {
namespace {

// Reads record `number`; returns the SQLGetDiagRec result.
SQLRETURN ReadRecord(SQLSMALLINT handle_type, SQLHANDLE handle, SQLSMALLINT number,
                     ProviderDiagnostic* out) {
  SQLCHAR state[6] = {0};
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  std::string message(1024, '\0');
  SQLRETURN rc = SQLGetDiagRec(handle_type, handle, number, state, &native,
                               reinterpret_cast<SQLCHAR*>(message.data()),
                               static_cast<SQLSMALLINT>(message.size()), &length);
  if (rc == SQL_SUCCESS_WITH_INFO && length >= static_cast<SQLSMALLINT>(message.size())) {
    message.assign(static_cast<std::size_t>(length) + 1, '\0');
    rc = SQLGetDiagRec(handle_type, handle, number, state, &native,
                       reinterpret_cast<SQLCHAR*>(message.data()),
                       static_cast<SQLSMALLINT>(message.size()), &length);
  }
  if (!SQL_SUCCEEDED(rc)) return rc;
  if (length < 0) length = 0;
  if (static_cast<std::size_t>(length) >= message.size())
    length = static_cast<SQLSMALLINT>(message.size() - 1);
  message.resize(static_cast<std::size_t>(length));
  out->sql_state = reinterpret_cast<const char*>(state);
  out->native_error = native;
  out->message = std::move(message);
  return rc;
}

}  // namespace

std::vector<ProviderDiagnostic> ReadDiagnostics(SQLSMALLINT handle_type, SQLHANDLE handle) {
  std::vector<ProviderDiagnostic> records;
  if (handle == SQL_NULL_HANDLE) return records;
  for (SQLSMALLINT i = 1; i < 100; ++i) {
    ProviderDiagnostic record;
    if (!SQL_SUCCEEDED(ReadRecord(handle_type, handle, i, &record))) break;
    records.push_back(std::move(record));
  }
  return records;
}

std::string DescribeOleDbError(SQLSMALLINT handle_type, SQLHANDLE handle) {
  if (handle == SQL_NULL_HANDLE) return std::string(kUnknownError);
  ProviderDiagnostic record;
  SQLRETURN rc = ReadRecord(handle_type, handle, 1, &record);
  if (rc == SQL_NO_DATA) return std::string(kUnknownError);
  if (!SQL_SUCCEEDED(rc)) return std::string();
  return record.message;
}

Status OdbcFailure(SQLSMALLINT handle_type, SQLHANDLE handle) {
  return Status::IOError(DescribeOleDbError(handle_type, handle));
}

}  // namespace velquin
