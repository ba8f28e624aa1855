#include "pure/input/temporal.h"

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "pure/input/number_text.h"
#include "pure/input/unicode.h"

namespace zembra::input {
namespace {

constexpr std::int64_t kMicrosPerDay = 86'400'000'000LL;

int days_in_month(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
  return month == 2 && leap ? 29 : kDays[month - 1];
}

bool valid_time(const WallTime& t) {
  return t.hour >= 0 && t.hour <= 23 && t.minute >= 0 && t.minute <= 59 && t.second >= 0 && t.second <= 59 &&
         t.microsecond >= 0 && t.microsecond <= 999'999;
}

// ---- date.fromisoformat() and friends ---------------------------------------
//
// The interpreter reads the UTF-8 form of the text, relying on the NUL that
// ends it; these readers work on the same NUL-terminated bytes so that texts
// with embedded NULs get the same answers.

const char* parse_digits(const char* p, int& value, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    const unsigned digit = static_cast<unsigned>(static_cast<unsigned char>(*p++)) - '0';
    if (digit > 9) return nullptr;
    value = value * 10 + static_cast<int>(digit);
  }
  return p;
}

bool is_ascii_digit(char c) { return c >= '0' && c <= '9'; }

// A NUL-terminated copy, on the stack for the usual short texts.
class Terminated {
 public:
  explicit Terminated(std::string_view text) : size_(text.size()) {
    if (text.size() < sizeof small_) {
      std::memcpy(small_, text.data(), text.size());
      small_[text.size()] = '\0';
      data_ = small_;
    } else {
      big_.assign(text);
      data_ = big_.c_str();
    }
  }
  Terminated(const Terminated&) = delete;
  Terminated& operator=(const Terminated&) = delete;
  const char* c_str() const { return data_; }
  std::size_t size() const { return size_; }

