#include "pure/text/datetime.h"

#include <cstring>

namespace zembra::text {

std::string_view message(DateTimeError error) {
  switch (error) {
    case DateTimeError::OutOfRange: return "input is out of range";
    case DateTimeError::Impossible: return "no possible date and time matching input";
    case DateTimeError::NotEnough: return "input is not enough for unique date and time";
    case DateTimeError::Invalid: return "input contains invalid characters";
    case DateTimeError::TooShort: return "premature end of input";
    case DateTimeError::TooLong: return "trailing input";
    case DateTimeError::BadFormat: return "bad or unsupported format string";
    case DateTimeError::InstantOutOfRange: return "instant is out of range (outside years 1 to 9999 in UTC)";
  }
  return "bad or unsupported format string";
}

namespace {

using E = DateTimeError;

constexpr std::uint32_t kSecondsPerDay = 86400;
constexpr std::uint32_t kPow10[10] = {1,      10,      100,      1000,      10000,
                                      100000, 1000000, 10000000, 100000000, 1000000000};

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Reads left to right over the text. The first problem met is kept and every
// later step does nothing, so a reader is a straight sequence of steps with
// one check at the end (cheaper than branching on a result per field).
class Cursor {
 public:
  explicit Cursor(std::string_view text) : p_(text.data()), end_(text.data() + text.size()) {}

  bool failed() const { return error_set_; }
  E error() const { return error_; }

  void literal(char c) {
    if (error_set_) return;
    if (p_ == end_) return set(E::TooShort);
    if (*p_ != c) return set(E::Invalid);
    ++p_;
  }

  // The RFC 3339 date/time separator: T, t or a space.
  void separator() {
    if (error_set_) return;
    if (p_ == end_) return set(E::TooShort);
    if (*p_ != 'T' && *p_ != 't' && *p_ != ' ') return set(E::Invalid);
    ++p_;
  }

  // min..max decimal digits (max <= 9, so no overflow).
  std::uint32_t digits(int min, int max) {
    if (error_set_) return 0;
    std::uint32_t value = 0;
    for (int n = 0; n < max; ++n, ++p_) {
      if (p_ == end_ || !is_digit(*p_)) {
        if (n < min) set(p_ == end_ ? E::TooShort : E::Invalid);
        return value;
      }
      value = value * 10 + std::uint32_t(*p_ - '0');
    }
    return value;
  }

  // digits(min, max) that must also lie in lo..hi.
  std::uint8_t field(int min, int max, std::uint32_t lo, std::uint32_t hi) {
    const std::uint32_t value = digits(min, max);
    if (!error_set_ && (value < lo || value > hi)) set(E::OutOfRange);
    return std::uint8_t(value);
  }

  // "." then 1..9 digits scaled to nanoseconds; later digits are skipped.
  // Absent (no ".") reads as zero.
  std::uint32_t fraction() {
    if (error_set_ || p_ == end_ || *p_ != '.') return 0;
    ++p_;
    const char* start = p_;
    const std::uint32_t value = digits(1, 9);
    if (error_set_) return 0;
    const std::uint32_t nanos = value * kPow10[9 - (p_ - start)];
    while (p_ != end_ && is_digit(*p_)) ++p_;
    return nanos;
  }

  // Up to four digits, or a sign and any number of digits; must fit 32 bits.
  std::int32_t year() {
    if (error_set_) return 0;
    if (p_ == end_) return set(E::TooShort), 0;
    if (*p_ != '+' && *p_ != '-') return std::int32_t(digits(1, 4));
    const bool negative = *p_ == '-';
    ++p_;
    const std::int64_t limit = negative ? std::int64_t(1) << 31 : (std::int64_t(1) << 31) - 1;
    std::int64_t value = 0;
    int n = 0;
    for (; p_ != end_ && is_digit(*p_); ++p_, ++n) {
      value = value * 10 + (*p_ - '0');
      if (value > limit) return set(E::OutOfRange), 0;
    }
    if (n == 0) return set(p_ == end_ ? E::TooShort : E::Invalid), 0;
    return std::int32_t(negative ? -value : value);
  }

  // Offset in seconds east of UTC: Z/z, or a sign, two-digit hours (<= 23),
  // ":" and two-digit minutes (<= 59).
  std::int32_t offset() {
    if (error_set_) return 0;
    if (p_ == end_) return set(E::TooShort), 0;
    const char sign = *p_;
    if (sign == 'Z' || sign == 'z') return ++p_, 0;
    if (sign != '+' && sign != '-') return set(E::Invalid), 0;
    ++p_;
    const std::uint32_t hours = digits(2, 2);
    literal(':');
    const std::uint32_t minutes = digits(2, 2);
    if (error_set_) return 0;
    if (hours > 23 || minutes > 59) return set(E::OutOfRange), 0;
    const std::int32_t seconds = std::int32_t(hours * 3600 + minutes * 60);
    return sign == '-' ? -seconds : seconds;
  }

