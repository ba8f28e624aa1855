// validate and validate_many.
#include <vector>

#include "binding/core/convert.h"
#include "binding/core/dict_lookup.h"
#include "binding/core/core_functions.h"
#include "binding/core/frame.h"
#include "binding/core/inline_checks.h"
#include "binding/core/known_objects.h"
#include "binding/core/list_walk.h"
#include "binding/core/read_value.h"
#include "binding/core/report.h"
#include "binding/core/schema_type.h"
#include "pure/validation/check_all.h"
#include "pure/validation/rules.h"

namespace zembra::py {
namespace {

constexpr const char* kValidateParams[] = {"data", "schema"};
constexpr const char* kValidateManyParams[] = {"data_list", "schema"};
constexpr CallSignature kValidateSig{"validate", nullptr, kValidateParams, 2, {}};
constexpr CallSignature kValidateManySig{"validate_many", nullptr, kValidateManyParams, 2, {}};

// Reads one field for checking. Validation of list and dict fields looks
// only at the shape of the JSON value, so plain structures skip the
// json.dumps round trip and stand in as an empty array or object.
Result<FieldValue> read_for_check(PyObject* record, PyObject* key, const SchemaField& field) {
  CoreKindTag tag = field.rules.kind.tag;
  if (tag != CoreKindTag::List && tag != CoreKindTag::Dict) return read_field_value(record, key, field);
  ZB_TRY(Object value, lookup_field(record, key));
  if (!value || value.get() == Py_None) return null_or_required(field);
  ZB_TRY(std::optional<JsonShape> shape, plain_json_shape(value.get()));
  if (shape == JsonShape::Array) return FieldValue(JsonValue(JsonArray{}));
  if (shape == JsonShape::Object) return FieldValue(JsonValue(JsonObject{}));
  return read_present_value(value.get(), field);
}

Result<std::vector<FieldValue>> read_record(PyObject* record, const SchemaObject& schema) {
  const CompiledSchema& compiled = schema.schema;
  std::vector<FieldValue> values;
  values.reserve(compiled.size());
  for (std::size_t i = 0; i < compiled.size(); ++i) {
    ZB_TRY(FieldValue value, read_for_check(record, schema.key_pointers[i], compiled.fields[i]));
    values.push_back(std::move(value));
  }
  return values;
}

Result<Object> validate_body(PyObject*, Slots slots) {
  ZB_TRY(const SchemaObject* schema, for_parameter("schema", to_schema(slots[1])));
  ZB_TRY(std::vector<FieldValue> values, read_record(slots[0], *schema));
  std::vector<FieldError> errors = check_all(schema->schema.fields, values);
  return build_report(errors, count_valid_fields(schema->schema.size(), errors));
}

// One dict record, checked inline; returns how many fields had errors.
Result<std::size_t> check_dict_record(PyObject* record, const SchemaObject& schema,
                                      std::vector<FieldError>& errors) {
  const CompiledSchema& compiled = schema.schema;
  std::size_t failed_fields = 0;
  for (std::size_t i = 0; i < compiled.size(); ++i) {
    const SchemaField& field = compiled.fields[i];
    std::size_t before = errors.size();
    ZB_TRY(Object value, dict_lookup(record, schema.key_pointers[i], static_cast<Py_ssize_t>(i)));
    if (!value || value.get() == Py_None) {
      check_required(field, errors);
    } else {
      ZB_CHECK_OK(check_object_inline(field, value.get(), errors));
    }
    failed_fields += errors.size() > before;
  }
  return failed_fields;
}

Result<std::size_t> check_other_record(PyObject* record, const SchemaObject& schema,
                                       std::vector<FieldError>& errors) {
  ZB_TRY(std::vector<FieldValue> values, read_record(record, schema));
  std::size_t failed_fields = 0;
  for (std::size_t i = 0; i < values.size(); ++i) {
    std::size_t before = errors.size();
    check_value(schema.schema.fields[i], values[i], errors);
    failed_fields += errors.size() > before;
  }
  return failed_fields;
}

Result<Object> validate_many_body(PyObject*, Slots slots) {
  ZB_TRY(PyObject * list, for_parameter("data_list", to_instance(slots[0], &PyList_Type, "list")));
  ZB_TRY(const SchemaObject* schema, for_parameter("schema", to_schema(slots[1])));
  std::vector<FieldError> errors;
  std::size_t records = 0;
  std::size_t failed_fields = 0;  // distinct (record, field) pairs with an error
  ZB_CHECK_OK(for_each_item(list, [&](PyObject* item) -> Status {
    ZB_TRY(std::size_t failed, PyDict_Check(item) ? check_dict_record(item, *schema, errors)
                                                  : check_other_record(item, *schema, errors));
    failed_fields += failed;
    ++records;
    return {};
  }));
  std::size_t total = schema->schema.size() * records;
  return build_report(errors, total - failed_fields);
}

}  // namespace

PyMethodDef kValidateDef = {
    "validate", fast_method<kValidateSig, validate_body>(), METH_FASTCALL | METH_KEYWORDS,
    "validate(data, schema)\n--\n\nValidates a Python dict or object against a schema.\n\n"
    "Returns a dict with `is_valid`, `valid_count`, `error_count`, and `errors`."};

PyMethodDef kValidateManyDef = {
    "validate_many", fast_method<kValidateManySig, validate_many_body>(), METH_FASTCALL | METH_KEYWORDS,
    "validate_many(data_list, schema)\n--\n\nValidates a list of dicts or objects against a schema.\n\n"
    "Returns a combined validation report. For dict inputs, validates inline\n"
    "without creating intermediate FieldValue representations \u2014 avoids heap\n"
    "allocations for str fields (uses Python `len()` directly) and skips\n"
    "extraction entirely for bool fields (type check only)."};

}  // namespace zembra::py
