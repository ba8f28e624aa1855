// convert_rows: Django's converters of a query's columns applied to raw
// cursor rows (zembra/_instances.py plans them), the common ones natively.
//
// A plan entry per column: None (the value as it is), or (code, converters,
// expression, connection, extra). Every value a native code does not
// expect goes through the converters themselves, in order, as Django's
// compiler applies them: converter(value, expression, connection).
#include <string_view>
#include <vector>

#include "binding/core/convert.h"
#include "binding/core/datetime_api.h"
#include "binding/core/frame.h"
#include "binding/core/imports.h"
#include "binding/speedups/json_loads.h"
#include "binding/speedups/raw_decimal.h"
#include "binding/speedups/speedups_functions.h"
#include "pure/rows/raw_values.h"

namespace zembra::py {
namespace {

enum class Code : long { Call = 0, Bool = 1, DateTime = 2, Date = 3, Json = 4, Decimal = 5 };

struct ColumnPlan {
  bool convert = false;
  Code code = Code::Call;
  PyObject* converters = nullptr;  // borrowed from the plan, which the caller holds
  PyObject* expression = nullptr;
  PyObject* connection = nullptr;
  // The entry's last item: DateTime, the zone made aware in (None keeps the
  // value naive); Decimal, (max_digits, decimal_places, round_integers).
  PyObject* extra = nullptr;
  rows::DecimalColumn decimal;
};

Result<std::uint32_t> small_number(PyObject* value) {
  long v = PyLong_Check(value) ? PyLong_AsLong(value) : -1;
  if (v == -1 && PyErr_Occurred()) return python_error();
  if (v < 0 || v > 1000) {
    PyErr_SetString(PyExc_ValueError, "plan: a decimal entry takes (max_digits, decimal_places, round_integers)");
    return python_error();
  }
  return static_cast<std::uint32_t>(v);
}

Result<std::vector<ColumnPlan>> read_plan(PyObject* plan) {
  ZB_TRY(PyObject * entries, for_parameter("plan", to_instance(plan, &PyTuple_Type, "tuple")));
  std::vector<ColumnPlan> out(static_cast<std::size_t>(PyTuple_GET_SIZE(entries)));
  for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(entries); ++i) {
    PyObject* entry = PyTuple_GET_ITEM(entries, i);
    if (entry == Py_None) continue;
    if (!PyTuple_Check(entry) || PyTuple_GET_SIZE(entry) != 5 || !PyLong_Check(PyTuple_GET_ITEM(entry, 0)) ||
        !PyTuple_Check(PyTuple_GET_ITEM(entry, 1))) {
      PyErr_Format(PyExc_ValueError, "plan entry %zd: expected (code, converters, expression, connection, extra)",
                   i);
      return python_error();
    }
    long code = PyLong_AsLong(PyTuple_GET_ITEM(entry, 0));
    if (code < 0 || code > 5) {
      if (!PyErr_Occurred()) PyErr_Format(PyExc_ValueError, "plan entry %zd: unknown code", i);
      return python_error();
    }
    ColumnPlan& column = out[static_cast<std::size_t>(i)];
    column = {true, static_cast<Code>(code), PyTuple_GET_ITEM(entry, 1), PyTuple_GET_ITEM(entry, 2),
              PyTuple_GET_ITEM(entry, 3), PyTuple_GET_ITEM(entry, 4), {}};
    if (column.code == Code::Decimal) {
      PyObject* extra = column.extra;
      if (!PyTuple_Check(extra) || PyTuple_GET_SIZE(extra) != 3) {
        PyErr_SetString(PyExc_ValueError, "plan: a decimal entry takes (max_digits, decimal_places, round_integers)");
        return python_error();
      }
      ZB_TRY(column.decimal.max_digits, small_number(PyTuple_GET_ITEM(extra, 0)));
      ZB_TRY(column.decimal.decimal_places, small_number(PyTuple_GET_ITEM(extra, 1)));
      int round = PyObject_IsTrue(PyTuple_GET_ITEM(extra, 2));
      if (round < 0) return python_error();
      column.decimal.round_integers = round != 0;
    }
  }
  return out;
}

// The value through the column's converters, as Django applies them.
Result<Object> call_converters(Object value, const ColumnPlan& column) {
  for (Py_ssize_t k = 0; k < PyTuple_GET_SIZE(column.converters); ++k) {
    PyObject* args[] = {value.get(), column.expression, column.connection};
    ZB_TRY(value, checked(PyObject_Vectorcall(PyTuple_GET_ITEM(column.converters, k), args, 3, nullptr)));
  }
  return value;
}

std::string_view ascii_text(PyObject* value) {
  if (!PyUnicode_CheckExact(value) || !PyUnicode_IS_ASCII(value)) return {};
  return std::string_view(static_cast<const char*>(PyUnicode_DATA(value)),
                          static_cast<std::size_t>(PyUnicode_GET_LENGTH(value)));
}

// The native reading of a value, or empty where the converters must run.
Result<Object> native_value(PyObject* value, const ColumnPlan& column, JsonLoads& json) {
  switch (column.code) {
    case Code::Bool:
      if (value == Py_True || value == Py_False) return Object::borrow(value);
      if (PyLong_CheckExact(value)) {
        int overflow = 0;
        long v = PyLong_AsLongAndOverflow(value, &overflow);
        if (!overflow && (v == 0 || v == 1)) return Object::borrow(v ? Py_True : Py_False);
      }
      return Object();
    case Code::DateTime: {
      ZB_CHECK_OK(ensure_datetime_api());
      if (PyDateTime_CheckExact(value)) {
        // The sqlite3 module's own reading of the column: naive, made aware
        // as Django's converter makes it (replace(tzinfo=zone)).
        auto* moment = reinterpret_cast<PyDateTime_DateTime*>(value);
        if (moment->hastzinfo && PyDateTime_DATE_GET_TZINFO(value) != Py_None) return Object();
        if (column.extra == Py_None) return Object::borrow(value);
        return checked(PyDateTimeAPI->DateTime_FromDateAndTimeAndFold(
            PyDateTime_GET_YEAR(value), PyDateTime_GET_MONTH(value), PyDateTime_GET_DAY(value),
            PyDateTime_DATE_GET_HOUR(value), PyDateTime_DATE_GET_MINUTE(value), PyDateTime_DATE_GET_SECOND(value),
            PyDateTime_DATE_GET_MICROSECOND(value), column.extra, PyDateTime_DATE_GET_FOLD(value),
            PyDateTimeAPI->DateTimeType));
      }
      auto parsed = rows::sqlite_datetime(ascii_text(value));
      if (!parsed) return Object();
      std::uint32_t seconds = parsed->time.seconds;
      return checked(PyDateTimeAPI->DateTime_FromDateAndTime(
          parsed->date.year, parsed->date.month, parsed->date.day, static_cast<int>(seconds / 3600),
          static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60),
          static_cast<int>(parsed->time.nanos / 1000), column.extra, PyDateTimeAPI->DateTimeType));
    }
    case Code::Date: {
      ZB_CHECK_OK(ensure_datetime_api());
      if (PyDate_Check(value)) return Object::borrow(value);  // a date already (datetimes too), kept
      auto parsed = rows::sqlite_date(ascii_text(value));
      if (!parsed) return Object();
      return checked(PyDateTimeAPI->Date_FromDate(parsed->year, parsed->month, parsed->day, PyDateTimeAPI->DateType));
    }
    case Code::Json: {
      if (!PyUnicode_CheckExact(value)) return Object();
      Py_ssize_t size = 0;
      const char* text = PyUnicode_AsUTF8AndSize(value, &size);
      if (!text) {
        PyErr_Clear();  // a lone surrogate: the converter reads it
        return Object();
      }
      return json.read(std::string_view(text, static_cast<std::size_t>(size)));
    }
    case Code::Decimal: {
      // The converter's quantized result, built from its text (the same
      // digits and exponent).
      std::optional<std::string> text = sqlite_decimal_text(value, column.decimal);
      if (!text) return Object();
      ZB_TRY(PyObject * type, decimal_type());
      ZB_TRY(Object digits, checked(PyUnicode_DecodeASCII(text->data(), static_cast<Py_ssize_t>(text->size()),
                                                          nullptr)));
      return checked(PyObject_CallOneArg(type, digits.get()));
    }
    case Code::Call:
      return Object();
  }
  return Object();
}

