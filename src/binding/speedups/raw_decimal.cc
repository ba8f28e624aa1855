#include "binding/speedups/raw_decimal.h"

#include <cstdint>

namespace zembra::py {

std::optional<std::string> sqlite_decimal_text(PyObject* value, const rows::DecimalColumn& column) {
  if (PyFloat_CheckExact(value)) return rows::sqlite_decimal_text(PyFloat_AS_DOUBLE(value), column);
  if (PyLong_CheckExact(value)) {
    int overflow = 0;
    long long v = PyLong_AsLongLongAndOverflow(value, &overflow);
    if (!overflow && !(v == -1 && PyErr_Occurred())) return rows::sqlite_decimal_text(std::int64_t{v}, column);
    PyErr_Clear();
  }
  return std::nullopt;
}

}  // namespace zembra::py
