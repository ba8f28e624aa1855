#include "pure/input/json_document.h"

#include <bit>
#include <cstring>
#include <limits>
#include <system_error>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "pure/input/number_text.h"

namespace zembra::input {
namespace {

inline unsigned char byte_at(const char* p) { return static_cast<unsigned char>(*p); }
inline bool is_digit(char c) { return c >= '0' && c <= '9'; }
inline bool is_json_space(char c) {
  // One test for the usual non-space byte: every JSON space is at most ' '.
  return static_cast<unsigned char>(c) <= ' ' && (c == ' ' || c == '\t' || c == '\n' || c == '\r');
}

inline bool is_plain(unsigned char c) { return c >= 0x20 && c < 0x80 && c != '"' && c != '\\'; }

// Skips string bytes that need no attention (printable ASCII other than the
// quote and backslash), eight at a time while possible: returns the first
// byte that does, or end.
inline const char* skip_plain(const char* p, const char* end) {
#if defined(__SSE2__)
  // Sixteen at a time: a signed compare below 0x20 catches the control
  // bytes and every byte from 0x80 up.
  const __m128i quote16 = _mm_set1_epi8('"');
  const __m128i slash16 = _mm_set1_epi8('\\');
  const __m128i space16 = _mm_set1_epi8(0x20);
  while (end - p >= 16) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i hits = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(x, quote16), _mm_cmpeq_epi8(x, slash16)),
                                      _mm_cmplt_epi8(x, space16));
    const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hits));
    if (mask) return p + std::countr_zero(mask);
    p += 16;
  }
#endif
  constexpr std::uint64_t kOnes = 0x0101010101010101ull;
  constexpr std::uint64_t kHigh = 0x8080808080808080ull;
  while (end - p >= 8) {
    std::uint64_t x;
    std::memcpy(&x, p, 8);
    const std::uint64_t quote = x ^ (kOnes * '"');
    const std::uint64_t slash = x ^ (kOnes * '\\');
    // A high bit marks a control byte, a quote, a backslash or a non-ASCII
    // byte; borrows only add marks after a genuine one, so the lowest mark
    // (the first byte in memory order) is genuine.
    const std::uint64_t marks =
        (((x - kOnes * 0x20) & ~x) | ((quote - kOnes) & ~quote) | ((slash - kOnes) & ~slash) | x) & kHigh;
    if (marks) {
      if constexpr (std::endian::native == std::endian::little) return p + (std::countr_zero(marks) >> 3);
      break;
    }
    p += 8;
  }
  while (p != end && is_plain(byte_at(p))) ++p;
  return p;
}

inline int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void append_code_point(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::string hex_byte(unsigned char b) {
  static constexpr char kHex[] = "0123456789abcdef";
  return std::string("0x") + kHex[b >> 4] + kHex[b & 15];
}

// Checks UTF-8 the way the interpreter's incremental decoder does when it is
// never told the input is complete: an invalid sequence fails, a valid but
// unfinished one at the end is left out of `usable`.
Expected<std::size_t, std::string> usable_utf8_length(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  std::size_t i = 0;
  for (;;) {
#if defined(__SSE2__)
    while (i + 16 <= n &&
           _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i))) == 0) {
      i += 16;
    }
#endif
    while (i + 8 <= n) {
      std::uint64_t word;
      std::memcpy(&word, p + i, 8);
      if (word & 0x8080808080808080ull) break;
      i += 8;
    }
    while (i < n && p[i] < 0x80) ++i;
    if (i == n) return n;
    const unsigned char lead = p[i];
    std::size_t need;
    unsigned char lo = 0x80, hi = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      need = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      need = 2;
      if (lead == 0xE0) lo = 0xA0;
      if (lead == 0xED) hi = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      need = 3;
      if (lead == 0xF0) lo = 0x90;
      if (lead == 0xF4) hi = 0x8F;
    } else {
      return fail("'utf-8' codec can't decode byte " + hex_byte(lead) + " in position " + std::to_string(i) +
                  ": invalid start byte");
    }
    std::size_t good = 0;  // continuation bytes that fit
    for (std::size_t k = 1; k <= need && i + k < n; ++k) {
      const unsigned char c = p[i + k];
      const bool fits = k == 1 ? (c >= lo && c <= hi) : (c >= 0x80 && c <= 0xBF);
      if (!fits) break;
      ++good;
    }
    if (good == need) {
      i += need + 1;
      continue;
    }
    if (i + 1 + good == n) return i;  // unfinished at the very end
    // The codec's decoder, when not told the data is complete, also holds
    // back the first two bytes of an encoded surrogate (ED A0..BF) at the
    // very end, and the framework's stream reader never flushes it.
    if (lead == 0xED && i + 2 == n && p[i + 1] >= 0xA0 && p[i + 1] <= 0xBF) return i;
    if (good == 0) {
      return fail("'utf-8' codec can't decode byte " + hex_byte(lead) + " in position " + std::to_string(i) +
                  ": invalid continuation byte");
    }
    return fail("'utf-8' codec can't decode bytes in position " + std::to_string(i) + "-" +
                std::to_string(i + good) + ": invalid continuation byte");
  }
}

