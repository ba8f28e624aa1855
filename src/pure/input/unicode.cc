#include "pure/input/unicode.h"

#include <algorithm>
#include <cstring>
#include <cstdint>
#include <iterator>

namespace zembra::input {
namespace {

// First code point (the zero) of every run of ten decimal digits.
constexpr char32_t kDigitZeros[] = {
    0x30, 0x660, 0x6F0, 0x7C0, 0x966, 0x9E6, 0xA66, 0xAE6,
    0xB66, 0xBE6, 0xC66, 0xCE6, 0xD66, 0xDE6, 0xE50, 0xED0,
    0xF20, 0x1040, 0x1090, 0x17E0, 0x1810, 0x1946, 0x19D0, 0x1A80,
    0x1A90, 0x1B50, 0x1BB0, 0x1C40, 0x1C50, 0xA620, 0xA8D0, 0xA900,
    0xA9D0, 0xA9F0, 0xAA50, 0xABF0, 0xFF10, 0x104A0, 0x10D30, 0x11066,
    0x110F0, 0x11136, 0x111D0, 0x112F0, 0x11450, 0x114D0, 0x11650, 0x116C0,
    0x11730, 0x118E0, 0x11950, 0x11C50, 0x11D50, 0x11DA0, 0x11F50, 0x16A60,
    0x16AC0, 0x16B50, 0x1D7CE, 0x1D7D8, 0x1D7E2, 0x1D7EC, 0x1D7F6, 0x1E140,
    0x1E2F0, 0x1E4F0, 0x1E950, 0x1FBF0,
};

// Whitespace beyond ASCII, ascending.
constexpr char32_t kWideSpaces[] = {0x85,   0xA0,   0x1680, 0x2000, 0x2001, 0x2002, 0x2003, 0x2004,
                                    0x2005, 0x2006, 0x2007, 0x2008, 0x2009, 0x200A, 0x2028, 0x2029,
                                    0x202F, 0x205F, 0x3000};

inline unsigned char byte_at(const char* p) { return static_cast<unsigned char>(*p); }

// Length of the code point that ends just before end (well-formed input).
std::size_t last_length(const char* begin, const char* end) {
  std::size_t n = 1;
  while (end - static_cast<std::ptrdiff_t>(n) > begin && (byte_at(end - n) & 0xC0) == 0x80) ++n;
  return n;
}

}  // namespace

char32_t next_code_point(const char*& p) {
  const unsigned char lead = byte_at(p);
  if (lead < 0x80) {
    ++p;
    return lead;
  }
  if (lead < 0xE0) {
    const char32_t c = ((lead & 0x1Fu) << 6) | (byte_at(p + 1) & 0x3Fu);
    p += 2;
    return c;
  }
  if (lead < 0xF0) {
    const char32_t c = ((lead & 0x0Fu) << 12) | ((byte_at(p + 1) & 0x3Fu) << 6) | (byte_at(p + 2) & 0x3Fu);
    p += 3;
    return c;
  }
  const char32_t c = ((lead & 0x07u) << 18) | ((byte_at(p + 1) & 0x3Fu) << 12) | ((byte_at(p + 2) & 0x3Fu) << 6) |
                     (byte_at(p + 3) & 0x3Fu);
  p += 4;
  return c;
}

bool is_space(char32_t c) {
  if (c < 0x80) return (c >= 0x09 && c <= 0x0D) || (c >= 0x1C && c <= 0x20);
  return std::binary_search(std::begin(kWideSpaces), std::end(kWideSpaces), c);
}

int decimal_value(char32_t c) {
  if (c < 0x80) return c >= '0' && c <= '9' ? static_cast<int>(c - '0') : -1;
  const auto* it = std::upper_bound(std::begin(kDigitZeros), std::end(kDigitZeros), c);
  if (it == std::begin(kDigitZeros)) return -1;
  const char32_t zero = *(it - 1);
  return c - zero < 10 ? static_cast<int>(c - zero) : -1;
}

std::size_t code_point_count(std::string_view text) {
  // Every byte but the continuation bytes (10xxxxxx) starts a code point.
  std::size_t n = text.size();
  const char* p = text.data();
  const char* end = p + text.size();
  constexpr std::uint64_t kHigh = 0x8080808080808080ull;
  for (; end - p >= 8; p += 8) {
    std::uint64_t x;
    std::memcpy(&x, p, 8);
    const std::uint64_t continuation = x & ~(x << 1) & kHigh;  // bit 7 set, bit 6 clear
    // One bit per byte at most: summing the bytes counts them (no popcount
    // instruction is assumed).
    n -= static_cast<std::size_t>(((continuation >> 7) * 0x0101010101010101ull) >> 56);
  }
  for (; p != end; ++p) n -= (static_cast<unsigned char>(*p) & 0xC0) == 0x80;
  return n;
}

std::string_view strip_spaces_slow(std::string_view text) {
  const char* begin = text.data();
  const char* end = begin + text.size();
  // ASCII spaces first, a byte at a time.
  while (begin != end && static_cast<unsigned char>(*begin) < 0x80 && is_space(static_cast<unsigned char>(*begin))) ++begin;
  while (end != begin && static_cast<unsigned char>(end[-1]) < 0x80 && is_space(static_cast<unsigned char>(end[-1]))) --end;
  while (begin != end) {
    const char* next = begin;
    if (!is_space(next_code_point(next))) break;
    begin = next;
  }
  while (end != begin) {
    const std::size_t n = last_length(begin, end);
    const char* start = end - n;
    if (!is_space(next_code_point(start))) break;
    end -= n;
  }
  return {begin, static_cast<std::size_t>(end - begin)};
}

std::string_view drop_final_newline(std::string_view text) {
  if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  return text;
}

}  // namespace zembra::input
