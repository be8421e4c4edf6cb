// Provider error descriptions from ODBC diagnostic records.
#pragma once

#include <sql.h>

#include <string>
#include <vector>

#include "base/status.h"
#include "db/provider_error.h"

namespace velquin {

// All diagnostic records of a handle, in the driver's order.
std::vector<ProviderDiagnostic> ReadDiagnostics(SQLSMALLINT handle_type, SQLHANDLE handle);

// The description of the last failure on `handle`: the first record's message
// (whatever the record count), "Unknown Error!" when there is no record, the
// empty text when the first record cannot be read.
std::string DescribeOleDbError(SQLSMALLINT handle_type, SQLHANDLE handle);

// A failed Status whose message is DescribeOleDbError(handle_type, handle).
Status OdbcFailure(SQLSMALLINT handle_type, SQLHANDLE handle);

}  // namespace velquin