using Frame = Document::Open;

class Reader {
 public:
  Reader(std::string_view text, Document& doc) : begin_(text.data()), p_(begin_), end_(begin_ + text.size()), doc_(doc) {}

  ParseResult read() {
    doc_.clear();
    skip_space();
    std::vector<Frame>& stack = doc_.open;  // kept by the document, so its storage is reused
    stack.clear();
    for (;;) {
      // A value is expected at p_.
      if (p_ == end_) return error("Expecting value", p_);
      const char c = *p_;
      if (c == '{' || c == '[') {
        if (stack.size() == kMaxDepth) {
          return fail(std::string("maximum recursion depth exceeded while decoding a JSON ") +
                      (c == '{' ? "object" : "array") + " from a unicode string");
        }
        const bool is_object = c == '{';
        const auto index = static_cast<std::uint32_t>(doc_.nodes.size());
        doc_.nodes.emplace_back().type = is_object ? NodeType::Object : NodeType::Array;
        stack.push_back({index, is_object});
        ++p_;
        skip_space();
        if (p_ != end_ && *p_ == (is_object ? '}' : ']')) {
          ++p_;
          close(stack);
        } else {
          if (is_object) ZB_CHECK_OK(read_key());
          continue;
        }
      } else {
        ZB_CHECK_OK(read_scalar());
        if (!stack.empty()) ++doc_.nodes[stack.back().node].size;
      }
      // After a value: close containers or move on to the next member.
      bool next_value = false;
      while (!stack.empty() && !next_value) {
        const Frame frame = stack.back();
        const char close_char = frame.is_object ? '}' : ']';
        skip_space();
        if (p_ != end_ && *p_ == close_char) {
          ++p_;
          close(stack);
          continue;
        }
        if (p_ == end_ || *p_ != ',') return error("Expecting ',' delimiter", p_);
        const char* comma = p_++;
        skip_space();
        if (p_ != end_ && *p_ == close_char) {
          return error(frame.is_object ? "Illegal trailing comma before end of object"
                                       : "Illegal trailing comma before end of array",
                       comma);
        }
        if (frame.is_object) ZB_CHECK_OK(read_key());
        next_value = true;
      }
      if (stack.empty()) {
        skip_space();
        if (p_ != end_) return error("Extra data", p_);
        return {};
      }
    }
  }

 private:
  [[gnu::always_inline]] void skip_space() {
    // Compact bodies have none, others mostly one.
    const char* p = p_;
    while (p != end_ && is_json_space(*p)) ++p;
    p_ = p;
  }

  // Ends the innermost container; it counts as one item of its parent.
  void close(std::vector<Frame>& stack) {
    doc_.nodes[stack.back().node].end = static_cast<std::uint32_t>(doc_.nodes.size());
    stack.pop_back();
    if (!stack.empty()) ++doc_.nodes[stack.back().node].size;
  }

  // "<message>: line L column C (char N)", positions in code points.
  [[gnu::cold, gnu::noinline]] Unexpected<std::string> error(const char* message, const char* at) const {
    std::size_t chars = 0, line = 1, line_start_chars = 0;
    for (const char* q = begin_; q != at; ++q) {
      if ((byte_at(q) & 0xC0) == 0x80) continue;
      ++chars;
      if (*q == '\n') {
        ++line;
        line_start_chars = chars;
      }
    }
    const std::size_t column = chars - line_start_chars + 1;
    return fail(std::string(message) + ": line " + std::to_string(line) + " column " + std::to_string(column) +
                " (char " + std::to_string(chars) + ")");
  }

