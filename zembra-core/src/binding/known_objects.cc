#include "binding/known_objects.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string_view>
#include <vector>

#include <datetime.h>

#include "binding/imports.h"
#include "binding/to_python.h"
#include "text/datetime.h"
#include "text/json.h"

namespace zembra::py {
namespace {

bool datetime_api_ready() {
  if (!PyDateTimeAPI) {
    PyDateTime_IMPORT;
    if (!PyDateTimeAPI) {
      PyErr_Clear();
      return false;
    }
  }
  return true;
}

Time time_of(int hour, int minute, int second, int micro) {
  return Time{static_cast<std::uint32_t>(hour * 3600 + minute * 60 + second),
              static_cast<std::uint32_t>(micro) * 1000u};
}

bool is_utc(PyObject* tzinfo) { return tzinfo == PyDateTime_TimeZone_UTC; }

void write_2(Buffer& out, int v) {
  out.push_back(static_cast<char>('0' + v / 10));
  out.push_back(static_cast<char>('0' + v % 10));
}

void write_date(Buffer& out, int year, int month, int day) {
  char* p = out.reserve(10);
  p[0] = static_cast<char>('0' + year / 1000);
  p[1] = static_cast<char>('0' + year / 100 % 10);
  p[2] = static_cast<char>('0' + year / 10 % 10);
  p[3] = static_cast<char>('0' + year % 10);
  p[4] = '-';
  p[5] = static_cast<char>('0' + month / 10);
  p[6] = static_cast<char>('0' + month % 10);
  p[7] = '-';
  p[8] = static_cast<char>('0' + day / 10);
  p[9] = static_cast<char>('0' + day % 10);
  out.commit(10);
}

// The interpreter's isoformat: microseconds only when non-zero, 6 digits.
void write_time(Buffer& out, int hour, int minute, int second, int micro) {
  write_2(out, hour);
  out.push_back(':');
  write_2(out, minute);
  out.push_back(':');
  write_2(out, second);
  if (micro) {
    out.push_back('.');
    char* p = out.reserve(6);
    for (int i = 5; i >= 0; --i, micro /= 10) p[i] = static_cast<char>('0' + micro % 10);
    out.commit(6);
  }
}

constexpr std::size_t kMaxJsonDepth = text::kJsonMaxDepth;

bool has_surrogates(PyObject* text) {
  int kind = PyUnicode_KIND(text);
  if (kind == PyUnicode_1BYTE_KIND) return false;
  Py_ssize_t n = PyUnicode_GET_LENGTH(text);
  const void* data = PyUnicode_DATA(text);
  for (Py_ssize_t i = 0; i < n; ++i) {
    Py_UCS4 c = PyUnicode_READ(kind, data, i);
    if (c >= 0xD800 && c <= 0xDFFF) return true;
  }
  return false;
}

// Walks a structure made only of plain JSON values; sets plain = false (no
// exception) on anything else. With Build, returns the copy of it.
template <bool Build>
Result<Object> walk_plain(PyObject* value, std::size_t depth, bool& plain) {
  PyTypeObject* type = Py_TYPE(value);
  if (value == Py_None || type == &PyBool_Type) return Object::borrow(value);
  if (type == &PyUnicode_Type) {
    if (has_surrogates(value)) plain = false;
    return Object::borrow(value);
  }
  if (type == &PyLong_Type) {
    int overflow = 0;
    PyLong_AsLongLongAndOverflow(value, &overflow);
    if (overflow) plain = false;  // beyond 64 bits: let the general path decide
    return Object::borrow(value);
  }
  if (type == &PyFloat_Type) {
    if (!std::isfinite(PyFloat_AS_DOUBLE(value))) plain = false;
    return Object::borrow(value);
  }
  bool is_list = type == &PyList_Type;
  if ((is_list || type == &PyTuple_Type || type == &PyDict_Type) && depth >= kMaxJsonDepth) {
    plain = false;
    return Object();
  }
  if (is_list || type == &PyTuple_Type) {
    Py_ssize_t n = is_list ? PyList_GET_SIZE(value) : PyTuple_GET_SIZE(value);
    Object out;
    if constexpr (Build) {
      ZB_TRY(out, checked(PyList_New(n)));
    }
    for (Py_ssize_t i = 0; i < n; ++i) {
      // Allocations may run the garbage collector, and with it finalizers
      // that change the list: re-check its size and hold each item.
      if (is_list && i >= PyList_GET_SIZE(value)) {
        plain = false;
        return Object();
      }
      Object item = Object::borrow(is_list ? PyList_GET_ITEM(value, i) : PyTuple_GET_ITEM(value, i));
      ZB_TRY(Object copy, walk_plain<Build>(item.get(), depth + 1, plain));
      if (!plain) return Object();
      if constexpr (Build) PyList_SET_ITEM(out.get(), i, copy.release());
    }
    return Build ? std::move(out) : Object::borrow(value);
  }
  if (type == &PyDict_Type) {
    struct Entry {
      std::string_view key_utf8;
      Object key;
      Object value;
    };
    std::vector<Entry> entries;
    if constexpr (Build) entries.reserve(static_cast<std::size_t>(PyDict_GET_SIZE(value)));
    Py_ssize_t pos = 0;
    PyObject* raw_key;
    PyObject* raw_item;
    Py_ssize_t size_at_start = PyDict_GET_SIZE(value);
    while (PyDict_Next(value, &pos, &raw_key, &raw_item)) {
      Object key = Object::borrow(raw_key);
      Object item = Object::borrow(raw_item);
      if (Py_TYPE(key.get()) != &PyUnicode_Type || has_surrogates(key.get())) {
        plain = false;
        return Object();
      }
      ZB_TRY(Object copy, walk_plain<Build>(item.get(), depth + 1, plain));
      if (!plain || PyDict_GET_SIZE(value) != size_at_start) {
        plain = false;
        return Object();
      }
      if constexpr (Build) {
        Py_ssize_t size = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(key.get(), &size);
        if (!utf8) return python_error();
        entries.push_back(
            Entry{std::string_view(utf8, static_cast<std::size_t>(size)), std::move(key), std::move(copy)});
      }
    }
    if constexpr (!Build) return Object::borrow(value);
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return a.key_utf8 < b.key_utf8; });
    ZB_TRY(Object out, checked(PyDict_New()));
    bool atomic = true;
    for (Entry& e : entries) {
      atomic = atomic && !may_be_tracked(e.value.get());
      ZB_CHECK_OK(checked_status(PyDict_SetItem(out.get(), e.key.get(), e.value.get())));
    }
    if (atomic) PyObject_GC_UnTrack(out.get());  // as build_record_dict does
    return out;
  }
  plain = false;
  return Object();
}

}  // namespace

