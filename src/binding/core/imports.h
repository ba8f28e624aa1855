// Modules and attributes the conversions call into.
#pragma once

#include "binding/core/error.h"

namespace zembra::py {

// import module, through the interpreter's module cache.
Result<Object> imported_module(const char* module);

// import module; getattr(module, name) — through the interpreter's module
// cache on every call, so a replaced module or attribute is honoured.
Result<Object> imported_attribute(const char* module, const char* name);

// decimal.Decimal and uuid.UUID, each looked up once per process.
Result<PyObject*> decimal_type();
Result<PyObject*> uuid_type();

}  // namespace zembra::py
