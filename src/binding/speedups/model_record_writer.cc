#include "binding/speedups/model_record_writer.h"

#include <cmath>
#include <string>
#include <vector>

#include "binding/core/known_objects.h"
#include "binding/django/model_value.h"
#include "pure/serialization/float_rule.h"
#include "pure/json_writer/json_text.h"
#include "pure/json_writer/typed_values.h"

namespace zembra::py {
namespace {

using django::FieldDescriptor;
using django::FieldKindTag;

std::vector<std::string> names_of(const django::CompiledModel& model) {
  std::vector<std::string> names;
  names.reserve(model.size());
  for (const FieldDescriptor& d : model.descriptors) names.push_back(d.name);
  return names;
}

}  // namespace

ModelRecordWriter::ModelRecordWriter(const ModelSchemaObject& schema)
    : schema_(schema), layout_(names_of(schema.model), schema.model.sorted_order) {}

void ModelRecordWriter::begin() {
  stage_ = &layout_->begin();
  non_finite_at_ = schema_.model.size();
}

void ModelRecordWriter::set_null(std::size_t i) {
  std::size_t start = stage_->size();
  stage_->append("null");
  layout_->mark(i, start);
}

Status ModelRecordWriter::set(std::size_t i, PyObject* value) {
  std::size_t start = stage_->size();
  ZB_TRY(std::optional<double> bad, write_value(value, schema_.model.descriptors[i]));
  if (bad && i < non_finite_at_) {
    non_finite_at_ = i;
    non_finite_ = *bad;
  }
  layout_->mark(i, start);
  return {};
}

Status ModelRecordWriter::finish(Buffer& out) {
  if (non_finite_at_ < schema_.model.size()) {
    auto error = non_finite_float_error(schema_.model.descriptors[non_finite_at_].name, non_finite_);
    return fail(ModelError::serialization("<batch>", error->message()));
  }
  layout_->emit(out);
  return {};
}

// The common exact types are written here; everything else takes the Django
// module's own conversion, so its results and errors are the same.
Result<std::optional<double>> ModelRecordWriter::write_value(PyObject* value, const FieldDescriptor& d) {
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
    case FieldKindTag::BinaryField:
      if (PyBytes_CheckExact(value)) {  // without copying the bytes first
        json::write_base64(
            std::string_view(PyBytes_AS_STRING(value), static_cast<std::size_t>(PyBytes_GET_SIZE(value))), stage);
        return std::optional<double>{};
      }
      break;
    default:
      break;
  }
  ZB_TRY(FieldValue typed, convert_model_value(value, d));
  if (auto* v = std::get_if<double>(&typed); v && !std::isfinite(*v)) return std::optional<double>(*v);
  json::write_field_value(typed, stage);
  return std::optional<double>{};
}

}  // namespace zembra::py
