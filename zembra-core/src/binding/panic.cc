#include "binding/panic.h"

#include <cstdio>

namespace zembra::py {
namespace {

constexpr const char* kPanicDoc =
    "\nThe exception raised when native code called from Python fails fatally.\n\n"
    "Like SystemExit, this exception is derived from BaseException so that\n"
    "it will typically propagate all the way through the stack and cause the\n"
    "Python interpreter to exit.\n";

constexpr const char* kGenericFault = "internal error in native code";

PyObject* panic_type = nullptr;

}  // namespace

PyObject* panic_exception_type() {
  // Created under the interpreter lock, so a plain check is enough.
  if (!panic_type) {
    panic_type = PyErr_NewExceptionWithDoc("zembra_core.PanicException", kPanicDoc, PyExc_BaseException, nullptr);
  }
  return panic_type;
}

void raise_panic(const char* message) {
  PyObject* type = panic_exception_type();
  if (!type) return;  // the failure to create it is the pending exception
  PyErr_SetString(type, message ? message : kGenericFault);
}

void resume_panic_if_any() {
  if (!panic_type || !PyErr_ExceptionMatches(panic_type)) return;
  PyObject* exc = PyErr_GetRaisedException();
  std::fputs("--- Zembra is resuming a panic after fetching a PanicException from Python. ---\n", stderr);
  std::fputs("Python stack trace below:\n", stderr);
  PyErr_DisplayException(exc);
  PyErr_SetRaisedException(exc);
}

}  // namespace zembra::py
