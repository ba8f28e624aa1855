#include "binding/django/record_builder.h"

#include "binding/core/to_python.h"
#include "binding/django/model_value.h"
#include "pure/serialization/float_rule.h"

namespace zembra::py {

RecordBuilder::RecordBuilder(const django::CompiledModel& model, std::span<PyObject* const> keys,
                             PyObject* record_template)
    : model_(model),
      keys_(keys),
      values_(model.size()),
      first_non_finite_(model.size()),
      template_(record_template) {}

void RecordBuilder::begin() {
  for (Object& value : values_) value = Object::borrow(Py_None);
  first_non_finite_ = values_.size();
}

Status RecordBuilder::set(std::size_t i, PyObject* value) {
  bool non_finite = false;
  ZB_TRY(values_[i], serialize_model_value(value, model_.descriptors[i], non_finite));
  if (non_finite && i < first_non_finite_) first_non_finite_ = i;
  return {};
}

Result<Object> RecordBuilder::finish() {
  if (first_non_finite_ < values_.size()) {
    double v = PyFloat_AsDouble(values_[first_non_finite_].get());
    auto error = non_finite_float_error(model_.descriptors[first_non_finite_].name, v);
    if (error) return fail(ModelError::serialization("<batch>", error->message()));
  }
  return build_record_dict(keys_, model_.sorted_order, values_, template_);
}

}  // namespace zembra::py
