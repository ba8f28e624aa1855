// Checking a model record's typed values and reporting the outcome.
#pragma once

#include <span>

#include "binding/core/report.h"
#include "pure/validation/check_all.h"

namespace zembra::py {

// The report dict for values[i] checked against fields[i]: on the worker
// pool for wide records, errors in field order either way.
inline Result<Object> check_model_record(std::span<const SchemaField> fields, std::span<const FieldValue> values) {
  std::vector<FieldError> errors = check_all(fields, values);
  return build_report(errors, count_valid_fields(fields.size(), errors));
}

}  // namespace zembra::py
