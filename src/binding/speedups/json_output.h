// The output of the JSON encoders: one growing buffer that every writer
// appends to, made into a bytes object once the whole text is written.
#pragma once

#include <cmath>
#include <memory>

#include "binding/core/error.h"
#include "pure/common/buffer.h"
#include "pure/json_writer/json_text.h"

namespace zembra::py {

// write_str_object's case of a str that is not ASCII.
bool write_wide_str_object(PyObject* text, Buffer& out);

// Writes a str object (a subclass too: its own code points, as the json
// module reads them) as a JSON string. True when it holds a surrogate.
inline bool write_str_object(PyObject* text, Buffer& out) {
  if (!PyUnicode_IS_ASCII(text)) return write_wide_str_object(text, out);
  json::write_string(std::string_view(static_cast<const char*>(PyUnicode_DATA(text)),
                                      static_cast<std::size_t>(PyUnicode_GET_LENGTH(text))),
                     out);
  return false;
}

// Makes room at once for count - 1 more items about as long as the first
// (a little more), instead of growing the buffer step by step.
void reserve_like_first(Buffer& out, std::size_t first_size, Py_ssize_t count);

// An int within 64 bits, a finite float, None, True or False, written as
// json.dumps writes it without running any Python code; false (nothing
// written) for any other value, which the caller takes its own way.
inline bool write_plain_number(PyObject* value, Buffer& out) {
  PyTypeObject* type = Py_TYPE(value);
  if (type == &PyLong_Type) {
    auto* number = reinterpret_cast<PyLongObject*>(value);
    if (PyUnstable_Long_IsCompact(number)) {
      json::write_int(PyUnstable_Long_CompactValue(number), out);
      return true;
    }
    int overflow = 0;
    long long v = PyLong_AsLongLongAndOverflow(value, &overflow);
    if (overflow) return false;  // beyond 64 bits: the int's own repr
    json::write_int(v, out);
    return true;
  }
  if (type == &PyFloat_Type) {
    double v = PyFloat_AS_DOUBLE(value);
    if (!std::isfinite(v)) return false;
    json::write_float_repr(v, out);
    return true;
  }
  if (value == Py_None) {
    out.append("null");
    return true;
  }
  if (type == &PyBool_Type) {
    out.append(value == Py_True ? "true" : "false");
    return true;
  }
  return false;
}

class JsonOutput {
 public:
  // Takes the calling thread's spare buffer when it is free: its pages are
  // already in place, which spares a large text most of its page faults.
  JsonOutput();
  // Gives the buffer back, unless it grew beyond what a thread keeps.
  ~JsonOutput();
  JsonOutput(const JsonOutput&) = delete;
  JsonOutput& operator=(const JsonOutput&) = delete;

  Buffer& buffer() { return *buffer_; }
  // Records that the text holds a surrogate written by write_str_object.
  void note_surrogates(bool any) { surrogates_ |= any; }

  // The text as bytes. A text with surrogates has no UTF-8 form: it is
  // decoded back into the str the json module would have returned, and the
  // codec's own UnicodeEncodeError for that str is raised.
  Result<Object> finish() const;

 private:
  std::unique_ptr<Buffer> buffer_;
  bool surrogates_ = false;
};

}  // namespace zembra::py