  // offset(), where "+hh:mm" may go on with ":ss" (<= 59) and then "." and
  // 1..6 fraction digits, as the interpreter writes offsets that are not
  // whole minutes. In microseconds east of UTC.
  std::int64_t long_offset() {
    if (error_set_) return 0;
    if (p_ == end_ || (*p_ != '+' && *p_ != '-')) return std::int64_t(offset()) * 1'000'000;
    const bool negative = *p_ == '-';
    std::int64_t micros = std::int64_t(offset()) * 1'000'000;
    if (error_set_ || p_ == end_ || *p_ != ':') return micros;
    ++p_;
    const std::uint32_t seconds = digits(2, 2);
    std::uint32_t fraction = 0;
    if (!error_set_ && p_ != end_ && *p_ == '.') {
      ++p_;
      const char* start = p_;
      fraction = digits(1, 6);
      fraction *= kPow10[6 - (p_ - start)];
    }
    if (error_set_) return 0;
    if (seconds > 59) return set(E::OutOfRange), 0;
    const std::int64_t extra = std::int64_t(seconds) * 1'000'000 + fraction;
    return negative ? micros - extra : micros + extra;
  }

  // Nothing may follow what was read.
  void finish() {
    if (!error_set_ && p_ != end_) set(E::TooLong);
  }

 private:
  void set(E error) {
    error_ = error;
    error_set_ = true;
  }

