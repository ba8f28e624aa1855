// The state of the zembra._speedups module: the two compiled-schema classes
// of the specified modules, found by importing them when the module runs.
//
// Both classes come from the other shared object of this distribution, built
// from the same sources with the same compiler, so their instances have the
// layout of SchemaObject and ModelSchemaObject. They are recognised by the
// identity of their type, never by name.
#pragma once

#include "binding/core/error.h"
#include "binding/core/schema_type.h"
#include "binding/django/model_schema_type.h"

namespace zembra::py {

struct SpeedupsState {
  PyObject* schema_type;        // zembra_core._native.Schema
  PyObject* model_schema_type;  // zembra_django.ModelSchema
};

// Fills the state of a module being executed (new references).
Status load_schema_types(PyObject* module);
int traverse_state(PyObject* module, visitproc visit, void* arg);
int clear_state(PyObject* module);

// A module function's schema argument, with the messages of the dict routes
// ("'dict' object is not an instance of 'Schema'" and the parameter's note).
Result<const SchemaObject*> core_schema_argument(PyObject* module, PyObject* obj);
Result<const ModelSchemaObject*> model_schema_argument(PyObject* module, PyObject* obj);

}  // namespace zembra::py
