// A JSON request body read the way the interpreter's json module reads it
// (the reader behind Django REST framework's JSON parser), into a flat tree.
//
// What is accepted and how it is reported follows that module, so that a
// body gets the same answer here as there:
//   - bytes are UTF-8; an invalid sequence is reported with the codec's
//     message ("'utf-8' codec can't decode byte 0xff in position 3: invalid
//     start byte"), while an incomplete sequence at the very end is dropped
//     (the framework's stream reader never flushes its decoder), and so are
//     the bytes ED A0..ED BF there (what the codec holds back of a surrogate);
//   - a leading byte-order mark, NaN, Infinity and -Infinity are refused
//     (the framework's strict constants);
//   - escaped lone surrogates are kept, as three-byte sequences;
//   - numbers too large for a double read as infinities; integers keep every
//     digit up to the interpreter's limit of 4300 digits;
//   - syntax errors carry the module's wording and position, e.g.
//     "Expecting ',' delimiter: line 1 column 4 (char 3)", where the column
//     and char count code points.
// One deliberate difference: nesting is limited to kMaxDepth levels (the
// module stops near 10000 with a RecursionError, which the framework turns
// into a server error); a deeper body is refused with
// "maximum recursion depth exceeded while decoding a JSON array from a
// unicode string" (or "object").
//
// Nodes are stored in document order: a container is followed by its
// children (an object by key, value, key, value, ...), and each node knows
// where its subtree ends, so any subtree can be skipped in one step.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "pure/common/expected.h"

namespace zembra::input {

inline constexpr std::size_t kMaxDepth = 1000;
inline constexpr std::size_t kMaxIntegerDigits = 4300;

enum class NodeType : std::uint8_t { Null, False, True, Int, BigInt, Float, String, Array, Object, Foreign };

// Flags of String nodes.
inline constexpr std::uint8_t kNonAscii = 1;
inline constexpr std::uint8_t kSurrogate = 2;  // holds a lone surrogate

struct Node {
  NodeType type = NodeType::Null;
  std::uint8_t flags = 0;
  std::uint32_t size = 0;  // String, BigInt: bytes; Array: items; Object: members
  std::uint32_t end = 0;   // index just past this node's subtree
  union {
    std::int64_t integer;
    double number;
    const char* text;       // String, BigInt (BigInt: optional "-", then digits)
    std::uint64_t foreign;  // Foreign: an index kept by whoever built the tree
  };
  Node() : integer(0) {}

  std::string_view view() const { return {text, size}; }
};

class Document {
 public:
  std::vector<Node> nodes;

  // The reader's stack of open containers (scratch space).
  struct Open {
    std::uint32_t node;
    bool is_object;
  };
  std::vector<Open> open;

  // Keeps a decoded string; the returned view stays valid for the
  // document's lifetime.
  std::string_view keep(std::string&& text);
  void clear() {
    nodes.clear();
    if (!kept_.empty()) kept_.clear();  // (clearing an empty deque still costs)
  }

 private:
  std::deque<std::string> kept_;  // a deque never moves what it holds
};

// The failure detail as the json module (or its UTF-8 codec) words it.
using ParseResult = Expected<void, std::string>;

// bytes: validated as UTF-8 first. Text known to be well formed (from a
// str, possibly with lone surrogates) skips that step. Strings that contain
// no escape point into `text`, which must outlive the document.
ParseResult parse_document(std::string_view text, bool from_bytes, Document& out);

}  // namespace zembra::input
