// Values in query expressions as Jet treats them: which kinds are numbers,
// a value read as a number, comparison (numbers and dates by value, text
// without regard to case), LIKE with Jet's wildcards, and a value taken as
// a truth value.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "jet/table/value.h"

namespace velquin::jet::sql {

// Booleans, whole and fractional numbers, currency, decimals and dates.
bool IsNumeric(const Value& v);

// A numeric value (or text holding a number) as a double; True is -1.
double ToDouble(const Value& v);

// A number written in SQL ("12", "-1.5E3") as a double; false if it is not one.
bool ParseNumber(std::string_view text, double* out);

// Compares two non-null values as Jet does: numbers and dates by value, text
// without regard to case. nullopt when they cannot be compared.
std::optional<int> CompareValues(const Value& a, const Value& b);

// Access's LIKE: * any run, ? one character, # one digit, [list] one of,
// [!list] none of, [a-z] a range in the sort order. Characters are Unicode
// characters; a letter matches itself in either case (é LIKE 'É').
bool LikeMatch(std::string_view text, std::string_view pattern);

// A value as a condition: nullopt for NULL and for text that is no number
// nor "true"/"false".
std::optional<bool> AsTruth(const Value& v);

// The key of a text in Access's General sort order, the weights its text
// index keys encode (without regard to case, trailing spaces ignored,
// accents significant). Unlike an index key it covers the whole text: past
// the 255 characters an index keeps, further pieces follow.
std::string TextSortKey(std::string_view utf8);

// Orders two values as ORDER BY does: NULL first, then CompareValues (text
// by TextSortKey); values that cannot be compared keep their order (0).
int CompareForSort(const Value& a, const Value& b);

// Appends a form of `v` that is the same for values that compare equal
// (text by TextSortKey, numbers and dates by value); NULL has a form of its
// own, so NULLs group together. For GROUP BY, DISTINCT and hash joins.
void AppendGroupKey(const Value& v, std::string* out);

// The column type that holds a value of this kind (text as MEMO).
ColumnType TypeOfValue(const Value& v);

}  // namespace velquin::jet::sql
