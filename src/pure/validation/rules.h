// The per-field validation rules: which checks run for each kind, and the
// message, code and params of every error they report.
//
// Everything here works on plain data, holds no state and may run on any
// thread. Messages are built only when a check fails, so a passing value
// costs no allocation.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "pure/model/field_rules.h"
#include "pure/model/field_value.h"
#include "pure/validation/decimal_count.h"
#include "pure/validation/field_error.h"

namespace zembra {

// Checks a value that has already been read; appends its errors, in check
// order. Null gets the required rule only. A value whose variant does not
// belong to the field's kind gets the kind-mismatch error and nothing else.
void check_value(const SchemaField& field, const FieldValue& value, std::vector<FieldError>& out);

// The building blocks, shared with the checker that reads Python values
// directly. Each one skips limits that are not set.

// Required rule for an absent or null value: "This field is required."
// unless the field is nullable or has a default.
void check_required(const SchemaField& field, std::vector<FieldError>& out);
// The "required" error unconditionally.
void add_required_error(const SchemaField& field, std::vector<FieldError>& out);

// "Invalid type: expected <kind name>." for a value the kind cannot read;
// for list and dict fields the shape error instead.
void add_invalid_type_error(const SchemaField& field, std::vector<FieldError>& out);
// "Invalid type: expected <kind name>, got <variant name>."
void add_kind_mismatch_error(const SchemaField& field, std::string_view variant,
                             std::vector<FieldError>& out);
// "Expected a list." for list fields, "Expected a dict." for all others.
void add_shape_error(const SchemaField& field, std::vector<FieldError>& out);

// Text length in code points against max_length, then min_length.
void check_length_limits(const SchemaField& field, std::uint64_t length, std::vector<FieldError>& out);
// Byte count against max_length (bytes fields have no minimum).
void check_bytes_length(const SchemaField& field, std::uint64_t length, std::vector<FieldError>& out);
// min_value, then max_value; each one independently.
void check_int_bounds(const SchemaField& field, std::int64_t value, std::vector<FieldError>& out);
// The same with doubles; NaN fails no comparison.
void check_float_bounds(const SchemaField& field, double value, std::vector<FieldError>& out);
// max_digits, then decimal_places.
void check_decimal_counts(const SchemaField& field, std::uint64_t digits, std::uint64_t places,
                          std::vector<FieldError>& out);

}  // namespace zembra
