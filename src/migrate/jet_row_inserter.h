// The row copy's fast path into our Jet engine: converted values become
// jet::Value by the target column's type and go straight to the engine's
// bulk writer (JetSession::BulkAppend: the same checks as INSERT INTO, NOT
// NULL, unique keys, sizes; indexes kept up to date; rows committed in
// groups), with no SQL text parsed per row.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/status.h"
#include "db/jet_session.h"
#include "migrate/row_copy.h"

namespace velquin {

// The Access value of one converted value for a column; an error says why
// the column cannot hold it (too long, out of range, ...).
Result<jet::Value> ToJetValue(const TargetValue& value, const jet::ColumnInfo& column);

// A RowInserterFactory for JetSession targets; other sessions get
// NotSupported (the row copy then runs the statements).
RowInserterFactory JetRowInserterFactory();

}  // namespace velquin