 private:
  char small_[64];
  std::string big_;
  const char* data_;
  std::size_t size_;
};

std::int64_t iso_week1_monday(int year) {
  const std::int64_t first_day = ordinal_of({year, 1, 1});
  const std::int64_t first_weekday = (first_day + 6) % 7;
  std::int64_t monday = first_day - first_weekday;
  if (first_weekday > 3) monday += 7;
  return monday;
}

bool iso_to_ymd(int iso_year, int week, int weekday, CivilDate& out) {
  if (iso_year < 1 || iso_year > 9999) return false;
  if (week <= 0 || week >= 53) {
    bool out_of_range = true;
    if (week == 53) {
      const std::int64_t first_weekday = (ordinal_of({iso_year, 1, 1}) + 6) % 7;
      const bool leap = iso_year % 4 == 0 && (iso_year % 100 != 0 || iso_year % 400 == 0);
      if (first_weekday == 3 || (first_weekday == 2 && leap)) out_of_range = false;
    }
    if (out_of_range) return false;
  }
  if (weekday <= 0 || weekday >= 8) return false;
  out = date_of_ordinal(iso_week1_monday(iso_year) + (week - 1) * 7 + weekday - 1);
  return true;
}

// 0 on success.
int parse_iso_date(const char* text, std::size_t len, CivilDate& out) {
  const char* p = text;
  int year = 0, month = 0, day = 0;
  p = parse_digits(p, year, 4);
  if (!p) return -1;
  const bool separator = *p == '-';
  if (separator) ++p;
  if (*p == 'W') {
    ++p;
    int week = 0, weekday = 0;
    p = parse_digits(p, week, 2);
    if (!p) return -3;
    if (static_cast<std::size_t>(p - text) < len) {
      if (separator && *(p++) != '-') return -2;
      p = parse_digits(p, weekday, 1);
      if (!p) return -4;
    } else {
      weekday = 1;
    }
    return iso_to_ymd(year, week, weekday, out) ? 0 : -5;
  }
  p = parse_digits(p, month, 2);
  if (!p) return -1;
  if (separator && *(p++) != '-') return -2;
  p = parse_digits(p, day, 2);
  if (!p) return -1;
  out = {year, month, day};
  return 0;
}

// [HH[:?MM[:?SS]]][{.,}fff...]; 0 when the text ends there, 1 when it goes
// on, negative on failure.
int parse_hh_mm_ss_ff(const char* text, const char* text_end, WallTime& out) {
  out = {};
  const char* p = text;
  int* values[3] = {&out.hour, &out.minute, &out.second};
  bool has_separator = true;
  for (int i = 0; i < 3; ++i) {
    p = parse_digits(p, *values[i], 2);
    if (!p) return -3;
    const char c = *(p++);
    if (i == 0) has_separator = c == ':';
    if (p >= text_end) return c != '\0';
    if (has_separator && c == ':') continue;
    if (c == '.' || c == ',') break;
    if (!has_separator) {
      --p;
    } else {
      return -4;
    }
  }
  const std::size_t remaining = static_cast<std::size_t>(text_end - p);
  const std::size_t count = remaining >= 6 ? 6 : remaining;
  p = parse_digits(p, out.microsecond, count);
  if (!p) return -3;
  static constexpr int kCorrection[] = {100000, 10000, 1000, 100, 10};
  if (count >= 1 && count < 6) out.microsecond *= kCorrection[count - 1];
  while (is_ascii_digit(*p)) ++p;
  return *p != '\0';
}

// 0: no offset, 1: with offset, negative: failure.
int parse_iso_time(const char* text, std::size_t len, WallTime& out, std::int64_t& offset_us) {
  const char* p_end = text + len;
  const char* tz = text;
  do {
    if (*tz == 'Z' || *tz == '+' || *tz == '-') break;
  } while (++tz < p_end);
  const int rv = parse_hh_mm_ss_ff(text, tz, out);
  if (rv < 0) return rv;
  if (tz == p_end) return rv == 1 ? -5 : 0;
  if (*tz == 'Z') {
    offset_us = 0;
    return *(tz + 1) != '\0' ? -5 : 1;
  }
  const int sign = *tz == '-' ? -1 : 1;
  ++tz;
  WallTime offset;
  const int tz_rv = parse_hh_mm_ss_ff(tz, p_end, offset);
  offset_us = sign * ((static_cast<std::int64_t>(offset.hour) * 3600 + offset.minute * 60 + offset.second) * 1'000'000LL +
                      offset.microsecond);
  return tz_rv ? -5 : 1;
}

bool valid_offset(std::int64_t offset_us) { return offset_us > -kMicrosPerDay && offset_us < kMicrosPerDay; }

std::optional<CivilDate> date_fromisoformat(std::string_view text, bool has_surrogate) {
  if (has_surrogate) return std::nullopt;
  if (text.size() != 7 && text.size() != 8 && text.size() != 10) return std::nullopt;
  const Terminated bytes(text);
  CivilDate date;
  if (parse_iso_date(bytes.c_str(), bytes.size(), date) != 0) return std::nullopt;
  if (!valid_date(date.year, date.month, date.day)) return std::nullopt;
  return date;
}

std::optional<WallTime> time_fromisoformat(std::string_view text, bool has_surrogate) {
  if (has_surrogate) return std::nullopt;
  const Terminated bytes(text);
  const char* p = bytes.c_str();
  std::size_t len = bytes.size();
  if (*p == 'T') {
    ++p;
    --len;
  }
  WallTime time;
  std::int64_t offset_us = 0;
  const int rv = parse_iso_time(p, len, time, offset_us);
  if (rv < 0) return std::nullopt;
  if (rv == 1 && !valid_offset(offset_us)) return std::nullopt;
  if (!valid_time(time)) return std::nullopt;
  return time;
}

// Where the date part of a datetime text ends (the separator's position),
// or -1.
std::ptrdiff_t find_separator(const char* s, std::size_t len) {
  if (len == 7) return 7;
  if (s[4] == '-') {
    if (s[5] == 'W') {
      if (len < 8) return -1;
      if (len > 8 && s[8] == '-') {
        if (len == 9) return -1;
        if (len > 10 && is_ascii_digit(s[10])) return 8;
        return 10;
      }
      return 8;
    }
    return 10;
  }
  if (s[4] == 'W') {
    std::size_t idx = 7;
    while (idx < len && is_ascii_digit(s[idx])) ++idx;
    if (idx < 9) return static_cast<std::ptrdiff_t>(idx);
    return idx % 2 == 0 ? 7 : 8;
  }
  return 8;
}

std::optional<CivilDateTime> datetime_fromisoformat(std::string_view text, bool has_surrogate) {
  if (code_point_count(text) < 7) return std::nullopt;
  std::string replaced;
  if (has_surrogate) {
    std::string& bytes = replaced;
    // A surrogate may only be the separator (code point 7, 8 or 10); it is
    // read as "T". Any other surrogate makes the text unreadable.
    std::vector<char32_t> cps;
    for (const char* p = text.data(); p != text.data() + text.size();) cps.push_back(next_code_point(p));
    for (std::size_t pos : {7u, 8u, 10u}) {
      if (pos > cps.size()) break;
      if (pos < cps.size() && cps[pos] >= 0xD800 && cps[pos] <= 0xDFFF) {
        cps[pos] = 'T';
        break;
      }
    }
    bytes.clear();
    for (char32_t c : cps) {
      if (c >= 0xD800 && c <= 0xDFFF) return std::nullopt;
      if (c < 0x80) {
        bytes += static_cast<char>(c);
      } else {
        if (c < 0x800) {
          bytes += static_cast<char>(0xC0 | (c >> 6));
          bytes += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
          bytes += static_cast<char>(0xE0 | (c >> 12));
          bytes += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
          bytes += static_cast<char>(0x80 | (c & 0x3F));
        } else {
          bytes += static_cast<char>(0xF0 | (c >> 18));
          bytes += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
          bytes += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
          bytes += static_cast<char>(0x80 | (c & 0x3F));
        }
      }
    }
  }
  const Terminated bytes(has_surrogate ? std::string_view(replaced) : text);
  const char* s = bytes.c_str();
  std::size_t len = bytes.size();
  const std::ptrdiff_t separator = find_separator(s, len);
  if (separator < 0) return std::nullopt;
  CivilDateTime out;
  int rv = parse_iso_date(s, static_cast<std::size_t>(separator), out.date);
  if (rv == 0 && len > static_cast<std::size_t>(separator)) {
    const char* p = s + separator;
    const unsigned char lead = static_cast<unsigned char>(*p);
    if ((lead & 0x80) == 0) {
      p += 1;
    } else if ((lead & 0xF0) == 0xE0) {
      p += 3;
    } else if ((lead & 0xF0) == 0xF0) {
      p += 4;
    } else {
      p += 2;
    }
    len -= static_cast<std::size_t>(p - s);
    rv = parse_iso_time(p, len, out.time, out.offset_us);
    out.aware = rv == 1;
  }
  if (rv < 0) return std::nullopt;
  if (out.aware && !valid_offset(out.offset_us)) return std::nullopt;
  if (!valid_date(out.date.year, out.date.month, out.date.day) || !valid_time(out.time)) return std::nullopt;
  return out;
}

// ---- Django's fallback patterns -------------------------------------------

// Cursor over code points for the hand-written patterns. Each pattern is
// tried on the whole text and, as "$" allows, without a final newline.
struct Cursor {
  const std::u32string& s;
  std::size_t i = 0;
  std::size_t end;

