// UUID text: the four accepted forms and the canonical written form.
//
// Accepted (hex digits in either case):
//   simple      32 hex digits
//   hyphenated  36 characters, groups of 8-4-4-4-12 hex digits joined by "-"
//   braced      38 characters: "{" hyphenated "}"
//   urn         45 characters: "urn:uuid:" (lower case) hyphenated
//
// A text that fits none of these gets the first applicable error of:
//   1. InvalidCharacter: the first character of the body that is neither a
//      hex digit nor "-". Its position is 1-based, in bytes, counted in the
//      whole text (prefix or brace included); a non-ASCII character is shown
//      as its whole UTF-8 sequence (U+FFFD when the bytes are not UTF-8).
//   2. InvalidLength: the text has no wrapper and its body no "-" at all,
//      i.e. it can only have meant the simple form; found = whole length.
//   3. InvalidGroupCount: the body's "-"-separated groups are not 5.
//   4. InvalidGroupLength: the first group (from 0) whose length is not
//      8, 4, 4, 4 or 12.
// The body is the text without its wrapper. A wrapper is recognised by shape
// whatever the length: "{" ... "}" (at least two characters), or a text
// starting with "urn:uuid:". A wrapped text must hold the hyphenated form, so
// "{1234}" reports 1 group rather than a length, and a wrapper that does not
// close ("{" + 36 characters + "]") leaves the "{" as an invalid character at
// position 1. Upper-case "URN:UUID:" is no prefix: its "U" is the invalid
// character. Every text that passes all four tests is one of the accepted
// forms, so each failing text gets exactly one of the messages.
//
// The parser does not allocate; only message() builds a string.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "pure/common/buffer.h"
#include "pure/common/expected.h"
#include "pure/model/values.h"

namespace zembra::text {

enum class UuidErrorKind : std::uint8_t {
  InvalidCharacter,
  InvalidLength,
  InvalidGroupCount,
  InvalidGroupLength,
};

struct UuidError {
  UuidErrorKind kind = UuidErrorKind::InvalidLength;
  // InvalidCharacter: the offending character (1 to 4 UTF-8 bytes) and its
  // 1-based byte position in the whole text.
  char character[4] = {};
  std::uint8_t character_size = 0;
  std::size_t position = 0;
  // InvalidLength: the text's length; InvalidGroupCount: the group count;
  // InvalidGroupLength: the group's length.
  std::size_t found = 0;
  // InvalidGroupLength: the group (from 0) and the length it should have.
  std::uint8_t group = 0;
  std::uint8_t expected = 0;

  std::string_view character_text() const { return {character, character_size}; }
};

// "invalid character: found `c` at 7", "invalid length: expected length 32
// for simple format, found 4", "invalid group count: expected 5, found 2",
// "invalid group length in group 1: expected 4, found 3".
std::string message(const UuidError& error);

Expected<Uuid, UuidError> parse_uuid(std::string_view text);

inline constexpr std::size_t kUuidTextSize = 36;

// 36 characters: lower-case hex in groups 8-4-4-4-12 joined by "-".
void format_uuid(const Uuid& value, Buffer& out);

}  // namespace zembra::text
