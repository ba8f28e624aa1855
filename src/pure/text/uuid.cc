#include "pure/text/uuid.h"

#include <array>

namespace zembra::text {
namespace {

constexpr std::uint8_t kNotHex = 0xFF;

constexpr auto kHexValue = [] {
  std::array<std::uint8_t, 256> t{};
  for (auto& v : t) v = kNotHex;
  for (unsigned i = 0; i < 10; ++i) t['0' + i] = static_cast<std::uint8_t>(i);
  for (unsigned i = 0; i < 6; ++i) t['a' + i] = t['A' + i] = static_cast<std::uint8_t>(10 + i);
  return t;
}();

constexpr std::string_view kUrnPrefix = "urn:uuid:";
constexpr std::array<std::uint8_t, 5> kGroupLengths = {8, 4, 4, 4, 12};
// Where each byte's two hex digits start in the hyphenated form.
constexpr std::array<std::uint8_t, 16> kHyphenatedOffsets = {0,  2,  4,  6,  9,  11, 14, 16,
                                                             19, 21, 24, 26, 28, 30, 32, 34};

inline std::uint8_t hex(char c) { return kHexValue[static_cast<unsigned char>(c)]; }

// Reads 16 bytes from pairs of hex digits at the given offsets; false when
// any of them is not a hex digit.
template <class Offset>
bool read_pairs(const char* s, Offset offset_of, Uuid& out) {
  std::uint8_t bad = 0;
  for (int i = 0; i < 16; ++i) {
    std::size_t at = offset_of(i);
    std::uint8_t hi = hex(s[at]);
    std::uint8_t lo = hex(s[at + 1]);
    bad |= hi | lo;  // kNotHex has the high bit set; hex values never do
    out.bytes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>((hi << 4) | (lo & 0x0F));
  }
  return (bad & 0x80) == 0;
}

bool read_simple(const char* s, Uuid& out) {
  return read_pairs(s, [](int i) { return static_cast<std::size_t>(i) * 2; }, out);
}

bool read_hyphenated(const char* s, Uuid& out) {
  if (s[8] != '-' || s[13] != '-' || s[18] != '-' || s[23] != '-') return false;
  return read_pairs(s, [](int i) { return std::size_t{kHyphenatedOffsets[static_cast<std::size_t>(i)]}; },
                    out);
}

// Length of a valid UTF-8 sequence starting at s[0], or 0.
std::size_t utf8_sequence_size(std::string_view s) {
  auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  unsigned char b0 = byte(0);
  if (b0 < 0x80) return 1;
  std::size_t need;
  unsigned char lo = 0x80, hi = 0xBF;  // range of the second byte
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 2;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 3;
    if (b0 == 0xE0) lo = 0xA0;  // no overlong forms
    if (b0 == 0xED) hi = 0x9F;  // no surrogates
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 4;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
  } else {
    return 0;
  }
  if (s.size() < need) return 0;
  if (byte(1) < lo || byte(1) > hi) return 0;
  for (std::size_t i = 2; i < need; ++i)
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  return need;
}

UuidError invalid_character(std::string_view text, std::size_t at) {
  UuidError e;
  e.kind = UuidErrorKind::InvalidCharacter;
  e.position = at + 1;
  std::size_t size = utf8_sequence_size(text.substr(at));
  if (size == 0) {
    constexpr char kReplacement[] = "\xEF\xBF\xBD";
    for (std::size_t i = 0; i < 3; ++i) e.character[i] = kReplacement[i];
    e.character_size = 3;
  } else {
    for (std::size_t i = 0; i < size; ++i) e.character[i] = text[at + i];
    e.character_size = static_cast<std::uint8_t>(size);
  }
  return e;
}

// Finds the error for a text that none of the accepted forms matched.
UuidError diagnose(std::string_view text) {
  std::string_view body = text;
  std::size_t offset = 0;
  bool wrapped = true;
  if (text.size() >= 2 && text.front() == '{' && text.back() == '}') {
    body = text.substr(1, text.size() - 2);
    offset = 1;
  } else if (text.substr(0, kUrnPrefix.size()) == kUrnPrefix) {
    body = text.substr(kUrnPrefix.size());
    offset = kUrnPrefix.size();
  } else {
    wrapped = false;
  }

  std::size_t hyphens = 0;
  for (std::size_t i = 0; i < body.size(); ++i) {
    char c = body[i];
    if (c == '-') {
      ++hyphens;
    } else if (hex(c) == kNotHex) {
      return invalid_character(text, offset + i);
    }
  }

  UuidError e;
  if (!wrapped && hyphens == 0) {
    e.kind = UuidErrorKind::InvalidLength;
    e.found = text.size();
    return e;
  }
  if (hyphens + 1 != kGroupLengths.size()) {
    e.kind = UuidErrorKind::InvalidGroupCount;
    e.found = hyphens + 1;
    return e;
  }
  std::size_t group = 0, start = 0;
  for (std::size_t i = 0; i <= body.size(); ++i) {
    if (i == body.size() || body[i] == '-') {
      std::size_t length = i - start;
      if (length != kGroupLengths[group]) {
        e.kind = UuidErrorKind::InvalidGroupLength;
        e.group = static_cast<std::uint8_t>(group);
        e.expected = kGroupLengths[group];
        e.found = length;
        return e;
      }
      ++group;
      start = i + 1;
    }
  }
  // Unreachable for texts the accepted forms refused: five groups of the
  // right lengths made of hex digits are the hyphenated form. Report the
  // length so that the function stays total.
  e.kind = UuidErrorKind::InvalidLength;
  e.found = text.size();
  return e;
}

}  // namespace

std::string message(const UuidError& error) {
  std::string m;
  switch (error.kind) {
    case UuidErrorKind::InvalidCharacter:
      m = "invalid character: found `";
      m += error.character_text();
      m += "` at ";
      m += std::to_string(error.position);
      break;
    case UuidErrorKind::InvalidLength:
      m = "invalid length: expected length 32 for simple format, found ";
      m += std::to_string(error.found);
      break;
    case UuidErrorKind::InvalidGroupCount:
      m = "invalid group count: expected 5, found ";
      m += std::to_string(error.found);
      break;
    case UuidErrorKind::InvalidGroupLength:
      m = "invalid group length in group ";
      m += std::to_string(error.group);
      m += ": expected ";
      m += std::to_string(error.expected);
      m += ", found ";
      m += std::to_string(error.found);
      break;
  }
  return m;
}

Expected<Uuid, UuidError> parse_uuid(std::string_view text) {
  Uuid out;
  const char* s = text.data();
  switch (text.size()) {
    case 32:
      if (read_simple(s, out)) return out;
      break;
    case 36:
      if (read_hyphenated(s, out)) return out;
      break;
    case 38:
      if (s[0] == '{' && s[37] == '}' && read_hyphenated(s + 1, out)) return out;
      break;
    case 45:
      if (text.substr(0, kUrnPrefix.size()) == kUrnPrefix && read_hyphenated(s + kUrnPrefix.size(), out))
        return out;
      break;
    default:
      break;
  }
  return fail(diagnose(text));
}

void format_uuid(const Uuid& value, Buffer& out) {
  static constexpr char kDigits[] = "0123456789abcdef";
  char* w = out.reserve(kUuidTextSize);
  std::size_t j = 0;
  for (std::size_t i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) w[j++] = '-';
    w[j++] = kDigits[value.bytes[i] >> 4];
    w[j++] = kDigits[value.bytes[i] & 0x0F];
  }
  out.commit(kUuidTextSize);
}

}  // namespace zembra::text
