// The ModelSchema class: a Django model class's fields, read once.
#pragma once

#include <string>
#include <vector>

#include "binding/core/error.h"
#include "pure/django_model/compiled_model.h"

namespace zembra::py {

struct ModelSchemaObject {
  PyObject_HEAD
  django::CompiledModel model;
  std::string model_name;
  // The field names as interned str objects, made once so that attribute
  // lookups and result dicts reuse them.
  std::vector<Object> keys;
  std::vector<PyObject*> key_pointers;  // the same, borrowed, as one array
  // Every key with the value None, in result order: serialized records are
  // copies of it (see build_record_dict). Never handed out, so never changes.
  Object record_template;
};

// The type object, created once per process.
PyTypeObject* model_schema_type();

// The schema argument of a module function (checked by the caller's frame).
Result<const ModelSchemaObject*> to_model_schema(PyObject* obj);

// Field names as str objects, for the serialized records of a call.
Result<std::vector<Object>> name_objects(const django::CompiledModel& model, bool intern);

}  // namespace zembra::py
