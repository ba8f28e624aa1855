#include "pure/json_writer/json_text.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace zembra::json {
namespace {

using namespace detail;

// Code units per reservation: the worst case is six characters per unit (an
// escape; a non-ASCII unit needs at most four bytes), reserved a slice at a
// time so that a long text never asks for six times its size at once.
constexpr std::size_t kSlice = 4096;

template <class Unit>
bool write_units(const Unit* s, std::size_t n, Buffer& out) {
  out.push_back('"');
  bool surrogate = false;
  for (std::size_t base = 0; base < n; base += kSlice) {
    std::size_t stop = n - base < kSlice ? n : base + kSlice;
    char* start = out.reserve(6 * (stop - base));
    char* p = start;
    std::size_t i = base;
    if constexpr (sizeof(Unit) == 1) {
      // One byte per code point: Latin-1, written by blocks.
      p = escape_block_run<true>(s + base, stop - base, p);
      i = stop;
    }
    while (i < stop) {
      std::size_t run = i;
      while (run < stop && s[run] < 0x80) ++run;
      if (run > i) {
        for (std::size_t k = i; k < run; ++k) {
          auto c = static_cast<unsigned char>(s[k]);
          if (kEscape[c]) {
            p += put_escape(c, p);
          } else {
            *p++ = static_cast<char>(c);
          }
        }
        i = run;
        continue;
      }
      std::uint32_t c = s[i++];
      if (c < 0x800) {
        *p++ = static_cast<char>(0xC0 | (c >> 6));
        *p++ = static_cast<char>(0x80 | (c & 0x3F));
      } else if (c < 0x10000) {
        surrogate |= c >= 0xD800 && c <= 0xDFFF;
        *p++ = static_cast<char>(0xE0 | (c >> 12));
        *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *p++ = static_cast<char>(0x80 | (c & 0x3F));
      } else {
        *p++ = static_cast<char>(0xF0 | (c >> 18));
        *p++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *p++ = static_cast<char>(0x80 | (c & 0x3F));
      }
    }
    out.commit(static_cast<std::size_t>(p - start));
  }
  out.push_back('"');
  return surrogate;
}

}  // namespace

void write_long_string(std::string_view utf8, Buffer& out) {
  const auto* s = reinterpret_cast<const unsigned char*>(utf8.data());
  std::size_t n = utf8.size();
  if (n <= kSlice) {
    // One reservation for a text of one slice, quotes included.
    char* start = out.reserve(6 * n + 2);
    char* p = start;
    *p++ = '"';
    p = escape_bytes(s, n, p);
    *p++ = '"';
    out.commit(static_cast<std::size_t>(p - start));
    return;
  }
  out.push_back('"');
  for (std::size_t base = 0; base < n; base += kSlice) {
    std::size_t len = n - base < kSlice ? n - base : kSlice;
    char* start = out.reserve(6 * len);
    out.commit(static_cast<std::size_t>(escape_bytes(s + base, len, start) - start));
  }
  out.push_back('"');
}

bool write_string_units(const std::uint8_t* units, std::size_t count, Buffer& out) {
  return write_units(units, count, out);
}
bool write_string_units(const std::uint16_t* units, std::size_t count, Buffer& out) {
  return write_units(units, count, out);
}
bool write_string_units(const std::uint32_t* units, std::size_t count, Buffer& out) {
  return write_units(units, count, out);
}

void write_float_repr(double value, Buffer& out) {
  char* start = out.reserve(kMaxFloatReprSize);
  char* p = start;
  if (std::signbit(value)) *p++ = '-';
  // The shortest round-trip digits, "d[.ddd]e±XX", laid out by the
  // interpreter's rule for repr.
  char sci[32];
  auto res = std::to_chars(sci, sci + sizeof sci, std::fabs(value), std::chars_format::scientific);
  const char* end = res.ptr;
  char digits[20];
  int count = 0;
  const char* s = sci;
  for (; s < end && *s != 'e'; ++s)
    if (*s != '.') digits[count++] = *s;
  int exponent = 0;
  bool negative_exponent = s[1] == '-';
  for (s += 2; s < end; ++s) exponent = exponent * 10 + (*s - '0');
  if (negative_exponent) exponent = -exponent;
  while (count > 1 && digits[count - 1] == '0') --count;

  int point = exponent + 1;  // digits before the decimal point
  if (point > -4 && point <= 16) {
    if (point <= 0) {
      *p++ = '0';
      *p++ = '.';
      for (int i = point; i < 0; ++i) *p++ = '0';
      std::memcpy(p, digits, static_cast<std::size_t>(count));
      p += count;
    } else if (point >= count) {
      std::memcpy(p, digits, static_cast<std::size_t>(count));
      p += count;
      for (int i = count; i < point; ++i) *p++ = '0';
      *p++ = '.';
      *p++ = '0';
    } else {
      std::memcpy(p, digits, static_cast<std::size_t>(point));
      p += point;
      *p++ = '.';
      std::memcpy(p, digits + point, static_cast<std::size_t>(count - point));
      p += count - point;
    }
  } else {
    *p++ = digits[0];
    if (count > 1) {
      *p++ = '.';
      std::memcpy(p, digits + 1, static_cast<std::size_t>(count - 1));
      p += count - 1;
    }
    *p++ = 'e';
    *p++ = exponent < 0 ? '-' : '+';
    int magnitude = exponent < 0 ? -exponent : exponent;
    if (magnitude >= 100) *p++ = static_cast<char>('0' + magnitude / 100);
    *p++ = static_cast<char>('0' + magnitude / 10 % 10);
    *p++ = static_cast<char>('0' + magnitude % 10);
  }
  out.commit(static_cast<std::size_t>(p - start));
}

}  // namespace zembra::json
