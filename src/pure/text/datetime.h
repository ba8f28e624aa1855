// Reading and writing dates and times as text.
//
// Readers: RFC 3339 timestamps with an offset (converted to UTC) and a few
// fixed strftime-style patterns. Writers: the ISO forms used in serialized
// output. Nothing here allocates while parsing, and nothing touches Python,
// so all of it may run on worker threads.
//
// How a failing read picks its error (the first problem met, left to right):
//   - the input ends where more is required          -> TooShort
//   - a character that does not fit (a literal that differs, a non-digit
//     where a digit is required)                       -> Invalid
//   - a field outside its own range (month 13, day 32, hour 24, minute 60,
//     second 61, offset beyond 23:59, year beyond 32 bits) -> OutOfRange
//   - characters left once everything was read        -> TooLong
//   - every field in range but no such date (February 30, April 31,
//     February 29 of a common year)                   -> Impossible
//   - the pattern has no date (or no time) but one was asked for -> NotEnough
//   - a value with an offset whose UTC instant leaves the years 1 to 9999
//     the interpreter's datetime holds                  -> InstantOutOfRange
//
// Leap seconds: second 60 is accepted (RFC 3339 allows it) and held as the
// last nanosecond of second 59 of that minute, since the value types (like
// Python's) cannot hold a 61st second. Ordering is kept: 23:59:60.2 still
// reads later than 23:59:59.8.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "pure/common/buffer.h"
#include "pure/common/expected.h"
#include "pure/model/values.h"

namespace zembra::text {

enum class DateTimeError : std::uint8_t {
  OutOfRange,
  Impossible,
  NotEnough,
  Invalid,
  TooShort,
  TooLong,
  BadFormat,
  InstantOutOfRange,
};

std::string_view message(DateTimeError error);

// ---- Calendar -------------------------------------------------------------

// Proleptic Gregorian rules, valid for every 32-bit year (year 0 is a leap year).
constexpr bool is_leap_year(std::int32_t year) {
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

// 28..31 for month 1..12; 0 for any other month.
constexpr std::uint8_t days_in_month(std::int32_t year, std::uint8_t month) {
  constexpr std::uint8_t kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  if (month == 2 && is_leap_year(year)) return 29;
  return kDays[month - 1];
}

// ---- Readers --------------------------------------------------------------

// YYYY-MM-DD, T/t/space, hh:mm:ss, optional "." and 1..9 fraction digits
// (further digits read and ignored), then Z/z or +hh:mm / -hh:mm. Fields have
// exactly the widths shown. The result is the UTC wall time; the offset is
// applied across day, month and year boundaries and then dropped.
Expected<DateTime, DateTimeError> parse_rfc3339(std::string_view text);

// The UTC instant of a wall time with an offset east of UTC in microseconds
// (|offset| below one day). The instant must lie in the years 1 to 9999,
// the range of the interpreter's datetime; else InstantOutOfRange.
Expected<DateTime, DateTimeError> wall_time_to_utc(const DateTime& wall, std::int64_t offset_micros);

// The text the interpreter's datetime.isoformat() writes for an aware value,
// read as its UTC instant: parse_rfc3339's grammar, where the offset may also
// carry seconds and a fraction (+hh:mm:ss, +hh:mm:ss.ffffff; Z still
// allowed), converted with wall_time_to_utc.
Expected<DateTime, DateTimeError> parse_isoformat_instant(std::string_view text);

// The fixed patterns the readers accept. "%Y" is up to four digits or a sign
// followed by any number of digits; "%m" "%d" "%H" "%M" "%S" are one or two
// digits; "%.f" is optional: "." and 1..9 digits, further digits read and
// ignored. Literal characters must match exactly; nothing may follow.
enum class DateTimePattern : std::uint8_t {
  Date,          // %Y-%m-%d
  TimeFrac,      // %H:%M:%S%.f
  Time,          // %H:%M:%S
  DateTimeFrac,  // %Y-%m-%dT%H:%M:%S%.f
  DateTime,      // %Y-%m-%dT%H:%M:%S
};

// The whole text is read against the pattern first (its errors win); then a
// pattern without the needed date or time part gives NotEnough.
Expected<Date, DateTimeError> parse_date(std::string_view text, DateTimePattern pattern);
Expected<Time, DateTimeError> parse_time(std::string_view text, DateTimePattern pattern);
Expected<DateTime, DateTimeError> parse_datetime(std::string_view text, DateTimePattern pattern);

// ---- Writers --------------------------------------------------------------
//
// Fields are expected in range (month 1..12, day 1..31, seconds < 86400,
// nanos < 10^9). Out-of-range fields are wrapped, never widened, so the stated
// maximum size always holds.

// "%Y-%m-%d". Years 0..9999 take four digits; other years are written with a
// sign and at least four digits (-0001-12-31, +10000-01-01), the form the "%Y"
// reader takes back. At most 17 characters.
inline constexpr std::size_t kMaxDateText = 17;
void format_date(const Date& date, Buffer& out);

// "hh:mm:ss" then the fraction: none when nanos is zero, else "." and 3
// digits for whole milliseconds, 6 for whole microseconds, 9 otherwise.
// At most 18 characters.
inline constexpr std::size_t kMaxTimeText = 18;
void format_time(const Time& time, Buffer& out);

// Date "T" time "+00:00": the naive value written as UTC (never "Z").
// At most 42 characters.
inline constexpr std::size_t kMaxDateTimeText = kMaxDateText + 1 + kMaxTimeText + 6;
void format_datetime_utc(const DateTime& datetime, Buffer& out);

// The interpreter's datetime.isoformat() of a wall time in the years 0 to
// 9999: date "T" hh:mm:ss, ".ffffff" only when the microseconds are not zero
// (nanoseconds below a microsecond are dropped), then the offset when there
// is one: +hh:mm (or -), with ":ss" when it has seconds and ".ffffff" when it
// has microseconds. |offset| must be below one day. At most 47 characters.
inline constexpr std::size_t kMaxIsoformatText = 47;
void format_isoformat(const DateTime& wall, std::optional<std::int64_t> offset_micros, Buffer& out);

}  // namespace zembra::text
