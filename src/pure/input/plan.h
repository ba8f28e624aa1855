// A compiled input plan: for each accepted field, its kind and the rules of
// the matching Django REST framework serializer field. Built once (by the
// binding, from the plan dicts), read-only afterwards, so any number of
// threads may use one plan at a time.
#pragma once

#include <cstdint>
#include <optional>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "pure/input/number_text.h"

namespace zembra::input {

enum class Kind : std::uint8_t {
  Integer,
  Float,
  Decimal,
  Boolean,
  String,
  Email,
  Url,
  Slug,
  Ip,
  Uuid,
  Date,
  Time,
  DateTime,
  Duration,
  Json,
  Choice,
  PrimaryKey,
  ManyPrimaryKeys,
};

// How a related object's key is read (the related model's primary key).
enum class KeyKind : std::uint8_t { Integer, String, Uuid };

enum class Protocol : std::uint8_t { Both, Ipv4, Ipv6 };

// What becomes of datetimes: kept naive (aware ones turned into naive UTC),
// shown at a fixed offset, or handed to the interpreter for any other zone.
enum class ZoneMode : std::uint8_t { Naive, Fixed, Python };

// A min_value / max_value.
struct Bound {
  ExactNumber exact;        // numbers
  bool is_int64 = false;    // exact is an integer within 64 bits:
  std::int64_t int64 = 0;   // this one
  double approx = 0;        // the nearest double to exact
  int approx_vs_exact = 0;  // sign of approx - exact
  __int128 micros = 0;      // durations
  std::string text;         // str() of the limit, for the message
};

struct FieldRule {
  std::string name;
  Kind kind = Kind::String;
  KeyKind key_kind = KeyKind::Integer;
  Protocol protocol = Protocol::Both;
  ZoneMode zone = ZoneMode::Naive;
  std::int64_t zone_offset_us = 0;
  bool required = true;
  bool allow_null = false;
  bool allow_blank = false;
  bool trim_whitespace = true;
  bool allow_empty = true;
  bool allow_unicode = false;
  std::optional<std::int64_t> max_length, min_length, max_digits, decimal_places;
  std::optional<Bound> min_value, max_value;
  // str(choice) -> position among the choices; a later equal text wins.
  std::unordered_map<std::string, std::size_t> choices;
};

// Lets the name index be searched with a string_view.
struct NameHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
};

struct Plan {
  std::vector<FieldRule> fields;
  std::unordered_map<std::string, std::size_t, NameHash, std::equal_to<>> index;  // name -> position

  // Fills index; false when a name repeats.
  bool finish();
};

}  // namespace zembra::input