constexpr const char* kParams[] = {"rows", "plan"};
constexpr CallSignature kSig{"convert_rows", nullptr, kParams, 2, {}};

Result<Object> convert_rows_body(PyObject*, Slots slots) {
  ZB_TRY(PyObject * rows, for_parameter("rows", to_instance(slots[0], &PyList_Type, "list")));
  ZB_TRY(std::vector<ColumnPlan> plan, read_plan(slots[1]));
  JsonLoads json;
  Py_ssize_t n = PyList_GET_SIZE(rows);
  ZB_TRY(Object out, checked(PyList_New(n)));
  for (Py_ssize_t i = 0; i < n && i < PyList_GET_SIZE(rows); ++i) {
    Object row = Object::borrow(PyList_GET_ITEM(rows, i));
    ZB_TRY(Object values, checked(PySequence_Fast(row.get(), "each row must be a sequence")));
    Py_ssize_t width = PySequence_Fast_GET_SIZE(values.get());
    ZB_TRY(Object converted, checked(PyTuple_New(width)));
    for (Py_ssize_t k = 0; k < width; ++k) {
      Object value = Object::borrow(PySequence_Fast_GET_ITEM(values.get(), k));
      if (static_cast<std::size_t>(k) < plan.size() && plan[static_cast<std::size_t>(k)].convert) {
        const ColumnPlan& column = plan[static_cast<std::size_t>(k)];
        Object native;
        if (column.code != Code::Call && value.get() == Py_None) {
          native = value;  // every converter with a native code keeps None
        } else {
          ZB_TRY(native, native_value(value.get(), column, json));
        }
        if (native) {
          value = std::move(native);
        } else {
          ZB_TRY(value, call_converters(std::move(value), column));
        }
      }
      PyTuple_SET_ITEM(converted.get(), k, value.release());
    }
    PyList_SET_ITEM(out.get(), i, converted.release());
  }
  return out;
}

}  // namespace

PyMethodDef kConvertRowsDef = {
    "convert_rows", fast_method<kSig, convert_rows_body>(), METH_FASTCALL | METH_KEYWORDS,
    "convert_rows(rows, plan)\n--\n\n"
    "Each row as a tuple of its values through their column's converters:\n"
    "plan holds per column None or (code, converters, expression,\n"
    "connection, tzinfo); codes 1 bool, 2 SQLite datetime text (made aware in\n"
    "tzinfo unless it is None), 3 SQLite date text, 4 JSON text, 5 SQLite\n"
    "decimals (the last entry then (max_digits, decimal_places,\n"
    "round_integers)) are read\n"
    "natively where the value has the expected form, and every other value\n"
    "(and code 0) goes through converter(value, expression, connection) for\n"
    "each converter in order."};

}  // namespace zembra::py
