// A strict RFC 8259 JSON text reader producing JsonValue trees.
//
// Accepts exactly the JSON grammar: no NaN/Infinity, comments, trailing
// commas, single quotes or byte-order mark. Whitespace (space, tab, CR, LF)
// may surround any value.
//
// Numbers never lose precision: an integer literal becomes Int when it fits
// int64, UInt when it fits uint64, and otherwise BigInt holding its exact
// text. A number with a fraction or exponent becomes the correctly rounded
// Double; one too large for a double fails with "number out of range"
// (a strict reader must not invent infinities), while one too small rounds
// to a signed zero, as any correctly rounding reader does.
//
// Strings must be valid UTF-8 and so is every decoded string: an escaped
// surrogate must be part of a high/low pair, a lone one is rejected.
// Objects keep unique keys in ascending byte order; a later duplicate key
// replaces the earlier one.
//
// Nesting is limited to kJsonMaxDepth arrays/objects; the reader keeps its
// own stack, so the limit, not the thread's stack size, bounds the depth.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "pure/common/expected.h"
#include "pure/model/json_value.h"

namespace zembra::text {

inline constexpr std::size_t kJsonMaxDepth = 128;

enum class JsonErrorCode : std::uint8_t {
  EofWhileParsingValue,
  EofWhileParsingList,
  EofWhileParsingObject,
  EofWhileParsingString,
  ExpectedValue,
  ExpectedListCommaOrEnd,
  ExpectedObjectCommaOrEnd,
  ExpectedColon,
  KeyMustBeString,
  TrailingComma,
  TrailingCharacters,
  InvalidLiteral,
  InvalidNumber,
  NumberOutOfRange,
  ControlCharacterInString,
  InvalidEscape,
  InvalidHexEscape,
  LoneLeadingSurrogate,
  LoneTrailingSurrogate,
  InvalidUtf8,
  RecursionLimitExceeded,
};

// Where a text was rejected. line and column are 1-based; column is the byte
// index of the offending character within its line. When the text ends too
// early, the position is that of the last character read (column 0 for an
// empty text or one ending in a line feed).
struct JsonError {
  JsonErrorCode code;
  std::size_t line;
  std::size_t column;
  friend bool operator==(const JsonError&, const JsonError&) = default;
};

// The reason alone, e.g. "expected value".
std::string_view json_error_reason(JsonErrorCode code);

// "<reason> at line <L> column <C>".
std::string message(const JsonError& error);

Expected<JsonValue, JsonError> parse_json(std::string_view text);

// Receives the values of a JSON text in document order: scalars, the start
// and end of each array and object, and before each member's value its key.
// Strings and keys come decoded (valid UTF-8); their views are valid only
// during the call. Every call returns false to stop the reading.
class JsonSink {
 public:
  virtual bool null() = 0;
  virtual bool boolean(bool value) = 0;
  virtual bool integer(std::int64_t value) = 0;
  virtual bool unsigned_integer(std::uint64_t value) = 0;  // above the int64 range
  virtual bool big_integer(std::string_view digits) = 0;   // beyond both, as its text
  virtual bool real(double value) = 0;
  virtual bool string(std::string_view text) = 0;
  virtual bool key(std::string_view key) = 0;
  virtual bool begin_array() = 0;
  virtual bool end_array() = 0;
  virtual bool begin_object() = 0;
  virtual bool end_object() = 0;

 protected:
  ~JsonSink() = default;
};

// Reads text exactly as parse_json does, handing its values to sink: true
// once the whole text is read, false when the sink stopped. The sink may
// have received values before the reader finds a fault in the text.
Expected<bool, JsonError> read_json(std::string_view text, JsonSink& sink);

}  // namespace zembra::text
