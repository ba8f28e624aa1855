// The inner steps of the JSON text writers: escape scans over blocks of
// bytes and digit pairs, inline so that the writers of short strings and
// integers need no call. Part of json_text; nothing here touches Python.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zembra::json::detail {

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
inline constexpr std::array<char, 256> kEscape = make_escapes();

inline constexpr char kHex[] = "0123456789abcdef";

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

// n bytes from s to p (distinct buffers), the short counts of keys and
// text forms by overlapping loads and stores rather than a call.
inline void copy_bytes(char* p, const char* s, std::size_t n) {
  if (n >= 8 && n <= 16) {
    std::uint64_t head, tail;
    std::memcpy(&head, s, 8);
    std::memcpy(&tail, s + n - 8, 8);
    std::memcpy(p, &head, 8);
    std::memcpy(p + n - 8, &tail, 8);
  } else if (n > 16 && n <= 32) {
    char head[16], tail[16];
    std::memcpy(head, s, 16);
    std::memcpy(tail, s + n - 16, 16);
    std::memcpy(p, head, 16);
    std::memcpy(p + n - 16, tail, 16);
  } else if (n >= 4 && n < 8) {
    std::uint32_t head, tail;
    std::memcpy(&head, s, 4);
    std::memcpy(&tail, s + n - 4, 4);
    std::memcpy(p, &head, 4);
    std::memcpy(p + n - 4, &tail, 4);
  } else if (n < 4) {
    for (std::size_t i = 0; i < n; ++i) p[i] = s[i];
  } else {
    std::memcpy(p, s, n);
  }
}

// Bit k set when byte k of the sixteen at s needs attention: below 0x20,
// '"' or '\\', and with high_too also 0x80 and above.
template <bool high_too>
inline unsigned special_mask16(const unsigned char* s) {
#if defined(__SSE2__)
  __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
  // v <= 0x1F as unsigned bytes: max(v, 0x1F) == 0x1F.
  __m128i control = _mm_cmpeq_epi8(_mm_max_epu8(v, _mm_set1_epi8(0x1F)), _mm_set1_epi8(0x1F));
  __m128i quote = _mm_cmpeq_epi8(v, _mm_set1_epi8('"'));
  __m128i backslash = _mm_cmpeq_epi8(v, _mm_set1_epi8('\\'));
  __m128i any = _mm_or_si128(control, _mm_or_si128(quote, backslash));
  if constexpr (high_too) any = _mm_or_si128(any, v);  // the sign bit is the byte's high bit
  return static_cast<unsigned>(_mm_movemask_epi8(any));
#else
  unsigned mask = 0;
  for (int k = 0; k < 16; ++k) {
    unsigned char c = s[k];
    if (kEscape[c] || (high_too && c >= 0x80)) mask |= 1u << k;
  }
  return mask;
#endif
}

// The special byte c (see special_mask16) at p; returns the end.
template <bool high_too>
inline char* put_special(unsigned char c, char* p) {
  if (high_too && c >= 0x80) {
    // A code point U+0080..U+00FF in UTF-8.
    p[0] = static_cast<char>(0xC0 | (c >> 6));
    p[1] = static_cast<char>(0x80 | (c & 0x3F));
    return p + 2;
  }
  return p + put_escape(c, p);
}

// True when any of the eight bytes is below 0x20, '"' or '\\' (exact as a
// yes/no answer), or with high_too 0x80 and above.
template <bool high_too>
inline bool word_is_special(std::uint64_t w) {
  constexpr std::uint64_t ones = 0x0101010101010101ull;
  constexpr std::uint64_t high = 0x8080808080808080ull;
  std::uint64_t below_space = (w - ones * 0x20) & ~w;
  std::uint64_t quote = w ^ (ones * '"');
  std::uint64_t backslash = w ^ (ones * '\\');
  std::uint64_t zero_quote = (quote - ones) & ~quote;
  std::uint64_t zero_backslash = (backslash - ones) & ~backslash;
  std::uint64_t found = below_space | zero_quote | zero_backslash;
  if constexpr (high_too) found |= w;
  return (found & high) != 0;
}

inline std::uint64_t load8(const unsigned char* s) {
  std::uint64_t w;
  std::memcpy(&w, s, 8);
  return w;
}

