// National ID format check: eight ASCII digits, a hyphen, four ASCII digits.
//
// A fixed sequence of byte tests rather than a pattern engine: IDs are checked
// by the million, and the format has no variable parts.
#pragma once

#include <cstddef>
#include <string_view>

namespace zembra::analytics {

inline constexpr std::size_t kIdLength = 13;
inline constexpr std::size_t kIdHyphenIndex = 8;

// True exactly when `text` (UTF-8 bytes) is "DDDDDDDD-DDDD" with D in '0'..'9'.
// No trimming; non-ASCII digits are refused.
constexpr bool check_id(std::string_view text) noexcept {
  if (text.size() != kIdLength) return false;
  for (std::size_t i = 0; i < kIdLength; ++i) {
    const char c = text[i];
    const bool ok = i == kIdHyphenIndex ? c == '-' : (c >= '0' && c <= '9');
    if (!ok) return false;
  }
  return true;
}

}  // namespace zembra::analytics
