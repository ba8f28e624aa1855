#include "pure/rows/raw_values.h"

#include <array>
#include <charconv>
#include <cmath>

namespace zembra::rows {
namespace {

// Larger precisions or quanta are refused: the decimal context's exponent
// limits come into play, and the texts would grow without bound. Columns
// declared like that take the reference route.
constexpr std::uint32_t kMaxSupportedDigits = 10000;

// value = (negative ? -1 : 1) * digits * 10^exponent, digits without
// leading zeros ("0" for zero).
struct DigitDecimal {
  bool negative = false;
  std::string digits;
  std::int64_t exponent = 0;
};

void strip_leading_zeros(std::string& digits) {
  std::size_t first = digits.find_first_not_of('0');
  if (first == std::string::npos) {
    digits = "0";
  } else if (first > 0) {
    digits.erase(0, first);
  }
}

void increment(std::string& digits) {
  for (std::size_t i = digits.size(); i-- > 0;) {
    if (digits[i] != '9') {
      ++digits[i];
      return;
    }
    digits[i] = '0';
  }
  digits.insert(digits.begin(), '1');
}

// Drops the last `drop` digits, rounding half even, as the decimal module
// does with ROUND_HALF_EVEN.
void round_half_even(DigitDecimal& d, std::size_t drop) {
  if (drop == 0) return;
  std::string& s = d.digits;
  d.exponent += static_cast<std::int64_t>(drop);
  if (drop > s.size()) {  // everything dropped is below half a unit
    s = "0";
    return;
  }
  std::size_t keep = s.size() - drop;
  char first = s[keep];
  bool up = first > '5';
  if (first == '5') {
    bool rest_nonzero = s.find_first_not_of('0', keep + 1) != std::string::npos;
    up = rest_nonzero || (keep > 0 && (s[keep - 1] - '0') % 2 == 1);
  }
  s.resize(keep);
  if (s.empty()) s = "0";
  if (up) increment(s);
  strip_leading_zeros(s);
}

// Decimal.quantize(Decimal(1).scaleb(-decimal_places)) in a context of
// max_digits precision, as plain text; nullopt where it signals
// InvalidOperation (too many digits).
std::optional<std::string> quantized_text(DigitDecimal d, const DecimalColumn& column) {
  std::int64_t target = -static_cast<std::int64_t>(column.decimal_places);
  if (d.exponent >= target) {
    if (d.digits != "0") {
      auto zeros = static_cast<std::size_t>(d.exponent - target);
      if (d.digits.size() + zeros > column.max_digits) return std::nullopt;
      d.digits.append(zeros, '0');
    }
    d.exponent = target;
  } else {
    round_half_even(d, static_cast<std::size_t>(target - d.exponent));
  }
  if (d.digits.size() > column.max_digits) return std::nullopt;

  std::string text;
  if (d.negative) text.push_back('-');
  std::size_t places = column.decimal_places;
  if (places == 0) return text + d.digits;
  if (d.digits.size() <= places) d.digits.insert(0, places + 1 - d.digits.size(), '0');
  std::size_t point = d.digits.size() - places;
  text.append(d.digits, 0, point);
  text.push_back('.');
  text.append(d.digits, point);
  return text;
}

bool supported(const DecimalColumn& column) {
  return column.max_digits >= 1 && column.max_digits <= kMaxSupportedDigits &&
         column.decimal_places <= kMaxSupportedDigits;
}

// Hex digit values by byte; -1 for anything else.
constexpr auto kHexValue = [] {
  std::array<std::int8_t, 256> table{};
  table.fill(-1);
  for (int c = 0; c < 10; ++c) table['0' + c] = static_cast<std::int8_t>(c);
  for (int c = 0; c < 6; ++c) {
    table['a' + c] = static_cast<std::int8_t>(10 + c);
    table['A' + c] = static_cast<std::int8_t>(10 + c);
  }
  return table;
}();

}  // namespace

std::optional<std::string> sqlite_decimal_text(double value, const DecimalColumn& column) {
  if (!std::isfinite(value) || !supported(column)) return std::nullopt;
  // The shortest exact route to 15 significant digits rounded half even
  // from the binary value: "d.dddddddddddddde±x", correctly rounded.
  char buf[32];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::scientific, 14);
  if (ec != std::errc() || end - buf < 18 || buf[1] != '.' || buf[16] != 'e') return std::nullopt;
  DigitDecimal d;
  d.negative = std::signbit(value);
  d.digits.assign(1, buf[0]);
  d.digits.append(buf + 2, 14);
  int exponent = 0;
  const char* exp_begin = buf + 17;
  if (*exp_begin == '+') ++exp_begin;
  if (std::from_chars(exp_begin, end, exponent).ec != std::errc()) return std::nullopt;
  d.exponent = exponent - 14;
  strip_leading_zeros(d.digits);
  return quantized_text(std::move(d), column);
}