// Padded with 'a' (a byte that is never special) above the four loaded.
inline std::uint64_t load4_padded(const unsigned char* s) {
  std::uint32_t w;
  std::memcpy(&w, s, 4);
  return w | 0x6161616100000000ull;
}

// s[0..n) for n below 16: when no byte is special, copied by two
// overlapping loads and stores of the same width; otherwise byte by byte.
template <bool high_too>
inline char* write_short(const unsigned char* s, std::size_t n, char* p) {
  bool special;
  if (n >= 8) {
    std::uint64_t head = load8(s);
    std::uint64_t tail = load8(s + n - 8);
    special = word_is_special<high_too>(head) || word_is_special<high_too>(tail);
    if (!special) {
      std::memcpy(p, &head, 8);
      std::memcpy(p + n - 8, &tail, 8);
      return p + n;
    }
  } else if (n >= 4) {
    std::uint64_t head = load4_padded(s);
    std::uint64_t tail = load4_padded(s + n - 4);
    special = word_is_special<high_too>(head) || word_is_special<high_too>(tail);
    if (!special) {
      std::memcpy(p, s, 4);
      std::memcpy(p + n - 4, s + n - 4, 4);
      return p + n;
    }
  }
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char c = s[i];
    if (kEscape[c] || (high_too && c >= 0x80)) {
      p = put_special<high_too>(c, p);
    } else {
      *p++ = static_cast<char>(c);
    }
  }
  return p;
}

// Bytes s[0..n) into p, escaped; with high_too each byte is a Latin-1 code
// point (an interpreter str of one byte per character), else UTF-8 or ASCII
// passed through. Returns the end; p must have room for 6 * n characters.
//
// Sixteen bytes at a time: a block without special bytes is copied whole,
// any other as its plain runs between the special ones. The last, shorter
// block is read as the last sixteen bytes, and a text shorter than sixteen
// by narrower loads, so that nothing beyond s + n is read.
template <bool high_too>
inline char* escape_block_run(const unsigned char* s, std::size_t n, char* p) {
  std::size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    unsigned mask = special_mask16<high_too>(s + i);
    if (!mask) {
      std::memcpy(p, s + i, 16);
      p += 16;
      continue;
    }
    unsigned done = 0;  // bytes of the block written
    while (mask) {
      unsigned k = static_cast<unsigned>(__builtin_ctz(mask));
      mask &= mask - 1;
      copy_bytes(p, reinterpret_cast<const char*>(s + i + done), k - done);  // plain bytes since the last special one
      p += k - done;
      p = put_special<high_too>(s[i + k], p);
      done = k + 1;
    }
    copy_bytes(p, reinterpret_cast<const char*>(s + i + done), 16 - done);
    p += 16 - done;
  }
  if (i == n) return p;
  std::size_t rest = n - i;
  if (n < 16) return write_short<high_too>(s, n, p);
  // The last sixteen bytes, overlapping those already written: only the
  // bits of the rest count.
  unsigned mask = special_mask16<high_too>(s + n - 16) >> (16 - rest);
  const unsigned char* block = s + i;
  unsigned done = 0;
  while (mask) {
    unsigned k = static_cast<unsigned>(__builtin_ctz(mask));
    mask &= mask - 1;
    copy_bytes(p, reinterpret_cast<const char*>(block + done), k - done);
    p += k - done;
    p = put_special<high_too>(block[k], p);
    done = k + 1;
  }
  copy_bytes(p, reinterpret_cast<const char*>(block + done), rest - done);
  return p + (rest - done);
}

inline char* escape_bytes(const unsigned char* s, std::size_t n, char* p) {
  return escape_block_run<false>(s, n, p);
}

// Two decimal digits per step.
inline constexpr char kDigitPairs[] =
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

// Digits written straight into the buffer: their count first, then from the
// last digit back.
inline char* put_uint_at(std::uint64_t v, char* p) {
  unsigned count = 1;
  for (std::uint64_t bound = 10; count < 20 && v >= bound; bound *= 10) ++count;
  char* end = p + count;
  put_uint(v, end);
  return end;
}

}  // namespace zembra::json::detail
