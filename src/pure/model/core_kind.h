// The twelve core field types and the constraints each one carries.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace zembra {

// The order is part of the interface: it indexes kind_name().
enum class CoreKindTag : std::uint8_t {
  Str,
  Int,
  Float,
  Bool,
  Decimal,
  DateTime,
  Date,
  Time,
  Uuid,
  List,
  Dict,
  Bytes,
};

inline constexpr std::size_t kCoreKindCount = 12;

// The name of the Python type a kind accepts; Field() recognises these.
inline constexpr std::array<std::string_view, kCoreKindCount> kCoreKindNames = {
    "str", "int", "float", "bool", "Decimal", "datetime",
    "date", "time", "UUID", "list", "dict", "bytes"};

constexpr std::string_view kind_name(CoreKindTag tag) {
  return kCoreKindNames[static_cast<std::size_t>(tag)];
}

constexpr std::optional<CoreKindTag> kind_from_name(std::string_view name) {
  for (std::size_t i = 0; i < kCoreKindCount; ++i)
    if (kCoreKindNames[i] == name) return static_cast<CoreKindTag>(i);
  return std::nullopt;
}

// Kinds whose values change form when serialized (text or Base64).
constexpr bool kind_changes_form(CoreKindTag tag) {
  switch (tag) {
    case CoreKindTag::Decimal:
    case CoreKindTag::DateTime:
    case CoreKindTag::Date:
    case CoreKindTag::Time:
    case CoreKindTag::Uuid:
    case CoreKindTag::Bytes:
      return true;
    default:
      return false;
  }
}

// A kind with its constraints. Only the members that belong to the tag are
// ever set: lengths for str (both) and bytes (max only), integer bounds for
// int, float bounds for float, digit counts for Decimal.
struct CoreKind {
  CoreKindTag tag = CoreKindTag::Str;
  std::optional<std::uint64_t> max_length;
  std::optional<std::uint64_t> min_length;
  std::optional<std::int64_t> min_int;
  std::optional<std::int64_t> max_int;
  std::optional<double> min_float;
  std::optional<double> max_float;
  std::optional<std::uint32_t> max_digits;
  std::optional<std::uint32_t> decimal_places;
};

}  // namespace zembra
