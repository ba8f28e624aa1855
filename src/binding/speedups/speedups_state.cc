#include "binding/speedups/speedups_state.h"

#include "binding/core/convert.h"
#include "binding/core/imports.h"

namespace zembra::py {
namespace {

SpeedupsState* state_of(PyObject* module) { return static_cast<SpeedupsState*>(PyModule_GetState(module)); }

Result<PyObject*> type_from(const char* module, const char* name) {
  ZB_TRY(Object type, imported_attribute(module, name));
  if (!PyType_Check(type.get())) {
    PyErr_Format(PyExc_ImportError, "%s.%s is not a class", module, name);
    return python_error();
  }
  return type.release();
}

template <class T>
Result<const T*> schema_argument(PyObject* obj, PyObject* type, const char* name) {
  if (type && PyObject_TypeCheck(obj, reinterpret_cast<PyTypeObject*>(type))) return reinterpret_cast<const T*>(obj);
  (void)wrong_type(obj, name);
  add_parameter_note("schema");
  return python_error();
}

}  // namespace

Status load_schema_types(PyObject* module) {
  SpeedupsState* state = state_of(module);
  ZB_TRY(state->schema_type, type_from("zembra_core._native", "Schema"));
  ZB_TRY(state->model_schema_type, type_from("zembra_django", "ModelSchema"));
  return {};
}

int traverse_state(PyObject* module, visitproc visit, void* arg) {
  SpeedupsState* state = state_of(module);
  if (state) {
    Py_VISIT(state->schema_type);
    Py_VISIT(state->model_schema_type);
  }
  return 0;
}

int clear_state(PyObject* module) {
  SpeedupsState* state = state_of(module);
  if (state) {
    Py_CLEAR(state->schema_type);
    Py_CLEAR(state->model_schema_type);
  }
  return 0;
}

Result<const SchemaObject*> core_schema_argument(PyObject* module, PyObject* obj) {
  return schema_argument<SchemaObject>(obj, state_of(module)->schema_type, "Schema");
}

Result<const ModelSchemaObject*> model_schema_argument(PyObject* module, PyObject* obj) {
  return schema_argument<ModelSchemaObject>(obj, state_of(module)->model_schema_type, "ModelSchema");
}

}  // namespace zembra::py
