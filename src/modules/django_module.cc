// The zembra_django module: definition, initialisers and registration order.
#include "binding/core/module_builder.h"
#include "binding/django/django_functions.h"
#include "binding/django/model_schema_type.h"

namespace zembra::py {
namespace {

Status register_django(PyObject* module) {
  ZB_CHECK_OK(add_type(module, "ModelSchema", model_schema_type()));
  for (PyMethodDef* def : {&kSerializeInstanceDef, &kSerializeBatchDef, &kSerializeValuesListDef,
                           &kValidateInstanceDef, &kExtractModelFieldsDef, &kSerializeFieldsDef,
                           &kValidateFieldsDef, &kDjangoVersionDef}) {
    ZB_CHECK_OK(add_function(module, def));
  }
  return {};
}

int exec_django(PyObject* module) { return execute_module(module, register_django); }

PyModuleDef_Slot kDjangoSlots[] = ZB_EXTENSION_MODULE_SLOTS(exec_django);
PyModuleDef kDjangoModule = extension_module("zembra_django", kDjangoSlots);

}  // namespace
}  // namespace zembra::py

extern "C" {

__attribute__((visibility("default"))) PyObject* PyInit_zembra_django(void) {
  return PyModuleDef_Init(&zembra::py::kDjangoModule);
}

__attribute__((visibility("default"))) PyModuleDef_Slot* PyModExport_zembra_django(void) {
  return zembra::py::kDjangoSlots;
}

}
