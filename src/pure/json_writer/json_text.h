// JSON text pieces written into one growing buffer, in exactly the form the
// interpreter's json module gives with ensure_ascii=False, compact separators
// and allow_nan=False, encoded as UTF-8.
//
// Strings: only '"', '\\' and control characters below U+0020 are escaped,
// with the short forms \n \r \t \b \f and \u00XX (lower-case hex) for the
// rest. Numbers: integers in decimal, floats as the interpreter's repr.
// Nothing here touches Python, so the writers may run on any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "pure/common/buffer.h"
#include "pure/json_writer/json_scan.h"

namespace zembra::json {

// write_string's case of sixteen bytes and more.
void write_long_string(std::string_view utf8, Buffer& out);

// A string literal for text that is valid UTF-8. Short texts (keys, most
// values) are written here without a call.
inline void write_string(std::string_view utf8, Buffer& out) {
  std::size_t n = utf8.size();
  if (n >= 16) {
    write_long_string(utf8, out);
    return;
  }
  char* start = out.reserve(6 * 15 + 2);
  char* p = start;
  *p++ = '"';
  p = detail::write_short<false>(reinterpret_cast<const unsigned char*>(utf8.data()), n, p);
  *p++ = '"';
  out.commit(static_cast<std::size_t>(p - start));
}

// A string literal for the code units of an interpreter str (one, two or
// four bytes per code point). A lone surrogate cannot be UTF-8; it is written
// in its three-byte form so that the text can still be decoded with the
// "surrogatepass" handler. Returns true when any surrogate was written.
bool write_string_units(const std::uint8_t* units, std::size_t count, Buffer& out);
bool write_string_units(const std::uint16_t* units, std::size_t count, Buffer& out);
bool write_string_units(const std::uint32_t* units, std::size_t count, Buffer& out);

inline void write_uint(std::uint64_t value, Buffer& out) {
  char* start = out.reserve(20);
  out.commit(static_cast<std::size_t>(detail::put_uint_at(value, start) - start));
}

inline void write_int(std::int64_t value, Buffer& out) {
  char* start = out.reserve(21);
  char* p = start;
  // Negated in unsigned arithmetic, so the most negative value is fine too.
  std::uint64_t magnitude = static_cast<std::uint64_t>(value);
  if (value < 0) {
    *p++ = '-';
    magnitude = 0 - magnitude;
  }
  out.commit(static_cast<std::size_t>(detail::put_uint_at(magnitude, p) - start));
}


// repr(value) for a finite double: the shortest digits that read back as the
// same value, positional when the decimal point falls within 16 digits of
// the first digit ("100.0", "0.0001", "1234567890123456.0"), otherwise with
// an exponent of at least two digits ("1e+16", "1.5e-05").
inline constexpr std::size_t kMaxFloatReprSize = 32;
void write_float_repr(double value, Buffer& out);

inline void write_literal(std::string_view text, Buffer& out) { out.append(text); }

}  // namespace zembra::json
