#include "binding/core/convert.h"

#include <climits>
#include <cstring>
#include <string>

namespace zembra::py {

std::string type_qualname(PyObject* obj, std::string_view fallback) {
  Object name = Object::steal(PyType_GetQualName(Py_TYPE(obj)));
  if (name) {
    Py_ssize_t size = 0;
    if (const char* text = PyUnicode_AsUTF8AndSize(name.get(), &size)) return std::string(text, size);
  }
  PyErr_Clear();
  return std::string(fallback);
}

Unexpected<PythonRaised> wrong_type(PyObject* obj, std::string_view target) {
  std::string message;
  if (obj == Py_None) {
    message = "'None' is not an instance of '";
  } else {
    message = "'" + type_qualname(obj) + "' object is not an instance of '";
  }
  message += target;
  message += "'";
  PyErr_SetString(PyExc_TypeError, message.c_str());
  return python_error();
}

bool is_numpy_bool(PyObject* obj) {
  // Recognised by name so that numpy is never imported here.
  PyTypeObject* type = Py_TYPE(obj);
  const char* name = type->tp_name;  // "numpy.bool" or "numpy.bool_"
  return std::strcmp(name, "numpy.bool_") == 0 || std::strcmp(name, "numpy.bool") == 0;
}

Result<bool> to_bool(PyObject* obj) {
  if (PyBool_Check(obj)) return obj == Py_True;
  if (is_numpy_bool(obj)) {
    int truth = PyObject_IsTrue(obj);
    if (truth < 0) return python_error();
    return truth == 1;
  }
  return wrong_type(obj, "bool");
}

Result<std::uint64_t> to_u64(PyObject* obj) {
  Object index = Object::steal(PyNumber_Index(obj));
  if (!index) return python_error();
  unsigned long long value = PyLong_AsUnsignedLongLong(index.get());
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return python_error();
  return static_cast<std::uint64_t>(value);
}

Result<std::uint32_t> to_u32(PyObject* obj) {
  Object index = Object::steal(PyNumber_Index(obj));
  if (!index) return python_error();
  int overflow = 0;
  long long value = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
  if (overflow == 0 && value == -1 && PyErr_Occurred()) return python_error();
  if (overflow != 0) {
    // Beyond 64 bits: the interpreter's own overflow message.
    PyLong_AsLongLong(index.get());
    return python_error();
  }
  if (value < 0 || value > static_cast<long long>(UINT32_MAX)) {
    PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
    return python_error();
  }
  return static_cast<std::uint32_t>(value);
}

Result<std::string_view> to_text(PyObject* obj) {
  if (!PyUnicode_Check(obj)) return wrong_type(obj, "str");
  Py_ssize_t size = 0;
  const char* text = PyUnicode_AsUTF8AndSize(obj, &size);
  if (!text) return python_error();
  return std::string_view(text, static_cast<std::size_t>(size));
}

Result<PyObject*> to_instance(PyObject* obj, PyTypeObject* type, std::string_view target) {
  if (PyObject_TypeCheck(obj, type)) return obj;
  return wrong_type(obj, target);
}

void add_parameter_note(const char* parameter) {
  PyObject* exc = PyErr_GetRaisedException();
  if (!exc) return;
  std::string note = std::string("while processing '") + parameter + "'";
  Object text = Object::steal(PyUnicode_FromString(note.c_str()));
  if (text) {
    Object done = Object::steal(PyObject_CallMethod(exc, "add_note", "O", text.get()));
    (void)done;
  }
  PyErr_Clear();  // a failure to attach the note is dropped
  PyErr_SetRaisedException(exc);
}

}  // namespace zembra::py
