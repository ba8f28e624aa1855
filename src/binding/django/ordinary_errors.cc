#include "binding/django/ordinary_errors.h"

#include "binding/core/frame.h"
#include "binding/core/python_text.h"

namespace zembra::py {

Status absorb_ordinary_error() {
  if (!pending_error_is_ordinary()) return python_error();
  PyErr_Clear();
  return {};
}

Result<std::string> take_ordinary_error_text() {
  if (!pending_error_is_ordinary()) return python_error();
  Object exc = Object::steal(PyErr_GetRaisedException());
  return exception_text(exc.get());
}

}  // namespace zembra::py
