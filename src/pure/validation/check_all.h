// Checking every field of one record, on the worker pool for wide records.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "pure/model/field_rules.h"
#include "pure/model/field_value.h"
#include "pure/validation/field_error.h"

namespace zembra {

// Records with fewer fields are checked on the calling thread, where handing
// work to the pool would cost more than the checks.
inline constexpr std::size_t kParallelFieldThreshold = 128;

// All errors of the (field, value) pairs, in field order then check order,
// whichever thread checked which field.
std::vector<FieldError> check_all(std::span<const SchemaField> fields, std::span<const FieldValue> values);

// The number of fields minus the number of distinct field names among the
// errors, at least 0.
std::size_t count_valid_fields(std::size_t field_count, const std::vector<FieldError>& errors);

}  // namespace zembra
