// The error type of the binding layer and the boundary that raises it.
#pragma once

#include <variant>

#include "binding/core/object.h"
#include "pure/common/expected.h"
#include "pure/errors/core_error.h"
#include "pure/errors/model_error.h"

namespace zembra::py {

// The interpreter already holds the exception (it came from a C API call or
// from user code); the boundary raises it unchanged.
struct PythonRaised {};

using Error = std::variant<PythonRaised, CoreError, ModelError>;

template <class T>
using Result = Expected<T, Error>;
using Status = Expected<void, Error>;

inline Unexpected<PythonRaised> python_error() { return {PythonRaised{}}; }

// A new reference from the C API: null means an exception is set.
inline Result<Object> checked(PyObject* p) {
  if (!p) return python_error();
  return Object::steal(p);
}
inline Status checked_status(int rc) {
  if (rc < 0) return python_error();
  return {};
}

// Sets the Python exception for an error value (the single place where
// error kinds become exception types).
void raise_error(Error&& error);

}  // namespace zembra::py