std::optional<std::string> sqlite_decimal_text(std::int64_t value, const DecimalColumn& column) {
  if (!supported(column)) return std::nullopt;
  DigitDecimal d;
  d.negative = value < 0;
  std::uint64_t magnitude = d.negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  d.digits = std::to_string(magnitude);
  if (column.round_integers && d.digits.size() > 15) round_half_even(d, d.digits.size() - 15);
  return quantized_text(std::move(d), column);
}

std::optional<Uuid> uuid_from_hex(std::string_view text) {
  if (text.size() != 32) return std::nullopt;
  Uuid out;
  for (std::size_t i = 0; i < 16; ++i) {
    int high = kHexValue[static_cast<unsigned char>(text[2 * i])];
    int low = kHexValue[static_cast<unsigned char>(text[2 * i + 1])];
    if (high < 0 || low < 0) return std::nullopt;
    out.bytes[i] = static_cast<std::uint8_t>(high * 16 + low);
  }
  return out;
}

namespace {

// The value of text[at, at + n) when every character there is a digit.
std::optional<std::uint32_t> digits_at(std::string_view text, std::size_t at, std::size_t n) {
  std::uint32_t value = 0;
  for (std::size_t i = at; i < at + n; ++i) {
    char c = text[i];
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint32_t>(c - '0');
  }
  return value;
}

bool leap(std::uint32_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

std::uint32_t days_in(std::uint32_t year, std::uint32_t month) {
  static constexpr std::uint8_t kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && leap(year) ? 29 : kDays[month - 1];
}

}  // namespace

std::optional<Date> sqlite_date(std::string_view text) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
  auto year = digits_at(text, 0, 4), month = digits_at(text, 5, 2), day = digits_at(text, 8, 2);
  if (!year || !month || !day || *year < 1 || *month < 1 || *month > 12 || *day < 1 ||
      *day > days_in(*year, *month)) {
    return std::nullopt;
  }
  return Date{static_cast<std::int32_t>(*year), static_cast<std::uint8_t>(*month), static_cast<std::uint8_t>(*day)};
}

std::optional<DateTime> sqlite_datetime(std::string_view text) {
  if ((text.size() != 19 && text.size() != 26) || text[10] != ' ' || text[13] != ':' || text[16] != ':') {
    return std::nullopt;
  }
  auto date = sqlite_date(text.substr(0, 10));
  auto hour = digits_at(text, 11, 2), minute = digits_at(text, 14, 2), second = digits_at(text, 17, 2);
  if (!date || !hour || !minute || !second || *hour > 23 || *minute > 59 || *second > 59) return std::nullopt;
  std::uint32_t micros = 0;
  if (text.size() == 26) {
    auto fraction = text[19] == '.' ? digits_at(text, 20, 6) : std::nullopt;
    if (!fraction) return std::nullopt;
    micros = *fraction;
  }
  return DateTime{*date, Time{*hour * 3600 + *minute * 60 + *second, micros * 1000}};
}

}  // namespace zembra::rows
