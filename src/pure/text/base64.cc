#include "pure/text/base64.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace zembra::text {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Both characters for every 12-bit value: one lookup per half of a group of
// three bytes.
constexpr auto kPairs = [] {
  std::array<char, 4096 * 2> t{};
  for (std::size_t v = 0; v < 4096; ++v) {
    t[2 * v] = kAlphabet[v >> 6];
    t[2 * v + 1] = kAlphabet[v & 63];
  }
  return t;
}();

inline void put_pair(char* w, std::uint32_t twelve_bits) {
  std::memcpy(w, &kPairs[2 * twelve_bits], 2);
}

}  // namespace

void encode_base64(std::string_view bytes, Buffer& out) {
  std::size_t size = base64_size(bytes.size());
  char* w = out.reserve(size);
  const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t n = bytes.size();
  std::size_t full = n - n % 3;
  std::size_t i = 0;
  for (; i < full; i += 3, w += 4) {
    std::uint32_t v = (std::uint32_t{in[i]} << 16) | (std::uint32_t{in[i + 1]} << 8) | in[i + 2];
    put_pair(w, v >> 12);
    put_pair(w + 2, v & 0xFFF);
  }
  if (n - full == 1) {
    std::uint32_t v = std::uint32_t{in[i]} << 4;  // 8 bits, then 4 zero bits
    put_pair(w, v);
    w[2] = '=';
    w[3] = '=';
  } else if (n - full == 2) {
    std::uint32_t v = (std::uint32_t{in[i]} << 10) | (std::uint32_t{in[i + 1]} << 2);  // 18 bits
    put_pair(w, v >> 6);
    w[2] = kAlphabet[v & 63];
    w[3] = '=';
  }
  out.commit(size);
}

}  // namespace zembra::text
