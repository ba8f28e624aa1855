#include "text/datetime.h"

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
  }
  return "bad or unsupported format string";
}

namespace {

using E = DateTimeError;

constexpr std::uint32_t kSecondsPerDay = 86400;
constexpr std::uint32_t kPow10[10] = {1,      10,      100,      1000,      10000,
                                      100000, 1000000, 10000000, 100000000, 1000000000};

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Reads left to right over the text; each step reports the first problem met.
class Cursor {
 public:
  explicit Cursor(std::string_view text) : p_(text.data()), end_(text.data() + text.size()) {}

  bool at_end() const { return p_ == end_; }
  char peek() const { return *p_; }
  void skip() { ++p_; }

  Expected<void, E> literal(char c) {
    if (at_end()) return fail(E::TooShort);
    if (*p_ != c) return fail(E::Invalid);
    ++p_;
    return {};
  }

  // min..max decimal digits (max <= 9, so no overflow).
  Expected<std::uint32_t, E> digits(int min, int max) {
    std::uint32_t value = 0;
    for (int n = 0; n < max; ++n, ++p_) {
      if (at_end() || !is_digit(*p_)) {
        if (n >= min) return value;
        return fail(at_end() ? E::TooShort : E::Invalid);
      }
      value = value * 10 + std::uint32_t(*p_ - '0');
    }
    return value;
  }

  // digits(min, max) that must also lie in lo..hi.
  Expected<std::uint8_t, E> field(int min, int max, std::uint32_t lo, std::uint32_t hi) {
    ZB_TRY(std::uint32_t value, digits(min, max));
    if (value < lo || value > hi) return fail(E::OutOfRange);
    return std::uint8_t(value);
  }

  // "." then 1..9 digits scaled to nanoseconds; later digits are skipped.
  // Absent (no ".") reads as zero.
  Expected<std::uint32_t, E> fraction() {
    if (at_end() || *p_ != '.') return 0u;
    ++p_;
    const char* start = p_;
    ZB_TRY(std::uint32_t value, digits(1, 9));
    std::uint32_t nanos = value * kPow10[9 - (p_ - start)];
    while (!at_end() && is_digit(*p_)) ++p_;
    return nanos;
  }

  // Up to four digits, or a sign and any number of digits; must fit 32 bits.
  Expected<std::int32_t, E> year() {
    if (at_end()) return fail(E::TooShort);
    if (*p_ != '+' && *p_ != '-') {
      ZB_TRY(std::uint32_t value, digits(1, 4));
      return std::int32_t(value);
    }
    const bool negative = *p_ == '-';
    ++p_;
    const std::int64_t limit = negative ? std::int64_t(1) << 31 : (std::int64_t(1) << 31) - 1;
    std::int64_t value = 0;
    int n = 0;
    for (; !at_end() && is_digit(*p_); ++p_, ++n) {
      value = value * 10 + (*p_ - '0');
      if (value > limit) return fail(E::OutOfRange);
    }
    if (n == 0) return fail(at_end() ? E::TooShort : E::Invalid);
    return std::int32_t(negative ? -value : value);
  }

