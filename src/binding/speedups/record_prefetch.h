// Loading the rows of a list ahead of the writers.
//
// Rows built one by one lie far apart in memory, and the writers wait on
// each value they read: its type and contents are rarely in the cache. Asked
// for a row or two ahead, the processor loads them meanwhile, many at a
// time. Only hints: nothing is read that the writers would not read, no code
// runs and the output does not depend on it. Dict records are left alone:
// reaching their values takes a walk of their table that costs what the
// loads save.
#pragma once

#include "binding/core/error.h"

namespace zembra::py {

inline void prefetch_object(const void* address) { __builtin_prefetch(address); }

// The header of each item of an exact tuple or list, whose own header
// should already have been asked for a step before.
inline void prefetch_row_values(PyObject* row) {
  PyTypeObject* type = Py_TYPE(row);
  if (type != &PyTuple_Type && type != &PyList_Type) return;
  Py_ssize_t n = PySequence_Fast_GET_SIZE(row);
  PyObject** items = PySequence_Fast_ITEMS(row);
  for (Py_ssize_t i = 0; i < n; ++i) prefetch_object(items[i]);
}

// Called before the list's item at index is written: the values of the next
// row and the header of the one after that.
inline void prefetch_ahead(PyObject* list, Py_ssize_t index) {
  Py_ssize_t size = PyList_GET_SIZE(list);
  if (index + 2 < size) prefetch_object(PyList_GET_ITEM(list, index + 2));
  if (index + 1 < size) prefetch_row_values(PyList_GET_ITEM(list, index + 1));
}

}  // namespace zembra::py
