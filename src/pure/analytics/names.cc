#include "pure/analytics/names.h"

#include <array>

#include "pure/analytics/unicode_alphabetic.h"

namespace zembra::analytics {
namespace {

constexpr char32_t kMalformed = 0xFFFFFFFFu;  // not a code point, so never Alphabetic

struct Decoded {
  char32_t cp;
  std::size_t length;
};

constexpr bool is_continuation(unsigned char b) noexcept { return (b & 0xC0u) == 0x80u; }

// Decodes the multi-byte sequence starting at s[i] (s[i] >= 0x80). A
// malformed or truncated sequence yields kMalformed over one byte, so the
// walk always advances and never reads beyond s.
Decoded decode_multibyte(std::string_view s, std::size_t i) noexcept {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data()) + i;
  const std::size_t left = s.size() - i;
  const unsigned char b0 = p[0];
  std::size_t n;
  char32_t cp;
  char32_t min;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    n = 2, cp = b0 & 0x1Fu, min = 0x80;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    n = 3, cp = b0 & 0x0Fu, min = 0x800;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    n = 4, cp = b0 & 0x07u, min = 0x10000;
  } else {
    return {kMalformed, 1};
  }
  if (left < n) return {kMalformed, 1};
  for (std::size_t k = 1; k < n; ++k) {
    if (!is_continuation(p[k])) return {kMalformed, 1};
    cp = (cp << 6) | (p[k] & 0x3Fu);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return {kMalformed, 1};
  return {cp, n};
}

constexpr bool is_ascii_letter(unsigned char c) noexcept {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

constexpr std::uint8_t bit(NameRule rule) noexcept {
  return static_cast<std::uint8_t>(1u << static_cast<unsigned>(rule));
}

// What each ASCII byte says about a name, as bits: kSawSpace for ' ', the
// digit rule's bit for '0'..'9', the character rule's bit for anything but
// letters, '-' and ' '. A name's bytes are OR-ed together without branching.
constexpr std::uint8_t kSawSpace = bit(NameRule::kSpace);

constexpr std::array<std::uint8_t, 128> make_ascii_classes() {
  std::array<std::uint8_t, 128> classes{};
  for (unsigned c = 0; c < 128; ++c) {
    if (c == ' ') {
      classes[c] = kSawSpace;
    } else if (c >= '0' && c <= '9') {
      classes[c] = bit(NameRule::kDigits);
    } else if (!is_ascii_letter(static_cast<unsigned char>(c)) && c != '-') {
      classes[c] = bit(NameRule::kCharacters);
    }
  }
  return classes;
}
constexpr std::array<std::uint8_t, 128> kAsciiClasses = make_ascii_classes();

}  // namespace

NameCheckResult check_name(std::string_view utf8) noexcept {
  const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
  const std::size_t n = utf8.size();
  std::uint8_t seen = 0;
  std::size_t chars = 0;
  std::size_t i = 0;
  while (i < n) {
    // A run of ASCII bytes, one character each.
    std::size_t start = i;
    while (i < n && p[i] < 0x80) seen |= kAsciiClasses[p[i++]];
    chars += i - start;
    if (i == n) break;
    const Decoded d = decode_multibyte(utf8, i);
    i += d.length;
    ++chars;
    // U+0080..U+00A9 holds no letters; the property decides from U+00AA up.
    if (d.cp < 0xAA || !is_alphabetic(d.cp)) seen |= bit(NameRule::kCharacters);
  }

  NameCheckResult result;
  // The space rule fails when no space was seen; the other bits fail as set.
  result.failed = static_cast<std::uint8_t>(seen ^ kSawSpace);
  if (chars > kMaxNameLength) result.failed |= bit(NameRule::kLength);
  return result;
}

}  // namespace zembra::analytics
