// The Schema class: a dict of named Fields compiled once.
#pragma once

#include <vector>

#include "binding/core/error.h"
#include "pure/model/compiled_schema.h"

namespace zembra::py {

struct SchemaObject {
  PyObject_HEAD
  CompiledSchema schema;
  // The field names as interned str objects, made once so that per-call dict
  // lookups compare by identity.
  std::vector<Object> keys;
  std::vector<PyObject*> key_pointers;  // the same, borrowed, as one array
  // Every key with the value None, in result order: serialized records are
  // copies of it (see build_record_dict). Never handed out, so never changes.
  Object record_template;
};

PyTypeObject* schema_type();

// The schema argument of a module function (checked by the caller's frame).
Result<const SchemaObject*> to_schema(PyObject* obj);

}  // namespace zembra::py
