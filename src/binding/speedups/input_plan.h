// The InputPlan class: a list of field dicts compiled once for parse_input.
#pragma once

#include <atomic>
#include <memory>
#include <vector>

#include "binding/core/error.h"
#include "binding/speedups/input_strings.h"
#include "pure/input/plan.h"
#include "pure/input/result.h"

namespace zembra::py {

// The interpreter objects a field keeps next to its native rules.
struct FieldObjects {
  Object name;         // interned str, the key of the result dicts
  Object validators;   // tuple of callables, or empty
  Object choice_keys;  // tuple: the choices as given, by position
  Object zone;         // the default_timezone (None for naive)
};

// What a read needs besides its result, kept with the plan so that the
// storage of one read serves the next. A read that finds it taken (another
// thread, or a validator reading again) uses storage of its own.
struct ReadScratch {
  input::Document doc;
  input::RequestResult result;
  std::vector<Object> values;
  std::vector<Object> field_errors;
  KeptObjects kept;
};

struct InputPlanObject {
  PyObject_HEAD
  input::Plan plan;
  std::vector<FieldObjects> objects;  // parallel to plan.fields
  // {name: None} for every field, in plan order: a copy is the start of a
  // result dict, already of its final size.
  Object template_dict;
  std::unique_ptr<ReadScratch> scratch;
  std::atomic<bool> scratch_taken;
};

PyTypeObject* input_plan_type();

// parse_input's plan argument.
Result<const InputPlanObject*> input_plan_argument(PyObject* obj);

}  // namespace zembra::py
