// extract_model_fields, and the functions that take descriptor dicts:
// serialize_fields and validate_fields.
#include <vector>

#include "binding/core/convert.h"
#include "binding/core/frame.h"
#include "binding/django/descriptor_dicts.h"
#include "binding/django/django_functions.h"
#include "binding/django/extract_descriptors.h"
#include "binding/django/model_report.h"
#include "binding/django/model_schema_type.h"
#include "binding/django/model_value.h"
#include "binding/django/record_builder.h"

namespace zembra::py {
namespace {

constexpr const char* kExtractParams[] = {"model_class"};
constexpr const char* kSerializeFieldsParams[] = {"field_descriptors", "values"};
constexpr const char* kValidateFieldsParams[] = {"descriptors", "values"};
constexpr CallSignature kExtractSig{"extract_model_fields", nullptr, kExtractParams, 1, {}};
constexpr CallSignature kSerializeFieldsSig{"serialize_fields", nullptr, kSerializeFieldsParams, 2, {}};
constexpr CallSignature kValidateFieldsSig{"validate_fields", nullptr, kValidateFieldsParams, 2, {}};

Result<Object> extract_model_fields_body(PyObject*, Slots slots) {
  ZB_TRY(std::vector<django::FieldDescriptor> descriptors, extract_descriptors(slots[0]));
  return write_descriptor_dicts(descriptors);
}

Result<Object> serialize_fields_body(PyObject*, Slots slots) {
  ZB_TRY(PyObject * list, for_parameter("field_descriptors", to_instance(slots[0], &PyList_Type, "list")));
  ZB_TRY(PyObject * values, for_parameter("values", to_instance(slots[1], &PyDict_Type, "dict")));
  ZB_TRY(std::vector<django::FieldDescriptor> descriptors, read_descriptor_dicts(list));
  django::CompiledModel model = django::compile_model(std::move(descriptors));
  ZB_TRY(std::vector<Object> keys, name_objects(model, false));
  std::vector<PyObject*> key_pointers;
  key_pointers.reserve(keys.size());
  for (const Object& key : keys) key_pointers.push_back(key.get());

  RecordBuilder builder(model, key_pointers);
  builder.begin();
  for (std::size_t i = 0; i < model.size(); ++i) {
    // The dict's own lookup: a subclass's item and missing-key hooks are not used.
    PyObject* found = nullptr;
    if (PyDict_GetItemRef(values, key_pointers[i], &found) < 0) return python_error();
    Object value = Object::steal(found);
    if (!value) {
      if (!model.descriptors[i].accepts_null()) return fail(ModelError::required(model.descriptors[i].name));
      continue;
    }
    if (value.get() == Py_None) continue;
    ZB_CHECK_OK(builder.set(i, value.get()));
  }
  return builder.finish();
}

Result<Object> validate_fields_body(PyObject*, Slots slots) {
  ZB_TRY(PyObject * list, for_parameter("descriptors", to_instance(slots[0], &PyList_Type, "list")));
  ZB_TRY(PyObject * values, for_parameter("values", to_instance(slots[1], &PyList_Type, "list")));
  ZB_TRY(std::vector<django::FieldDescriptor> descriptors, read_descriptor_dicts(list));
  django::CompiledModel model = django::compile_model(std::move(descriptors));
  std::vector<FieldValue> typed;
  typed.reserve(model.size());
  for (std::size_t i = 0; i < model.size(); ++i) {
    // The list's own IndexError when it is too short.
    ZB_TRY(Object value, checked(PyList_GetItemRef(values, static_cast<Py_ssize_t>(i))));
    if (value.get() == Py_None) {
      typed.emplace_back(Null{});
      continue;
    }
    ZB_TRY(FieldValue v, check_model_value(value.get(), model.descriptors[i]));
    typed.push_back(std::move(v));
  }
  return check_model_record(model.fields, typed);
}

}  // namespace

PyMethodDef kExtractModelFieldsDef = {
    "extract_model_fields", fast_method<kExtractSig, extract_model_fields_body>(), METH_FASTCALL | METH_KEYWORDS,
    "extract_model_fields(model_class)\n--\n\n"
    "Extracts field descriptors from a Django model class.\n\n"
    "Returns a list of dicts. For repeated use, prefer `ModelSchema(model_class)`\n"
    "which caches the result."};

PyMethodDef kSerializeFieldsDef = {
    "serialize_fields", fast_method<kSerializeFieldsSig, serialize_fields_body>(), METH_FASTCALL | METH_KEYWORDS,
    "serialize_fields(field_descriptors, values)\n--\n\n"
    "Serializes field values from a dict (legacy API \u2014 prefer `serialize_instance`)."};

PyMethodDef kValidateFieldsDef = {
    "validate_fields", fast_method<kValidateFieldsSig, validate_fields_body>(), METH_FASTCALL | METH_KEYWORDS,
    "validate_fields(descriptors, values)\n--\n\n"
    "Validates field values from a list (legacy API \u2014 prefer `validate_instance`)."};

}  // namespace zembra::py
