// Errors of the core routines: field rules, value reading, serialization.
#pragma once

#include <cstdint>
#include <string>

namespace zembra {

enum class ExceptionClass : std::uint8_t { ValueError, TypeError };

class CoreError {
 public:
  enum class Kind : std::uint8_t { Serialization, Required, Type, Schema };

  static CoreError serialization(std::string field, std::string message) {
    return {Kind::Serialization, std::move(field), std::move(message), {}};
  }
  static CoreError required(std::string field) { return {Kind::Required, std::move(field), {}, {}}; }
  static CoreError type(std::string field, std::string expected, std::string got) {
    return {Kind::Type, std::move(field), std::move(expected), std::move(got)};
  }
  static CoreError schema(std::string message) { return {Kind::Schema, {}, std::move(message), {}}; }

  Kind kind() const { return kind_; }
  const std::string& field() const { return field_; }

  // The whole text the exception carries, prefix included.
  std::string message() const {
    switch (kind_) {
      case Kind::Serialization:
        return "serialization error on field '" + field_ + "': " + a_;
      case Kind::Required:
        return "field '" + field_ + "' is required but was null";
      case Kind::Type:
        return "type error on field '" + field_ + "': expected " + a_ + ", got " + b_;
      case Kind::Schema:
        return "schema error: " + a_;
    }
    return {};
  }
  ExceptionClass exception_class() const {
    return kind_ == Kind::Type ? ExceptionClass::TypeError : ExceptionClass::ValueError;
  }

 private:
  CoreError(Kind kind, std::string field, std::string a, std::string b)
      : kind_(kind), field_(std::move(field)), a_(std::move(a)), b_(std::move(b)) {}

  Kind kind_;
  std::string field_;
  std::string a_;  // message, or expected type
  std::string b_;  // what was found
};

}  // namespace zembra
