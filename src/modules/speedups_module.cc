// The zembra._speedups module: the native part of the zembra package.
//
// A shared object of its own, linked from the same static libraries as the
// specified modules. It imports them when it runs, to recognise their
// compiled schemas by the identity of their classes, and reads those
// schemas through the same headers.
#include "binding/core/module_builder.h"
#include "binding/core/panic.h"
#include "binding/speedups/column_layout.h"
#include "binding/speedups/input_plan.h"
#include "binding/speedups/speedups_functions.h"
#include "binding/speedups/speedups_state.h"

namespace zembra::py {
namespace {

Status register_speedups(PyObject* module) {
  ZB_CHECK_OK(load_schema_types(module));
  PyObject* panic = panic_exception_type();
  if (!panic) return python_error();
  ZB_CHECK_OK(add_public_name(module, "PanicException", Object::borrow(panic)));
  for (PyMethodDef* def : {&kEncodeJsonDef, &kSerializeJsonDef, &kSerializeManyJsonDef, &kSerializeInstanceJsonDef,
                           &kSerializeBatchJsonDef, &kSerializeValuesListJsonDef, &kEncodeJsonPlainDef,
                           &kQuerysetRecordsDef, &kQuerysetJsonDef, &kQuerysetPgRecordsDef, &kQuerysetPgJsonDef, &kParseInputDef, &kModelObjectsDef,
                           &kConvertRowsDef}) {
    ZB_CHECK_OK(add_function(module, def));
  }
  ZB_CHECK_OK(add_type(module, "InputPlan", input_plan_type()));
  ZB_CHECK_OK(add_type(module, "ColumnLayout", column_layout_type()));
  return {};
}

// The binding keeps Python objects in per-process caches (looked-up
// functions, classes and their slots), filled by whichever interpreter uses
// them first. Objects of a sub-interpreter would outlive it there, and the
// main interpreter's objects would be used by code of another one, so only
// the main interpreter may load the module. The check comes before anything
// else: execute_module already registers with the running interpreter.
int exec_speedups(PyObject* module) noexcept {
  if (PyInterpreterState_Get() != PyInterpreterState_Main()) {
    PyErr_SetString(PyExc_ImportError,
                    "zembra._speedups can only be imported in the main interpreter; it keeps per-process caches of "
                    "Python objects that a sub-interpreter cannot share (zembra_core and zembra_django work in "
                    "sub-interpreters)");
    return -1;
  }
  return execute_module(module, register_speedups);
}

int traverse_speedups(PyObject* module, visitproc visit, void* arg) { return traverse_state(module, visit, arg); }
int clear_speedups(PyObject* module) { return clear_state(module); }
void free_speedups(void* module) { clear_state(static_cast<PyObject*>(module)); }

PyModuleDef_Slot kSpeedupsSlots[] = ZB_EXTENSION_MODULE_SLOTS(exec_speedups);
PyModuleDef kSpeedupsModule = {PyModuleDef_HEAD_INIT,
                               "_speedups",
                               "The native part of the zembra package.",
                               sizeof(SpeedupsState),
                               nullptr,
                               kSpeedupsSlots,
                               traverse_speedups,
                               clear_speedups,
                               free_speedups};

}  // namespace
}  // namespace zembra::py

extern "C" __attribute__((visibility("default"))) PyObject* PyInit__speedups(void) {
  return PyModuleDef_Init(&zembra::py::kSpeedupsModule);
}
