#include "binding/core/imports.h"

namespace zembra::py {

Result<Object> imported_module(const char* module) {
  // Through sys.modules first (what an import finds for a loaded module),
  // importing only when the module is not loaded yet.
  ZB_TRY(Object module_name, checked(PyUnicode_FromString(module)));
  Object mod = Object::steal(PyImport_GetModule(module_name.get()));
  if (!mod && PyErr_Occurred()) return python_error();
  // None in sys.modules blocks the import: the import statement's own error.
  if (!mod || mod.get() == Py_None) return checked(PyImport_Import(module_name.get()));
  return mod;
}

Result<Object> imported_attribute(const char* module, const char* name) {
  ZB_TRY(Object mod, imported_module(module));
  return checked(PyObject_GetAttrString(mod.get(), name));
}

namespace {

// Filled once under the interpreter lock and kept for the process.
Result<PyObject*> imported_once(PyObject*& cell, const char* module, const char* name) {
  if (!cell) {
    ZB_TRY(Object type, imported_attribute(module, name));
    cell = type.release();
  }
  return cell;
}

}  // namespace

Result<PyObject*> decimal_type() {
  static PyObject* cell = nullptr;
  return imported_once(cell, "decimal", "Decimal");
}

Result<PyObject*> uuid_type() {
  static PyObject* cell = nullptr;
  return imported_once(cell, "uuid", "UUID");
}

}  // namespace zembra::py
