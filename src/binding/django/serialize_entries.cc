// serialize_instance, serialize_batch and serialize_values_list.
#include "binding/core/convert.h"
#include "binding/core/frame.h"
#include "binding/core/list_walk.h"
#include "binding/core/read_value.h"
#include "binding/django/django_functions.h"
#include "binding/django/model_schema_type.h"
#include "binding/django/ordinary_errors.h"
#include "binding/django/row_reader.h"
#include "binding/django/record_builder.h"

namespace zembra::py {
namespace {

constexpr const char* kInstanceParams[] = {"instance", "schema"};
constexpr const char* kBatchParams[] = {"instances", "schema"};
constexpr const char* kRowsParams[] = {"rows", "schema"};
constexpr CallSignature kSerializeInstanceSig{"serialize_instance", nullptr, kInstanceParams, 2, {}};
constexpr CallSignature kSerializeBatchSig{"serialize_batch", nullptr, kBatchParams, 2, {}};
constexpr CallSignature kSerializeValuesListSig{"serialize_values_list", nullptr, kRowsParams, 2, {}};

Result<Object> serialize_one_instance(PyObject* instance, const ModelSchemaObject& schema,
                                      RecordBuilder& builder) {
  const auto& descriptors = schema.model.descriptors;
  builder.begin();
  for (std::size_t i = 0; i < descriptors.size(); ++i) {
    ZB_TRY(Object value, optional_attribute(instance, schema.key_pointers[i]));
    if (!value) {
      if (!descriptors[i].accepts_null()) return fail(ModelError::required(descriptors[i].name));
      continue;
    }
    if (value.get() == Py_None) continue;  // null whatever the field's flags say
    ZB_CHECK_OK(builder.set(i, value.get()));
  }
  return builder.finish();
}


Result<Object> serialize_one_row(PyObject* row, const ModelSchemaObject& schema, const RowReader& reader,
                                 RecordBuilder& builder) {
  const auto& descriptors = schema.model.descriptors;
  builder.begin();
  for (std::size_t i = 0; i < descriptors.size(); ++i) {
    ZB_TRY(Object value, reader.item(row, i));
    if (!value || value.get() == Py_None) {
      if (!descriptors[i].accepts_null()) return fail(ModelError::required(descriptors[i].name));
      continue;
    }
    ZB_CHECK_OK(builder.set(i, value.get()));
  }
  return builder.finish();
}

Result<Object> serialize_instance_body(PyObject*, Slots slots) {
  ZB_TRY(const ModelSchemaObject* schema, for_parameter("schema", to_model_schema(slots[1])));
  RecordBuilder builder(schema->model, schema->key_pointers, schema->record_template.get());
  return serialize_one_instance(slots[0], *schema, builder);
}

Result<Object> serialize_batch_body(PyObject*, Slots slots) {
  ZB_TRY(PyObject * list, for_parameter("instances", to_instance(slots[0], &PyList_Type, "list")));
  ZB_TRY(const ModelSchemaObject* schema, for_parameter("schema", to_model_schema(slots[1])));
  RecordBuilder builder(schema->model, schema->key_pointers, schema->record_template.get());
  return map_list(list, [&](PyObject* instance) { return serialize_one_instance(instance, *schema, builder); });
}

Result<Object> serialize_values_list_body(PyObject*, Slots slots) {
  ZB_TRY(PyObject * list, for_parameter("rows", to_instance(slots[0], &PyList_Type, "list")));
  ZB_TRY(const ModelSchemaObject* schema, for_parameter("schema", to_model_schema(slots[1])));
  ZB_TRY(RowReader reader, RowReader::make(schema->model.size()));
  RecordBuilder builder(schema->model, schema->key_pointers, schema->record_template.get());
  return map_list(list, [&](PyObject* row) { return serialize_one_row(row, *schema, reader, builder); });
}

}  // namespace

PyMethodDef kSerializeInstanceDef = {
    "serialize_instance", fast_method<kSerializeInstanceSig, serialize_instance_body>(),
    METH_FASTCALL | METH_KEYWORDS,
    "serialize_instance(instance, schema)\n--\n\n"
    "Serializes a single Django model instance using a precompiled schema.\n\n"
    "Every field value is read from the instance with `getattr` in one native\n"
    "call, converted by its Django field type and returned as a dict whose keys\n"
    "come in ascending order of the field names.\n\n"
    "Args:\n    instance: A Django model instance (e.g., `my_obj`).\n"
    "    schema: A `ModelSchema` compiled from the model class.\n\n"
    "Returns:\n    A dict of serialized field values (JSON-compatible).\n\n"
    "Raises:\n    ValueError: On serialization failure.\n    TypeError: On type conversion failure."};

PyMethodDef kSerializeBatchDef = {
    "serialize_batch", fast_method<kSerializeBatchSig, serialize_batch_body>(), METH_FASTCALL | METH_KEYWORDS,
    "serialize_batch(instances, schema)\n--\n\n"
    "Serializes a batch of Django model instances using a precompiled schema.\n\n"
    "Processes all instances in a single call, returning a list of dicts.\n"
    "For batches above 64 records, consider using `async_serialize_batch`\n"
    "from an ASGI view to release the GIL during computation.\n\n"
    "Args:\n    instances: A list/queryset of Django model instances.\n"
    "    schema: A `ModelSchema` compiled from the model class.\n\n"
    "Returns:\n    A list of dicts, one per instance."};

PyMethodDef kSerializeValuesListDef = {
    "serialize_values_list", fast_method<kSerializeValuesListSig, serialize_values_list_body>(),
    METH_FASTCALL | METH_KEYWORDS,
    "serialize_values_list(rows, schema)\n--\n\n"
    "Serializes a QuerySet.values_list() result using a precompiled schema.\n\n"
    "This is the fastest path: the whole batch crosses into native code once.\n\n"
    "Accepts the output of `qs.values_list(*fields, named=True)` or\n"
    "`qs.values_list(*fields)` (plain tuples).\n\n"
    "Each row is accessed by index (tuple position), not by getattr \u2014\n"
    "eliminating per-field Python method dispatch entirely."};

}  // namespace zembra::py
