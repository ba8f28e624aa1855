#include "binding/django/extract_descriptors.h"

#include <optional>
#include <string>

#include "binding/core/convert.h"
#include "binding/core/read_value.h"
#include "binding/django/ordinary_errors.h"
#include "pure/django_model/internal_types.h"

namespace zembra::py {
namespace {

using django::FieldDescriptor;
using django::FieldKind;
using django::FieldKindTag;

// The attribute and method names read from models and fields, interned once.
struct ModelNames {
  PyObject* meta;
  PyObject* get_fields;
  PyObject* is_relation;
  PyObject* name;
  PyObject* get_internal_type;
  PyObject* null;
  PyObject* has_default;
  PyObject* max_length;
  PyObject* max_digits;
  PyObject* decimal_places;
};

Result<const ModelNames*> model_names() {
  static ModelNames names{};
  static bool ready = false;
  if (!ready) {
    std::pair<PyObject**, const char*> table[] = {
        {&names.meta, "_meta"},
        {&names.get_fields, "get_fields"},
        {&names.is_relation, "is_relation"},
        {&names.name, "name"},
        {&names.get_internal_type, "get_internal_type"},
        {&names.null, "null"},
        {&names.has_default, "has_default"},
        {&names.max_length, "max_length"},
        {&names.max_digits, "max_digits"},
        {&names.decimal_places, "decimal_places"},
    };
    for (auto& [slot, text] : table) {
      if (!*slot) *slot = PyUnicode_InternFromString(text);
      if (!*slot) return python_error();
    }
    ready = true;
  }
  return &names;
}

template <class T>
Result<T> failing_with(std::string prefix) {
  ZB_TRY(std::string text, take_ordinary_error_text());
  return fail(ModelError::python(prefix + text));
}

// An attribute converted by convert; nullopt when it is missing or the
// conversion fails with an ordinary error.
template <class T, class Convert>
Result<std::optional<T>> optional_attribute(PyObject* obj, PyObject* name, Convert convert) {
  PyObject* found = nullptr;
  if (PyObject_GetOptionalAttr(obj, name, &found) < 0) {
    ZB_CHECK_OK(absorb_ordinary_error());
    return std::optional<T>{};
  }
  if (!found) return std::optional<T>{};
  Object value = Object::steal(found);
  Result<T> converted = convert(value.get());
  if (converted) return std::optional<T>(std::move(converted).value());
  ZB_CHECK_OK(absorb_ordinary_error());
  return std::optional<T>{};
}

// A method called without arguments, its result converted; nullopt when the
// call or the conversion fails with an ordinary error.
template <class T, class Convert>
Result<std::optional<T>> optional_call(PyObject* obj, PyObject* name, Convert convert) {
  Object result = Object::steal(PyObject_CallMethodNoArgs(obj, name));
  if (!result) {
    ZB_CHECK_OK(absorb_ordinary_error());
    return std::optional<T>{};
  }
  Result<T> converted = convert(result.get());
  if (converted) return std::optional<T>(std::move(converted).value());
  ZB_CHECK_OK(absorb_ordinary_error());
  return std::optional<T>{};
}

Result<std::string> read_text(PyObject* obj) {
  ZB_TRY(std::string_view text, to_text(obj));
  return std::string(text);
}

// The fields as a tuple: _meta.get_fields() read as a sequence of objects.
Result<Object> model_fields(PyObject* model_class, const ModelNames& names) {
  Object meta = Object::steal(PyObject_GetAttr(model_class, names.meta));
  if (!meta) {
    ZB_CHECK_OK(absorb_ordinary_error());
    return fail(ModelError::python("model class has no _meta attribute"));
  }
  Object fields = Object::steal(PyObject_CallMethodNoArgs(meta.get(), names.get_fields));
  if (!fields) return failing_with<Object>("_meta.get_fields() failed: ");
  if (PyUnicode_Check(fields.get())) {
    PyErr_SetString(PyExc_TypeError, kRefusedStrMessage);
    return failing_with<Object>("cannot iterate _meta.get_fields(): ");
  }
  if (!PySequence_Check(fields.get())) {
    (void)wrong_type(fields.get(), "Sequence");
    return failing_with<Object>("cannot iterate _meta.get_fields(): ");
  }
  // A tuple holds every field for the whole walk, whatever user code run
  // by the reads below does to the sequence.
  Object items = Object::steal(PySequence_Tuple(fields.get()));
  if (!items) return failing_with<Object>("cannot iterate _meta.get_fields(): ");
  return items;
}

// One field: nullopt when it is left out.
Result<std::optional<FieldDescriptor>> describe_field(PyObject* field, const ModelNames& names) {
  using Kept = std::optional<FieldDescriptor>;
  ZB_TRY(std::optional<bool> is_relation, optional_attribute<bool>(field, names.is_relation, to_bool));
  if (!is_relation || *is_relation) return Kept{};

  Object name_obj = Object::steal(PyObject_GetAttr(field, names.name));
  if (!name_obj) return failing_with<Kept>("field missing 'name': ");
  Result<std::string> name = read_text(name_obj.get());
  if (!name) return failing_with<Kept>("field missing 'name': ");

  ZB_TRY(std::optional<std::string> internal_type,
         optional_call<std::string>(field, names.get_internal_type, read_text));
  ZB_TRY(std::optional<bool> nullable, optional_attribute<bool>(field, names.null, to_bool));
  ZB_TRY(std::optional<bool> has_default, optional_call<bool>(field, names.has_default, to_bool));

  std::optional<FieldKindTag> tag = django::kind_for_internal_type(internal_type.value_or(std::string()));
  if (!tag) return Kept{};

  std::optional<std::uint64_t> max_length;
  std::optional<std::uint32_t> max_digits;
  std::optional<std::uint32_t> decimal_places;
  if (django::default_max_length(*tag) || *tag == FieldKindTag::BinaryField) {
    ZB_TRY(max_length, optional_attribute<std::uint64_t>(field, names.max_length, to_u64));
  } else if (*tag == FieldKindTag::DecimalField) {
    ZB_TRY(max_digits, optional_attribute<std::uint32_t>(field, names.max_digits, to_u32));
    ZB_TRY(decimal_places, optional_attribute<std::uint32_t>(field, names.decimal_places, to_u32));
  }
  return Kept(FieldDescriptor{FieldKind::with_payload(*tag, max_length, max_digits, decimal_places),
                              std::move(name).value(), nullable.value_or(false), has_default.value_or(false)});
}

}  // namespace

Result<std::vector<FieldDescriptor>> extract_descriptors(PyObject* model_class) {
  ZB_TRY(const ModelNames* names, model_names());
  ZB_TRY(Object fields, model_fields(model_class, *names));
  std::vector<FieldDescriptor> descriptors;
  Py_ssize_t n = PyTuple_GET_SIZE(fields.get());
  for (Py_ssize_t i = 0; i < n; ++i) {
    ZB_TRY(std::optional<FieldDescriptor> descriptor, describe_field(PyTuple_GET_ITEM(fields.get(), i), *names));
    if (descriptor) descriptors.push_back(std::move(*descriptor));
  }
  return descriptors;
}

}  // namespace zembra::py
