// plain_json_copy and plain_json_shape (declared in known_objects.h): JSON
// values made only of the interpreter's exact types, copied or measured
// without the json.dumps text in between.
#include <algorithm>
#include <cmath>
#include <string_view>
#include <vector>

#include "binding/core/frame.h"
#include "binding/core/known_objects.h"
#include "binding/core/python_text.h"
#include "binding/core/to_python.h"
#include "pure/text/json.h"

namespace zembra::py {
namespace {

constexpr std::size_t kMaxJsonDepth = text::kJsonMaxDepth;


// One entry of a dict being copied.
struct Entry {
  std::string_view key_utf8;
  Object key;
  Object value;
};

// Whether a leaf (anything but a list, tuple or dict) is a plain JSON value:
// None, bool, exact str without lone surrogates, exact int within 64 bits
// (larger ones are left to the general path), finite exact float.
bool plain_leaf(PyObject* value, PyTypeObject* type) {
  if (type == &PyUnicode_Type) return PyUnicode_IS_ASCII(value) || !has_surrogates(value);
  if (type == &PyLong_Type) {
    int overflow = 0;
    PyLong_AsLongLongAndOverflow(value, &overflow);
    return !overflow;
  }
  if (type == &PyFloat_Type) return std::isfinite(PyFloat_AS_DOUBLE(value));
  return value == Py_None || type == &PyBool_Type;
}

// Whether a whole structure is plain. It only reads: nothing allocates and
// no Python code runs, so nothing needs holding.
bool plain_structure(PyObject* value, std::size_t depth) {
  PyTypeObject* type = Py_TYPE(value);
  bool is_list = type == &PyList_Type;
  if (!is_list && type != &PyTuple_Type && type != &PyDict_Type) return plain_leaf(value, type);
  if (depth >= kMaxJsonDepth) return false;
  if (type == &PyDict_Type) {
    Py_ssize_t pos = 0;
    PyObject* key;
    PyObject* item;
    while (PyDict_Next(value, &pos, &key, &item)) {
      if (Py_TYPE(key) != &PyUnicode_Type || (!PyUnicode_IS_ASCII(key) && has_surrogates(key))) return false;
      if (!plain_structure(item, depth + 1)) return false;
    }
    return true;
  }
  Py_ssize_t n = is_list ? PyList_GET_SIZE(value) : PyTuple_GET_SIZE(value);
  for (Py_ssize_t i = 0; i < n; ++i) {
    if (!plain_structure(is_list ? PyList_GET_ITEM(value, i) : PyTuple_GET_ITEM(value, i), depth + 1)) return false;
  }
  return true;
}

// Copies a structure made only of plain JSON values; stops with plain =
// false (no exception) at anything else.
//
// The entries of the dicts being copied share one stack: a dict pushes its
// entries above those of the dicts that contain it and pops them when done,
// so a whole walk allocates at most a few times, and a walk over data seen
// before not at all.
class PlainWalk {
 public:
  explicit PlainWalk(std::vector<Entry>& entries) : entries_(&entries) {}

  bool plain() const { return plain_; }

  Result<Object> value(PyObject* value, std::size_t depth) {
    PyTypeObject* type = Py_TYPE(value);
    bool is_list = type == &PyList_Type;
    if (!is_list && type != &PyTuple_Type && type != &PyDict_Type) {
      if (!plain_leaf(value, type)) return refuse();
      return Object::borrow(value);
    }
    if (depth >= kMaxJsonDepth) return refuse();
    ZB_CHECK_OK(check_stack());
    if (type == &PyDict_Type) return dict(value, depth);
    return sequence(value, is_list, depth);
  }

 private:
  Result<Object> refuse() {
    plain_ = false;
    return Object();
  }