  bool matches(std::string_view word) const {
    return static_cast<std::size_t>(end_ - p_) >= word.size() && std::memcmp(p_, word.data(), word.size()) == 0;
  }

  [[gnu::always_inline]] Node& push_leaf(NodeType type) {
    Node& node = doc_.nodes.emplace_back();
    node.type = type;
    node.end = static_cast<std::uint32_t>(doc_.nodes.size());
    return node;
  }

  [[gnu::always_inline]] ParseResult read_key() {
    if (p_ == end_ || *p_ != '"') return error("Expecting property name enclosed in double quotes", p_);
    ZB_CHECK_OK(read_string());
    if (p_ == end_ || *p_ != ':') {  // the colon usually follows at once
      skip_space();
      if (p_ == end_ || *p_ != ':') return error("Expecting ':' delimiter", p_);
    }
    ++p_;
    skip_space();
    return {};
  }

  [[gnu::cold, gnu::noinline]] static Unexpected<std::string> out_of_range(const char* word) {
    return fail("Out of range float values are not JSON compliant: '" + std::string(word) + "'");
  }

  [[gnu::always_inline]] ParseResult read_scalar() {
    switch (*p_) {
      case '"':
        return read_string();
      case 'n':
        if (matches("null")) {
          p_ += 4;
          push_leaf(NodeType::Null);
          return {};
        }
        break;
      case 't':
        if (matches("true")) {
          p_ += 4;
          push_leaf(NodeType::True);
          return {};
        }
        break;
      case 'f':
        if (matches("false")) {
          p_ += 5;
          push_leaf(NodeType::False);
          return {};
        }
        break;
      case 'N':
        if (matches("NaN")) return out_of_range("NaN");
        break;
      case 'I':
        if (matches("Infinity")) {
          return out_of_range("Infinity");
        }
        break;
      case '-':
        if (matches("-Infinity")) {
          return out_of_range("-Infinity");
        }
        break;
      default:
        break;
    }
    return read_number();
  }

  ParseResult read_number() {
    const char* start = p_;
    const char* q = p_;
    if (*q == '-') ++q;
    if (q == end_ || !is_digit(*q)) return error("Expecting value", start);
    if (*q == '0') {
      ++q;
    } else {
      while (q != end_ && is_digit(*q)) ++q;
    }
    const char* int_end = q;
    bool is_float = false;
    if (end_ - q >= 2 && *q == '.' && is_digit(q[1])) {
      is_float = true;
      q += 2;
      while (q != end_ && is_digit(*q)) ++q;
    }
    if (end_ - q >= 2 && (*q == 'e' || *q == 'E')) {
      const char* e = q + 1;
      if (end_ - e >= 2 && (*e == '-' || *e == '+')) ++e;
      const char* digits = e;
      while (e != end_ && is_digit(*e)) ++e;
      if (e != digits) {
        is_float = true;
        q = e;
      }
    }
    p_ = q;
    if (is_float) {
      const double value = decimal_text_to_double(std::string_view(start, static_cast<std::size_t>(q - start)));
      push_leaf(NodeType::Float).number = value;
      return {};
    }
    const std::size_t digits = static_cast<std::size_t>(int_end - start) - (*start == '-');
    if (digits > kMaxIntegerDigits) {
      return fail("Exceeds the limit (" + std::to_string(kMaxIntegerDigits) +
                  " digits) for integer string conversion: value has " + std::to_string(digits) +
                  " digits; use sys.set_int_max_str_digits() to increase the limit");
    }
    if (digits <= 18) {
      std::int64_t value = 0;
      for (const char* d = start + (*start == '-'); d != int_end; ++d) value = value * 10 + (*d - '0');
      push_leaf(NodeType::Int).integer = *start == '-' ? -value : value;
      return {};
    }
    Node& node = push_leaf(NodeType::BigInt);
    node.text = start;
    node.size = static_cast<std::uint32_t>(int_end - start);
    return {};
  }

  // At the opening quote.
  [[gnu::always_inline]] ParseResult read_string() {
    const char* quote = p_;
    const char* stop = skip_plain(quote + 1, end_);
    if (stop != end_ && *stop == '"') {  // the usual string: nothing to decode
      Node& node = push_leaf(NodeType::String);
      node.text = quote + 1;
      node.size = static_cast<std::uint32_t>(stop - quote - 1);
      p_ = stop + 1;
      return {};
    }
    return read_string_slow();
  }

