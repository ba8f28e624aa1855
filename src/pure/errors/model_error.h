// Errors of the Django module's own routines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "pure/errors/core_error.h"

namespace zembra {

class ModelError {
 public:
  enum class Kind : std::uint8_t {
    Validation,
    BatchValidation,
    Serialization,
    TypeConversion,
    Required,
    Python,
  };

  static ModelError validation(std::string field, std::string message) {
    return {Kind::Validation, std::move(field), std::move(message), {}, 0};
  }
  static ModelError batch_validation(std::size_t error_count) {
    return {Kind::BatchValidation, {}, {}, {}, error_count};
  }
  static ModelError serialization(std::string field, std::string message) {
    return {Kind::Serialization, std::move(field), std::move(message), {}, 0};
  }
  static ModelError type_conversion(std::string expected, std::string got) {
    return {Kind::TypeConversion, {}, std::move(expected), std::move(got), 0};
  }
  static ModelError required(std::string field) { return {Kind::Required, std::move(field), {}, {}, 0}; }
  static ModelError python(std::string message) { return {Kind::Python, {}, std::move(message), {}, 0}; }

  Kind kind() const { return kind_; }

  std::string message() const {
    switch (kind_) {
      case Kind::Validation:
        return "validation error on field '" + field_ + "': " + a_;
      case Kind::BatchValidation:
        return "batch validation failed: " + std::to_string(count_) + " field errors";
      case Kind::Serialization:
        return "serialization error on field '" + field_ + "': " + a_;
      case Kind::TypeConversion:
        return "type conversion error: expected " + a_ + ", got " + b_;
      case Kind::Required:
        return "field '" + field_ + "' is required but received null";
      case Kind::Python:
        return "python error: " + a_;
    }
    return {};
  }
  // What the raised exception carries: the python kind drops its prefix.
  std::string exception_text() const { return kind_ == Kind::Python ? a_ : message(); }
  ExceptionClass exception_class() const {
    return kind_ == Kind::TypeConversion ? ExceptionClass::TypeError : ExceptionClass::ValueError;
  }

 private:
  ModelError(Kind kind, std::string field, std::string a, std::string b, std::size_t count)
      : kind_(kind), field_(std::move(field)), a_(std::move(a)), b_(std::move(b)), count_(count) {}

  Kind kind_;
  std::string field_;
  std::string a_;
  std::string b_;
  std::size_t count_;
};

}  // namespace zembra
