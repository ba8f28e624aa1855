#include "django/binding/ordinary_errors.h"

#include "binding/python_text.h"

namespace zembra::py {

Status absorb_ordinary_error() {
  if (!PyErr_ExceptionMatches(PyExc_Exception)) return python_error();
  PyErr_Clear();
  return {};
}

Result<std::string> take_ordinary_error_text() {
  if (!PyErr_ExceptionMatches(PyExc_Exception)) return python_error();
  Object exc = Object::steal(PyErr_GetRaisedException());
  return exception_text(exc.get());
}

}  // namespace zembra::py
