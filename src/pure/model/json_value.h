// A JSON document tree whose objects keep their keys in ascending byte order.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace zembra {

class JsonValue;

// An integer outside both 64-bit ranges, kept as its exact decimal text
// (an optional "-" followed by digits) so no precision is lost.
struct JsonBigInt {
  std::string digits;
  friend bool operator==(const JsonBigInt&, const JsonBigInt&) = default;
};

using JsonArray = std::vector<JsonValue>;
// Unique keys, sorted ascending by bytes.
using JsonObject = std::vector<std::pair<std::string, JsonValue>>;

class JsonValue {
 public:
  enum class Type : std::uint8_t { Null, Bool, Int, UInt, BigInt, Double, String, Array, Object };
  using Storage = std::variant<std::monostate, bool, std::int64_t, std::uint64_t, JsonBigInt,
                               double, std::string, JsonArray, JsonObject>;

  JsonValue() = default;
  template <class T, class = std::enable_if_t<std::is_constructible_v<Storage, T&&>>>
  JsonValue(T&& v) : v_(std::forward<T>(v)) {}

  Type type() const { return static_cast<Type>(v_.index()); }
  bool is_array() const { return type() == Type::Array; }
  bool is_object() const { return type() == Type::Object; }

  const Storage& storage() const { return v_; }
  Storage& storage() { return v_; }
  template <class T>
  const T& as() const { return std::get<T>(v_); }
  template <class T>
  T& as() { return std::get<T>(v_); }

  friend bool operator==(const JsonValue&, const JsonValue&) = default;

 private:
  Storage v_;
};

// Inserts or replaces key in a sorted object (a later duplicate key wins).
void json_object_set(JsonObject& object, std::string key, JsonValue value);

}  // namespace zembra
