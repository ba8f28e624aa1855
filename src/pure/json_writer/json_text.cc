#include "pure/json_writer/json_text.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>

namespace zembra::json {
namespace {

// 0: copied as it is; otherwise the character after the backslash ('u' for
// the six-character form).
constexpr std::array<char, 256> make_escapes() {
  std::array<char, 256> table{};
  for (int c = 0; c < 0x20; ++c) table[c] = 'u';
  table['\b'] = 'b';
  table['\f'] = 'f';
  table['\n'] = 'n';
  table['\r'] = 'r';
  table['\t'] = 't';
  table['"'] = '"';
  table['\\'] = '\\';
  return table;
}
constexpr std::array<char, 256> kEscape = make_escapes();

constexpr char kHex[] = "0123456789abcdef";

// Writes the escape of an ASCII character that needs one; returns its size.
inline std::size_t put_escape(unsigned char c, char* p) {
  char e = kEscape[c];
  p[0] = '\\';
  if (e != 'u') {
    p[1] = e;
    return 2;
  }
  p[1] = 'u';
  p[2] = '0';
  p[3] = '0';
  p[4] = kHex[c >> 4];
  p[5] = kHex[c & 15];
  return 6;
}

// True when any of the eight bytes is below 0x20, '"' or '\\' (exact as a
// yes/no answer; bytes of 0x80 and above never count).
inline bool word_needs_escape(std::uint64_t w) {
  constexpr std::uint64_t ones = 0x0101010101010101ull;
  constexpr std::uint64_t high = 0x8080808080808080ull;
  std::uint64_t below_space = (w - ones * 0x20) & ~w;
  std::uint64_t quote = w ^ (ones * '"');
  std::uint64_t backslash = w ^ (ones * '\\');
  std::uint64_t zero_quote = (quote - ones) & ~quote;
  std::uint64_t zero_backslash = (backslash - ones) & ~backslash;
  return ((below_space | zero_quote | zero_backslash) & high) != 0;
}

// Escaped bytes (UTF-8 or code units below 0x80) from s[0..n) into p;
// returns the end. p must have room for 6 * n characters.
inline char* escape_bytes(const unsigned char* s, std::size_t n, char* p) {
  std::size_t i = 0;
  while (i < n) {
    while (i + 8 <= n) {
      std::uint64_t w;
      std::memcpy(&w, s + i, 8);
      if (word_needs_escape(w)) break;
      std::memcpy(p, s + i, 8);
      p += 8;
      i += 8;
    }
    std::size_t stop = i + 8 < n ? i + 8 : n;
    for (; i < stop; ++i) {
      unsigned char c = s[i];
      if (kEscape[c]) {
        p += put_escape(c, p);
      } else {
        *p++ = static_cast<char>(c);
      }
    }
  }
  return p;
}

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
    while (i < stop) {
      std::size_t run = i;
      while (run < stop && s[run] < 0x80) ++run;
      if (run > i) {
        if constexpr (sizeof(Unit) == 1) {
          p = escape_bytes(s + i, run - i, p);
        } else {
          for (std::size_t k = i; k < run; ++k) {
            auto c = static_cast<unsigned char>(s[k]);
            if (kEscape[c]) {
              p += put_escape(c, p);
            } else {
              *p++ = static_cast<char>(c);
            }
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

// Two decimal digits per step.
constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

inline char* put_uint(std::uint64_t v, char* end) {
  char* p = end;
  while (v >= 100) {
    unsigned pair = static_cast<unsigned>(v % 100) * 2;
    v /= 100;
    p -= 2;
    p[0] = kDigitPairs[pair];
    p[1] = kDigitPairs[pair + 1];
  }
  if (v >= 10) {
    p -= 2;
    p[0] = kDigitPairs[v * 2];
    p[1] = kDigitPairs[v * 2 + 1];
  } else {
    *--p = static_cast<char>('0' + v);
  }
  return p;
}

}  // namespace

void write_string(std::string_view utf8, Buffer& out) {
  const auto* s = reinterpret_cast<const unsigned char*>(utf8.data());
  std::size_t n = utf8.size();
  if (n <= kSlice) {
    // One reservation for the common short text, quotes included.
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

void write_uint(std::uint64_t value, Buffer& out) {
  char digits[20];
  char* end = digits + sizeof digits;
  char* begin = put_uint(value, end);
  out.append(std::string_view(begin, static_cast<std::size_t>(end - begin)));
}

void write_int(std::int64_t value, Buffer& out) {
  char digits[21];
  char* end = digits + sizeof digits;
  // Negated in unsigned arithmetic, so the most negative value is fine too.
  std::uint64_t magnitude = value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  char* begin = put_uint(magnitude, end);
  if (value < 0) *--begin = '-';
  out.append(std::string_view(begin, static_cast<std::size_t>(end - begin)));
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
