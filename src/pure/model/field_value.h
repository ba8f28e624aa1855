// The typed value of one field of one record.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <variant>

#include "pure/model/json_value.h"
#include "pure/model/values.h"

namespace zembra {

struct Null {
  friend bool operator==(const Null&, const Null&) = default;
};

// The alternative order is part of the interface: it indexes variant_name().
using FieldValue = std::variant<std::string,  // Str
                                std::int64_t,  // Int
                                double,        // Float
                                Decimal,       // Decimal
                                bool,          // Bool
                                Date,          // Date
                                Time,          // Time
                                DateTime,      // DateTime
                                Uuid,          // Uuid
                                JsonValue,     // Json
                                ByteString,    // Bytes
                                Null>;         // Null

inline constexpr std::array<std::string_view, 11> kVariantNames = {
    "str", "int", "float", "Decimal", "bool", "date", "time", "datetime", "UUID", "JSON", "bytes"};

// The name used in kind-mismatch messages; Null has none.
constexpr std::string_view variant_name(const FieldValue& value) {
  std::size_t i = value.index();
  return i < kVariantNames.size() ? kVariantNames[i] : std::string_view{};
}

inline bool is_null(const FieldValue& value) { return std::holds_alternative<Null>(value); }

}  // namespace zembra