  bool at_end() const { return i == end; }
  bool take(char32_t c) {
    if (i < end && s[i] == c) {
      ++i;
      return true;
    }
    return false;
  }
  // Between min and max digits of any script; their value.
  bool digits(std::size_t min, std::size_t max, long long& value) {
    value = 0;
    std::size_t n = 0;
    while (n < max && i < end) {
      const int d = decimal_value(s[i]);
      if (d < 0) break;
      value = value * 10 + d;
      ++i;
      ++n;
    }
    return n >= min;
  }
  // Digits as a string of ASCII digits (for float()).
  bool digit_run(std::string& out) {
    out.clear();
    while (i < end) {
      const int d = decimal_value(s[i]);
      if (d < 0) break;
      out += static_cast<char>('0' + d);
      ++i;
    }
    return !out.empty();
  }
};

std::u32string code_points(std::string_view text) {
  std::u32string out;
  out.reserve(text.size());
  for (const char* p = text.data(); p != text.data() + text.size();) out.push_back(next_code_point(p));
  return out;
}

template <class Match>
bool match_dollar(const std::u32string& cps, Match&& match) {
  if (match(cps.size())) return true;
  return !cps.empty() && cps.back() == U'\n' && match(cps.size() - 1);
}

// "1" -> 100000, "123456" -> 123456: the fraction padded to six digits.
bool fraction_micros(Cursor& c, std::size_t max_kept, std::size_t max_dropped, int& micros) {
  long long value = 0;
  const std::size_t start = c.i;
  if (!c.digits(1, max_kept, value)) return false;
  std::size_t kept = c.i - start;
  long long ignored = 0;
  c.digits(0, max_dropped, ignored);
  while (kept < 6) {
    value *= 10;
    ++kept;
  }
  micros = static_cast<int>(value);
  return true;
}

std::optional<CivilDate> date_pattern(const std::u32string& cps) {
  CivilDate out;
  bool ok = match_dollar(cps, [&](std::size_t end) {
    Cursor c{cps, 0, end};
    long long y, m, d;
    if (!c.digits(4, 4, y) || !c.take('-') || !c.digits(1, 2, m) || !c.take('-') || !c.digits(1, 2, d)) return false;
    if (!c.at_end()) return false;
    out = {static_cast<int>(y), static_cast<int>(m), static_cast<int>(d)};
    return true;
  });
  if (!ok || !valid_date(out.year, out.month, out.day)) return std::nullopt;
  return out;
}

// H:M[:S[{.,}f]] from the cursor on; false if it does not fit.
bool time_fields(Cursor& c, WallTime& out) {
  long long h, m, sec = 0;
  out = {};
  if (!c.digits(1, 2, h) || !c.take(':') || !c.digits(1, 2, m)) return false;
  out.hour = static_cast<int>(h);
  out.minute = static_cast<int>(m);
  const std::size_t before = c.i;
  if (c.take(':')) {
    if (!c.digits(1, 2, sec)) {
      c.i = before;  // the optional group does not match
      return true;
    }
    out.second = static_cast<int>(sec);
    const std::size_t before_fraction = c.i;
    if (c.take('.') || c.take(',')) {
      if (!fraction_micros(c, 6, 6, out.microsecond)) c.i = before_fraction;
    }
  }
  return true;
}

std::optional<WallTime> time_pattern(const std::u32string& cps) {
  WallTime out;
  const bool ok = match_dollar(cps, [&](std::size_t end) {
    Cursor c{cps, 0, end};
    return time_fields(c, out) && c.at_end();
  });
  if (!ok || !valid_time(out)) return std::nullopt;
  return out;
}

std::optional<CivilDateTime> datetime_pattern(const std::u32string& cps) {
  CivilDateTime out;
  bool offset_ok = true;
  const bool ok = match_dollar(cps, [&](std::size_t end) {
    Cursor c{cps, 0, end};
    long long y, mo, d;
    if (!c.digits(4, 4, y) || !c.take('-') || !c.digits(1, 2, mo) || !c.take('-') || !c.digits(1, 2, d)) return false;
    if (!c.take('T') && !c.take(' ')) return false;
    if (!time_fields(c, out.time)) return false;
    while (c.i < c.end && is_space(cps[c.i])) ++c.i;
    out.aware = false;
    out.offset_us = 0;
    if (c.take('Z')) {
      out.aware = true;
    } else if (c.i < c.end && (cps[c.i] == '+' || cps[c.i] == '-')) {
      const bool minus = cps[c.i] == '-';
      const std::size_t before = c.i++;
      long long hh, mm = 0;
      if (!c.digits(2, 2, hh)) {
        c.i = before;
      } else {
        const std::size_t after_hours = c.i;
        c.take(':');  // optional between hours and minutes
        if (!c.digits(2, 2, mm)) {
          c.i = after_hours;
          mm = 0;
        }
        out.aware = true;
        const long long minutes = 60 * hh + mm;
        offset_ok = minutes < 24 * 60;
        out.offset_us = (minus ? -minutes : minutes) * 60'000'000LL;
      }
    }
    if (!c.at_end()) return false;
    out.date = {static_cast<int>(y), static_cast<int>(mo), static_cast<int>(d)};
    return true;
  });
  if (!ok || !offset_ok) return std::nullopt;
  if (!valid_date(out.date.year, out.date.month, out.date.day) || !valid_time(out.time)) return std::nullopt;
  return out;
}

// strptime(text, "iso-8601"): the format has no directives, so only the
// text itself matches, in any case (with the pattern engine's folding).
bool is_format_name(const std::u32string& cps) {
  static constexpr char32_t kName[] = U"iso-8601";
  if (cps.size() != 8) return false;
  for (std::size_t i = 0; i < 8; ++i) {
    const char32_t c = cps[i], want = kName[i];
    if (c == want) continue;
    if (want == 'i' && (c == 'I' || c == 0x130 || c == 0x131)) continue;
    if (want == 's' && (c == 'S' || c == 0x17F)) continue;
    if (want == 'o' && c == 'O') continue;
    return false;
  }
  return true;
}

// ---- durations ----------------------------------------------------------------

// The interpreter's timedelta(...) from float components, exactly as its
// constructor sums them: whole microseconds exactly, the fractions of each
// component in a double, rounded half to even at the end.
class DeltaSum {
 public:
  // count units of factor microseconds each (count >= 0, or any sign alone).
  void add(double count, double factor) {
    if (!std::isfinite(count)) {
      overflow_ = true;
      return;
    }
    double whole;
    double fraction = std::modf(count, &whole);
    add_whole(whole * 1.0, factor);
    if (fraction == 0.0) return;
    double scaled_whole;
    const double rest = std::modf(factor * fraction, &scaled_whole);
    add_exact(scaled_whole);
    leftover_ += rest;
  }

