// Filling a module: every added name is also appended to __all__.
#pragma once

#include "binding/core/error.h"
#include "binding/core/frame.h"

namespace zembra::py {

Status add_public_name(PyObject* module, const char* name, Object value);
// def must outlive the module (a static table entry).
Status add_function(PyObject* module, PyMethodDef* def);
Status add_type(PyObject* module, const char* name, PyTypeObject* type);

Unexpected<PythonRaised> wrong_type_module(PyObject* obj);

// The body of a module's execution slot: checks that it got a module, then
// runs the registration steps in order.
template <class Register>
int execute_module(PyObject* module, Register&& register_all) {
  Py_ssize_t rc = run_guarded_size([&]() -> Result<Py_ssize_t> {
    if (!PyModule_Check(module)) {
      (void)wrong_type_module(module);
      return python_error();
    }
    watch_for_exit();
    ZB_CHECK_OK(register_all(module));
    return 0;
  });
  return rc < 0 ? -1 : 0;
}

// The definition every module of the extension shares: multi-phase
// initialisation with one execution step, no per-module state, and no need
// for the interpreter lock. `slots` comes from extension_module_slots().
inline PyModuleDef extension_module(const char* name, PyModuleDef_Slot* slots) {
  return PyModuleDef{PyModuleDef_HEAD_INIT, name, "The native extension module.", 0, nullptr, slots,
                     nullptr,               nullptr, nullptr};
}

#define ZB_EXTENSION_MODULE_SLOTS(exec_fn)                  \
  {                                                         \
    {Py_mod_exec, reinterpret_cast<void*>(&exec_fn)},       \
    {Py_mod_gil, Py_MOD_GIL_NOT_USED}, {0, nullptr}         \
  }

// Creates a heap type once per process; later calls return the same object.
// A constructor given here serves calls of the type through vectorcall.
PyTypeObject* create_type_once(PyTypeObject*& cell, PyType_Spec* spec, vectorcallfunc constructor = nullptr);

}  // namespace zembra::py