std::optional<DateTime> exact_datetime(PyObject* value) {
  if (!datetime_api_ready() || !PyDateTime_CheckExact(value)) return std::nullopt;
  PyObject* tz = PyDateTime_DATE_GET_TZINFO(value);
  if (tz != Py_None && !is_utc(tz)) return std::nullopt;
  return DateTime{Date{PyDateTime_GET_YEAR(value), static_cast<std::uint8_t>(PyDateTime_GET_MONTH(value)),
                       static_cast<std::uint8_t>(PyDateTime_GET_DAY(value))},
                  time_of(PyDateTime_DATE_GET_HOUR(value), PyDateTime_DATE_GET_MINUTE(value),
                          PyDateTime_DATE_GET_SECOND(value), PyDateTime_DATE_GET_MICROSECOND(value))};
}

std::optional<Date> exact_date(PyObject* value) {
  if (!datetime_api_ready() || !PyDate_CheckExact(value)) return std::nullopt;
  return Date{PyDateTime_GET_YEAR(value), static_cast<std::uint8_t>(PyDateTime_GET_MONTH(value)),
              static_cast<std::uint8_t>(PyDateTime_GET_DAY(value))};
}

std::optional<Time> exact_time(PyObject* value) {
  if (!datetime_api_ready() || !PyTime_CheckExact(value)) return std::nullopt;
  if (PyDateTime_TIME_GET_TZINFO(value) != Py_None) return std::nullopt;
  return time_of(PyDateTime_TIME_GET_HOUR(value), PyDateTime_TIME_GET_MINUTE(value),
                 PyDateTime_TIME_GET_SECOND(value), PyDateTime_TIME_GET_MICROSECOND(value));
}

