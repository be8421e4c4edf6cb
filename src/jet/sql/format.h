// Syntax tree back to text. The text parses back into the same tree
// (ParseStatement(FormatStatement(s)) == s), which the tests and the fuzzer
// check.
#pragma once

#include <string>
#include <string_view>

#include "jet/sql/ast.h"

namespace velquin::jet::sql {

enum class ExprStyle : uint8_t {
  kSql,     // 'text', keywords in capitals: the normalized form of statements
  kAccess,  // "text", And/Or/Is Not Null/Like: how Access writes a saved query
};

// A name as written in a statement: bare when it is a plain ASCII word that
// is not reserved, otherwise in [brackets] (or `back quotes` when it holds
// '[' or ']').
std::string FormatName(std::string_view name);

std::string FormatExpression(const Expr& expr, ExprStyle style = ExprStyle::kSql);

// The canonical Jet name of a type: LONG, TEXT(20), CHAR(5), DECIMAL(10, 2),
// COUNTER(5, 2), ...
std::string FormatType(const TypeSpec& type);

std::string FormatFromItem(const FromItem& item, ExprStyle style = ExprStyle::kSql);
std::string FormatSelect(const Select& select, ExprStyle style = ExprStyle::kSql);

// The normalized form of a statement: one line, keywords in capitals, names
// quoted only where needed, column constraints written as table constraints.
std::string FormatStatement(const Statement& statement);

}  // namespace velquin::jet::sql
