#include "zembra/binding/fixed_offset.h"

#include <cstdlib>

#include <datetime.h>

#include "common/buffer.h"
#include "text/datetime.h"

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

void put_digits(char*& p, int value, int width) {
  for (int i = width - 1; i >= 0; --i, value /= 10) p[i] = static_cast<char>('0' + value % 10);
  p += width;
}

}  // namespace

Result<std::optional<DateTime>> FixedOffsetReader::read(PyObject* value) {
  if (!datetime_api_ready() || !PyDateTime_CheckExact(value)) return std::optional<DateTime>{};
  PyObject* zone = PyDateTime_DATE_GET_TZINFO(value);
  if (zone == Py_None || Py_TYPE(zone) != Py_TYPE(PyDateTime_TimeZone_UTC)) return std::optional<DateTime>{};
  if (zone != zone_.get()) {
    static PyObject* name = PyUnicode_InternFromString("utcoffset");
    if (!name) return python_error();
    ZB_TRY(Object offset, checked(PyObject_CallMethodOneArg(zone, name, value)));
    if (!PyDelta_CheckExact(offset.get()) || PyDateTime_DELTA_GET_MICROSECONDS(offset.get()) != 0) {
      return std::optional<DateTime>{};
    }
    int seconds = PyDateTime_DELTA_GET_DAYS(offset.get()) * 86400 + PyDateTime_DELTA_GET_SECONDS(offset.get());
    if (seconds % 60 != 0) return std::optional<DateTime>{};  // isoformat would add seconds the parser refuses
    zone_ = Object::borrow(zone);
    offset_seconds_ = seconds;
  }
  // isoformat()'s text: %04d-%02d-%02dT%02d:%02d:%02d[.%06d]+HH:MM.
  char text[40];
  char* p = text;
  put_digits(p, PyDateTime_GET_YEAR(value), 4);
  *p++ = '-';
  put_digits(p, PyDateTime_GET_MONTH(value), 2);
  *p++ = '-';
  put_digits(p, PyDateTime_GET_DAY(value), 2);
  *p++ = 'T';
  put_digits(p, PyDateTime_DATE_GET_HOUR(value), 2);
  *p++ = ':';
  put_digits(p, PyDateTime_DATE_GET_MINUTE(value), 2);
  *p++ = ':';
  put_digits(p, PyDateTime_DATE_GET_SECOND(value), 2);
  if (int micro = PyDateTime_DATE_GET_MICROSECOND(value)) {
    *p++ = '.';
    put_digits(p, micro, 6);
  }
  *p++ = offset_seconds_ < 0 ? '-' : '+';
  int minutes = std::abs(offset_seconds_) / 60;
  put_digits(p, minutes / 60, 2);
  *p++ = ':';
  put_digits(p, minutes % 60, 2);
  auto parsed = text::parse_rfc3339(std::string_view(text, static_cast<std::size_t>(p - text)));
  if (!parsed) return std::optional<DateTime>{};
  return std::optional<DateTime>(*parsed);
}

}  // namespace zembra::py
