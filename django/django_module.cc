// The zembra_django module: definition, initialisers and registration order.
#include "binding/module_builder.h"
#include "django/binding/django_functions.h"
#include "django/binding/model_schema_type.h"

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

int exec_django(PyObject* module) noexcept { return execute_module(module, register_django); }

PyModuleDef_Slot kDjangoSlots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&exec_django)},
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
    {0, nullptr},
};

PyModuleDef kDjangoModule = {
    PyModuleDef_HEAD_INIT,
    "zembra_django",
    "The native extension module.",
    0,
    nullptr,
    kDjangoSlots,
    nullptr,
    nullptr,
    nullptr,
};

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
