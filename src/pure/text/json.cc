#include "pure/text/json.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <iterator>
#include <limits>
#include <utility>
#include <vector>

#include "pure/common/buffer.h"

namespace zembra::text {
namespace {

// Indexed by JsonErrorCode.
constexpr std::string_view kReasons[] = {
    "EOF while parsing a value",
    "EOF while parsing a list",
    "EOF while parsing an object",
    "EOF while parsing a string",
    "expected value",
    "expected `,` or `]`",
    "expected `,` or `}`",
    "expected `:`",
    "key must be a string",
    "trailing comma",
    "trailing characters",
    "invalid literal",
    "invalid number",
    "number out of range",
    "control character (\\u0000-\\u001F) found while parsing a string",
    "invalid escape",
    "invalid hex escape",
    "lone leading surrogate in hex escape",
    "lone trailing surrogate in hex escape",
    "invalid UTF-8 in string",
    "recursion limit exceeded",
};
static_assert(std::size(kReasons) == static_cast<std::size_t>(JsonErrorCode::RecursionLimitExceeded) + 1);

using Code = JsonErrorCode;
using Status = Expected<void, JsonError>;

inline unsigned char byte_at(const char* p) { return static_cast<unsigned char>(*p); }
inline bool is_digit(char c) { return c >= '0' && c <= '9'; }
inline bool is_space(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

// Bytes a string may hold that need no attention: printable ASCII other than
// the quote and the backslash.
constexpr auto kPlainByte = [] {
  std::array<bool, 256> table{};
  for (int c = 0x20; c < 0x80; ++c) table[c] = c != '"' && c != '\\';
  return table;
}();

// Skips plain string bytes, eight at a time while possible: most strings in
// practice are plain ASCII and this loop is the reader's hot spot.
inline const char* skip_plain(const char* p, const char* end) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ull;
  constexpr std::uint64_t kHigh = 0x8080808080808080ull;
  while (end - p >= 8) {
    std::uint64_t x;
    std::memcpy(&x, p, 8);
    const std::uint64_t quote = x ^ (kOnes * '"');
    const std::uint64_t slash = x ^ (kOnes * '\\');
    // A high bit marks a byte below 0x20, a quote, a backslash or a non-ASCII
    // byte; a borrow can only add marks after a genuine one.
    const std::uint64_t marks = ((x - kOnes * 0x20) & ~x) | ((quote - kOnes) & ~quote) |
                                ((slash - kOnes) & ~slash) | x;
    if (marks & kHigh) break;
    p += 8;
  }
  while (p != end && kPlainByte[byte_at(p)]) ++p;
  return p;
}

// Length of the well-formed UTF-8 sequence starting with a non-ASCII byte at
// p, or 0 when it is malformed (overlong, surrogate, above U+10FFFF, cut off).
inline std::size_t utf8_sequence_length(const char* p, const char* end) {
  const std::size_t avail = static_cast<std::size_t>(end - p);
  const unsigned char lead = byte_at(p);
  auto in = [&](std::size_t i, unsigned char lo, unsigned char hi) {
    const unsigned char c = byte_at(p + i);
    return c >= lo && c <= hi;
  };
  if (lead < 0xC2) return 0;
  if (lead < 0xE0) return avail >= 2 && in(1, 0x80, 0xBF) ? 2 : 0;
  if (lead < 0xF0) {
    const unsigned char lo = lead == 0xE0 ? 0xA0 : 0x80;
    const unsigned char hi = lead == 0xED ? 0x9F : 0xBF;
    return avail >= 3 && in(1, lo, hi) && in(2, 0x80, 0xBF) ? 3 : 0;
  }
  if (lead < 0xF5) {
    const unsigned char lo = lead == 0xF0 ? 0x90 : 0x80;
    const unsigned char hi = lead == 0xF4 ? 0x8F : 0xBF;
    return avail >= 4 && in(1, lo, hi) && in(2, 0x80, 0xBF) && in(3, 0x80, 0xBF) ? 4 : 0;
  }
  return 0;
}

inline void append_utf8(std::string& out, std::uint32_t cp) {
  char bytes[4];
  std::size_t n;
  if (cp < 0x80) {
    bytes[0] = static_cast<char>(cp);
    n = 1;
  } else if (cp < 0x800) {
    bytes[0] = static_cast<char>(0xC0 | (cp >> 6));
    bytes[1] = static_cast<char>(0x80 | (cp & 0x3F));
    n = 2;
  } else if (cp < 0x10000) {
    bytes[0] = static_cast<char>(0xE0 | (cp >> 12));
    bytes[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    bytes[2] = static_cast<char>(0x80 | (cp & 0x3F));
    n = 3;
  } else {
    bytes[0] = static_cast<char>(0xF0 | (cp >> 18));
    bytes[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    bytes[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    bytes[3] = static_cast<char>(0x80 | (cp & 0x3F));
    n = 4;
  }
  out.append(bytes, n);
}

inline int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Decimal exponent of the leading significant digit of a well-formed JSON
// number that is not zero; tells an overflowing double from one that
// underflows to zero, which the standard conversion reports alike.
long long leading_digit_exponent(const char* p, const char* end) {
  if (*p == '-') ++p;
  const char* int_begin = p;
  while (p != end && is_digit(*p)) ++p;
  long long exponent;
  if (p - int_begin > 1 || *int_begin != '0') {
    exponent = static_cast<long long>(p - int_begin) - 1;
  } else {
    exponent = -1;
    if (p != end && *p == '.') {
      for (++p; p != end && *p == '0'; ++p) --exponent;
    }
  }
  while (p != end && *p != 'e' && *p != 'E') ++p;
  if (p == end) return exponent;
  ++p;
  const bool negative = *p == '-';
  if (*p == '+' || *p == '-') ++p;
  constexpr long long kCap = 1'000'000'000'000LL;  // far beyond any double, no overflow
  long long written = 0;
  for (; p != end; ++p) written = std::min(written * 10 + (*p - '0'), kCap);
  return negative ? exponent - written : exponent + written;
}

// One open array or object. Its vectors are scratch space reused by every
// container met at this depth; a closed container gets an exact-size copy, so
// growth reallocations are paid once per depth rather than once per container.
struct Frame {
  bool is_object = false;
  JsonArray items;
  JsonObject members;
  std::vector<std::size_t> order;  // member indices, sorted by key
  std::string key;                 // of the member whose value is being read

  template <class T>
  void store(T&& value) {
    if (is_object) {
      members.emplace_back(std::move(key), std::forward<T>(value));
    } else {
      items.emplace_back(std::forward<T>(value));
    }
  }

  JsonArray take_array() {
    JsonArray out(std::make_move_iterator(items.begin()), std::make_move_iterator(items.end()));
    items.clear();
    return out;
  }

  // Members in ascending key-byte order; of equal keys the last one read wins.
  JsonObject take_object() {
    JsonObject out;
    out.reserve(members.size());
    const auto key_less = [](const auto& a, const auto& b) { return a.first < b.first; };
    const auto not_ascending = [&](const auto& a, const auto& b) { return !key_less(a, b); };
    if (std::adjacent_find(members.begin(), members.end(), not_ascending) == members.end()) {
      out.assign(std::make_move_iterator(members.begin()), std::make_move_iterator(members.end()));
    } else {
      sort_order();
      for (std::size_t k = 0; k < order.size(); ++k) {
        // A stable order puts the last duplicate at the end of its run.
        if (k + 1 < order.size() && members[order[k + 1]].first == members[order[k]].first) continue;
        out.push_back(std::move(members[order[k]]));
      }
    }
    members.clear();
    return out;
  }

 private:
  void sort_order() {
    const std::size_t n = members.size();
    order.resize(n);
    for (std::size_t i = 0; i < n; ++i) order[i] = i;
    const auto key_less = [this](std::size_t a, std::size_t b) { return members[a].first < members[b].first; };
    if (n > 32) {
      std::stable_sort(order.begin(), order.end(), key_less);
      return;
    }
    // Typical objects are small: an insertion sort needs no temporary buffer.
    for (std::size_t i = 1; i < n; ++i) {
      const std::size_t index = order[i];
      std::size_t j = i;
      for (; j > 0 && key_less(index, order[j - 1]); --j) order[j] = order[j - 1];
      order[j] = index;
    }
  }
};

class Reader {
 public:
  Reader(std::string_view text, JsonSink& sink)
      : begin_(text.data()), p_(text.data()), end_(text.data() + text.size()), sink_(sink) {}

  // True once the whole text is read; false when the sink stopped.
  Expected<bool, JsonError> read() {
    // Whether each open container is an object, innermost last: a fixed
    // array, as the depth is bounded (reading allocates nothing itself).
    std::array<bool, kJsonMaxDepth> is_object;
    std::size_t depth = 0;
    for (;;) {
      // Read one value; a scalar or empty container goes straight into the
      // innermost open container (or is the whole document).
      skip_space();
      if (p_ == end_) {
        if (depth == 0) return fail_eof(Code::EofWhileParsingValue);
        return fail_eof(is_object[depth - 1] ? Code::EofWhileParsingObject : Code::EofWhileParsingList);
      }
      switch (*p_) {
        case '[':
        case '{': {
          if (depth == kJsonMaxDepth) return fail_at(Code::RecursionLimitExceeded, p_);
          const bool object = *p_ == '{';
          ++p_;
          skip_space();
          if (p_ == end_) {
            return fail_eof(object ? Code::EofWhileParsingObject : Code::EofWhileParsingList);
          }
          if (!(object ? sink_.begin_object() : sink_.begin_array())) return false;
          if (*p_ == (object ? '}' : ']')) {
            ++p_;
            if (!(object ? sink_.end_object() : sink_.end_array())) return false;
            break;
          }
          is_object[depth++] = object;
          if (object) {
            ZB_TRY(bool going, read_key());
            if (!going) return false;
          }
          continue;
        }
        case '"': {
          ZB_TRY(std::string_view text, read_string());
          if (!sink_.string(text)) return false;
          break;
        }
        case 't':
        case 'f':
        case 'n': {
          const char c = *p_;
          ZB_CHECK_OK(read_literal(c == 't' ? "true" : c == 'f' ? "false" : "null"));
          if (!(c == 'n' ? sink_.null() : sink_.boolean(c == 't'))) return false;
          break;
        }
        case '-':
        case '0': case '1': case '2': case '3': case '4':
        case '5': case '6': case '7': case '8': case '9': {
          ZB_TRY(bool going, read_number());
          if (!going) return false;
          break;
        }
        default:
          return fail_at(Code::ExpectedValue, p_);
      }

      // After a value inside a container: a comma leads to the next value;
      // a closing bracket completes the container, which is itself a value.
      for (;;) {
        if (depth == 0) return finish();
        const bool object = is_object[depth - 1];
        const Code eof = object ? Code::EofWhileParsingObject : Code::EofWhileParsingList;
        const char close = object ? '}' : ']';
        skip_space();
        if (p_ == end_) return fail_eof(eof);
        if (*p_ == ',') {
          ++p_;
          skip_space();
          if (p_ == end_) return fail_eof(eof);
          if (*p_ == close) return fail_at(Code::TrailingComma, p_);
          if (object) {
            ZB_TRY(bool going, read_key());
            if (!going) return false;
          }
          break;
        }
        if (*p_ != close) {
          return fail_at(object ? Code::ExpectedObjectCommaOrEnd : Code::ExpectedListCommaOrEnd, p_);
        }
        ++p_;
        --depth;
        if (!(object ? sink_.end_object() : sink_.end_array())) return false;
      }
    }
  }

 private:
  // The document's value is complete: only whitespace may follow.
  Expected<bool, JsonError> finish() {
    skip_space();
    if (p_ != end_) return fail_at(Code::TrailingCharacters, p_);
    return true;
  }

  void skip_space() {
    while (p_ != end_ && is_space(*p_)) ++p_;
  }

  Unexpected<JsonError> fail_at(Code code, const char* at) const { return locate(code, at, false); }
  // Input ended early: point at the last character read.
  Unexpected<JsonError> fail_eof(Code code) const { return locate(code, end_, true); }

  // Lines are counted only on failure, keeping the accepting path lean.
  Unexpected<JsonError> locate(Code code, const char* at, bool at_end) const {
    std::size_t line = 1;
    const char* line_start = begin_;
    for (const char* q = begin_; q != at; ++q) {
      if (*q == '\n') {
        ++line;
        line_start = q + 1;
      }
    }
    const std::size_t column = static_cast<std::size_t>(at - line_start) + (at_end ? 0 : 1);
    return fail(JsonError{code, line, column});
  }

  // At the start of a member: reads its key and the colon after it.
  Expected<bool, JsonError> read_key() {
    if (*p_ != '"') return fail_at(Code::KeyMustBeString, p_);
    ZB_TRY(std::string_view key, read_string());
    skip_space();
    if (p_ == end_) return fail_eof(Code::EofWhileParsingObject);
    if (*p_ != ':') return fail_at(Code::ExpectedColon, p_);
    ++p_;
    return sink_.key(key);
  }

  Status read_literal(std::string_view word) {
    for (char expected : word) {
      if (p_ == end_) return fail_eof(Code::EofWhileParsingValue);
      if (*p_ != expected) return fail_at(Code::InvalidLiteral, p_);
      ++p_;
    }
    return {};
  }

  // At the opening quote: the decoded text, valid until the next string
  // is read (the text itself when it holds no escape).
  Expected<std::string_view, JsonError> read_string() {
    ++p_;
    const char* const start = p_;
    const char* run = p_;  // start of bytes not yet copied to scratch_
    bool escaped = false;
    for (;;) {
      p_ = skip_plain(p_, end_);
      if (p_ == end_) return fail_eof(Code::EofWhileParsingString);
      const unsigned char c = byte_at(p_);
      if (c == '"') {
        std::string_view text(start, static_cast<std::size_t>(p_ - start));
        if (escaped) {
          scratch_.append(run, static_cast<std::size_t>(p_ - run));
          text = scratch_;
        }
        ++p_;
        return text;
      }
      if (c == '\\') {
        if (!escaped) scratch_.clear();
        escaped = true;
        scratch_.append(run, static_cast<std::size_t>(p_ - run));
        ZB_CHECK_OK(read_escape(scratch_));
        run = p_;
        continue;
      }
      if (c < 0x20) return fail_at(Code::ControlCharacterInString, p_);
      const std::size_t length = utf8_sequence_length(p_, end_);
      if (length == 0) return fail_at(Code::InvalidUtf8, p_);
      p_ += length;
    }
  }

  // At a backslash inside a string.
  Status read_escape(std::string& out) {
    const char* escape = p_++;
    if (p_ == end_) return fail_eof(Code::EofWhileParsingString);
    switch (*p_++) {
      case '"': out += '"'; return {};
      case '\\': out += '\\'; return {};
      case '/': out += '/'; return {};
      case 'b': out += '\b'; return {};
      case 'f': out += '\f'; return {};
      case 'n': out += '\n'; return {};
      case 'r': out += '\r'; return {};
      case 't': out += '\t'; return {};
      case 'u': break;
      default: return fail_at(Code::InvalidEscape, p_ - 1);
    }
    std::uint32_t cp;
    ZB_CHECK_OK(read_hex4(cp));
    if (cp >= 0xDC00 && cp <= 0xDFFF) return fail_at(Code::LoneTrailingSurrogate, escape);
    if (cp >= 0xD800 && cp <= 0xDBFF) {
      // Only a following low-surrogate escape completes the pair; decoding a
      // lone half would leave text that is not valid UTF-8.
      if (p_ == end_) return fail_eof(Code::EofWhileParsingString);
      if (*p_ != '\\') return fail_at(Code::LoneLeadingSurrogate, escape);
      if (++p_ == end_) return fail_eof(Code::EofWhileParsingString);
      if (*p_ != 'u') return fail_at(Code::LoneLeadingSurrogate, escape);
      ++p_;
      std::uint32_t low;
      ZB_CHECK_OK(read_hex4(low));
      if (low < 0xDC00 || low > 0xDFFF) return fail_at(Code::LoneLeadingSurrogate, escape);
      cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
    }
    append_utf8(out, cp);
    return {};
  }

  Status read_hex4(std::uint32_t& cp) {
    cp = 0;
    for (int i = 0; i < 4; ++i, ++p_) {
      if (p_ == end_) return fail_eof(Code::EofWhileParsingString);
      const int digit = hex_value(*p_);
      if (digit < 0) return fail_at(Code::InvalidHexEscape, p_);
      cp = (cp << 4) | static_cast<std::uint32_t>(digit);
    }
    return {};
  }

  // At a "-" or a digit.
  Expected<bool, JsonError> read_number() {
    const char* start = p_;
    const bool negative = *p_ == '-';
    if (negative && ++p_ == end_) return fail_eof(Code::EofWhileParsingValue);
    if (!is_digit(*p_)) return fail_at(Code::InvalidNumber, p_);

    std::uint64_t magnitude = 0;
    bool fits = true;  // magnitude holds the whole integer part
    if (*p_ == '0') {
      ++p_;
      if (p_ != end_ && is_digit(*p_)) return fail_at(Code::InvalidNumber, p_);
    } else {
      constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
      do {
        const auto digit = static_cast<std::uint64_t>(*p_ - '0');
        if (fits && magnitude <= (kMax - digit) / 10) {
          magnitude = magnitude * 10 + digit;
        } else {
          fits = false;
        }
        ++p_;
      } while (p_ != end_ && is_digit(*p_));
    }

    bool integral = true;
    if (p_ != end_ && *p_ == '.') {
      integral = false;
      ZB_CHECK_OK(read_digits());
    }
    if (p_ != end_ && (*p_ == 'e' || *p_ == 'E')) {
      integral = false;
      if (p_ + 1 != end_ && (p_[1] == '+' || p_[1] == '-')) ++p_;
      ZB_CHECK_OK(read_digits());
    }

    if (integral) {
      constexpr std::uint64_t kInt64Max = std::numeric_limits<std::int64_t>::max();
      if (fits && !negative && magnitude <= kInt64Max) return sink_.integer(static_cast<std::int64_t>(magnitude));
      if (fits && !negative) return sink_.unsigned_integer(magnitude);
      if (fits && magnitude <= kInt64Max + 1) {
        return sink_.integer(static_cast<std::int64_t>(0 - magnitude));  // two's complement, exact down to -2^63
      }
      return sink_.big_integer(std::string_view(start, static_cast<std::size_t>(p_ - start)));
    }

    double number = 0;
    const auto [end, ec] = std::from_chars(start, p_, number);
    if (ec == std::errc::result_out_of_range) {
      if (leading_digit_exponent(start, p_) >= 0) return fail_at(Code::NumberOutOfRange, start);
      number = negative ? -0.0 : 0.0;  // underflow: zero is the correctly rounded value
    } else if (ec != std::errc() || end != p_) {
      return fail_at(Code::InvalidNumber, start);  // unreachable for text checked above
    }
    return sink_.real(number);
  }

  // Skips the mark before a fraction or exponent and the digits that must follow.
  Status read_digits() {
    ++p_;
    if (p_ == end_) return fail_eof(Code::EofWhileParsingValue);
    if (!is_digit(*p_)) return fail_at(Code::InvalidNumber, p_);
    while (p_ != end_ && is_digit(*p_)) ++p_;
    return {};
  }

  const char* begin_;
  const char* p_;
  const char* end_;
  JsonSink& sink_;
  std::string scratch_;  // decoded strings that hold escapes
};

// Builds the JsonValue tree of parse_json.
class TreeSink final : public JsonSink {
 public:
  JsonValue take() { return std::move(result_); }

  bool null() override { return store(JsonValue()); }
  bool boolean(bool value) override { return store(JsonValue(value)); }
  bool integer(std::int64_t value) override { return store(JsonValue(value)); }
  bool unsigned_integer(std::uint64_t value) override { return store(JsonValue(value)); }
  bool big_integer(std::string_view digits) override { return store(JsonValue(JsonBigInt{std::string(digits)})); }
  bool real(double value) override { return store(JsonValue(value)); }
  bool string(std::string_view text) override { return store(JsonValue(std::string(text))); }
  bool key(std::string_view key) override {
    stack_[depth_ - 1].key.assign(key);
    return true;
  }
  bool begin_array() override { return open(false); }
  bool begin_object() override { return open(true); }
  bool end_array() override {
    --depth_;
    return store(JsonValue(stack_[depth_].take_array()));
  }
  bool end_object() override {
    --depth_;
    return store(JsonValue(stack_[depth_].take_object()));
  }

 private:
  bool open(bool is_object) {
    if (stack_.size() == depth_) {
      if (stack_.empty()) stack_.reserve(16);
      stack_.emplace_back();
    }
    stack_[depth_++].is_object = is_object;
    return true;
  }
  bool store(JsonValue value) {
    if (depth_ == 0) {
      result_ = std::move(value);
    } else {
      stack_[depth_ - 1].store(std::move(value));
    }
    return true;
  }

  std::vector<Frame> stack_;  // frames [0, depth_) are open
  std::size_t depth_ = 0;
  JsonValue result_;
};

}  // namespace

std::string_view json_error_reason(JsonErrorCode code) {
  return kReasons[static_cast<std::size_t>(code)];
}

std::string message(const JsonError& error) {
  const std::string_view reason = json_error_reason(error.code);
  constexpr std::string_view kLine = " at line ";
  constexpr std::string_view kColumn = " column ";
  constexpr std::size_t kDigits = std::numeric_limits<std::size_t>::digits10 + 1;
  Buffer out;
  out.reserve(reason.size() + kLine.size() + kColumn.size() + 2 * kDigits);
  out.append(reason);
  out.append(kLine);
  auto append_number = [&](std::size_t n) {
    char digits[kDigits];
    const auto result = std::to_chars(digits, digits + kDigits, n);
    out.append(std::string_view(digits, static_cast<std::size_t>(result.ptr - digits)));
  };
  append_number(error.line);
  out.append(kColumn);
  append_number(error.column);
  return out.str();
}

Expected<bool, JsonError> read_json(std::string_view text, JsonSink& sink) { return Reader(text, sink).read(); }

Expected<JsonValue, JsonError> parse_json(std::string_view text) {
  TreeSink sink;
  ZB_TRY(bool whole, read_json(text, sink));
  (void)whole;  // this sink never stops
  return sink.take();
}

}  // namespace zembra::text
