#include "binding/speedups/column_values.h"

#include "binding/core/datetime_api.h"
#include "binding/core/imports.h"
#include "binding/core/known_objects.h"
#include "binding/core/read_value.h"
#include "binding/django/model_value.h"
#include "pure/text/base64.h"
#include "pure/text/datetime.h"
#include "pure/text/decimal.h"
#include "pure/text/uuid.h"
#include "pure/json_writer/column_text.h"
#include "pure/json_writer/json_text.h"

namespace zembra::py {
namespace {

Result<Object> text_object(const Buffer& text) {
  return checked(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr));
}

Result<Object> attribute_of(PyObject* object, PyObject* name) {
  return checked(PyObject_GetAttr(object, name));
}

// Whether value is of the type the kind converts natively (exact types: a
// subclass may override the methods DRF's fields call).
Result<bool> of_own_type(PyObject* value, ColumnKind kind) {
  switch (kind) {
    case ColumnKind::Str:
      return PyUnicode_CheckExact(value) != 0;
    case ColumnKind::Int:
      return PyLong_CheckExact(value) != 0;
    case ColumnKind::Float:
      return PyFloat_CheckExact(value) != 0;
    case ColumnKind::Bool:
      return PyBool_Check(value) != 0;
    case ColumnKind::Decimal: {
      ZB_TRY(PyObject * type, decimal_type());
      return reinterpret_cast<PyObject*>(Py_TYPE(value)) == type;
    }
    case ColumnKind::Uuid: {
      ZB_TRY(PyObject * type, uuid_type());
      return reinterpret_cast<PyObject*>(Py_TYPE(value)) == type;
    }
    case ColumnKind::Date:
      return datetime_api_ready() && PyDate_CheckExact(value);
    case ColumnKind::Time:
      return datetime_api_ready() && PyTime_CheckExact(value);
    case ColumnKind::DateTime:
      return datetime_api_ready() && PyDateTime_CheckExact(value);
    case ColumnKind::Duration:
      return datetime_api_ready() && PyDelta_CheckExact(value);
    default:
      return true;
  }
}

// represent(value), or empty when it answers NotImplemented (the kind's own
// conversion then decides).
Result<Object> call_represent(const Column& column, PyObject* value) {
  ZB_TRY(Object answer, checked(PyObject_CallOneArg(column.represent.get(), value)));
  if (answer.get() == Py_NotImplemented) return Object();
  return answer;
}

}  // namespace

Result<Object> ColumnValues::represented(PyObject* value, const Column& column) {
  if (!column.represent) return Object();
  if (!column.represent_all) {
    // The raw readers cook SQLite's decimals and UUIDs into their text,
    // which the kind's own conversion writes exactly.
    bool cooked_text = cooked_rows && PyUnicode_CheckExact(value) &&
                       (column.kind == ColumnKind::Decimal || column.kind == ColumnKind::Uuid);
    if (cooked_text) return Object();
    ZB_TRY(bool own, of_own_type(value, column.kind));
    if (own) return Object();
  }
  return call_represent(column, value);
}

Result<Object> ColumnValues::represented_after_error(PyObject* value, const Column& column, Status failed) {
  if (!column.represent) return fail(std::move(failed).error());
  Object raised;  // the conversion's exception, restored when represent declines
  if (std::holds_alternative<PythonRaised>(failed.error())) {
    if (!PyErr_ExceptionMatches(PyExc_Exception)) return python_error();
    raised = Object::steal(PyErr_GetRaisedException());
  }
  ZB_TRY(Object answer, call_represent(column, value));
  if (answer) return answer;
  if (raised) {
    PyErr_SetRaisedException(raised.release());
    return python_error();
  }
  return fail(std::move(failed).error());
}

ColumnValues::ColumnValues(JsonOutput* output) : output_(output) {}