  // Strings with escapes, other than ASCII, or malformed.
  [[gnu::noinline]] ParseResult read_string_slow() {
    const char* quote = p_++;
    const char* run = p_;
    std::uint8_t flags = 0;
    std::string decoded;
    bool escaped = false;
    for (;;) {
      p_ = skip_plain(p_, end_);
      if (p_ == end_) return error("Unterminated string starting at", quote);
      if (*p_ == '"') break;
      if (byte_at(p_) >= 0x80) {
        flags |= kNonAscii;
        // A raw surrogate can only come from str input (ED A0..BF ..).
        if (byte_at(p_) == 0xED && end_ - p_ > 1 && byte_at(p_ + 1) >= 0xA0) flags |= kSurrogate;
        ++p_;
        continue;
      }
      if (*p_ != '\\') return error("Invalid control character at", p_);
      if (!escaped) {
        decoded.reserve(static_cast<std::size_t>(p_ - run) + 16);
        escaped = true;
      }
      decoded.append(run, p_);
      const char* backslash = p_++;
      if (p_ == end_) return error("Unterminated string starting at", quote);
      const char e = *p_;
      if (e != 'u') {
        char out;
        switch (e) {
          case '"': out = '"'; break;
          case '\\': out = '\\'; break;
          case '/': out = '/'; break;
          case 'b': out = '\b'; break;
          case 'f': out = '\f'; break;
          case 'n': out = '\n'; break;
          case 'r': out = '\r'; break;
          case 't': out = '\t'; break;
          default: return error("Invalid \\escape", backslash);
        }
        decoded += out;
        ++p_;
        run = p_;
        continue;
      }
      std::uint32_t cp;
      if (!read_hex4(p_ + 1, cp)) return error("Invalid \\uXXXX escape", p_);
      p_ += 5;
      if (cp >= 0xD800 && cp <= 0xDBFF && end_ - p_ >= 7 && p_[0] == '\\' && p_[1] == 'u') {
        std::uint32_t low;
        if (!read_hex4(p_ + 2, low)) return error("Invalid \\uXXXX escape", p_ + 1);
        if (low >= 0xDC00 && low <= 0xDFFF) {
          cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
          p_ += 6;
        }
      }
      if (cp >= 0x80) flags |= kNonAscii;
      if (cp >= 0xD800 && cp <= 0xDFFF) flags |= kSurrogate;
      append_code_point(decoded, cp);
      run = p_;
    }
    Node& node = push_leaf(NodeType::String);
    node.flags = flags;
    if (escaped) {
      decoded.append(run, p_);
      const std::string_view kept = doc_.keep(std::move(decoded));
      node.text = kept.data();
      node.size = static_cast<std::uint32_t>(kept.size());
    } else {
      node.text = quote + 1;
      node.size = static_cast<std::uint32_t>(p_ - quote - 1);
    }
    ++p_;
    return {};
  }

  // Four hex digits at h, and at least one more character after them (the
  // json module wants one before it looks at the digits).
  bool read_hex4(const char* h, std::uint32_t& cp) const {
    if (end_ - h < 5) return false;
    cp = 0;
    for (int i = 0; i < 4; ++i) {
      const int digit = hex_value(h[i]);
      if (digit < 0) return false;
      cp = (cp << 4) | static_cast<std::uint32_t>(digit);
    }
    return true;
  }

  const char* begin_;
  const char* p_;
  const char* end_;
  Document& doc_;
};

}  // namespace

std::string_view Document::keep(std::string&& text) { return kept_.emplace_back(std::move(text)); }

ParseResult parse_document(std::string_view text, bool from_bytes, Document& out) {
  if (from_bytes) {
    ZB_TRY(const std::size_t usable, usable_utf8_length(text));
    text = text.substr(0, usable);
  }
  if (text.size() >= 3 && std::memcmp(text.data(), "\xEF\xBB\xBF", 3) == 0) {
    return fail(std::string("Unexpected UTF-8 BOM (decode using utf-8-sig): line 1 column 1 (char 0)"));
  }
  if (text.size() > std::numeric_limits<std::uint32_t>::max()) {
    return fail(std::string("request body too large"));
  }
  return Reader(text, out).read();
}

}  // namespace zembra::input
