// Code points as the interpreter's str methods see them.
//
// Texts here are UTF-8, except that a lone surrogate (which the JSON reader
// keeps, as the interpreter's json module does) is held as its three-byte
// encoding. The tables follow the interpreter's Unicode 15.1 data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace zembra::input {

// The code point starting at p (well-formed input assumed); advances p.
char32_t next_code_point(const char*& p);

// str.isspace() of one code point (also re's \s).
bool is_space(char32_t c);

// The value 0..9 of a decimal digit of any script (str.isdecimal(), re's
// \d, what int() and float() read), or -1.
int decimal_value(char32_t c);

// Characters a case-insensitive pattern [a-z] matches: the ASCII letters,
// and U+0130, U+0131, U+017F and U+212A, which fold onto i, s and k.
inline bool is_letter_ignoring_case(char32_t c) {
  if (c < 0x80) return (c | 0x20) >= 'a' && (c | 0x20) <= 'z';
  return c == 0x130 || c == 0x131 || c == 0x17F || c == 0x212A;
}

std::size_t code_point_count(std::string_view text);

// code_point_count(text) > limit, counted only when the size leaves it open.
inline bool more_code_points_than(std::string_view text, std::size_t limit) {
  return text.size() > limit && code_point_count(text) > limit;
}

inline bool is_ascii(std::string_view text) {
  const char* p = text.data();
  const char* end = p + text.size();
  for (; end - p >= 8; p += 8) {
    std::uint64_t x;
    std::memcpy(&x, p, 8);
    if (x & 0x8080808080808080ull) return false;
  }
  for (; p != end; ++p) {
    if (static_cast<unsigned char>(*p) >= 0x80) return false;
  }
  return true;
}

// str.strip(): whitespace of any script removed at both ends.
std::string_view strip_spaces_slow(std::string_view text);
inline std::string_view strip_spaces(std::string_view text) {
  // Text that starts and ends with ASCII above ' ' has nothing to strip.
  if (!text.empty()) {
    const auto front = static_cast<unsigned char>(text.front());
    const auto back = static_cast<unsigned char>(text.back());
    if (front > ' ' && front < 0x80 && back > ' ' && back < 0x80) return text;
  }
  return strip_spaces_slow(text);
}

// re's "$" without MULTILINE: the end, or just before a final "\n".
std::string_view drop_final_newline(std::string_view text);

}  // namespace zembra::input
