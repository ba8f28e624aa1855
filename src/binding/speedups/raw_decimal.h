// SQLite's raw decimal values (REAL or INTEGER) as the text Django's
// converter gives them, for both raw-row routes.
#pragma once

#include <optional>
#include <string>

#include "binding/core/object.h"
#include "pure/rows/raw_values.h"

namespace zembra::py {

// Empty when the value is neither a float nor an int that fits 64 bits.
std::optional<std::string> sqlite_decimal_text(PyObject* value, const rows::DecimalColumn& column);

}  // namespace zembra::py
