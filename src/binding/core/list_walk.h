// Walking the items of a list argument.
//
// Conversions may run user code that shrinks the list being walked, so the
// walk stops at whichever comes first: the list's length at the start or
// its current length. Items appended meanwhile are not visited, and each
// item is held for as long as its step runs.
#pragma once

#include "binding/core/error.h"

namespace zembra::py {

// each(item) -> Status, in list order; the first error ends the walk.
template <class Each>
Status for_each_item(PyObject* list, Each&& each) {
  Py_ssize_t initial = PyList_GET_SIZE(list);
  for (Py_ssize_t i = 0; i < initial && i < PyList_GET_SIZE(list); ++i) {
    Object item = Object::borrow(PyList_GET_ITEM(list, i));
    ZB_CHECK_OK(each(item.get()));
  }
  return {};
}

// A new list of each(item) -> Result<Object>, in list order.
template <class Each>
Result<Object> map_list(PyObject* list, Each&& each) {
  ZB_TRY(Object result, checked(PyList_New(0)));
  ZB_CHECK_OK(for_each_item(list, [&](PyObject* item) -> Status {
    ZB_TRY(Object out, each(item));
    return checked_status(PyList_Append(result.get(), out.get()));
  }));
  return result;
}

}  // namespace zembra::py
