// Quoting of names and values for MySQL statements and ODBC connection strings.
//
// Every name put into a statement goes through QuoteIdentifier and every text
// value through QuoteMySqlString, so that names with a space, a dot, a quote
// or a back quote, and values with quotes or backslashes, keep their meaning.
#pragma once

#include <string>
#include <string_view>

namespace velquin {

// `name` in back quotes, a back quote inside doubled: a`b -> `a``b`.
std::string QuoteIdentifier(std::string_view name);

// `database`.`table`, or just `table` when the database is empty.
std::string QuoteQualifiedName(std::string_view database, std::string_view table);

// 'text' as a MySQL string literal. With backslash escapes (the server's
// default) the quote, the backslash, NUL, line feed, carriage return and
// Ctrl-Z are escaped with a backslash; with the sql_mode flag
// NO_BACKSLASH_ESCAPES only the quote is doubled.
std::string QuoteMySqlString(std::string_view text, bool no_backslash_escapes = false);

// X'616263': bytes as a MySQL hexadecimal literal (any bytes, any sql_mode).
std::string HexLiteral(std::string_view bytes);

// A value for an ODBC connection string ("KEY=value;"). Values holding
// ';', '{', '}', '=' or blanks at either end are put in braces with '}'
// doubled, so a password like "a;b" cannot add attributes.
std::string QuoteConnectionValue(std::string_view value);

// Expands %NAME% references from the environment (an unset variable gives
// the empty text). A lone '%' is kept. Substituted values are not expanded
// again, so a value holding '%' cannot make the expansion loop.
std::string ExpandEnvironmentReferences(std::string_view text);

}  // namespace velquin
