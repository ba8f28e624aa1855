// The Field class: one field's type and constraints, compiled once.
#pragma once

#include "binding/core/error.h"
#include "pure/model/field_rules.h"

namespace zembra::py {

struct FieldObject {
  PyObject_HEAD
  FieldRules rules;
};

// The type object, created once per process.
PyTypeObject* field_type();

}  // namespace zembra::py
