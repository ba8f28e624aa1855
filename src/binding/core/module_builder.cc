#include "binding/core/module_builder.h"

#include "binding/core/convert.h"

namespace zembra::py {

Unexpected<PythonRaised> wrong_type_module(PyObject* obj) { return wrong_type(obj, "module"); }

Status add_public_name(PyObject* module, const char* name, Object value) {
  PyObject* found = nullptr;
  if (PyObject_GetOptionalAttrString(module, "__all__", &found) < 0) return python_error();
  Object all = Object::steal(found);
  if (!all) {
    ZB_TRY(all, checked(PyList_New(0)));
    ZB_CHECK_OK(checked_status(PyObject_SetAttrString(module, "__all__", all.get())));
  }
  ZB_TRY(Object text, checked(PyUnicode_FromString(name)));
  if (PyList_Check(all.get())) {
    ZB_CHECK_OK(checked_status(PyList_Append(all.get(), text.get())));
  } else {
    ZB_TRY(Object ignored, checked(PyObject_CallMethod(all.get(), "append", "O", text.get())));
  }
  return checked_status(PyObject_SetAttr(module, text.get(), value.get()));
}

Status add_function(PyObject* module, PyMethodDef* def) {
  ZB_TRY(Object module_name, checked(PyModule_GetNameObject(module)));
  ZB_TRY(Object function, checked(PyCMethod_New(def, module, module_name.get(), nullptr)));
  return add_public_name(module, def->ml_name, std::move(function));
}

Status add_type(PyObject* module, const char* name, PyTypeObject* type) {
  if (!type) return python_error();
  return add_public_name(module, name, Object::borrow(reinterpret_cast<PyObject*>(type)));
}

PyTypeObject* create_type_once(PyTypeObject*& cell, PyType_Spec* spec, vectorcallfunc constructor) {
  if (!cell) {
    cell = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(spec));
    if (cell && constructor) cell->tp_vectorcall = constructor;
  }
  return cell;
}

}  // namespace zembra::py
