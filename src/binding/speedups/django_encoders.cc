// serialize_instance_json, serialize_batch_json and serialize_values_list_json.
#include "binding/core/convert.h"
#include "binding/core/frame.h"
#include "binding/core/list_walk.h"
#include "binding/django/ordinary_errors.h"
#include "binding/django/row_reader.h"
#include "binding/speedups/json_output.h"
#include "binding/speedups/model_record_writer.h"
#include "binding/speedups/record_prefetch.h"
#include "binding/speedups/speedups_functions.h"
#include "binding/speedups/speedups_state.h"

namespace zembra::py {
namespace {

constexpr const char* kInstanceParams[] = {"instance", "schema"};
constexpr const char* kBatchParams[] = {"instances", "schema"};
constexpr const char* kRowsParams[] = {"rows", "schema"};
constexpr CallSignature kInstanceSig{"serialize_instance_json", nullptr, kInstanceParams, 2, {}};
constexpr CallSignature kBatchSig{"serialize_batch_json", nullptr, kBatchParams, 2, {}};
constexpr CallSignature kRowsSig{"serialize_values_list_json", nullptr, kRowsParams, 2, {}};

// getattr(instance, key); empty when the lookup raised an ordinary error.
Result<Object> model_attribute(PyObject* instance, PyObject* key) {
  PyObject* found = nullptr;
  if (PyObject_GetOptionalAttr(instance, key, &found) < 0) ZB_CHECK_OK(absorb_ordinary_error());
  return Object::steal(found);
}

Status write_instance(PyObject* instance, const ModelSchemaObject& schema, ModelRecordWriter& record,
                      Buffer& out) {
  const auto& descriptors = schema.model.descriptors;
  record.begin();
  for (std::size_t i = 0; i < descriptors.size(); ++i) {
    ZB_TRY(Object value, model_attribute(instance, schema.key_pointers[i]));
    if (!value) {
      if (!descriptors[i].accepts_null()) return fail(ModelError::required(descriptors[i].name));
      record.set_null(i);
    } else if (value.get() == Py_None) {
      record.set_null(i);  // null whatever the field's flags say
    } else {
      ZB_CHECK_OK(record.set(i, value.get()));
    }
  }
  return record.finish(out);
}


Status write_row(PyObject* row, const ModelSchemaObject& schema, const RowReader& reader, ModelRecordWriter& record,
                 Buffer& out) {
  const auto& descriptors = schema.model.descriptors;
  record.begin();
  for (std::size_t i = 0; i < descriptors.size(); ++i) {
    ZB_TRY(Object value, reader.item(row, i));
    if (!value || value.get() == Py_None) {
      if (!descriptors[i].accepts_null()) return fail(ModelError::required(descriptors[i].name));
      record.set_null(i);
    } else {
      ZB_CHECK_OK(record.set(i, value.get()));
    }
  }
  return record.finish(out);
}

// "[" each(item) "," ... "]" over a list argument.
template <class Each>
Status write_list(PyObject* list, Buffer& out, Each&& each) {
  out.push_back('[');
  Py_ssize_t index = 0;
  ZB_CHECK_OK(for_each_item(list, [&](PyObject* item) -> Status {
    prefetch_ahead(list, index);
    if (index) out.push_back(',');
    std::size_t start = out.size();
    ZB_CHECK_OK(each(item));
    if (index++ == 0) reserve_like_first(out, out.size() - start, PyList_GET_SIZE(list));
    return {};
  }));
  out.push_back(']');
  return {};
}

Result<Object> instance_body(PyObject* module, Slots slots) {
  ZB_TRY(const ModelSchemaObject* schema, model_schema_argument(module, slots[1]));
  JsonOutput output;
  ModelRecordWriter record(*schema);
  ZB_CHECK_OK(write_instance(slots[0], *schema, record, output.buffer()));
  return output.finish();
}

Result<Object> batch_body(PyObject* module, Slots slots) {
  ZB_TRY(PyObject * list, for_parameter("instances", to_instance(slots[0], &PyList_Type, "list")));
  ZB_TRY(const ModelSchemaObject* schema, model_schema_argument(module, slots[1]));
  JsonOutput output;
  Buffer& out = output.buffer();
  ModelRecordWriter record(*schema);
  ZB_CHECK_OK(write_list(list, out, [&](PyObject* item) { return write_instance(item, *schema, record, out); }));
  return output.finish();
}

Result<Object> rows_body(PyObject* module, Slots slots) {
  ZB_TRY(PyObject * list, for_parameter("rows", to_instance(slots[0], &PyList_Type, "list")));
  ZB_TRY(const ModelSchemaObject* schema, model_schema_argument(module, slots[1]));
  ZB_TRY(RowReader reader, RowReader::make(schema->model.size()));
  JsonOutput output;
  Buffer& out = output.buffer();
  ModelRecordWriter record(*schema);
  ZB_CHECK_OK(write_list(list, out, [&](PyObject* row) { return write_row(row, *schema, reader, record, out); }));
  return output.finish();
}

}  // namespace

PyMethodDef kSerializeInstanceJsonDef = {
    "serialize_instance_json", fast_method<kInstanceSig, instance_body>(), METH_FASTCALL | METH_KEYWORDS,
    "serialize_instance_json(instance, schema)\n--\n\n"
    "zembra_django.serialize_instance(instance, schema) as UTF-8 JSON bytes,\n"
    "written directly."};

PyMethodDef kSerializeBatchJsonDef = {
    "serialize_batch_json", fast_method<kBatchSig, batch_body>(), METH_FASTCALL | METH_KEYWORDS,
    "serialize_batch_json(instances, schema)\n--\n\n"
    "zembra_django.serialize_batch(instances, schema) as UTF-8 JSON bytes,\n"
    "written directly."};

PyMethodDef kSerializeValuesListJsonDef = {
    "serialize_values_list_json", fast_method<kRowsSig, rows_body>(), METH_FASTCALL | METH_KEYWORDS,
    "serialize_values_list_json(rows, schema)\n--\n\n"
    "zembra_django.serialize_values_list(rows, schema) as UTF-8 JSON bytes,\n"
    "written directly."};

}  // namespace zembra::py