Status ColumnValues::text_form(PyObject* value, ColumnKind kind, const django::FieldDescriptor& descriptor,
                               int places, bool iso) {
  scratch_.clear();
  switch (kind) {
    case ColumnKind::Decimal: {
      ZB_TRY(FieldValue typed, convert_model_value(value, descriptor));
      Decimal decimal = std::get<Decimal>(typed);
      if (places >= 0) {
        if (auto rescaled = json::rescale_decimal(decimal, static_cast<unsigned>(places))) decimal = *rescaled;
      }
      text::format_decimal(decimal, scratch_);
      return {};
    }
    case ColumnKind::DateTime: {
      ZB_TRY(FieldValue typed, convert_model_value(value, descriptor));
      const DateTime& known = std::get<DateTime>(typed);
      if (iso) {
        json::format_iso_datetime_utc(known, scratch_);
      } else {
        text::format_datetime_utc(known, scratch_);
      }
      return {};
    }
    case ColumnKind::Date: {
      std::optional<Date> known = exact_date(value);
      if (!known) {
        ZB_TRY(FieldValue typed, convert_model_value(value, descriptor));
        known = std::get<Date>(typed);
      }
      text::format_date(*known, scratch_);
      return {};
    }
    case ColumnKind::Time: {
      std::optional<Time> known = exact_time(value);
      if (!known) {
        ZB_TRY(FieldValue typed, convert_model_value(value, descriptor));
        known = std::get<Time>(typed);
      }
      if (iso) {
        json::format_iso_time(*known, scratch_);
      } else {
        text::format_time(*known, scratch_);
      }
      return {};
    }
    case ColumnKind::Uuid: {
      ZB_TRY(FieldValue typed, convert_model_value(value, descriptor));
      text::format_uuid(std::get<Uuid>(typed), scratch_);
      return {};
    }
    case ColumnKind::Bytes: {
      if (!PyObject_CheckBuffer(value) || PyUnicode_Check(value)) {
        PyErr_Format(PyExc_TypeError, "field '%s': expected bytes, got %.200s", descriptor.name.c_str(),
                     Py_TYPE(value)->tp_name);
        return python_error();
      }
      Py_buffer view;
      if (PyObject_GetBuffer(value, &view, PyBUF_SIMPLE) < 0) return python_error();
      text::encode_base64(std::string_view(static_cast<const char*>(view.buf), static_cast<std::size_t>(view.len)),
                          scratch_);
      PyBuffer_Release(&view);
      return {};
    }
    case ColumnKind::Duration: {
      if (!datetime_api_ready() || !PyDelta_Check(value)) {
        PyErr_Format(PyExc_TypeError, "field '%s': expected timedelta, got %.200s", descriptor.name.c_str(),
                     Py_TYPE(value)->tp_name);
        return python_error();
      }
      json::format_duration(PyDateTime_DELTA_GET_DAYS(value), PyDateTime_DELTA_GET_SECONDS(value),
                            PyDateTime_DELTA_GET_MICROSECONDS(value), scratch_);
      return {};
    }
    default:
      break;
  }
  PyErr_SetString(PyExc_SystemError, "column kind without a text form");
  return python_error();
}

// The coercions DRF's fields apply on output: str(), int(), float(), bool().
Result<Object> ColumnValues::plain_form(PyObject* value, ColumnKind kind) {
  switch (kind) {
    case ColumnKind::Str:
      if (PyUnicode_CheckExact(value)) return Object::borrow(value);
      return checked(PyObject_Str(value));
    case ColumnKind::Int:
      if (PyLong_CheckExact(value)) return Object::borrow(value);
      return checked(PyNumber_Long(value));
    case ColumnKind::Float:
      if (PyFloat_CheckExact(value)) return Object::borrow(value);
      return checked(PyNumber_Float(value));
    case ColumnKind::Bool: {
      if (PyBool_Check(value)) return Object::borrow(value);
      int truth = PyObject_IsTrue(value);
      if (truth < 0) return python_error();
      return Object::borrow(truth ? Py_True : Py_False);
    }
    case ColumnKind::File: {
      // A file field holds its name, or a file object that has one.
      Object name = Object::borrow(value);
      if (!PyUnicode_Check(value)) {
        static PyObject* name_attr = PyUnicode_InternFromString("name");
        if (!name_attr) return python_error();
        ZB_TRY(name, attribute_of(value, name_attr));
        if (name.get() == Py_None) return name;
      }
      int truth = PyObject_IsTrue(name.get());
      if (truth < 0) return python_error();
      if (!truth) return Object::borrow(Py_None);
      if (PyUnicode_CheckExact(name.get())) return name;
      return checked(PyObject_Str(name.get()));
    }
    default:  // Json
      return Object::borrow(value);
  }
}

Status ColumnValues::write_plain(PyObject* value, Buffer& out) {
  (void)out;  // the writer appends to the output's buffer, which is out
  return ValueWriter(*output_, true).write(value);
}

Result<Object> ColumnValues::item_to_python(PyObject* value, const Column& column) {
  if (value == Py_None) return Object::borrow(Py_None);
  if (is_text_kind(column.item_kind)) {
    ZB_CHECK_OK(text_form(value, column.item_kind, column.item_descriptor, -1, false));
    return text_object(scratch_);
  }
  return plain_form(value, column.item_kind);
}

