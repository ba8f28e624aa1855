// The Django field types the module knows, the model attributes that matter
// for each, and one model field's record.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zembra::django {

// The order is part of the interface: it indexes field_kind_name().
enum class FieldKindTag : std::uint8_t {
  CharField,
  TextField,
  IntegerField,
  BigIntegerField,
  FloatField,
  DecimalField,
  BooleanField,
  DateField,
  TimeField,
  DateTimeField,
  UUIDField,
  JSONField,
  BinaryField,
  EmailField,
  URLField,
  SlugField,
};

inline constexpr std::size_t kFieldKindCount = 16;

inline constexpr std::array<std::string_view, kFieldKindCount> kFieldKindNames = {
    "CharField",     "TextField", "IntegerField", "BigIntegerField", "FloatField",  "DecimalField",
    "BooleanField",  "DateField", "TimeField",    "DateTimeField",   "UUIDField",   "JSONField",
    "BinaryField",   "EmailField", "URLField",    "SlugField"};

constexpr std::string_view field_kind_name(FieldKindTag tag) {
  return kFieldKindNames[static_cast<std::size_t>(tag)];
}

// Exact, case-sensitive match against the sixteen names.
constexpr std::optional<FieldKindTag> field_kind_from_name(std::string_view name) {
  for (std::size_t i = 0; i < kFieldKindCount; ++i)
    if (kFieldKindNames[i] == name) return static_cast<FieldKindTag>(i);
  return std::nullopt;
}

// The text kinds whose length limit is always present; the value stands in
// when the model gives none that is usable.
constexpr std::optional<std::uint64_t> default_max_length(FieldKindTag tag) {
  switch (tag) {
    case FieldKindTag::CharField:
      return 255;
    case FieldKindTag::EmailField:
      return 254;
    case FieldKindTag::URLField:
      return 200;
    case FieldKindTag::SlugField:
      return 50;
    default:
      return std::nullopt;
  }
}

inline constexpr std::uint32_t kDefaultMaxDigits = 10;
inline constexpr std::uint32_t kDefaultDecimalPlaces = 2;

// A kind with its payload. Only the members that belong to the tag are set:
// max_length for the four limited text kinds (always) and BinaryField
// (optional), the digit counts for DecimalField.
struct FieldKind {
  FieldKindTag tag = FieldKindTag::TextField;
  std::optional<std::uint64_t> max_length;
  std::uint32_t max_digits = 0;
  std::uint32_t decimal_places = 0;

  // Builds the payload from what could be read (nullopt: missing or
  // unusable), filling in the defaults and dropping what the tag ignores.
  static FieldKind with_payload(FieldKindTag tag, std::optional<std::uint64_t> max_length,
                                std::optional<std::uint32_t> max_digits,
                                std::optional<std::uint32_t> decimal_places) {
    FieldKind kind;
    kind.tag = tag;
    if (auto fallback = default_max_length(tag)) {
      kind.max_length = max_length ? max_length : fallback;
    } else if (tag == FieldKindTag::BinaryField) {
      kind.max_length = max_length;
    } else if (tag == FieldKindTag::DecimalField) {
      kind.max_digits = max_digits.value_or(kDefaultMaxDigits);
      kind.decimal_places = decimal_places.value_or(kDefaultDecimalPlaces);
    }
    return kind;
  }

  friend bool operator==(const FieldKind&, const FieldKind&) = default;
};

struct FieldDescriptor {
  FieldKind kind;
  std::string name;
  bool nullable = false;
  bool has_default = false;

  // A missing or None value is accepted as null.
  bool accepts_null() const { return nullable || has_default; }

  friend bool operator==(const FieldDescriptor&, const FieldDescriptor&) = default;
};

}  // namespace zembra::django
