// Length of UTF-8 text in Unicode code points.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace zembra {

// Counts the bytes that do not continue a sequence (not 10xxxxxx), eight at
// a time. The text is assumed to be valid UTF-8; any bytes give a bounded
// count no larger than the byte count.
inline std::uint64_t count_code_points(std::string_view text) noexcept {
  const char* p = text.data();
  std::size_t n = text.size();
  std::uint64_t continuation = 0;
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    std::uint64_t w;
    std::memcpy(&w, p + i, 8);
    // High bit set and the bit below it clear, per byte.
    continuation += static_cast<unsigned>(std::popcount(w & ~(w << 1) & 0x8080808080808080ull));
  }
  for (; i < n; ++i)
    continuation += (static_cast<unsigned char>(p[i]) & 0xC0) == 0x80;
  return n - continuation;
}

}  // namespace zembra
