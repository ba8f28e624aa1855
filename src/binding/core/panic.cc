#include "binding/core/panic.h"

#include <cstdio>

namespace zembra::py {
namespace {

constexpr const char* kPanicDoc =
    "\nThe exception raised when native code called from Python fails fatally.\n\n"
    "Like SystemExit, this exception is derived from BaseException so that\n"
    "it will typically propagate all the way through the stack and cause the\n"
    "Python interpreter to exit.\n";

constexpr const char* kGenericFault = "internal error in native code";

// Where the class is kept in the interpreter's dict.
constexpr const char* kRegistryKey = "zembra.PanicException";

// Made once, for an interpreter that offers no dict to keep the class in.
PyObject* fallback_type = nullptr;

PyObject* new_panic_type() {
  return PyErr_NewExceptionWithDoc("zembra_core.PanicException", kPanicDoc, PyExc_BaseException, nullptr);
}

// The class kept in the interpreter's dict; made and stored when absent and
// `create` is set. Null with an exception set on failure, null without one
// when absent.
PyObject* registered_panic_type(bool create) {
  PyObject* registry = PyInterpreterState_GetDict(PyInterpreterState_Get());
  if (!registry) {
    if (!fallback_type && create) fallback_type = new_panic_type();
    return fallback_type;
  }
  PyObject* found = nullptr;
  if (PyDict_GetItemStringRef(registry, kRegistryKey, &found) < 0) return nullptr;
  if (!found && create) {
    Object made = Object::steal(new_panic_type());
    if (!made) return nullptr;
    Object key = Object::steal(PyUnicode_FromString(kRegistryKey));
    if (!key) return nullptr;
    // Keeps the class already stored if another thread stored one first.
    if (PyDict_SetDefaultRef(registry, key.get(), made.get(), &found) < 0) return nullptr;
  }
  // The registry keeps the class for the interpreter's life.
  Object held = Object::steal(found);
  return held.get();
}

}  // namespace

PyObject* panic_exception_type() {
  // Every extension module that links this code has its own copy of it and
  // of its statics; the interpreter's dict gives them all one class, so a
  // panic of one module is caught with the class another one exposes.
  return registered_panic_type(true);
}

void raise_panic(const char* message) {
  PyObject* type = panic_exception_type();
  if (!type) return;  // the failure to create it is the pending exception
  PyErr_SetString(type, message ? message : kGenericFault);
}

void resume_panic_if_any() {
  // A panic derives from BaseException only: ordinary errors need no lookup.
  if (PyErr_ExceptionMatches(PyExc_Exception)) return;
  Object exc = Object::steal(PyErr_GetRaisedException());
  PyObject* type = registered_panic_type(false);
  if (!type) PyErr_Clear();  // no class, or no way to look: not a panic
  if (type && PyErr_GivenExceptionMatches(exc.get(), type)) {
    std::fputs("--- Zembra is resuming a panic after fetching a PanicException from Python. ---\n", stderr);
    std::fputs("Python stack trace below:\n", stderr);
    PyErr_DisplayException(exc.get());
  }
  PyErr_SetRaisedException(exc.release());
}

}  // namespace zembra::py
