// Dates, times, datetimes and durations read the way Django REST framework's
// fields read them with their default ISO 8601 input format:
//
//   date      django.utils.dateparse.parse_date: date.fromisoformat() (every
//             form the interpreter takes: 2024-05-01, 20240501, 2024-W18,
//             2024-W18-3, ...), else the pattern YYYY-M-D with digits of any
//             script;
//   time      parse_time: time.fromisoformat() with any offset dropped, else
//             H:M[:S[.f]];
//   datetime  parse_datetime: datetime.fromisoformat(), else
//             YYYY-M-D[T ]H:M[:S[.f]][ ][Z|+HH[[:]MM]]; and, as the framework
//             falls back to strptime() with its format name, the text
//             "iso-8601" itself (any case) is 1900-01-01 00:00;
//   duration  parse_duration: "[-]D [days, ][-][[H:]M:]S[.f]", ISO 8601
//             "P..W..DT..H..M..S" and PostgreSQL's "D days HH:MM:SS[.f]", with
//             the interpreter's float arithmetic for fractions.
//
// Texts hold code points as UTF-8 (lone surrogates as three-byte sequences).
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace zembra::input {

struct CivilDate {
  int year = 1, month = 1, day = 1;
};

struct WallTime {
  int hour = 0, minute = 0, second = 0, microsecond = 0;
};

struct CivilDateTime {
  CivilDate date;
  WallTime time;
  bool aware = false;
  std::int64_t offset_us = 0;  // aware: local time minus UTC
};

struct Duration {
  std::int64_t days = 0;
  std::int64_t seconds = 0;       // 0..86399
  std::int64_t microseconds = 0;  // 0..999999
};

std::optional<CivilDate> read_date(std::string_view text, bool has_surrogate);
std::optional<WallTime> read_time(std::string_view text, bool has_surrogate);
std::optional<CivilDateTime> read_datetime(std::string_view text, bool has_surrogate);

enum class DurationRead : std::uint8_t { Ok, Invalid, Overflow };
DurationRead read_duration(std::string_view text, Duration& out);

// Days since 0001-01-01 (which is day 1), proleptic Gregorian.
std::int64_t ordinal_of(const CivilDate& date);
CivilDate date_of_ordinal(std::int64_t ordinal);
bool valid_date(int year, int month, int day);

// The aware value's UTC wall time; false when it leaves years 1..9999.
bool to_utc(const CivilDateTime& in, CivilDateTime& out);
// A UTC wall time shown at a fixed offset; false when out of range.
bool from_utc(const CivilDateTime& utc, std::int64_t offset_us, CivilDateTime& out);

}  // namespace zembra::input