Result<std::optional<Uuid>> exact_uuid(PyObject* value) {
  ZB_TRY(PyObject * type, uuid_type());
  if (reinterpret_cast<PyObject*>(Py_TYPE(value)) != type) return std::optional<Uuid>{};
  static PyObject* int_name = PyUnicode_InternFromString("int");
  if (!int_name) return python_error();
  PyObject* number = nullptr;
  if (PyObject_GetOptionalAttr(value, int_name, &number) < 0) {
    PyErr_Clear();
    return std::optional<Uuid>{};
  }
  Object holder = Object::steal(number);
  if (!number || !PyLong_CheckExact(number)) return std::optional<Uuid>{};
  Uuid out;
  Py_ssize_t needed = PyLong_AsNativeBytes(number, out.bytes.data(), 16,
                                           Py_ASNATIVEBYTES_BIG_ENDIAN | Py_ASNATIVEBYTES_UNSIGNED_BUFFER |
                                               Py_ASNATIVEBYTES_REJECT_NEGATIVE);
  if (needed < 0) {
    PyErr_Clear();
    return std::optional<Uuid>{};
  }
  if (needed > 16) return std::optional<Uuid>{};
  return std::optional<Uuid>(out);
}

bool write_exact_isoformat(PyObject* value, Buffer& out) {
  if (!datetime_api_ready()) return false;
  if (PyDateTime_CheckExact(value)) {
    PyObject* tz = PyDateTime_DATE_GET_TZINFO(value);
    if (tz != Py_None && !is_utc(tz)) return false;
    int year = PyDateTime_GET_YEAR(value);
    write_date(out, year, PyDateTime_GET_MONTH(value), PyDateTime_GET_DAY(value));
    out.push_back('T');
    write_time(out, PyDateTime_DATE_GET_HOUR(value), PyDateTime_DATE_GET_MINUTE(value),
               PyDateTime_DATE_GET_SECOND(value), PyDateTime_DATE_GET_MICROSECOND(value));
    if (tz != Py_None) out.append("+00:00");
    return true;
  }
  if (PyDate_CheckExact(value)) {
    write_date(out, PyDateTime_GET_YEAR(value), PyDateTime_GET_MONTH(value), PyDateTime_GET_DAY(value));
    return true;
  }
  if (PyTime_CheckExact(value) && PyDateTime_TIME_GET_TZINFO(value) == Py_None) {
    write_time(out, PyDateTime_TIME_GET_HOUR(value), PyDateTime_TIME_GET_MINUTE(value),
               PyDateTime_TIME_GET_SECOND(value), PyDateTime_TIME_GET_MICROSECOND(value));
    return true;
  }
  return false;
}

Result<Object> plain_json_copy(PyObject* value) {
  bool plain = true;
  ZB_TRY(Object out, walk_plain<true>(value, 0, plain));
  if (!plain) return Object();
  return out;
}

Result<std::optional<JsonShape>> plain_json_shape(PyObject* value) {
  bool plain = true;
  ZB_TRY(Object ignored, walk_plain<false>(value, 0, plain));
  if (!plain) return std::optional<JsonShape>{};
  if (PyDict_CheckExact(value)) return std::optional<JsonShape>(JsonShape::Object);
  if (PyList_CheckExact(value) || PyTuple_CheckExact(value)) return std::optional<JsonShape>(JsonShape::Array);
  return std::optional<JsonShape>(JsonShape::Scalar);
}

}  // namespace zembra::py
