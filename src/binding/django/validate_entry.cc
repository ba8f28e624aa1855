// validate_instance.
#include <vector>

#include "binding/core/convert.h"
#include "binding/core/frame.h"
#include "binding/core/read_value.h"
#include "binding/django/django_functions.h"
#include "binding/django/model_report.h"
#include "binding/django/model_schema_type.h"
#include "binding/django/model_value.h"
#include "binding/django/ordinary_errors.h"
#include "pure/validation/rules.h"

namespace zembra::py {
namespace {

constexpr const char* kParams[] = {"instance", "schema"};
constexpr CallSignature kValidateInstanceSig{"validate_instance", nullptr, kParams, 2, {}};

Result<Object> validate_instance_body(PyObject*, Slots slots) {
  ZB_TRY(const ModelSchemaObject* schema, for_parameter("schema", to_model_schema(slots[1])));
  const auto& descriptors = schema->model.descriptors;
  const auto& fields = schema->model.fields;
  if (descriptors.size() < kParallelFieldThreshold) {
    // Checked on this thread as each value is read, in field order: the
    // errors come out as check_all would give them.
    std::vector<FieldError> errors;
    for (std::size_t i = 0; i < descriptors.size(); ++i) {
      ZB_TRY(Object value, optional_attribute(slots[0], schema->key_pointers[i]));
      if (!value || value.get() == Py_None) {
        check_required(fields[i], errors);
        continue;
      }
      ZB_CHECK_OK(check_model_field(value.get(), descriptors[i], fields[i], errors));
    }
    return build_report(errors, errors.empty() ? fields.size() : count_valid_fields(fields.size(), errors));
  }
  std::vector<FieldValue> values;
  values.reserve(descriptors.size());
  for (std::size_t i = 0; i < descriptors.size(); ++i) {
    ZB_TRY(Object value, optional_attribute(slots[0], schema->key_pointers[i]));
    if (!value || value.get() == Py_None) {
      values.emplace_back(Null{});
      continue;
    }
    ZB_TRY(FieldValue typed, check_model_value(value.get(), descriptors[i]));
    values.push_back(std::move(typed));
  }
  return check_model_record(fields, values);
}

}  // namespace

PyMethodDef kValidateInstanceDef = {
    "validate_instance", fast_method<kValidateInstanceSig, validate_instance_body>(), METH_FASTCALL | METH_KEYWORDS,
    "validate_instance(instance, schema)\n--\n\n"
    "Validates a Django model instance against its schema.\n\n"
    "The field values are read from the instance once and run through the\n"
    "native validator; models with 128 fields or more are checked in parallel\n"
    "on the worker pool.\n\n"
    "Args:\n    instance: A Django model instance.\n"
    "    schema: A `ModelSchema` compiled from the model class.\n\n"
    "Returns:\n    A dict with `valid_count`, `error_count`, `errors`, and `is_valid`."};

}  // namespace zembra::py
