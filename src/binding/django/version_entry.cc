#include "binding/core/frame.h"
#include "binding/django/django_functions.h"

namespace zembra::py {
namespace {

PyObject* django_version(PyObject*, PyObject*) {
  return run_guarded([]() -> Result<Object> { return checked(PyUnicode_FromString("1.0.1")); });
}

}  // namespace

PyMethodDef kDjangoVersionDef = {"version", django_version, METH_NOARGS,
                                 "version()\n--\n\nReturns the zembra-django version string."};

}  // namespace zembra::py
