#include "pure/rows/pg_text.h"

#include <array>
#include <charconv>
#include <cmath>

#include "pure/text/decimal.h"

namespace zembra::rows {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Exactly n digits at text[at...].
std::optional<std::uint32_t> digits(std::string_view text, std::size_t at, std::size_t n) {
  if (text.size() < at + n) return std::nullopt;
  std::uint32_t v = 0;
  for (std::size_t i = at; i < at + n; ++i) {
    if (!is_digit(text[i])) return std::nullopt;
    v = v * 10 + static_cast<std::uint32_t>(text[i] - '0');
  }
  return v;
}

// The value of each hex digit, 0xFF for any other byte: a table rather than
// branches, as bytea and uuid columns are mostly hex digits.
constexpr std::array<std::uint8_t, 256> kHexValues = [] {
  std::array<std::uint8_t, 256> table{};
  table.fill(0xFF);
  for (int i = 0; i < 10; ++i) table['0' + i] = static_cast<std::uint8_t>(i);
  for (int i = 0; i < 6; ++i) {
    table['a' + i] = static_cast<std::uint8_t>(10 + i);
    table['A' + i] = static_cast<std::uint8_t>(10 + i);
  }
  return table;
}();

int hex_value(char c) {
  std::uint8_t v = kHexValues[static_cast<unsigned char>(c)];
  return v == 0xFF ? -1 : v;
}

bool is_leap(std::uint32_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

std::uint32_t days_in_month(std::uint32_t y, std::uint32_t m) {
  static constexpr std::uint8_t kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && is_leap(y) ? 29 : kDays[m - 1];
}

// "HH:MM:SS[.f{1,6}]" filling the whole text.
std::optional<Time> time_of(std::string_view text) {
  auto h = digits(text, 0, 2), m = digits(text, 3, 2), s = digits(text, 6, 2);
  if (!h || !m || !s || text[2] != ':' || text[5] != ':' || *h > 23 || *m > 59 || *s > 59) return std::nullopt;
  std::uint32_t micros = 0;
  if (text.size() > 8) {
    std::size_t n = text.size() - 9;
    if (text[8] != '.' || n < 1 || n > 6) return std::nullopt;
    auto f = digits(text, 9, n);
    if (!f) return std::nullopt;
    micros = *f;
    for (std::size_t i = n; i < 6; ++i) micros *= 10;
  }
  return Time{*h * 3600 + *m * 60 + *s, micros * 1000};
}

}  // namespace

std::optional<Decimal> pg_numeric(std::string_view text) {
  std::string_view body = text.starts_with('-') ? text.substr(1) : text;
  if (body.empty() || !is_digit(body[0])) return std::nullopt;  // NaN, Infinity, -Infinity
  std::size_t point = body.find('.');
  std::size_t fraction = point == std::string_view::npos ? 0 : body.size() - point - 1;
  std::size_t significant = 0;  // the coefficient's digits without leading zeros
  bool leading = true;
  for (char c : body) {
    if (c == '.') continue;
    if (!is_digit(c)) return std::nullopt;
    if (leading && c == '0') continue;
    leading = false;
    ++significant;
  }
  // str(Decimal) writes an exponent when the adjusted exponent is below -6.
  long adjusted = static_cast<long>(significant == 0 ? 1 : significant) - 1 - static_cast<long>(fraction);
  if (adjusted < -6) return std::nullopt;
  auto parsed = text::parse_decimal(text, text::DecimalMode::Rounding);
  if (!parsed) return std::nullopt;
  return *parsed;
}

std::optional<std::int64_t> pg_int(std::string_view text) {
  std::int64_t v = 0;
  if (text.empty() || text[0] == '+') return std::nullopt;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return v;
}

std::optional<double> pg_float(std::string_view text) {
  // Only the server's own digits: from_chars also reads "inf" and "nan".
  for (char c : text) {
    if (!is_digit(c) && c != '-' && c != '+' && c != '.' && c != 'e') return std::nullopt;
  }
  double v = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(v)) return std::nullopt;
  return v;
}

std::optional<bool> pg_bool(std::string_view text) {
  if (text == "t") return true;
  if (text == "f") return false;
  return std::nullopt;
}

std::optional<Uuid> pg_uuid(std::string_view text) {
  if (text.size() != 36) return std::nullopt;
  Uuid out;
  std::size_t byte = 0;
  for (std::size_t i = 0; i < 36;) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (text[i] != '-') return std::nullopt;
      ++i;
      continue;
    }
    int hi = hex_value(text[i]), lo = hex_value(text[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out.bytes[byte++] = static_cast<std::uint8_t>(hi * 16 + lo);
    i += 2;
  }
  return out;
}

std::optional<Date> pg_date(std::string_view text) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
  auto y = digits(text, 0, 4), m = digits(text, 5, 2), d = digits(text, 8, 2);
  if (!y || !m || !d || *y < 1 || *m < 1 || *m > 12 || *d < 1 || *d > days_in_month(*y, *m)) return std::nullopt;
  return Date{static_cast<std::int32_t>(*y), static_cast<std::uint8_t>(*m), static_cast<std::uint8_t>(*d)};
}

std::optional<Time> pg_time(std::string_view text) { return time_of(text); }

std::optional<DateTime> pg_timestamp(std::string_view text) {
  if (text.size() < 19 || text[10] != ' ') return std::nullopt;
  auto date = pg_date(text.substr(0, 10));
  auto time = time_of(text.substr(11));
  if (!date || !time) return std::nullopt;
  return DateTime{*date, *time};
}

std::optional<DateTime> pg_timestamptz(std::string_view text) {
  if (!text.ends_with("+00")) return std::nullopt;
  return pg_timestamp(text.substr(0, text.size() - 3));
}

bool pg_bytea_hex(std::string_view text, std::string& out) {
  out.clear();
  if (!text.starts_with("\\x") || text.size() % 2) return false;
  out.resize((text.size() - 2) / 2);
  // The server writes lower-case digits only. Arithmetic rather than a
  // table lookup per digit lets the compiler vectorize the loop; any other
  // byte marks bad, checked once at the end.
  const auto* in = reinterpret_cast<const unsigned char*>(text.data()) + 2;
  auto* to = reinterpret_cast<unsigned char*>(out.data());
  unsigned char bad = 0;
  for (std::size_t j = 0, n = out.size(); j < n; ++j) {
    unsigned char hi = in[2 * j], lo = in[2 * j + 1];
    bad |= static_cast<unsigned char>(!(static_cast<unsigned char>(hi - '0') < 10 || static_cast<unsigned char>(hi - 'a') < 6));
    bad |= static_cast<unsigned char>(!(static_cast<unsigned char>(lo - '0') < 10 || static_cast<unsigned char>(lo - 'a') < 6));
    to[j] = static_cast<unsigned char>((((hi & 0xF) + 9 * (hi >> 6)) << 4) | ((lo & 0xF) + 9 * (lo >> 6)));
  }
  return bad == 0;
}

}  // namespace zembra::rows
