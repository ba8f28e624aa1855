// Conversions of argument objects to native values, with the exceptions the
// calling layer promises.
#pragma once

#include <cstdint>
#include <string_view>

#include "binding/core/error.h"

namespace zembra::py {

// Qualified type name of an object's type, for messages; `fallback` when it
// cannot be read.
std::string type_qualname(PyObject* obj, std::string_view fallback = "<failed to extract type name>");

// TypeError "'X' object is not an instance of 'target'" (None worded apart).
Unexpected<PythonRaised> wrong_type(PyObject* obj, std::string_view target);

// Exactly bool, or a NumPy boolean scalar read through its truth value.
Result<bool> to_bool(PyObject* obj);
bool is_numpy_bool(PyObject* obj);

// Integers 0..2^64-1 (objects with __index__ too).
Result<std::uint64_t> to_u64(PyObject* obj);
// Integers 0..2^32-1; values outside that fit in 64 bits raise the
// "out of range integral type conversion attempted" OverflowError.
Result<std::uint32_t> to_u32(PyObject* obj);

// A str (or subclass) as UTF-8; the view lives as long as the object.
Result<std::string_view> to_text(PyObject* obj);

// An instance of type (or of a subclass).
Result<PyObject*> to_instance(PyObject* obj, PyTypeObject* type, std::string_view target);

// Adds the note "while processing '<parameter>'" to the pending exception.
void add_parameter_note(const char* parameter);

template <class T>
Result<T> for_parameter(const char* parameter, Result<T>&& r) {
  if (!r && std::holds_alternative<PythonRaised>(r.error())) add_parameter_note(parameter);
  return std::move(r);
}

}  // namespace zembra::py
