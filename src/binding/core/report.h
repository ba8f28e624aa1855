// The validation report dict shared by both modules.
#pragma once

#include <cstddef>
#include <vector>

#include "binding/core/error.h"
#include "pure/validation/field_error.h"

namespace zembra::py {

// {"valid_count", "error_count", "is_valid", "errors": [{"field", "message",
// "code", "params"}...]}, keys inserted in that order.
Result<Object> build_report(const std::vector<FieldError>& errors, std::size_t valid_count);

}  // namespace zembra::py
