#include "binding/core_functions.h"
#include "binding/frame.h"

namespace zembra::py {
namespace {

constexpr const char* kVersion = "1.0.1";

PyObject* core_version(PyObject*, PyObject*) noexcept {
  return run_guarded([]() -> Result<Object> { return checked(PyUnicode_FromString(kVersion)); });
}

}  // namespace

PyMethodDef kCoreVersionDef = {"version", core_version, METH_NOARGS,
                               "version()\n--\n\nReturns the zembra-core version string."};

}  // namespace zembra::py
