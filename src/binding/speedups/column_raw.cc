#include "binding/speedups/column_raw.h"

#include <optional>
#include <string>

#include "binding/core/datetime_api.h"
#include "binding/core/imports.h"
#include "binding/django/ordinary_errors.h"
#include "pure/text/uuid.h"
#include "binding/speedups/raw_decimal.h"

namespace zembra::py {
namespace {

constexpr long kReaderCount = 9;

Unexpected<PythonRaised> bad_plan(const char* what) {
  PyErr_Format(PyExc_ValueError, "plan: %s", what);
  return python_error();
}

Result<std::uint32_t> plan_number(PyObject* obj) {
  long v = PyLong_Check(obj) ? PyLong_AsLong(obj) : -1;
  if (v == -1 && PyErr_Occurred()) return python_error();
  if (v < 0 || v > static_cast<long>(UINT32_MAX)) return bad_plan("expected a small non-negative int");
  return static_cast<std::uint32_t>(v);
}

Result<Object> ascii(std::string_view text) {
  return checked(PyUnicode_DecodeASCII(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr));
}

}  // namespace

Result<std::vector<RawColumn>> read_raw_plan(PyObject* plan, std::size_t width) {
  if (!PyTuple_CheckExact(plan) || static_cast<std::size_t>(PyTuple_GET_SIZE(plan)) != width) {
    return bad_plan("expected a tuple with one entry per column");
  }
  std::vector<RawColumn> columns(width);
  for (std::size_t i = 0; i < width; ++i) {
    PyObject* entry = PyTuple_GET_ITEM(plan, static_cast<Py_ssize_t>(i));
    PyObject* code = entry;
    if (PyTuple_CheckExact(entry)) {
      if (PyTuple_GET_SIZE(entry) != 3) return bad_plan("a decimal entry is (code, max_digits, decimal_places)");
      code = PyTuple_GET_ITEM(entry, 0);
      ZB_TRY(columns[i].decimal.max_digits, plan_number(PyTuple_GET_ITEM(entry, 1)));
      ZB_TRY(columns[i].decimal.decimal_places, plan_number(PyTuple_GET_ITEM(entry, 2)));
    }
    ZB_TRY(std::uint32_t reader, plan_number(code));
    if (reader >= kReaderCount) return bad_plan("unknown reader");
    columns[i].reader = static_cast<RawReader>(reader);
    bool is_decimal = columns[i].reader == RawReader::Decimal || columns[i].reader == RawReader::DecimalRoundedInts;
    if (is_decimal != static_cast<bool>(PyTuple_CheckExact(entry))) {
      return bad_plan("decimal readers, and only they, take digits");
    }
    columns[i].decimal.round_integers = columns[i].reader == RawReader::DecimalRoundedInts;
  }
  ZB_CHECK_OK(ensure_datetime_api());
  return columns;
}

Result<Object> RawCook::cook(PyObject* value, const RawColumn& column) {
  switch (column.reader) {
    case RawReader::Raw:
      return Object::borrow(value);
    // SQLite's connection converts these already; Django's converters only
    // make a naive datetime aware in the connection's zone, which the caller
    // has checked is UTC, and the layout reads a naive datetime as UTC.
    case RawReader::Date:
      return PyDate_Check(value) ? Object::borrow(value) : Object();
    case RawReader::Time:
      return PyTime_Check(value) ? Object::borrow(value) : Object();
    case RawReader::DateTime:
      return PyDateTime_CheckExact(value) ? Object::borrow(value) : Object();
    case RawReader::Bool:
      return value == Py_True || value == Py_False ? Object::borrow(value) : Object();
    case RawReader::Decimal:
    case RawReader::DecimalRoundedInts: {
      std::optional<std::string> text = sqlite_decimal_text(value, column.decimal);
      if (!text) return Object();
      return ascii(*text);
    }
    case RawReader::UuidHex: {
      if (!PyUnicode_CheckExact(value) || !PyUnicode_IS_ASCII(value)) return Object();
      std::string_view hex(reinterpret_cast<const char*>(PyUnicode_1BYTE_DATA(value)),
                           static_cast<std::size_t>(PyUnicode_GET_LENGTH(value)));
      std::optional<Uuid> uuid = rows::uuid_from_hex(hex);
      if (!uuid) return Object();
      if (column.uuid_object) {
        ZB_TRY(PyObject * type, uuid_type());
        return checked(PyObject_CallOneArg(type, value));
      }
      Buffer text;
      text::format_uuid(*uuid, text);
      return ascii(text.view());
    }
    case RawReader::JsonText: {
      if (!PyUnicode_CheckExact(value)) return Object();
      Py_ssize_t size = 0;
      const char* text = PyUnicode_AsUTF8AndSize(value, &size);
      if (text) {
        ZB_TRY(Object loaded, reader_.read(std::string_view(text, static_cast<std::size_t>(size))));
        if (loaded) return loaded;
      } else {
        ZB_CHECK_OK(absorb_ordinary_error());  // a surrogate: json.loads reads it
      }
      if (!loads_) {
        ZB_TRY(loads_, imported_attribute("json", "loads"));
      }
      Object loaded = Object::steal(PyObject_CallOneArg(loads_.get(), value));
      if (!loaded) ZB_CHECK_OK(absorb_ordinary_error());  // Django keeps such text; the values_list route says
      return loaded;
    }
  }
  return Object();
}

}  // namespace zembra::py
