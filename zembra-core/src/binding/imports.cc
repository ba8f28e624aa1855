#include "binding/imports.h"

namespace zembra::py {

Result<Object> imported_attribute(const char* module, const char* name) {
  // Through sys.modules first (what an import finds for a loaded module),
  // importing only when the module is not loaded yet.
  ZB_TRY(Object module_name, checked(PyUnicode_FromString(module)));
  Object mod = Object::steal(PyImport_GetModule(module_name.get()));
  if (!mod) {
    if (PyErr_Occurred()) return python_error();
    ZB_TRY(mod, checked(PyImport_Import(module_name.get())));
  }
  return checked(PyObject_GetAttrString(mod.get(), name));
}

Result<PyObject*> decimal_type() {
  // Filled once under the interpreter lock and kept for the process.
  static PyObject* cell = nullptr;
  if (!cell) {
    ZB_TRY(Object type, imported_attribute("decimal", "Decimal"));
    cell = type.release();
  }
  return cell;
}

}  // namespace zembra::py
