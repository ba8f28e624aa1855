// serialize_instance_json, serialize_batch_json and serialize_values_list_json.
#include <cmath>

#include "binding/convert.h"
#include "binding/frame.h"
#include "binding/list_walk.h"
#include "django/binding/model_value.h"
#include "django/binding/ordinary_errors.h"
#include "serialization/float_rule.h"
#include "binding/known_objects.h"
#include "zembra/binding/fixed_offset.h"
#include "zembra/binding/json_output.h"
#include "zembra/binding/plain_writer.h"
#include "zembra/binding/record_layout.h"
#include "zembra/binding/speedups_functions.h"
#include "zembra/binding/speedups_state.h"
#include "zembra/json_writer/json_text.h"
#include "zembra/json_writer/typed_values.h"

namespace zembra::py {
namespace {

using django::FieldDescriptor;
using django::FieldKindTag;

constexpr const char* kInstanceParams[] = {"instance", "schema"};
constexpr const char* kBatchParams[] = {"instances", "schema"};
constexpr const char* kRowsParams[] = {"rows", "schema"};
constexpr CallSignature kInstanceSig{"serialize_instance_json", nullptr, kInstanceParams, 2, {}};
constexpr CallSignature kBatchSig{"serialize_batch_json", nullptr, kBatchParams, 2, {}};
constexpr CallSignature kRowsSig{"serialize_values_list_json", nullptr, kRowsParams, 2, {}};

std::vector<std::string> names_of(const django::CompiledModel& model) {
  std::vector<std::string> names;
  names.reserve(model.size());
  for (const FieldDescriptor& d : model.descriptors) names.push_back(d.name);
  return names;
}

// One record of a model: values converted by their Django field type in
// field order, then listed by name; the first non-finite float (in field
// order) fails as the serializer's error for the pseudo-field "<batch>".
class ModelRecordWriter {
 public:
  explicit ModelRecordWriter(const ModelSchemaObject& schema)
      : schema_(schema), layout_(names_of(schema.model), schema.model.sorted_order) {}

  void begin() {
    stage_ = &layout_.begin();
    non_finite_at_ = schema_.model.size();
  }
  void set_null(std::size_t i) {
    std::size_t start = stage_->size();
    stage_->append("null");
    layout_.mark(i, start);
  }
  Status set(std::size_t i, PyObject* value) {
    std::size_t start = stage_->size();
    ZB_TRY(std::optional<double> bad, write_value(value, schema_.model.descriptors[i]));
    if (bad && i < non_finite_at_) {
      non_finite_at_ = i;
      non_finite_ = *bad;
    }
    layout_.mark(i, start);
    return {};
  }
  Status finish(Buffer& out) {
    if (non_finite_at_ < schema_.model.size()) {
      auto error = non_finite_float_error(schema_.model.descriptors[non_finite_at_].name, non_finite_);
      return fail(ModelError::serialization("<batch>", error->message()));
    }
    layout_.emit(out);
    return {};
  }

 private:
  // The value's JSON text; a non-finite float is returned instead. The
  // common exact types are written here; everything else takes the Django
  // module's own conversion, so its results and errors are the same.
  Result<std::optional<double>> write_value(PyObject* value, const FieldDescriptor& d) {
    Buffer& stage = *stage_;
    switch (d.kind.tag) {
      case FieldKindTag::CharField:
      case FieldKindTag::TextField:
      case FieldKindTag::EmailField:
      case FieldKindTag::URLField:
      case FieldKindTag::SlugField:
        if (PyUnicode_Check(value)) {
          Py_ssize_t size = 0;
          const char* text = PyUnicode_AsUTF8AndSize(value, &size);
          if (text) {
            json::write_string(std::string_view(text, static_cast<std::size_t>(size)), stage);
            return std::optional<double>{};
          }
          PyErr_Clear();  // the conversion below gives the module's error
        }
        break;
      case FieldKindTag::IntegerField:
      case FieldKindTag::BigIntegerField:
        if (PyLong_CheckExact(value)) {
          int overflow = 0;
          long long v = PyLong_AsLongLongAndOverflow(value, &overflow);
          if (!overflow) {
            json::write_int(v, stage);
            return std::optional<double>{};
          }
        }
        break;
      case FieldKindTag::FloatField:
        if (PyFloat_CheckExact(value)) {
          double v = PyFloat_AS_DOUBLE(value);
          if (!std::isfinite(v)) return std::optional<double>(v);
          json::write_float_repr(v, stage);
          return std::optional<double>{};
        }
        break;
      case FieldKindTag::BooleanField:
        if (value == Py_True || value == Py_False) {
          stage.append(value == Py_True ? "true" : "false");
          return std::optional<double>{};
        }
        break;
      case FieldKindTag::JSONField: {
        ZB_TRY(bool written, plain_.write(value, stage));
        if (written) return std::optional<double>{};
        break;
      }
      case FieldKindTag::DateTimeField: {
        std::optional<DateTime> known = exact_datetime(value);
        if (!known) {
          ZB_TRY(known, offsets_.read(value));
        }
        if (known) {
          json::write_datetime(*known, stage);
          return std::optional<double>{};
        }
        break;
      }
      default:
        break;
    }
    ZB_TRY(FieldValue typed, convert_model_value(value, d));
    if (auto* v = std::get_if<double>(&typed); v && !std::isfinite(*v)) return std::optional<double>(*v);
    json::write_field_value(typed, stage);
    return std::optional<double>{};
  }

  const ModelSchemaObject& schema_;
  RecordLayout layout_;
  PlainJsonWriter plain_;
  FixedOffsetReader offsets_;
  Buffer* stage_ = nullptr;
  std::size_t non_finite_at_ = 0;
  double non_finite_ = 0;
};

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

// row[i]: tuples and lists with their own subscription directly, anything
// else through subscription by a Python int. Empty when the position is
// missing or subscription raised an ordinary error.
class RowReader {
 public:
  static Result<RowReader> make(std::size_t width) {
    RowReader reader;
    reader.indices_.reserve(width);
    for (std::size_t i = 0; i < width; ++i) {
      ZB_TRY(Object index, checked(PyLong_FromSize_t(i)));
      reader.indices_.push_back(std::move(index));
    }
    return reader;
  }

  Result<Object> item(PyObject* row, std::size_t i) const {
    PyTypeObject* type = Py_TYPE(row);
    binaryfunc subscript = type->tp_as_mapping ? type->tp_as_mapping->mp_subscript : nullptr;
    auto index = static_cast<Py_ssize_t>(i);
    if (PyTuple_Check(row) && subscript == PyTuple_Type.tp_as_mapping->mp_subscript) {
      if (index >= PyTuple_GET_SIZE(row)) return Object();
      return Object::borrow(PyTuple_GET_ITEM(row, index));
    }
    if (PyList_Check(row) && subscript == PyList_Type.tp_as_mapping->mp_subscript) {
      if (index >= PyList_GET_SIZE(row)) return Object();
      return Object::borrow(PyList_GET_ITEM(row, index));
    }
    Object value = Object::steal(PyObject_GetItem(row, indices_[i].get()));
    if (!value) ZB_CHECK_OK(absorb_ordinary_error());
    return value;
  }

 private:
  std::vector<Object> indices_;
};

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
