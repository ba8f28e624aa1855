#include "binding/imports.h"

namespace zembra::py {

Result<Object> imported_attribute(const char* module, const char* name) {
  ZB_TRY(Object mod, checked(PyImport_ImportModule(module)));
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
