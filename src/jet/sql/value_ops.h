// Values in query expressions as Jet treats them: which kinds are numbers,
// a value read as a number, comparison (numbers and dates by value, text
// without regard to case), LIKE with Jet's wildcards, and a value taken as
// a truth value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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

// Numbers the distinct keys made by AppendGroupKey in the order they are
// first met: one arena of key bytes and an open-addressing table of key
// numbers, without a node per key (GROUP BY, DISTINCT and hash joins over
// hundreds of thousands of keys).
class KeyIndex {
 public:
  // The number of `key`, and whether it was added now (numbers count up
  // from 0).
  std::pair<std::size_t, bool> FindOrAdd(std::string_view key);
  // The number of `key`, or nullopt when it was never added.
  std::optional<std::size_t> Find(std::string_view key) const;
  std::size_t size() const { return count_; }
  // Room for `keys` keys without growing the table (and, for keys as long
  // as the first one, the arena).
  void Reserve(std::size_t keys);
  // Forgets every key and gives back the memory.
  void Clear();

 private:
  static constexpr std::size_t kVarying = static_cast<std::size_t>(-1);
  std::size_t Slot(std::string_view key, std::uint64_t hash) const;
  std::string_view Key(std::size_t n) const {
    if (width_ != kVarying) return std::string_view(arena_).substr(n * width_, width_);
    return std::string_view(arena_).substr(starts_[n], starts_[n + 1] - starts_[n]);
  }
  // A table of `slots` slots (a power of two) holding every key so far.
  void Rehash(std::size_t slots);
  // A slot: the hash's upper half, then key number + 1 (0: empty).
  static std::uint64_t SlotValue(std::uint64_t hash, std::size_t n) {
    return (hash >> 32 << 32) | static_cast<std::uint32_t>(n + 1);
  }

  std::string arena_;  // every key's bytes, one after another
  std::size_t count_ = 0;
  // The length of every key while they all have one length (keys of plain
  // numbers and dates), else kVarying and key n is arena_[starts_[n],
  // starts_[n + 1]).
  std::size_t width_ = 0;
  std::vector<std::size_t> starts_;
  std::size_t reserved_ = 0;          // the keys Reserve made room for
  std::vector<std::uint64_t> slots_;  // at most three quarters full; 0: empty, else SlotValue
};

// The column type that holds a value of this kind (text as MEMO).
ColumnType TypeOfValue(const Value& v);

}  // namespace velquin::jet::sql
