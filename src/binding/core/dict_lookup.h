// Dict lookups that try a likely position before hashing.
#pragma once

#include "binding/core/error.h"

namespace zembra::py {

// dict[key] through the dict's own storage (no subclass hooks): a new
// reference, or an empty Object when absent. Records are usually built with
// the schema's keys in the schema's order, and both sides' keys are interned
// strings, so the entry at `hint` is first compared by identity; any other
// layout falls back to the ordinary lookup with the same result.
inline Result<Object> dict_lookup(PyObject* dict, PyObject* key, Py_ssize_t hint) {
  Py_ssize_t pos = hint;
  PyObject* found_key;
  PyObject* found_value;
  if (PyDict_Next(dict, &pos, &found_key, &found_value) && found_key == key) return Object::borrow(found_value);
  PyObject* found = nullptr;
  if (PyDict_GetItemRef(dict, key, &found) < 0) return python_error();
  return Object::steal(found);
}

}  // namespace zembra::py