 private:
  const char* p_;
  const char* end_;
};

// Fields as read, before they are combined into a value.
struct Fields {
  Date date;
  std::uint8_t hour = 0, minute = 0, second = 0;
  std::uint32_t nanos = 0;
  bool has_date = false;
  bool has_time = false;
};

Expected<void, E> check_day(const Date& date) {
  if (date.day > days_in_month(date.year, date.month)) return fail(E::Impossible);
  return {};
}

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

Expected<Fields, E> read_pattern(std::string_view text, DateTimePattern pattern) {
  std::string_view items = pattern_items(pattern);
  if (items.empty()) return fail(E::BadFormat);
  Cursor in(text);
  Fields f;
  for (char item : items) {
    switch (item) {
      case 'Y': {
        ZB_TRY(f.date.year, in.year());
        f.has_date = true;
        break;
      }
      case 'm': { ZB_TRY(f.date.month, in.field(1, 2, 1, 12)); break; }
      case 'd': { ZB_TRY(f.date.day, in.field(1, 2, 1, 31)); break; }
      case 'H': {
        ZB_TRY(f.hour, in.field(1, 2, 0, 23));
        f.has_time = true;
        break;
      }
      case 'M': { ZB_TRY(f.minute, in.field(1, 2, 0, 59)); break; }
      case 'S': { ZB_TRY(f.second, in.field(1, 2, 0, 60)); break; }
      case 'f': { ZB_TRY(f.nanos, in.fraction()); break; }
      default: ZB_CHECK_OK(in.literal(item));
    }
  }
  if (!in.at_end()) return fail(E::TooLong);
  return f;
}

Expected<Date, E> resolve_date(const Fields& f) {
  if (!f.has_date) return fail(E::NotEnough);
  ZB_CHECK_OK(check_day(f.date));
  return f.date;
}

Expected<Time, E> resolve_time(const Fields& f) {
  if (!f.has_time) return fail(E::NotEnough);
  return make_time(f);
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

// Offset in seconds east of UTC: Z/z, or a sign, two-digit hours (<= 23),
// ":" and two-digit minutes (<= 59).
Expected<std::int32_t, E> read_offset(Cursor& in) {
  if (in.at_end()) return fail(E::TooShort);
  const char c = in.peek();
  if (c == 'Z' || c == 'z') {
    in.skip();
    return 0;
  }
  if (c != '+' && c != '-') return fail(E::Invalid);
  in.skip();
  ZB_TRY(std::uint32_t hours, in.digits(2, 2));
  ZB_CHECK_OK(in.literal(':'));
  ZB_TRY(std::uint32_t minutes, in.digits(2, 2));
  if (hours > 23 || minutes > 59) return fail(E::OutOfRange);
  const std::int32_t seconds = std::int32_t(hours * 3600 + minutes * 60);
  return c == '-' ? -seconds : seconds;
}

}  // namespace

Expected<Date, E> parse_date(std::string_view text, DateTimePattern pattern) {
  ZB_TRY(Fields f, read_pattern(text, pattern));
  return resolve_date(f);
}

Expected<Time, E> parse_time(std::string_view text, DateTimePattern pattern) {
  ZB_TRY(Fields f, read_pattern(text, pattern));
  return resolve_time(f);
}

Expected<DateTime, E> parse_datetime(std::string_view text, DateTimePattern pattern) {
  ZB_TRY(Fields f, read_pattern(text, pattern));
  ZB_TRY(Date date, resolve_date(f));
  ZB_TRY(Time time, resolve_time(f));
  return DateTime{date, time};
}

Expected<DateTime, E> parse_rfc3339(std::string_view text) {
  Cursor in(text);
  Fields f;
  ZB_TRY(std::uint32_t year, in.digits(4, 4));
  f.date.year = std::int32_t(year);
  ZB_CHECK_OK(in.literal('-'));
  ZB_TRY(f.date.month, in.field(2, 2, 1, 12));
  ZB_CHECK_OK(in.literal('-'));
  ZB_TRY(f.date.day, in.field(2, 2, 1, 31));
  if (in.at_end()) return fail(E::TooShort);
  if (in.peek() != 'T' && in.peek() != 't' && in.peek() != ' ') return fail(E::Invalid);
  in.skip();
  ZB_TRY(f.hour, in.field(2, 2, 0, 23));
  ZB_CHECK_OK(in.literal(':'));
  ZB_TRY(f.minute, in.field(2, 2, 0, 59));
  ZB_CHECK_OK(in.literal(':'));
  ZB_TRY(f.second, in.field(2, 2, 0, 60));
  ZB_TRY(f.nanos, in.fraction());
  ZB_TRY(std::int32_t offset, read_offset(in));
  if (!in.at_end()) return fail(E::TooLong);
  ZB_CHECK_OK(check_day(f.date));

  DateTime result{f.date, make_time(f)};
  // |offset| < one day, so at most one day boundary is crossed.
  std::int32_t utc = std::int32_t(result.time.seconds) - offset;
  if (utc < 0) {
    utc += kSecondsPerDay;
    previous_day(result.date);
  } else if (utc >= std::int32_t(kSecondsPerDay)) {
    utc -= kSecondsPerDay;
    next_day(result.date);
  }
  result.time.seconds = std::uint32_t(utc);
  return result;
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

// At least `width` digits, zero-padded.
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
    p = put_padded(p, std::uint32_t(d.year), 4);
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
  if (nanos % 1'000'000 == 0) return put_padded(p, nanos / 1'000'000, 3);
  if (nanos % 1'000 == 0) return put_padded(p, nanos / 1'000, 6);
  return put_padded(p, nanos, 9);
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

void format_datetime_utc(const DateTime& datetime, Buffer& out) {
  char* start = out.reserve(kMaxDateTimeText);
  char* p = put_date(start, datetime.date);
  *p++ = 'T';
  p = put_time(p, datetime.time);
  std::memcpy(p, "+00:00", 6);
  out.commit(std::size_t(p + 6 - start));
}

}  // namespace zembra::text
