#include "binding/core/to_python.h"

#include "binding/core/python_text.h"
#include "pure/common/buffer.h"
#include "pure/serialization/float_rule.h"
#include "pure/text/base64.h"
#include "pure/text/datetime.h"
#include "pure/text/decimal.h"
#include "pure/text/uuid.h"

namespace zembra::py {
namespace {

template <class Format, class T>
Result<Object> formatted(Format format, const T& value) {
  Buffer out;
  format(value, out);
  return ascii_text(out.view());
}

struct JsonToPython {
  Result<Object> operator()(std::monostate) const { return Object::borrow(Py_None); }
  Result<Object> operator()(bool b) const { return Object::borrow(b ? Py_True : Py_False); }
  Result<Object> operator()(std::int64_t v) const { return checked(PyLong_FromLongLong(v)); }
  Result<Object> operator()(std::uint64_t v) const { return checked(PyLong_FromUnsignedLongLong(v)); }
  Result<Object> operator()(const JsonBigInt& v) const {
    return checked(PyLong_FromString(v.digits.c_str(), nullptr, 10));
  }
  Result<Object> operator()(double v) const { return checked(PyFloat_FromDouble(v)); }
  Result<Object> operator()(const std::string& s) const { return utf8_text(s); }
  Result<Object> operator()(const JsonArray& items) const {
    ZB_TRY(Object list, checked(PyList_New(static_cast<Py_ssize_t>(items.size()))));
    for (std::size_t i = 0; i < items.size(); ++i) {
      ZB_TRY(Object item, json_to_python(items[i]));
      PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item.release());
    }
    return list;
  }
  Result<Object> operator()(const JsonObject& entries) const {
    ZB_TRY(Object dict, checked(PyDict_New()));
    for (const auto& [key, value] : entries) {
      ZB_TRY(Object k, utf8_text(key));
      ZB_TRY(Object v, json_to_python(value));
      ZB_CHECK_OK(checked_status(PyDict_SetItem(dict.get(), k.get(), v.get())));
    }
    return dict;
  }
};

}  // namespace

Result<Object> json_to_python(const JsonValue& tree) { return std::visit(JsonToPython{}, tree.storage()); }

Result<Object> field_value_to_python(std::string_view field_name, const FieldValue& value) {
  switch (value.index()) {
    case 0:
      return utf8_text(std::get<std::string>(value));
    case 1:
      return checked(PyLong_FromLongLong(std::get<std::int64_t>(value)));
    case 2: {
      double v = std::get<double>(value);
      if (auto error = non_finite_float_error(field_name, v)) return fail(std::move(*error));
      return checked(PyFloat_FromDouble(v));
    }
    case 3:
      return formatted(text::format_decimal, std::get<Decimal>(value));
    case 4:
      return Object::borrow(std::get<bool>(value) ? Py_True : Py_False);
    case 5:
      return formatted(text::format_date, std::get<Date>(value));
    case 6:
      return formatted(text::format_time, std::get<Time>(value));
    case 7:
      return formatted(text::format_datetime_utc, std::get<DateTime>(value));
    case 8:
      return formatted(text::format_uuid, std::get<Uuid>(value));
    case 9:
      return json_to_python(std::get<JsonValue>(value));
    case 10: {
      const std::string& bytes = std::get<ByteString>(value).data;
      Buffer out;
      text::encode_base64(bytes, out);
      return ascii_text(out.view());
    }
    default:
      return Object::borrow(Py_None);
  }
}

void untrack_if_atomic(PyObject* dict) {
  // A dict that holds no container cannot be part of a reference cycle; the
  // collector untracks such dicts itself when it meets them, and the dict
  // tracks itself again if a container is stored in it later. Doing it here
  // spares collection passes over large batches of results.
  if (!PyObject_GC_IsTracked(dict)) return;  // nothing to do (a copy of an untracked dict)
  Py_ssize_t pos = 0;
  PyObject* key;
  PyObject* value;
  while (PyDict_Next(dict, &pos, &key, &value)) {
    if (may_be_tracked(value)) return;
  }
  PyObject_GC_UnTrack(dict);
}

Result<Object> build_record_dict(std::span<PyObject* const> keys, std::span<const std::size_t> sorted_order,
                                 std::span<Object> values, PyObject* record_template) {
  ZB_TRY(Object dict, checked(record_template ? PyDict_Copy(record_template) : PyDict_New()));
  bool atomic = true;
  for (std::size_t position : sorted_order) {
    PyObject* value = values[position].get();
    atomic = atomic && !may_be_tracked(value);
    ZB_CHECK_OK(checked_status(PyDict_SetItem(dict.get(), keys[position], value)));
  }
  if (atomic) PyObject_GC_UnTrack(dict.get());
  return dict;
}

Result<Object> record_template(std::span<PyObject* const> keys, std::span<const std::size_t> sorted_order) {
  ZB_TRY(Object dict, checked(PyDict_New()));
  for (std::size_t position : sorted_order) {
    ZB_CHECK_OK(checked_status(PyDict_SetItem(dict.get(), keys[position], Py_None)));
  }
  return dict;
}

}  // namespace zembra::py
