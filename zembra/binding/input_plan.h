// The InputPlan class: a list of field dicts compiled once for parse_input.
#pragma once

#include <vector>

#include "binding/error.h"
#include "zembra/input/plan.h"

namespace zembra::py {

// The interpreter objects a field keeps next to its native rules.
struct FieldObjects {
  Object name;         // interned str, the key of the result dicts
  Object validators;   // tuple of callables, or empty
  Object choice_keys;  // tuple: the choices as given, by position
  Object zone;         // the default_timezone (None for naive)
};

struct InputPlanObject {
  PyObject_HEAD
  input::Plan plan;
  std::vector<FieldObjects> objects;  // parallel to plan.fields
};

PyTypeObject* input_plan_type();

// parse_input's plan argument.
Result<const InputPlanObject*> input_plan_argument(PyObject* obj);

}  // namespace zembra::py
