#include "binding/django/descriptor_dicts.h"

#include <optional>
#include <string>

#include "binding/core/convert.h"
#include "binding/core/list_walk.h"
#include "binding/core/python_text.h"
#include "binding/django/ordinary_errors.h"

namespace zembra::py {
namespace {

using django::FieldDescriptor;
using django::FieldKind;
using django::FieldKindTag;

struct DescriptorKeys {
  PyObject* name;
  PyObject* type;
  PyObject* nullable;
  PyObject* has_default;
  PyObject* max_length;
  PyObject* max_digits;
  PyObject* decimal_places;
};

Result<const DescriptorKeys*> descriptor_keys() {
  static DescriptorKeys keys{};
  static bool ready = false;
  if (!ready) {
    std::pair<PyObject**, const char*> table[] = {
        {&keys.name, "name"},
        {&keys.type, "type"},
        {&keys.nullable, "nullable"},
        {&keys.has_default, "has_default"},
        {&keys.max_length, "max_length"},
        {&keys.max_digits, "max_digits"},
        {&keys.decimal_places, "decimal_places"},
    };
    for (auto& [slot, text] : table) {
      if (!*slot) *slot = PyUnicode_InternFromString(text);
      if (!*slot) return python_error();
    }
    ready = true;
  }
  return &keys;
}

Status set_item(PyObject* dict, PyObject* key, Result<Object> value) {
  if (!value) return fail(std::move(value).error());
  return checked_status(PyDict_SetItem(dict, key, value->get()));
}

Result<Object> bool_object(bool b) { return Object::borrow(b ? Py_True : Py_False); }

Result<Object> write_one(const FieldDescriptor& d, const DescriptorKeys& keys) {
  ZB_TRY(Object dict, checked(PyDict_New()));
  ZB_CHECK_OK(set_item(dict.get(), keys.name, utf8_text(d.name)));
  ZB_CHECK_OK(set_item(dict.get(), keys.type, ascii_text(django::field_kind_name(d.kind.tag))));
  ZB_CHECK_OK(set_item(dict.get(), keys.nullable, bool_object(d.nullable)));
  ZB_CHECK_OK(set_item(dict.get(), keys.has_default, bool_object(d.has_default)));
  if (d.kind.max_length) {
    ZB_CHECK_OK(set_item(dict.get(), keys.max_length, checked(PyLong_FromUnsignedLongLong(*d.kind.max_length))));
  }
  if (d.kind.tag == FieldKindTag::DecimalField) {
    ZB_CHECK_OK(set_item(dict.get(), keys.max_digits, checked(PyLong_FromUnsignedLong(d.kind.max_digits))));
    ZB_CHECK_OK(
        set_item(dict.get(), keys.decimal_places, checked(PyLong_FromUnsignedLong(d.kind.decimal_places))));
  }
  return dict;
}

// element[key], converted; the lookup's and the conversion's errors propagate.
template <class Convert>
auto required_key(PyObject* element, PyObject* key, Convert convert)
    -> decltype(convert(std::declval<PyObject*>())) {
  ZB_TRY(Object value, checked(PyObject_GetItem(element, key)));
  return convert(value.get());
}

// element[key], converted; nullopt when the lookup or the conversion fails.
template <class T, class Convert>
Result<std::optional<T>> optional_key(PyObject* element, PyObject* key, Convert convert) {
  Object value = Object::steal(PyObject_GetItem(element, key));
  if (value) {
    Result<T> converted = convert(value.get());
    if (converted) return std::optional<T>(*converted);
  }
  ZB_CHECK_OK(absorb_ordinary_error());
  return std::optional<T>{};
}

Result<std::string> text_of(PyObject* obj) {
  ZB_TRY(std::string_view text, to_text(obj));
  return std::string(text);
}

Result<FieldDescriptor> read_one(PyObject* element, const DescriptorKeys& keys) {
  ZB_TRY(std::string name, required_key(element, keys.name, text_of));
  ZB_TRY(std::string type, required_key(element, keys.type, text_of));
  ZB_TRY(bool nullable, required_key(element, keys.nullable, to_bool));
  ZB_TRY(bool has_default, required_key(element, keys.has_default, to_bool));
  ZB_TRY(std::optional<std::uint64_t> max_length, optional_key<std::uint64_t>(element, keys.max_length, to_u64));
  ZB_TRY(std::optional<std::uint32_t> max_digits, optional_key<std::uint32_t>(element, keys.max_digits, to_u32));
  ZB_TRY(std::optional<std::uint32_t> decimal_places,
         optional_key<std::uint32_t>(element, keys.decimal_places, to_u32));
  FieldKindTag tag = django::field_kind_from_name(type).value_or(FieldKindTag::TextField);
  return FieldDescriptor{FieldKind::with_payload(tag, max_length, max_digits, decimal_places), std::move(name),
                         nullable, has_default};
}

}  // namespace

Result<Object> write_descriptor_dicts(std::span<const FieldDescriptor> descriptors) {
  ZB_TRY(const DescriptorKeys* keys, descriptor_keys());
  ZB_TRY(Object list, checked(PyList_New(static_cast<Py_ssize_t>(descriptors.size()))));
  for (std::size_t i = 0; i < descriptors.size(); ++i) {
    ZB_TRY(Object dict, write_one(descriptors[i], *keys));
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), dict.release());
  }
  return list;
}

Result<std::vector<FieldDescriptor>> read_descriptor_dicts(PyObject* list) {
  ZB_TRY(const DescriptorKeys* keys, descriptor_keys());
  std::vector<FieldDescriptor> descriptors;
  descriptors.reserve(static_cast<std::size_t>(PyList_GET_SIZE(list)));
  ZB_CHECK_OK(for_each_item(list, [&](PyObject* element) -> Status {
    ZB_TRY(FieldDescriptor descriptor, read_one(element, *keys));
    descriptors.push_back(std::move(descriptor));
    return {};
  }));
  return descriptors;
}

}  // namespace zembra::py
