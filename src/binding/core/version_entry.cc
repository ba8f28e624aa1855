#include "binding/core/core_functions.h"
#include "binding/core/frame.h"

namespace zembra::py {
namespace {

constexpr const char* kVersion = "1.0.1";

PyObject* core_version(PyObject*, PyObject*) {
  return run_guarded([]() -> Result<Object> {
    // Interned once; every call hands out the same str.
    static PyObject* text = PyUnicode_InternFromString(kVersion);
    if (!text) return python_error();
    return Object::borrow(text);
  });
}

}  // namespace

PyMethodDef kCoreVersionDef = {"version", core_version, METH_NOARGS,
                               "version()\n--\n\nReturns the zembra-core version string."};

}  // namespace zembra::py
