#include "binding/core/python_text.h"

#include <cstring>
#include <string>

#include "binding/core/convert.h"

namespace zembra::py {

Result<Object> ascii_text(std::string_view text) {
  PyObject* out = PyUnicode_New(static_cast<Py_ssize_t>(text.size()), 127);
  if (!out) return python_error();
  std::memcpy(PyUnicode_1BYTE_DATA(out), text.data(), text.size());
  return Object::steal(out);
}

Result<Object> utf8_text(std::string_view text) {
  return checked(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr));
}

std::string exception_text(PyObject* exc) {
  std::string out = type_qualname(exc);
  Object text = Object::steal(PyObject_Str(exc));
  Py_ssize_t size = 0;
  const char* utf8 = text ? PyUnicode_AsUTF8AndSize(text.get(), &size) : nullptr;
  if (!utf8) {
    PyErr_Clear();
    return out + ": <exception str() failed>";
  }
  return out + ": " + std::string(utf8, static_cast<std::size_t>(size));
}

bool has_surrogates(PyObject* text) {
  int kind = PyUnicode_KIND(text);
  if (kind == PyUnicode_1BYTE_KIND) return false;
  Py_ssize_t n = PyUnicode_GET_LENGTH(text);
  const void* data = PyUnicode_DATA(text);
  for (Py_ssize_t i = 0; i < n; ++i) {
    Py_UCS4 c = PyUnicode_READ(kind, data, i);
    if (c >= 0xD800 && c <= 0xDFFF) return true;
  }
  return false;
}

}  // namespace zembra::py
