// Numbers read from text with the interpreter's own rules, and written back
// the way str() writes them.
//
// Every reader takes text as the interpreter's str holds it: digits of any
// script count (int("١٢") is 12), whitespace of any script surrounds the
// number, and "_" separates digits where the interpreter allows it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zembra::input {

// An exact number: (negative ? -1 : 1) * digits * 10^exponent. digits are
// ASCII without leading zeros ("0" for zero); integers have exponent 0.
struct ExactNumber {
  bool negative = false;
  std::string digits = "0";
  std::int64_t exponent = 0;

  bool is_zero() const { return digits == "0"; }
  // The exponent of the leading digit.
  std::int64_t adjusted() const { return exponent + static_cast<std::int64_t>(digits.size()) - 1; }
};

// -1, 0 or 1 as a is below, equal to or above b.
int compare(const ExactNumber& a, const ExactNumber& b);

ExactNumber exact_from_int(std::int64_t value);
// "-123" or "123" (what the JSON reader keeps of a big integer).
ExactNumber exact_from_integer_text(std::string_view text);

// int(text) in base 10; nullopt where int() raises ValueError.
std::optional<ExactNumber> python_int(std::string_view text);

// int(text, 16) when the result fits 128 bits and is not negative; nullopt
// for anything int() refuses and for values outside that range.
std::optional<unsigned __int128> python_hex_u128(std::string_view text);

// float(text); nullopt where float() raises ValueError. Out-of-range
// numbers give infinities, as float() does; "nan" and "inf" are read.
std::optional<double> python_float(std::string_view text);

// decimal.Decimal(text) for finite results. Not-a-number and infinity
// texts give nullopt too (callers refuse both), as does every text the
// type raises InvalidOperation for, such as an exponent out of its range.
std::optional<ExactNumber> python_decimal(std::string_view text);

// Text already known to be [-]digits[.digits][(e|E)[+-]digits], correctly
// rounded; out-of-range values give infinities or zeros as the
// interpreter's float() does.
double decimal_text_to_double(std::string_view text);

// repr(value) / str(value) of a float: "1.0", "1e+16", "1.5e-07", "inf".
void append_float_repr(double value, std::string& out);
// str() of an integer held exactly.
void append_integer(const ExactNumber& value, std::string& out);

// int(value) of a finite float: the integer part, exactly.
ExactNumber exact_integer_part(double value);


}  // namespace zembra::input
