// Date and time values written as text: the inside of a #...# literal, or a
// quoted text given for a DATETIME column ('2024-01-31 10:20:30').
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/status.h"

namespace velquin::jet::sql {

// A calendar date and time of day, to the millisecond. A value written as a
// time only lies on 1899-12-30, the day Jet counts from (as Access does).
struct DateTimeValue {
  int year = 1899;
  int month = 12;
  int day = 30;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;

  bool operator==(const DateTimeValue&) const = default;

  // Jet's stored form: days since 1899-12-30 as a double; for days before it
  // the whole part is negative and the time of day is still added as a
  // positive fraction's magnitude (-1.25 is 1899-12-29 06:00).
  double ToJetDays() const;

  // "2024-01-31 10:20:30" (".123" appended when there are milliseconds;
  // the time part is left out when it is midnight).
  std::string ToIsoText() const;
};

// Reads the forms Jet and MySQL produce:
//   yyyy-mm-dd or yyyy/mm/dd, optionally followed by a blank or "T" and a time
//   m/d/yyyy (the US order of Jet's #...# literals), optionally with a time
//   a time alone: h:mm[:ss[.fff]] with optional AM/PM
// Seconds' fractions are truncated to milliseconds, never rounded (so
// 9999-12-31 23:59:59.999999 stays in year 9999). Years run from 100 to 9999.
// Leading and trailing blanks are allowed. An invalid text is refused with a
// message naming what is wrong.
Result<DateTimeValue> ParseDateTimeText(std::string_view text);

}  // namespace velquin::jet::sql