Status ColumnValues::item_to_json(PyObject* value, const Column& column, Buffer& out) {
  if (value == Py_None) {
    out.append("null");
    return {};
  }
  if (is_text_kind(column.item_kind)) {
    ZB_CHECK_OK(text_form(value, column.item_kind, column.item_descriptor, -1, false));
    json::write_string(scratch_.view(), out);
    return {};
  }
  ZB_TRY(Object plain, plain_form(value, column.item_kind));
  return write_plain(plain.get(), out);
}

// The keys of instance's prefetched objects: the related manager keeps them
// in instance._prefetched_objects_cache[name]._result_cache.
Result<Object> ColumnValues::many_keys(PyObject* instance, const Column& column) {
  static PyObject* cache_attr = PyUnicode_InternFromString("_prefetched_objects_cache");
  static PyObject* result_attr = PyUnicode_InternFromString("_result_cache");
  if (!cache_attr || !result_attr) return python_error();
  ZB_TRY(Object cache, optional_attribute(instance, cache_attr));
  Object objects;
  if (cache && PyDict_Check(cache.get())) {
    PyObject* found = nullptr;
    if (PyDict_GetItemRef(cache.get(), column.cache_name.get(), &found) < 0) return python_error();
    Object queryset = Object::steal(found);
    if (queryset) {
      ZB_TRY(objects, optional_attribute(queryset.get(), result_attr));
    }
  }
  if (objects && PyList_Check(objects.get())) {
    Py_ssize_t n = PyList_GET_SIZE(objects.get());
    ZB_TRY(Object keys, checked(PyList_New(n)));
    for (Py_ssize_t i = 0; i < n && i < PyList_GET_SIZE(objects.get()); ++i) {
      Object item = Object::borrow(PyList_GET_ITEM(objects.get(), i));
      ZB_TRY(Object key, attribute_of(item.get(), column.item_attribute.get()));
      PyList_SET_ITEM(keys.get(), i, key.release());
    }
    return keys;
  }
  if (!missing || missing == Py_None) {
    PyErr_Format(PyExc_ValueError, "field '%U': the related objects were not prefetched", column.key.get());
    return python_error();
  }
  ZB_TRY(Object answer, checked(PyObject_CallFunctionObjArgs(missing, instance, column.key.get(), nullptr)));
  return checked(PySequence_List(answer.get()));
}

Result<Object> ColumnValues::to_python(PyObject* value, const Column& column, bool keys_given) {
  if (column.kind == ColumnKind::Many) {
    ZB_TRY(Object keys, keys_given ? checked(PySequence_List(value)) : many_keys(value, column));
    Py_ssize_t n = PyList_GET_SIZE(keys.get());
    for (Py_ssize_t i = 0; i < n; ++i) {
      ZB_TRY(Object key, item_to_python(PyList_GET_ITEM(keys.get(), i), column));
      PyList_SetItem(keys.get(), i, key.release());
    }
    return keys;
  }
  ZB_TRY(Object answer, represented(value, column));
  if (answer) return answer;
  if (is_text_kind(column.kind)) {
    Status formed = text_form(value, column.kind, column.descriptor, column.decimal_places, column.iso);
    if (!formed) return represented_after_error(value, column, std::move(formed));
    return text_object(scratch_);
  }
  return plain_form(value, column.kind);
}

Status ColumnValues::to_json(PyObject* value, const Column& column, Buffer& out, bool keys_given) {
  if (column.kind == ColumnKind::Many) {
    ZB_TRY(Object keys, keys_given ? checked(PySequence_List(value)) : many_keys(value, column));
    out.push_back('[');
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(keys.get()); ++i) {
      if (i) out.push_back(',');
      Object key = Object::borrow(PyList_GET_ITEM(keys.get(), i));
      ZB_CHECK_OK(item_to_json(key.get(), column, out));
    }
    out.push_back(']');
    return {};
  }
  ZB_TRY(Object answer, represented(value, column));
  if (!answer && is_text_kind(column.kind)) {
    Status formed = text_form(value, column.kind, column.descriptor, column.decimal_places, column.iso);
    if (formed) {
      json::write_string(scratch_.view(), out);
      return {};
    }
    ZB_TRY(answer, represented_after_error(value, column, std::move(formed)));
  }
  if (answer) return write_plain(answer.get(), out);
  if (column.kind == ColumnKind::Str && PyUnicode_CheckExact(value)) {
    output_->note_surrogates(write_str_object(value, out));
    return {};
  }
  ZB_TRY(Object plain, plain_form(value, column.kind));
  return write_plain(plain.get(), out);
}

}  // namespace zembra::py