  const char* p_;
  const char* end_;
  E error_ = E::Invalid;
  bool error_set_ = false;
};

// Fields as read, before they are combined into a value.
struct Fields {
  Date date;
  std::uint8_t hour = 0, minute = 0, second = 0;
  std::uint32_t nanos = 0;
  bool has_date = false;
  bool has_time = false;
};

bool day_exists(const Date& date) { return date.day <= days_in_month(date.year, date.month); }

// A leap second is held as the last instant of second 59 (see the header).
Time make_time(const Fields& f) {
  if (f.second == 60) return {f.hour * 3600u + f.minute * 60u + 59u, 999'999'999u};
  return {f.hour * 3600u + f.minute * 60u + f.second, f.nanos};
}

// Each pattern as a string of field codes (Y m d H M S, f for "%.f") and
// literal characters.
std::string_view pattern_items(DateTimePattern pattern) {
  switch (pattern) {
    case DateTimePattern::Date: return "Y-m-d";
    case DateTimePattern::TimeFrac: return "H:M:Sf";
    case DateTimePattern::Time: return "H:M:S";
    case DateTimePattern::DateTimeFrac: return "Y-m-dTH:M:Sf";
    case DateTimePattern::DateTime: return "Y-m-dTH:M:S";
  }
  return {};
}

// Reads the whole text against the pattern; on failure returns false and
// sets `error`.
bool read_pattern(std::string_view text, DateTimePattern pattern, Fields& f, E& error) {
  const std::string_view items = pattern_items(pattern);
  if (items.empty()) {
    error = E::BadFormat;
    return false;
  }
  Cursor in(text);
  for (char item : items) {
    switch (item) {
      case 'Y': f.date.year = in.year(), f.has_date = true; break;
      case 'm': f.date.month = in.field(1, 2, 1, 12); break;
      case 'd': f.date.day = in.field(1, 2, 1, 31); break;
      case 'H': f.hour = in.field(1, 2, 0, 23), f.has_time = true; break;
      case 'M': f.minute = in.field(1, 2, 0, 59); break;
      case 'S': f.second = in.field(1, 2, 0, 60); break;
      case 'f': f.nanos = in.fraction(); break;
      default: in.literal(item);
    }
  }
  in.finish();
  error = in.error();
  return !in.failed();
}

// The date, then the time: the first part missing or impossible decides.
bool complete(const Fields& f, bool want_date, bool want_time, E& error) {
  if (want_date && !f.has_date) {
    error = E::NotEnough;
  } else if (want_date && !day_exists(f.date)) {
    error = E::Impossible;
  } else if (want_time && !f.has_time) {
    error = E::NotEnough;
  } else {
    return true;
  }
  return false;
}

void previous_day(Date& d) {
  if (--d.day > 0) return;
  if (--d.month == 0) {
    d.month = 12;
    --d.year;
  }
  d.day = days_in_month(d.year, d.month);
}

void next_day(Date& d) {
  if (++d.day <= days_in_month(d.year, d.month)) return;
  d.day = 1;
  if (++d.month == 13) {
    d.month = 1;
    ++d.year;
  }
}

}  // namespace

Expected<Date, E> parse_date(std::string_view text, DateTimePattern pattern) {
  Fields f;
  E error = E::Invalid;
  if (!read_pattern(text, pattern, f, error) || !complete(f, true, false, error)) return fail(error);
  return f.date;
}

Expected<Time, E> parse_time(std::string_view text, DateTimePattern pattern) {
  Fields f;
  E error = E::Invalid;
  if (!read_pattern(text, pattern, f, error) || !complete(f, false, true, error)) return fail(error);
  return make_time(f);
}

Expected<DateTime, E> parse_datetime(std::string_view text, DateTimePattern pattern) {
  Fields f;
  E error = E::Invalid;
  if (!read_pattern(text, pattern, f, error) || !complete(f, true, true, error)) return fail(error);
  return DateTime{f.date, make_time(f)};
}

namespace {

// The fields of an RFC 3339 timestamp up to its offset; with long_offsets,
// the offset may carry seconds and a fraction (see Cursor::long_offset).
struct OffsetFields {
  DateTime wall;
  std::int64_t offset_micros = 0;
};

Expected<OffsetFields, E> read_offset_datetime(std::string_view text, bool long_offsets) {
  Cursor in(text);
  Fields f;
  f.date.year = std::int32_t(in.digits(4, 4));
  in.literal('-');
  f.date.month = in.field(2, 2, 1, 12);
  in.literal('-');
  f.date.day = in.field(2, 2, 1, 31);
  in.separator();
  f.hour = in.field(2, 2, 0, 23);
  in.literal(':');
  f.minute = in.field(2, 2, 0, 59);
  in.literal(':');
  f.second = in.field(2, 2, 0, 60);
  f.nanos = in.fraction();
  const std::int64_t offset = long_offsets ? in.long_offset() : std::int64_t(in.offset()) * 1'000'000;
  in.finish();
  if (in.failed()) return fail(in.error());
  if (!day_exists(f.date)) return fail(E::Impossible);
  return OffsetFields{DateTime{f.date, make_time(f)}, offset};
}

// wall - offset, for |offset| below one day: at most one day boundary is
// crossed.
DateTime shift_to_utc(DateTime result, std::int64_t offset_micros) {
  // Whole seconds rounded down, the rest taken from the nanoseconds.
  std::int64_t offset_seconds = offset_micros / 1'000'000;
  std::int64_t rest = offset_micros % 1'000'000;
  if (rest < 0) {
    rest += 1'000'000;
    --offset_seconds;
  }
  std::int64_t nanos = std::int64_t(result.time.nanos) - rest * 1000;
  std::int64_t utc = std::int64_t(result.time.seconds) - offset_seconds;
  if (nanos < 0) {
    nanos += kPow10[9];
    --utc;
  }
  if (utc < 0) {
    utc += kSecondsPerDay;
    previous_day(result.date);
  } else if (utc >= std::int64_t(kSecondsPerDay)) {
    utc -= kSecondsPerDay;
    next_day(result.date);
  }
  result.time = Time{std::uint32_t(utc), std::uint32_t(nanos)};
  return result;
}

}  // namespace

Expected<DateTime, E> parse_rfc3339(std::string_view text) {
  auto read = read_offset_datetime(text, false);
  if (!read) return fail(read.error());
  return shift_to_utc(read->wall, read->offset_micros);
}

Expected<DateTime, E> wall_time_to_utc(const DateTime& wall, std::int64_t offset_micros) {
  DateTime utc = offset_micros == 0 ? wall : shift_to_utc(wall, offset_micros);
  if (utc.date.year < 1 || utc.date.year > 9999) return fail(E::InstantOutOfRange);
  return utc;
}

Expected<DateTime, E> parse_isoformat_instant(std::string_view text) {
  auto read = read_offset_datetime(text, true);
  if (!read) return fail(read.error());
  return wall_time_to_utc(read->wall, read->offset_micros);
}

// ---- Writers --------------------------------------------------------------

namespace {

constexpr char kTwoDigits[] =
    "0001020304050607080910111213141516171819"
    "2021222324252627282930313233343536373839"
    "4041424344454647484950515253545556575859"
    "6061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

char* put2(char* p, std::uint32_t v) {
  std::memcpy(p, kTwoDigits + 2 * (v % 100), 2);
  return p + 2;
}

// Any width: years outside 0..9999 are rare, so a plain loop is fine here.
char* put_padded(char* p, std::uint32_t v, int width) {
  char tmp[10];
  int n = 0;
  do {
    tmp[n++] = char('0' + v % 10);
    v /= 10;
  } while (v != 0);
  while (n < width) tmp[n++] = '0';
  while (n > 0) *p++ = tmp[--n];
  return p;
}

char* put_date(char* p, const Date& d) {
  if (d.year >= 0 && d.year <= 9999) {
    p = put2(put2(p, std::uint32_t(d.year) / 100), std::uint32_t(d.year));
  } else {
    *p++ = d.year < 0 ? '-' : '+';
    const std::int64_t y = d.year;
    p = put_padded(p, std::uint32_t(y < 0 ? -y : y), 4);
  }
  *p++ = '-';
  p = put2(p, d.month);
  *p++ = '-';
  return put2(p, d.day);
}

char* put_time(char* p, const Time& t) {
  const std::uint32_t seconds = t.seconds % kSecondsPerDay;
  p = put2(p, seconds / 3600);
  *p++ = ':';
  p = put2(p, seconds / 60 % 60);
  *p++ = ':';
  p = put2(p, seconds % 60);
  const std::uint32_t nanos = t.nanos % kPow10[9];
  if (nanos == 0) return p;
  *p++ = '.';
  if (nanos % 1'000'000 == 0) {
    const std::uint32_t ms = nanos / 1'000'000;
    *p++ = char('0' + ms / 100);
    return put2(p, ms);
  }
  if (nanos % 1'000 == 0) {
    const std::uint32_t us = nanos / 1'000;
    return put2(put2(put2(p, us / 10000), us / 100), us);
  }
  *p++ = char('0' + nanos / 100'000'000);
  return put2(put2(put2(put2(p, nanos / 1'000'000), nanos / 10'000), nanos / 100), nanos);
}

}  // namespace

void format_date(const Date& date, Buffer& out) {
  char* start = out.reserve(kMaxDateText);
  out.commit(std::size_t(put_date(start, date) - start));
}

void format_time(const Time& time, Buffer& out) {
  char* start = out.reserve(kMaxTimeText);
  out.commit(std::size_t(put_time(start, time) - start));
}

void format_isoformat(const DateTime& wall, std::optional<std::int64_t> offset_micros, Buffer& out) {
  char* start = out.reserve(kMaxIsoformatText);
  Date date = wall.date;
  date.year = date.year < 0 || date.year > 9999 ? 0 : date.year;  // wrapped, never widened
  char* p = put_date(start, date);
  *p++ = 'T';
  const std::uint32_t seconds = wall.time.seconds % kSecondsPerDay;
  p = put2(p, seconds / 3600);
  *p++ = ':';
  p = put2(p, seconds / 60 % 60);
  *p++ = ':';
  p = put2(p, seconds % 60);
  const std::uint32_t micros = wall.time.nanos % kPow10[9] / 1000;
  if (micros != 0) {
    *p++ = '.';
    p = put2(put2(put2(p, micros / 10000), micros / 100), micros);
  }
  if (offset_micros) {
    std::int64_t v = *offset_micros;
    *p++ = v < 0 ? '-' : '+';
    const std::uint64_t magnitude = std::uint64_t(v < 0 ? -v : v) % (std::uint64_t(kSecondsPerDay) * 1'000'000);
    const std::uint32_t whole = std::uint32_t(magnitude / 1'000'000);
    const std::uint32_t fraction = std::uint32_t(magnitude % 1'000'000);
    p = put2(p, whole / 3600);
    *p++ = ':';
    p = put2(p, whole / 60 % 60);
    if (whole % 60 != 0 || fraction != 0) {
      *p++ = ':';
      p = put2(p, whole % 60);
    }
    if (fraction != 0) {
      *p++ = '.';
      p = put2(put2(put2(p, fraction / 10000), fraction / 100), fraction);
    }
  }
  out.commit(std::size_t(p - start));
}

void format_datetime_utc(const DateTime& datetime, Buffer& out) {
  char* start = out.reserve(kMaxDateTimeText);
  char* p = put_date(start, datetime.date);
  *p++ = 'T';
  p = put_time(p, datetime.time);
  std::memcpy(p, "+00:00", 6);
  out.commit(std::size_t(p + 6 - start));
}

}  // namespace zembra::text
