// Checking a Python value taken straight out of a dict record, without
// reading it into a typed value first (validate_many's dict records).
#pragma once

#include <vector>

#include "binding/core/error.h"
#include "pure/model/field_rules.h"
#include "pure/validation/field_error.h"

namespace zembra::py {

// For a value that is present and not None. An ordinary exception raised
// while examining the value becomes the field's "invalid" error.
Status check_object_inline(const SchemaField& field, PyObject* value, std::vector<FieldError>& errors);

}  // namespace zembra::py
