// serialize and serialize_many.
#include <cmath>
#include <optional>
#include <vector>

#include "binding/core/convert.h"
#include "binding/core/dict_lookup.h"
#include "binding/core/core_functions.h"
#include "binding/core/direct_convert.h"
#include "binding/core/frame.h"
#include "binding/core/known_objects.h"
#include "binding/core/list_walk.h"
#include "binding/core/read_value.h"
#include "binding/core/schema_type.h"
#include "binding/core/to_python.h"
#include "pure/serialization/float_rule.h"

namespace zembra::py {
namespace {

constexpr const char* kSerializeParams[] = {"data", "schema"};
constexpr const char* kSerializeManyParams[] = {"data_list", "schema"};
constexpr CallSignature kSerializeSig{"serialize", nullptr, kSerializeParams, 2, {}};
constexpr CallSignature kSerializeManySig{"serialize_many", nullptr, kSerializeManyParams, 2, {}};

// The typed route for a value that is present. The pass-through kinds skip
// the typed value: the object itself is kept when it already has the exact
// result type, which gives the same result as rebuilding it.
Result<Object> serialize_present(PyObject* value, const SchemaField& field, bool& non_finite) {
  switch (field.rules.kind.tag) {
    case CoreKindTag::Str: {
      ZB_TRY(std::string_view text, read_str(value));
      if (PyUnicode_CheckExact(value)) return Object::borrow(value);
      return checked(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
    }
    case CoreKindTag::Int: {
      ZB_TRY(std::int64_t v, read_int(value));
      if (PyLong_CheckExact(value)) return Object::borrow(value);
      return checked(PyLong_FromLongLong(v));
    }
    case CoreKindTag::Float: {
      ZB_TRY(double v, read_float(value));
      non_finite = !std::isfinite(v);
      if (PyFloat_CheckExact(value)) return Object::borrow(value);
      return checked(PyFloat_FromDouble(v));
    }
    case CoreKindTag::Bool: {
      ZB_TRY(bool v, read_bool(value));
      return Object::borrow(v ? Py_True : Py_False);
    }
    case CoreKindTag::List:
    case CoreKindTag::Dict: {
      ZB_TRY(Object copy, plain_json_copy(value));
      if (copy) return copy;
      ZB_TRY(FieldValue typed, read_present_value(value, field));
      return field_value_to_python(field.name, typed);
    }
    default: {
      ZB_TRY(FieldValue typed, read_present_value(value, field));
      return field_value_to_python(field.name, typed);
    }
  }
}

// One record on the typed route. Every field is read before the floats are
// checked for JSON, so a read failure wins over a non-finite float.
Result<Object> serialize_record(PyObject* record, const SchemaObject& schema, std::vector<Object>& values) {
  const CompiledSchema& compiled = schema.schema;
  std::size_t n = compiled.size();
  values.clear();
  values.resize(n);
  std::optional<std::size_t> first_non_finite;
  for (std::size_t i = 0; i < n; ++i) {
    const SchemaField& field = compiled.fields[i];
    ZB_TRY(Object raw, lookup_field(record, schema.keys[i].get()));
    if (!raw || raw.get() == Py_None) {
      if (!field.rules.accepts_null()) return fail(CoreError::required(field.name));
      values[i] = Object::borrow(Py_None);
      continue;
    }
    bool non_finite = false;
    ZB_TRY(values[i], serialize_present(raw.get(), field, non_finite));
    if (non_finite && !first_non_finite) first_non_finite = i;
  }
  if (first_non_finite) {
    std::size_t i = *first_non_finite;
    return fail(*non_finite_float_error(compiled.fields[i].name, PyFloat_AsDouble(values[i].get())));
  }
  return build_record_dict(schema.key_pointers, compiled.sorted_order, values, schema.record_template.get());
}

// A dict record of serialize_many: a shallow copy in which only the fields
// that change form are replaced, by their direct conversion.
Result<Object> serialize_dict_copy(PyObject* record, const SchemaObject& schema) {
  const CompiledSchema& compiled = schema.schema;
  ZB_TRY(Object copy, checked(PyDict_Copy(record)));
  for (std::size_t position : compiled.conversion_indices) {
    const SchemaField& field = compiled.fields[position];
    PyObject* key = schema.keys[position].get();
    ZB_TRY(Object value, dict_lookup(copy.get(), key, static_cast<Py_ssize_t>(position)));
    if (!value || value.get() == Py_None) {
      if (!field.rules.accepts_null()) return fail(CoreError::required(field.name));
      continue;
    }
    ZB_TRY(Object converted, convert_direct(value.get(), field.rules.kind.tag));
    ZB_CHECK_OK(checked_status(PyDict_SetItem(copy.get(), key, converted.get())));
  }
  untrack_if_atomic(copy.get());
  return copy;
}

Result<Object> serialize_body(PyObject*, Slots slots) {
  ZB_TRY(const SchemaObject* schema, for_parameter("schema", to_schema(slots[1])));
  std::vector<Object> values;
  return serialize_record(slots[0], *schema, values);
}

Result<Object> serialize_many_body(PyObject*, Slots slots) {
  ZB_TRY(PyObject * list, for_parameter("data_list", to_instance(slots[0], &PyList_Type, "list")));
  ZB_TRY(const SchemaObject* schema, for_parameter("schema", to_schema(slots[1])));
  std::vector<Object> values;
  return map_list(list, [&](PyObject* item) {
    return PyDict_Check(item) ? serialize_dict_copy(item, *schema) : serialize_record(item, *schema, values);
  });
}

}  // namespace

PyMethodDef kSerializeDef = {
    "serialize", fast_method<kSerializeSig, serialize_body>(), METH_FASTCALL | METH_KEYWORDS,
    "serialize(data, schema)\n--\n\nSerializes a Python dict or object using a precompiled schema.\n\n"
    "Accepts either a dict (keys are field names) or any object with\n"
    "attributes matching the schema field names.\n\n"
    "Returns a dict of serialized field values (JSON-compatible)."};

PyMethodDef kSerializeManyDef = {
    "serialize_many", fast_method<kSerializeManySig, serialize_many_body>(), METH_FASTCALL | METH_KEYWORDS,
    "serialize_many(data_list, schema)\n--\n\nSerializes a list of dicts or objects using a precompiled schema.\n\n"
    "Returns a list of dicts. For dict inputs, uses `PyDict_Copy` to shallow-copy\n"
    "the entire input dict in one C call, then only overwrites fields that need\n"
    "conversion (Decimal\u2192str, UUID\u2192str, DateTime\u2192isoformat, Bytes\u2192base64).\n"
    "Passthrough fields (str, int, float, bool, list, dict) are never touched."};

}  // namespace zembra::py