  // Total microseconds; false on overflow of the day range.
  bool finish(__int128& total) {
    if (leftover_ != 0.0) {
      double whole = std::round(leftover_);
      if (std::fabs(whole - leftover_) == 0.5) {
        const int odd = static_cast<int>(x_ & 1) != 0 ? 1 : 0;
        whole = 2.0 * std::round((leftover_ + odd) * 0.5) - odd;
      }
      add_exact(whole);
    }
    total = x_;
    return !overflow_ && in_range(x_);
  }

  static bool in_range(__int128 micros) {
    __int128 days = micros / kMicrosPerDay;
    if (micros % kMicrosPerDay < 0) --days;
    return days >= -999'999'999 && days <= 999'999'999;
  }

 private:
  static constexpr double kLimit = 1e30;  // far beyond the day range, well inside 128 bits

  void add_whole(double whole, double factor) {
    if (std::fabs(whole) > kLimit / factor) {
      overflow_ = true;
      return;
    }
    // whole is an integer below 2^100; multiply exactly in 128 bits.
    x_ += static_cast<__int128>(whole) * static_cast<__int128>(factor);
  }
  void add_exact(double whole) {
    if (std::fabs(whole) > kLimit) {
      overflow_ = true;
      return;
    }
    x_ += static_cast<__int128>(whole);
  }

