// The direct route: one Python value converted by calling back into Python,
// with no typed value in between (dict records of serialize_many).
#pragma once

#include "binding/core/error.h"
#include "pure/model/core_kind.h"

namespace zembra::py {

// str() for Decimal and UUID, isoformat() for the date and time kinds,
// Base64 text for bytes; other kinds are never passed here.
Result<Object> convert_direct(PyObject* value, CoreKindTag kind);

}  // namespace zembra::py
