// The _native module: definition, initialisers and registration order.
#include "binding/core/core_functions.h"
#include "binding/core/field_type.h"
#include "binding/core/module_builder.h"
#include "binding/core/schema_type.h"

namespace zembra::py {
namespace {

Status register_native(PyObject* module) {
  ZB_CHECK_OK(add_type(module, "Schema", schema_type()));
  ZB_CHECK_OK(add_type(module, "Field", field_type()));
  for (PyMethodDef* def : {&kSerializeDef, &kSerializeManyDef, &kValidateDef, &kValidateManyDef,
                           &kValidateNamesBatchDef, &kValidateIdsBatchDef, &kComputeRiskBatchDef,
                           &kBatchStatsDef, &kCoreVersionDef}) {
    ZB_CHECK_OK(add_function(module, def));
  }
  return {};
}

int exec_native(PyObject* module) { return execute_module(module, register_native); }

PyModuleDef_Slot kNativeSlots[] = ZB_EXTENSION_MODULE_SLOTS(exec_native);
PyModuleDef kNativeModule = extension_module("_native", kNativeSlots);

}  // namespace
}  // namespace zembra::py

extern "C" {

__attribute__((visibility("default"))) PyObject* PyInit__native(void) {
  return PyModuleDef_Init(&zembra::py::kNativeModule);
}

__attribute__((visibility("default"))) PyModuleDef_Slot* PyModExport__native(void) {
  return zembra::py::kNativeSlots;
}

}
