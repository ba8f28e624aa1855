#include "pure/validation/rules.h"

#include <charconv>
#include <initializer_list>
#include <string>

#include "pure/text/float_text.h"
#include "pure/validation/code_points.h"

namespace zembra {
namespace {

// Decimal text of a number, on the stack.
class NumberText {
 public:
  explicit NumberText(std::uint64_t v) { len_ = std::to_chars(buf_, buf_ + sizeof buf_, v).ptr - buf_; }
  explicit NumberText(std::int64_t v) { len_ = std::to_chars(buf_, buf_ + sizeof buf_, v).ptr - buf_; }
  explicit NumberText(double v) { len_ = write_float_plain(v, buf_); }
  std::string_view view() const { return {buf_, static_cast<std::size_t>(len_)}; }
  std::string str() const { return std::string(view()); }

 private:
  char buf_[kMaxFloatPlainSize];
  std::ptrdiff_t len_ = 0;
};

std::string concat(std::initializer_list<std::string_view> parts) {
  std::size_t size = 0;
  for (std::string_view p : parts) size += p.size();
  std::string s;
  s.reserve(size);
  for (std::string_view p : parts) s.append(p);
  return s;
}

FieldError& add_error(const SchemaField& field, std::string message, ErrorCode code,
                      std::vector<FieldError>& out) {
  FieldError& e = out.emplace_back();
  e.field = field.name;
  e.message = std::move(message);
  e.code = std::string(code_text(code));
  return e;
}

void add_min_value_error(const SchemaField& field, const NumberText& bound, std::vector<FieldError>& out) {
  FieldError& e = add_error(field, concat({"Ensure this value is greater than or equal to ", bound.view(), "."}),
                            ErrorCode::MinValue, out);
  e.params.set("min_value", bound.str());
}

void add_max_value_error(const SchemaField& field, const NumberText& bound, std::vector<FieldError>& out) {
  FieldError& e = add_error(field, concat({"Ensure this value is less than or equal to ", bound.view(), "."}),
                            ErrorCode::MaxValue, out);
  e.params.set("max_value", bound.str());
}

// Digits of a mantissa: 1 for zero, never a leading zero.
unsigned mantissa_digit_count(u128 mantissa) {
  unsigned digits = 1;
  for (u128 bound = 10; mantissa >= bound; bound *= 10) {
    ++digits;
    if (digits == 39) break;  // 10^39 exceeds 128 bits; every larger value has 39 digits
  }
  return digits;
}

bool has_length_limits(const SchemaField& field) {
  return field.rules.kind.max_length || field.rules.kind.min_length;
}

}  // namespace

void add_required_error(const SchemaField& field, std::vector<FieldError>& out) {
  add_error(field, "This field is required.", ErrorCode::Required, out);
}

void check_required(const SchemaField& field, std::vector<FieldError>& out) {
  if (!field.rules.accepts_null()) add_required_error(field, out);
}

void add_shape_error(const SchemaField& field, std::vector<FieldError>& out) {
  add_error(field, field.rules.kind.tag == CoreKindTag::List ? "Expected a list." : "Expected a dict.",
            ErrorCode::Invalid, out);
}

void add_invalid_type_error(const SchemaField& field, std::vector<FieldError>& out) {
  CoreKindTag tag = field.rules.kind.tag;
  if (tag == CoreKindTag::List || tag == CoreKindTag::Dict) {
    add_shape_error(field, out);
    return;
  }
  add_error(field, concat({"Invalid type: expected ", kind_name(tag), "."}), ErrorCode::Invalid, out);
}

void add_kind_mismatch_error(const SchemaField& field, std::string_view variant,
                             std::vector<FieldError>& out) {
  add_error(field, concat({"Invalid type: expected ", kind_name(field.rules.kind.tag), ", got ", variant, "."}),
            ErrorCode::Invalid, out);
}

void check_length_limits(const SchemaField& field, std::uint64_t length, std::vector<FieldError>& out) {
  const CoreKind& kind = field.rules.kind;
  if (kind.max_length && length > *kind.max_length) {
    NumberText max(*kind.max_length), actual(length);
    FieldError& e = add_error(
        field,
        concat({"Ensure this value has at most ", max.view(), " characters (it has ", actual.view(), ")."}),
        ErrorCode::MaxLength, out);
    e.params.set("max_length", max.str());
    e.params.set("length", actual.str());
  }
  if (kind.min_length && length < *kind.min_length) {
    NumberText min(*kind.min_length), actual(length);
    FieldError& e = add_error(
        field,
        concat({"Ensure this value has at least ", min.view(), " characters (it has ", actual.view(), ")."}),
        ErrorCode::MinLength, out);
    e.params.set("min_length", min.str());
    e.params.set("length", actual.str());
  }
}

void check_bytes_length(const SchemaField& field, std::uint64_t length, std::vector<FieldError>& out) {
  const CoreKind& kind = field.rules.kind;
  if (kind.max_length && length > *kind.max_length) {
    NumberText max(*kind.max_length), actual(length);
    FieldError& e = add_error(
        field, concat({"Ensure this value has at most ", max.view(), " bytes (it has ", actual.view(), ")."}),
        ErrorCode::MaxLength, out);
    e.params.set("max_length", max.str());
  }
}

void check_int_bounds(const SchemaField& field, std::int64_t value, std::vector<FieldError>& out) {
  const CoreKind& kind = field.rules.kind;
  if (kind.min_int && value < *kind.min_int) add_min_value_error(field, NumberText(*kind.min_int), out);
  if (kind.max_int && value > *kind.max_int) add_max_value_error(field, NumberText(*kind.max_int), out);
}

void check_float_bounds(const SchemaField& field, double value, std::vector<FieldError>& out) {
  const CoreKind& kind = field.rules.kind;
  if (kind.min_float && value < *kind.min_float) add_min_value_error(field, NumberText(*kind.min_float), out);
  if (kind.max_float && value > *kind.max_float) add_max_value_error(field, NumberText(*kind.max_float), out);
}

void check_decimal_counts(const SchemaField& field, std::uint64_t digits, std::uint64_t places,
                          std::vector<FieldError>& out) {
  const CoreKind& kind = field.rules.kind;
  if (kind.max_digits && digits > *kind.max_digits) {
    NumberText max(static_cast<std::uint64_t>(*kind.max_digits));
    FieldError& e = add_error(field, concat({"Ensure that there are no more than ", max.view(), " digits in total."}),
                              ErrorCode::MaxDigits, out);
    e.params.set("max_digits", max.str());
  }
  if (kind.decimal_places && places > *kind.decimal_places) {
    NumberText max(static_cast<std::uint64_t>(*kind.decimal_places));
    FieldError& e = add_error(field, concat({"Ensure that there are no more than ", max.view(), " decimal places."}),
                              ErrorCode::MaxDecimalPlaces, out);
    e.params.set("decimal_places", max.str());
  }
}

void check_value(const SchemaField& field, const FieldValue& value, std::vector<FieldError>& out) {
  if (is_null(value)) {
    check_required(field, out);
    return;
  }
  switch (field.rules.kind.tag) {
    case CoreKindTag::Str:
      if (const auto* text = std::get_if<std::string>(&value)) {
        if (has_length_limits(field)) check_length_limits(field, count_code_points(*text), out);
        return;
      }
      break;
    case CoreKindTag::Int:
      if (const auto* v = std::get_if<std::int64_t>(&value)) return check_int_bounds(field, *v, out);
      break;
    case CoreKindTag::Float:
      if (const auto* v = std::get_if<double>(&value)) return check_float_bounds(field, *v, out);
      break;
    case CoreKindTag::Bool:
      if (std::holds_alternative<bool>(value)) return;
      break;
    case CoreKindTag::Decimal:
      if (const auto* d = std::get_if<Decimal>(&value)) {
        return check_decimal_counts(field, mantissa_digit_count(d->mantissa), d->scale, out);
      }
      break;
    case CoreKindTag::DateTime:
      if (std::holds_alternative<DateTime>(value)) return;
      break;
    case CoreKindTag::Date:
      if (std::holds_alternative<Date>(value)) return;
      break;
    case CoreKindTag::Time:
      if (std::holds_alternative<Time>(value)) return;
      break;
    case CoreKindTag::Uuid:
      if (std::holds_alternative<Uuid>(value)) return;
      break;
    case CoreKindTag::List:
    case CoreKindTag::Dict:
      if (const auto* tree = std::get_if<JsonValue>(&value)) {
        bool fits = field.rules.kind.tag == CoreKindTag::List ? tree->is_array() : tree->is_object();
        if (!fits) add_shape_error(field, out);
        return;
      }
      break;
    case CoreKindTag::Bytes:
      if (const auto* bytes = std::get_if<ByteString>(&value)) {
        return check_bytes_length(field, bytes->data.size(), out);
      }
      break;
  }
  add_kind_mismatch_error(field, variant_name(value), out);
}

}  // namespace zembra
