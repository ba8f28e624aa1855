// How the JSON encoders of query rows lay records out: the whole array, the
// records joined by "," without brackets (one chunk of an array a caller
// writes batch by batch), or each record followed by "\n" (newline-delimited
// JSON). Shared by the SQLite/psycopg-rows entry and the libpq-result entry.
#pragma once

#include <cstdint>

#include "binding/core/error.h"
#include "pure/common/buffer.h"

namespace zembra::py {

enum class RecordsForm : std::uint8_t { Array = 0, Joined = 1, Lines = 2 };

// The form argument: 0, 1 or 2; nullptr (not given) is the array.
inline Result<RecordsForm> records_form(PyObject* obj) {
  if (obj == nullptr) return RecordsForm::Array;
  long v = PyLong_Check(obj) ? PyLong_AsLong(obj) : -1;
  if (v == -1 && PyErr_Occurred()) return python_error();
  if (v < 0 || v > 2) {
    PyErr_SetString(PyExc_ValueError, "form must be 0 (array), 1 (joined by ',') or 2 (one record a line)");
    return python_error();
  }
  return static_cast<RecordsForm>(v);
}

// Writes what goes before the first record / between records / after one
// record / after the last record.
inline void open_records(RecordsForm form, Buffer& out) {
  if (form == RecordsForm::Array) out.push_back('[');
}
inline void before_record(RecordsForm form, bool first, Buffer& out) {
  if (!first && form != RecordsForm::Lines) out.push_back(',');
}
inline void after_record(RecordsForm form, Buffer& out) {
  if (form == RecordsForm::Lines) out.push_back('\n');
}
inline void close_records(RecordsForm form, Buffer& out) {
  if (form == RecordsForm::Array) out.push_back(']');
}

}  // namespace zembra::py
