// Reading the values of values_list() rows by position.
#pragma once

#include <cstddef>
#include <vector>

#include "binding/core/error.h"
#include "binding/django/ordinary_errors.h"

namespace zembra::py {

// row[i]: tuples and lists with their own subscription are read directly,
// anything else through subscription by a Python int. Empty when the
// position is missing or subscription raised an ordinary error.
class RowReader {
 public:
  static Result<RowReader> make(std::size_t width) {
    RowReader reader;
    reader.indices_.reserve(width);
    for (std::size_t i = 0; i < width; ++i) {
      ZB_TRY(Object index, checked(PyLong_FromSize_t(i)));
      reader.indices_.push_back(std::move(index));
    }
    return reader;
  }

  Result<Object> item(PyObject* row, std::size_t i) const {
    PyTypeObject* type = Py_TYPE(row);
    binaryfunc subscript = type->tp_as_mapping ? type->tp_as_mapping->mp_subscript : nullptr;
    auto index = static_cast<Py_ssize_t>(i);
    if (PyTuple_Check(row) && subscript == PyTuple_Type.tp_as_mapping->mp_subscript) {
      if (index >= PyTuple_GET_SIZE(row)) return Object();
      return Object::borrow(PyTuple_GET_ITEM(row, index));
    }
    if (PyList_Check(row) && subscript == PyList_Type.tp_as_mapping->mp_subscript) {
      if (index >= PyList_GET_SIZE(row)) return Object();
      return Object::borrow(PyList_GET_ITEM(row, index));
    }
    Object value = Object::steal(PyObject_GetItem(row, indices_[i].get()));
    if (!value) ZB_CHECK_OK(absorb_ordinary_error());
    return value;
  }

 private:
  std::vector<Object> indices_;
};

}  // namespace zembra::py