  __int128 x_ = 0;
  double leftover_ = 0.0;
  bool overflow_ = false;
};

constexpr double kMicros = 1.0, kSecond = 1e6, kMinute = 6e7, kHour = 3.6e9, kDay = 8.64e10, kWeek = 6.048e11;

struct DurationFields {
  std::optional<double> weeks, days, hours, minutes, seconds, microseconds;
  int sign = 1;
  bool iso = false;
};

// float() of a group: digits, possibly with "," or "." and more digits.
double group_value(const std::string& ascii_digits) { return python_float(ascii_digits).value_or(0.0); }

bool standard_duration(const std::u32string& cps, DurationFields& f) {
  return match_dollar(cps, [&](std::size_t end) {
    f = {};
    Cursor c{cps, 0, end};
    std::string run;
    // [-]D followed by a space, then an optional "day, " or "days, ".
    {
      const std::size_t start = c.i;
      const bool minus = c.take('-');
      if (c.digit_run(run) && c.take(' ')) {
        f.days = group_value((minus ? "-" : "") + run);
        const std::size_t before = c.i;
        if (!(c.take('d') && c.take('a') && c.take('y') && (c.take('s'), true) && c.take(',') && c.take(' '))) {
          c.i = before;
        }
      } else {
        c.i = start;
      }
    }
    if (c.take('-')) f.sign = -1;
    std::string parts[3];
    int count = 0;
    while (count < 3) {
      if (!c.digit_run(parts[count])) return false;
      ++count;
      if (count < 3 && c.i < c.end && cps[c.i] == ':' && c.i + 1 < c.end && decimal_value(cps[c.i + 1]) >= 0) {
        ++c.i;
        continue;
      }
      break;
    }
    if (count == 3) {
      f.hours = group_value(parts[0]);
      f.minutes = group_value(parts[1]);
      f.seconds = group_value(parts[2]);
    } else if (count == 2) {
      f.minutes = group_value(parts[0]);
      f.seconds = group_value(parts[1]);
    } else {
      f.seconds = group_value(parts[0]);
    }
    if (c.take('.') || c.take(',')) {
      int micros = 0;
      if (!fraction_micros(c, 6, 6, micros)) return false;
      f.microseconds = micros;
    }
    return c.at_end();
  });
}

bool iso_duration(const std::u32string& cps, DurationFields& f) {
  return match_dollar(cps, [&](std::size_t end) {
    f = {};
    f.iso = true;
    Cursor c{cps, 0, end};
    if (c.take('-')) {
      f.sign = -1;
    } else {
      c.take('+');
    }
    if (!c.take('P')) return false;
    // \d+([.,]\d+)? followed by the designator.
    auto component = [&](char32_t designator, std::optional<double>& slot) {
      const std::size_t start = c.i;
      std::string whole, fraction;
      if (!c.digit_run(whole)) return;
      const std::size_t after_whole = c.i;
      if ((c.take('.') || c.take(',')) && c.digit_run(fraction)) {
        whole += '.';
        whole += fraction;
      } else {
        c.i = after_whole;
      }
      if (!c.take(designator)) {
        c.i = start;
        return;
      }
      slot = group_value(whole);
    };
    component('W', f.weeks);
    component('D', f.days);
    if (c.take('T')) {
      component('H', f.hours);
      component('M', f.minutes);
      component('S', f.seconds);
    }
    return c.at_end();
  });
}

bool postgres_interval(const std::u32string& cps, DurationFields& f) {
  return match_dollar(cps, [&](std::size_t end) {
    f = {};
    Cursor c{cps, 0, end};
    std::string run;
    {
      const std::size_t start = c.i;
      const bool minus = c.take('-');
      if (c.digit_run(run) && c.take(' ') && c.take('d') && c.take('a') && c.take('y')) {
        c.take('s');
        c.take(' ');
        f.days = group_value((minus ? "-" : "") + run);
      } else {
        c.i = start;
      }
    }
    if (c.at_end()) return true;
    if (c.take('-')) {
      f.sign = -1;
    } else {
      c.take('+');
    }
    long long mm, ss;
    if (!c.digit_run(run) || !c.take(':') || !c.digits(2, 2, mm) || !c.take(':') || !c.digits(2, 2, ss)) return false;
    f.hours = group_value(run);
    f.minutes = static_cast<double>(mm);
    f.seconds = static_cast<double>(ss);
    if (c.take('.')) {
      int micros = 0;
      if (!fraction_micros(c, 6, 0, micros)) return false;
      f.microseconds = micros;
    }
    return c.at_end();
  });
}

}  // namespace