  Result<Object> sequence(PyObject* value, bool is_list, std::size_t depth) {
    Py_ssize_t n = is_list ? PyList_GET_SIZE(value) : PyTuple_GET_SIZE(value);
    ZB_TRY(Object out, checked(PyList_New(n)));
    for (Py_ssize_t i = 0; i < n; ++i) {
      // Allocations may run the garbage collector, and with it finalizers
      // that change the list: re-check its size and hold each item.
      if (is_list && i >= PyList_GET_SIZE(value)) return refuse();
      Object item = Object::borrow(is_list ? PyList_GET_ITEM(value, i) : PyTuple_GET_ITEM(value, i));
      ZB_TRY(Object copy, this->value(item.get(), depth + 1));
      if (!plain_) return Object();
      PyList_SET_ITEM(out.get(), i, copy.release());
    }
    return out;
  }

  Result<Object> dict(PyObject* value, std::size_t depth) {
    const std::size_t base = entries_->size();
    // Pops this dict's entries however the walk ends.
    struct Pop {
      std::vector<Entry>* entries;
      std::size_t base;
      ~Pop() { entries->resize(base); }
    } pop{entries_, base};

    Py_ssize_t pos = 0;
    PyObject* raw_key;
    PyObject* raw_item;
    Py_ssize_t size_at_start = PyDict_GET_SIZE(value);
    bool ordered = true;  // keys met in ascending byte order so far
    bool changed = false;  // a value whose copy is a new object
    while (PyDict_Next(value, &pos, &raw_key, &raw_item)) {
      Object key = Object::borrow(raw_key);
      Object item = Object::borrow(raw_item);
      if (Py_TYPE(key.get()) != &PyUnicode_Type || (!PyUnicode_IS_ASCII(key.get()) && has_surrogates(key.get()))) {
        return refuse();
      }
      ZB_TRY(Object copy, this->value(item.get(), depth + 1));
      if (!plain_ || PyDict_GET_SIZE(value) != size_at_start) return refuse();
      Py_ssize_t size = 0;
      const char* utf8 = PyUnicode_AsUTF8AndSize(key.get(), &size);
      if (!utf8) return python_error();
      std::string_view key_utf8(utf8, static_cast<std::size_t>(size));
      if (entries_->size() > base && !(entries_->back().key_utf8 < key_utf8)) ordered = false;
      changed = changed || copy.get() != item.get();
      entries_->push_back(Entry{key_utf8, std::move(key), std::move(copy)});
    }
    auto first = entries_->begin() + static_cast<std::ptrdiff_t>(base);
    if (!ordered) {
      std::sort(first, entries_->end(), [](const Entry& a, const Entry& b) { return a.key_utf8 < b.key_utf8; });
    }
    Object out;
    if (ordered && !changed) {
      // Already the result: one copy of the table, sized at once.
      ZB_TRY(out, checked(PyDict_Copy(value)));
    } else {
      ZB_TRY(out, checked(PyDict_New()));
      for (auto e = first; e != entries_->end(); ++e) {
        ZB_CHECK_OK(checked_status(PyDict_SetItem(out.get(), e->key.get(), e->value.get())));
      }
    }
    bool atomic = true;
    for (auto e = first; e != entries_->end() && atomic; ++e) atomic = !may_be_tracked(e->value.get());
    if (atomic) PyObject_GC_UnTrack(out.get());  // as build_record_dict does
    return out;
  }

  std::vector<Entry>* entries_;
  bool plain_ = true;
};

}  // namespace

Result<Object> plain_json_copy(PyObject* value) {
  // Kept for the thread, emptied after every walk.
  thread_local std::vector<Entry> entries;
  PlainWalk walk(entries);
  ZB_TRY(Object out, walk.value(value, 0));
  if (!walk.plain()) return Object();
  return out;
}

Result<std::optional<JsonShape>> plain_json_shape(PyObject* value) {
  if (!plain_structure(value, 0)) return std::optional<JsonShape>{};
  if (PyDict_CheckExact(value)) return std::optional<JsonShape>(JsonShape::Object);
  if (PyList_CheckExact(value) || PyTuple_CheckExact(value)) return std::optional<JsonShape>(JsonShape::Array);
  return std::optional<JsonShape>(JsonShape::Scalar);
}

}  // namespace zembra::py
