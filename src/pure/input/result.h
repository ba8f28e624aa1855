// What reading one request gives: per field, a value in native form or the
// field's errors; plus the errors that concern the body as a whole.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "pure/input/json_document.h"
#include "pure/input/number_text.h"
#include "pure/input/temporal.h"

namespace zembra::input {

struct Message {
  std::string text;
  const char* code;  // a static string
};

enum class ValueKind : std::uint8_t {
  Null,
  Bool,
  Int,
  BigInt,    // exact.digits, exact.negative
  Float,
  Decimal,   // exact
  Text,      // text (+ text_flags)
  Date,      // datetime.date
  Time,      // datetime.time
  DateTime,  // datetime; zone per the rule (see below)
  Uuid,
  Duration,
  Node,      // the JSON value at node, built as is
  Choice,    // choice: position of the matching choice
  Keys,      // items: the related keys, in order
  Foreign,   // the object at node (dict input) passed through
};

struct Value {
  ValueKind kind = ValueKind::Null;
  bool boolean = false;
  std::uint8_t text_flags = 0;  // kNonAscii, kSurrogate
  // DateTime: the interpreter must still apply the rule's zone (ZoneMode
  // Python, or a Foreign datetime).
  bool needs_zone = false;
  std::int64_t integer = 0;
  double number = 0;
  std::string_view text;  // into the document (see text_owned)
  std::string owned;
  bool text_owned = false;  // the text is `owned` (a view would not survive moves)
  ExactNumber exact;
  CivilDateTime datetime;  // Date: .date; Time: .time; DateTime: all (aware per zone)
  unsigned __int128 uuid = 0;
  Duration duration;
  std::uint32_t node = 0;
  std::size_t choice = 0;
  std::vector<Value> items;

  void set_text(std::string&& text_value, std::uint8_t flags) {
    owned = std::move(text_value);
    text_owned = true;
    text_flags = flags;
    kind = ValueKind::Text;
  }
  void set_text_view(std::string_view view, std::uint8_t flags) {
    text = view;
    text_owned = false;
    text_flags = flags;
    kind = ValueKind::Text;
  }
  std::string_view text_view() const { return text_owned ? std::string_view(owned) : text; }
};

enum class Outcome : std::uint8_t { Skip, Valid, Invalid };

struct FieldResult {
  Outcome outcome = Outcome::Skip;
  Value value;
  // Invalid: the field's errors. Valid: errors of the field's own checks
  // that run as validators; the caller's validators run before them, and
  // the field is invalid when either list is not empty.
  std::vector<Message> errors;

  // Back to Skip, keeping the storage of its strings and lists.
  void reset() {
    outcome = Outcome::Skip;
    errors.clear();
    value.kind = ValueKind::Null;
    value.needs_zone = false;
    value.text_owned = false;
    value.text_flags = 0;
    value.owned.clear();
    value.items.clear();
  }

  void fail(std::string text, const char* code) {
    outcome = Outcome::Invalid;
    errors.push_back({std::move(text), code});
  }
};

struct RequestResult {
  // Set when the body itself was refused (parse error, not an object); then
  // no field was read.
  bool body_refused = false;
  std::vector<Message> non_field_errors;
  std::vector<FieldResult> fields;  // parallel to Plan::fields
  std::vector<std::uint32_t> found;  // scratch: each field's member
};

// Work only the interpreter can do, supplied by the caller.
class Host {
 public:
  virtual ~Host() = default;
  // str() of the value at node (a list, dict or foreign object). false when
  // it raised; the caller keeps the exception and the read stops.
  virtual bool text_of(const Document& doc, std::uint32_t node, std::string& out) = 0;
  // URLValidator() or the Unicode slug pattern, for texts the native checks
  // leave open; false when it raised.
  enum class Check : std::uint8_t { Url, UnicodeSlug };
  virtual bool check(Check check, std::string_view text, bool& valid) = 0;
  // The days, seconds and microseconds of a Timedelta foreign node.
  virtual bool duration_of(const Document& doc, std::uint32_t node, Duration& out) = 0;
  // Whether the interpreter's json.dumps(value, allow_nan=False) of the
  // value at node succeeds, for values the tree cannot answer for (foreign
  // objects, as values or keys, and containers past the depth the tree
  // holds); false when it raised something other than its refusals.
  virtual bool json_dumpable(const Document& doc, std::uint32_t node, bool& dumpable) = 0;
};

// Categories of foreign nodes (Node::flags), recognised by the caller.
// LongInteger: an int whose decimal text the interpreter refuses to write
// (more digits than its int_max_str_digits limit allows).
enum class Foreign : std::uint8_t { Other, Date, DateTime, Time, Timedelta, Uuid, Decimal, LongInteger };

}  // namespace zembra::input