std::int64_t ordinal_of(const CivilDate& date) {
  const std::int64_t y = date.year - 1;
  static constexpr int kBefore[13] = {0, 0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
  std::int64_t days = y * 365 + y / 4 - y / 100 + y / 400 + kBefore[date.month] + date.day;
  const bool leap = date.year % 4 == 0 && (date.year % 100 != 0 || date.year % 400 == 0);
  if (date.month > 2 && leap) ++days;
  return days;
}

CivilDate date_of_ordinal(std::int64_t ordinal) {
  // Days since 0000-03-01 for the civil-from-days method.
  const std::int64_t z = ordinal + 305;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  const std::int64_t year = yoe + era * 400 + (month <= 2);
  return {static_cast<int>(year), month, day};
}

bool valid_date(int year, int month, int day) {
  return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 && day <= days_in_month(year, month);
}

bool from_utc(const CivilDateTime& utc, std::int64_t offset_us, CivilDateTime& out) {
  const __int128 micros = static_cast<__int128>(ordinal_of(utc.date)) * kMicrosPerDay +
                          (static_cast<std::int64_t>(utc.time.hour) * 3600 + utc.time.minute * 60 + utc.time.second) *
                              1'000'000LL +
                          utc.time.microsecond + offset_us;
  __int128 ordinal = micros / kMicrosPerDay;
  __int128 rest = micros % kMicrosPerDay;
  if (rest < 0) {
    rest += kMicrosPerDay;
    --ordinal;
  }
  if (ordinal < 1 || ordinal > ordinal_of({9999, 12, 31})) return false;
  out.date = date_of_ordinal(static_cast<std::int64_t>(ordinal));
  const auto r = static_cast<std::int64_t>(rest);
  out.time.microsecond = static_cast<int>(r % 1'000'000);
  const std::int64_t seconds = r / 1'000'000;
  out.time.second = static_cast<int>(seconds % 60);
  out.time.minute = static_cast<int>(seconds / 60 % 60);
  out.time.hour = static_cast<int>(seconds / 3600);
  out.aware = true;
  out.offset_us = offset_us;
  return true;
}

bool to_utc(const CivilDateTime& in, CivilDateTime& out) {
  if (!from_utc(in, -in.offset_us, out)) return false;
  out.offset_us = 0;
  return true;
}

namespace {

// The usual forms, read without the general readers: "YYYY-MM-DD", and that
// followed by one ASCII separator, "HH:MM:SS" and nothing, "Z" or "+HH:MM"
// / "-HH:MM". false for any other shape and for values out of range (the
// general readers then give the answer).
int two_digits(const char* p) {
  const unsigned a = static_cast<unsigned char>(p[0]) - '0', b = static_cast<unsigned char>(p[1]) - '0';
  return a <= 9 && b <= 9 ? static_cast<int>(a * 10 + b) : -1;
}

bool usual_date(std::string_view text, CivilDate& out) {
  if (text.size() < 10) return false;
  const char* p = text.data();
  const int century = two_digits(p), year = two_digits(p + 2), month = two_digits(p + 5), day = two_digits(p + 8);
  if (century < 0 || year < 0 || month < 0 || day < 0 || p[4] != '-' || p[7] != '-') return false;
  out = {century * 100 + year, month, day};
  return valid_date(out.year, out.month, out.day);
}

bool usual_datetime(std::string_view text, CivilDateTime& out) {
  if (text.size() != 19 && text.size() != 20 && text.size() != 25) return false;
  const char* p = text.data();
  if (static_cast<unsigned char>(p[10]) >= 0x80 || !usual_date(text, out.date)) return false;
  const int hour = two_digits(p + 11), minute = two_digits(p + 14), second = two_digits(p + 17);
  if (hour < 0 || minute < 0 || second < 0 || p[13] != ':' || p[16] != ':') return false;
  out.time = {hour, minute, second, 0};
  if (!valid_time(out.time)) return false;
  out.aware = text.size() > 19;
  out.offset_us = 0;
  if (text.size() == 20) return p[19] == 'Z';
  if (text.size() == 25) {
    const int oh = two_digits(p + 20), om = two_digits(p + 23);
    if ((p[19] != '+' && p[19] != '-') || p[22] != ':' || oh < 0 || om < 0 || oh > 23 || om > 59) return false;
    out.offset_us = (p[19] == '-' ? -1 : 1) * (oh * 3600LL + om * 60LL) * 1'000'000LL;
  }
  return true;
}

}  // namespace

std::optional<CivilDate> read_date(std::string_view text, bool has_surrogate) {
  if (CivilDate date; text.size() == 10 && usual_date(text, date)) return date;
  if (auto date = date_fromisoformat(text, has_surrogate)) return date;
  return date_pattern(code_points(text));
}

std::optional<WallTime> read_time(std::string_view text, bool has_surrogate) {
  if (auto time = time_fromisoformat(text, has_surrogate)) return time;
  return time_pattern(code_points(text));
}

std::optional<CivilDateTime> read_datetime(std::string_view text, bool has_surrogate) {
  if (CivilDateTime datetime; usual_datetime(text, datetime)) return datetime;
  if (auto datetime = datetime_fromisoformat(text, has_surrogate)) return datetime;
  const std::u32string cps = code_points(text);
  if (auto datetime = datetime_pattern(cps)) return datetime;
  if (is_format_name(cps)) return CivilDateTime{{1900, 1, 1}, {}, false, 0};
  return std::nullopt;
}

DurationRead read_duration(std::string_view text, Duration& out) {
  const std::u32string cps = code_points(text);
  DurationFields f;
  if (!standard_duration(cps, f) && !iso_duration(cps, f) && !postgres_interval(cps, f)) return DurationRead::Invalid;
  // days = timedelta(days); rest = timedelta(**the others); days*sign for ISO.
  DeltaSum day_part;
  if (f.days) day_part.add(*f.days, kDay);
  __int128 days_total, rest_total;
  if (!day_part.finish(days_total)) return DurationRead::Overflow;
  DeltaSum rest;
  if (f.microseconds) rest.add(*f.microseconds, kMicros);
  if (f.seconds) rest.add(*f.seconds, kSecond);
  if (f.minutes) rest.add(*f.minutes, kMinute);
  if (f.hours) rest.add(*f.hours, kHour);
  if (f.weeks) rest.add(*f.weeks, kWeek);
  if (!rest.finish(rest_total)) return DurationRead::Overflow;
  if (f.iso) days_total *= f.sign;
  rest_total *= f.sign;
  if (!DeltaSum::in_range(rest_total)) return DurationRead::Overflow;
  const __int128 total = days_total + rest_total;
  if (!DeltaSum::in_range(total)) return DurationRead::Overflow;
  __int128 days = total / kMicrosPerDay;
  __int128 rem = total % kMicrosPerDay;
  if (rem < 0) {
    rem += kMicrosPerDay;
    --days;
  }
  out.days = static_cast<std::int64_t>(days);
  out.seconds = static_cast<std::int64_t>(rem / 1'000'000);
  out.microseconds = static_cast<std::int64_t>(rem % 1'000'000);
  return DurationRead::Ok;
}

}  // namespace zembra::input
