#include "binding/speedups/plain_writer.h"

#include <algorithm>
#include <cmath>

#include "binding/core/python_text.h"
#include "pure/text/json.h"
#include "binding/speedups/json_output.h"
#include "pure/json_writer/json_text.h"

namespace zembra::py {

std::vector<PlainJsonWriter::Entry>& PlainJsonWriter::thread_entries() {
  thread_local std::vector<Entry> entries;
  return entries;
}

Result<bool> PlainJsonWriter::write(PyObject* value, Buffer& out) {
  std::size_t start = out.size();
  std::size_t entries_start = entries_.size();
  Result<bool> written = walk(value, 0, out);
  entries_.resize(entries_start);
  if (!written || !*written) out.truncate(start);
  return written;
}

// Nothing in this walk runs Python code (no calls, no allocation of Python
// objects), so the structure cannot change under it and borrowed
// references stay valid.
Result<bool> PlainJsonWriter::walk(PyObject* value, std::size_t depth, Buffer& out) {
  PyTypeObject* type = Py_TYPE(value);
  if (type == &PyUnicode_Type) return !write_str_object(value, out);
  if (write_plain_number(value, out)) return true;
  bool is_list = type == &PyList_Type;
  bool is_tuple = type == &PyTuple_Type;
  bool is_dict = type == &PyDict_Type;
  if (!is_list && !is_tuple && !is_dict) return false;
  if (depth >= text::kJsonMaxDepth) return false;
  if (!is_dict) {
    Py_ssize_t n = is_list ? PyList_GET_SIZE(value) : PyTuple_GET_SIZE(value);
    PyObject** items = PySequence_Fast_ITEMS(value);
    out.push_back('[');
    for (Py_ssize_t i = 0; i < n; ++i) {
      if (i) out.push_back(',');
      ZB_TRY(bool written, walk(items[i], depth + 1, out));
      if (!written) return false;
    }
    out.push_back(']');
    return true;
  }
  std::size_t first = entries_.size();
  Py_ssize_t pos = 0;
  PyObject* key;
  PyObject* item;
  while (PyDict_Next(value, &pos, &key, &item)) {
    if (Py_TYPE(key) != &PyUnicode_Type) return false;
    if (PyUnicode_IS_ASCII(key)) {  // its own text is its UTF-8
      entries_.push_back(Entry{std::string_view(static_cast<const char*>(PyUnicode_DATA(key)),
                                                static_cast<std::size_t>(PyUnicode_GET_LENGTH(key))),
                               item});
      continue;
    }
    if (has_surrogates(key)) return false;
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(key, &size);
    if (!utf8) return python_error();
    entries_.push_back(Entry{std::string_view(utf8, static_cast<std::size_t>(size)), item});
  }
  std::sort(entries_.begin() + static_cast<std::ptrdiff_t>(first), entries_.end(),
            [](const Entry& a, const Entry& b) { return a.key < b.key; });
  std::size_t last = entries_.size();
  out.push_back('{');
  for (std::size_t i = first; i < last; ++i) {
    if (i > first) out.push_back(',');
    // By index: nested dicts append to the same vector.
    json::write_string(entries_[i].key, out);
    out.push_back(':');
    ZB_TRY(bool written, walk(entries_[i].value, depth + 1, out));
    if (!written) return false;
  }
  out.push_back('}');
  entries_.resize(first);
  return true;
}

}  // namespace zembra::py
