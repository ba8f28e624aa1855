#include "binding/speedups/value_writer.h"

#include <cmath>

#include "binding/core/datetime_api.h"
#include "binding/core/imports.h"
#include "binding/core/known_objects.h"
#include "binding/core/read_value.h"
#include "pure/text/decimal.h"
#include "pure/text/uuid.h"
#include "pure/json_writer/json_text.h"
#include "pure/json_writer/typed_values.h"

namespace zembra::py {
namespace {

constexpr const char* kDepthWhere = " while encoding a JSON object";
// Interpreters that measure recursion by the C stack never refuse our levels
// (they do not use the C stack), so a fixed limit stands in for them.
constexpr std::size_t kMaxLevels = 100000;

Unexpected<PythonRaised> value_error(const char* message) {
  PyErr_SetString(PyExc_ValueError, message);
  return python_error();
}

// JSONEncoder.default's error, worded from the object's __class__.__name__.
Unexpected<PythonRaised> not_serializable(PyObject* value) {
  PyObject* cls = PyObject_GetAttrString(value, "__class__");
  if (!cls) return python_error();
  Object cls_holder = Object::steal(cls);
  PyObject* name = PyObject_GetAttrString(cls, "__name__");
  if (!name) return python_error();
  Object name_holder = Object::steal(name);
  PyErr_Format(PyExc_TypeError, "Object of type %S is not JSON serializable", name);
  return python_error();
}

Unexpected<PythonRaised> typed_form_error(const char* kind, const std::string& detail) {
  PyErr_Format(PyExc_TypeError, "cannot encode %s value: %s", kind, detail.c_str());
  return python_error();
}

}  // namespace

Status ValueWriter::write_tree(PyObject* value) {
  Status status = run(value);
  while (!stack_.empty()) pop();  // levels left open by a failure
  return status;
}

void ValueWriter::push(Frame frame) {
  if (stack_.size() >= kScannedLevels) deep_containers_.insert(frame.container.get());
  stack_.push_back(std::move(frame));
}

void ValueWriter::pop() {
  if (stack_.size() > kScannedLevels) deep_containers_.erase(stack_.back().container.get());
  stack_.pop_back();
  Py_LeaveRecursiveCall();
}

Status ValueWriter::run(PyObject* root) {
  Buffer& out = out_.buffer();
  ZB_CHECK_OK(begin(root));
  while (!stack_.empty()) {
    Frame& frame = stack_.back();
    switch (frame.kind) {
      case FrameKind::Sequence: {
        // The size is read on every step: writing an item may run code
        // that changes the list, as it may for the json module.
        PyObject* seq = frame.sequence.get();
        bool back_to_top = false;  // left for the frame now on top
        while (frame.next < PySequence_Fast_GET_SIZE(seq)) {
          if (frame.next) out.push_back(',');
          PyObject* raw = PySequence_Fast_GET_ITEM(seq, frame.next);
          ++frame.next;
          // Plain scalars run no code, so the list cannot change meanwhile.
          if (write_plain_scalar(raw)) continue;
          Object item = Object::borrow(raw);
          ZB_CHECK_OK(begin(item.get()));  // may push: frame is not used after this
          back_to_top = true;
          break;
        }
        if (back_to_top) continue;
        out.push_back(']');
        break;
      }
      case FrameKind::Dict: {
        PyObject* raw_key;
        PyObject* raw_value;
        bool back_to_top = false;  // left for the frame now on top
        while (PyDict_Next(frame.container.get(), &frame.next, &raw_key, &raw_value)) {
          if (frame.wrote) out.push_back(',');
          frame.wrote = true;
          // An exact str key with a plain scalar runs no code either.
          if (Py_TYPE(raw_key) == &PyUnicode_Type) {
            out_.note_surrogates(write_str_object(raw_key, out));
            out.push_back(':');
            if (write_plain_scalar(raw_value)) continue;
            Object value = Object::borrow(raw_value);
            ZB_CHECK_OK(begin(value.get()));
            back_to_top = true;
            break;
          }
          Object key = Object::borrow(raw_key);
          Object value = Object::borrow(raw_value);
          ZB_CHECK_OK(write_key(key.get()));
          out.push_back(':');
          ZB_CHECK_OK(begin(value.get()));
          back_to_top = true;
          break;
        }
        if (back_to_top) continue;
        out.push_back('}');
        break;
      }
      case FrameKind::Items: {
        PyObject* items = frame.sequence.get();
        if (frame.next < PyList_GET_SIZE(items)) {
          Object item = Object::borrow(PyList_GET_ITEM(items, frame.next));
          if (!PyTuple_Check(item.get()) || PyTuple_GET_SIZE(item.get()) != 2) {
            return value_error("items must return 2-tuples");
          }
          if (frame.next) out.push_back(',');
          ++frame.next;
          ZB_CHECK_OK(write_key(PyTuple_GET_ITEM(item.get(), 0)));
          out.push_back(':');
          ZB_CHECK_OK(begin(PyTuple_GET_ITEM(item.get(), 1)));
          continue;
        }
        out.push_back('}');
        break;
      }
    }
    pop();
  }
  return {};
}

Status ValueWriter::begin(PyObject* value) {
  Buffer& out = out_.buffer();
  PyTypeObject* type = Py_TYPE(value);
  // The exact types first (the common case), then the json module's order,
  // which also admits subclasses.
  if (type == &PyUnicode_Type) {
    out_.note_surrogates(write_str_object(value, out));
    return {};
  }
  if (type == &PyLong_Type) return write_long(value);
  if (type == &PyFloat_Type) return write_float(value);
  if (value == Py_None) {
    out.append("null");
    return {};
  }
  if (value == Py_True || value == Py_False) {
    out.append(value == Py_True ? "true" : "false");
    return {};
  }
  if (type == &PyList_Type || type == &PyTuple_Type) {
    if (write_plain_container(value)) return {};
    return open_sequence(value);
  }
  if (type == &PyDict_Type) {
    if (write_plain_container(value)) return {};
    return open_dict(value);
  }
  if (PyUnicode_Check(value)) {
    out_.note_surrogates(write_str_object(value, out));
    return {};
  }
  if (PyLong_Check(value)) return write_long(value);
  if (PyFloat_Check(value)) return write_float(value);
  if (PyList_Check(value) || PyTuple_Check(value)) return open_sequence(value);
  if (PyDict_Check(value)) return open_dict(value);
  if (typed_forms_) {
    ZB_TRY(bool written, write_typed(value));
    if (written) return {};
  }
  return not_serializable(value);
}

bool ValueWriter::write_plain_container(PyObject* value) {
  Buffer& out = out_.buffer();
  std::size_t start = out.size();
  if (write_plain_level(value, 0)) return true;
  out.truncate(start);
  return false;
}

bool ValueWriter::write_plain_level(PyObject* value, int level) {
  PyTypeObject* type = Py_TYPE(value);
  bool is_dict = type == &PyDict_Type;
  if (!is_dict && type != &PyList_Type && type != &PyTuple_Type) return false;
  // A container nested in itself fails here, and the frames' walk reports it.
  if (level >= kPlainLevels) return false;
  if (Py_EnterRecursiveCall(kDepthWhere)) {
    PyErr_Clear();  // the frames' walk meets the same limit and raises it
    return false;
  }
  Buffer& out = out_.buffer();
  bool plain = true;
  if (!is_dict) {
    Py_ssize_t n = PySequence_Fast_GET_SIZE(value);
    PyObject** items = PySequence_Fast_ITEMS(value);
    out.push_back('[');
    for (Py_ssize_t i = 0; i < n && plain; ++i) {
      if (i) out.push_back(',');
      plain = write_plain_scalar(items[i]) || write_plain_level(items[i], level + 1);
    }
    out.push_back(']');
  } else {
    Py_ssize_t pos = 0;
    PyObject* key;
    PyObject* item;
    out.push_back('{');
    bool first = true;
    while (plain && PyDict_Next(value, &pos, &key, &item)) {
      if (Py_TYPE(key) != &PyUnicode_Type) {
        plain = false;
        break;
      }
      if (!first) out.push_back(',');
      first = false;
      out_.note_surrogates(write_str_object(key, out));
      out.push_back(':');
      plain = write_plain_scalar(item) || write_plain_level(item, level + 1);
    }
    out.push_back('}');
  }
  Py_LeaveRecursiveCall();
  return plain;
}

Status ValueWriter::write_long(PyObject* value) {
  Buffer& out = out_.buffer();
  int overflow = 0;
  long long v = PyLong_AsLongLongAndOverflow(value, &overflow);
  if (!overflow) {
    if (v == -1 && PyErr_Occurred()) return python_error();
    json::write_int(v, out);
    return {};
  }
  if (overflow > 0) {
    unsigned long long u = PyLong_AsUnsignedLongLong(value);
    if (!(u == static_cast<unsigned long long>(-1) && PyErr_Occurred())) {
      json::write_uint(u, out);
      return {};
    }
    PyErr_Clear();
  }
  // The int type's own repr, as the json module writes any int (its limit
  // on the number of digits included).
  ZB_TRY(Object text, checked(PyLong_Type.tp_repr(value)));
  Py_ssize_t size = 0;
  const char* digits = PyUnicode_AsUTF8AndSize(text.get(), &size);
  if (!digits) return python_error();
  out.append(std::string_view(digits, static_cast<std::size_t>(size)));
  return {};
}

Status ValueWriter::write_float(PyObject* value) {
  double v = PyFloat_AS_DOUBLE(value);
  if (!std::isfinite(v)) {
    PyErr_Format(PyExc_ValueError, "Out of range float values are not JSON compliant: %R", value);
    return python_error();
  }
  json::write_float_repr(v, out_.buffer());
  return {};
}

Status ValueWriter::write_key(PyObject* key) {
  Buffer& out = out_.buffer();
  if (PyUnicode_Check(key)) {
    out_.note_surrogates(write_str_object(key, out));
    return {};
  }
  if (PyFloat_Check(key)) {
    out.push_back('"');
    ZB_CHECK_OK(write_float(key));
    out.push_back('"');
    return {};
  }
  if (key == Py_True || key == Py_False || key == Py_None) {
    out.append(key == Py_True ? "\"true\"" : key == Py_False ? "\"false\"" : "\"null\"");
    return {};
  }
  if (PyLong_Check(key)) {
    out.push_back('"');
    ZB_CHECK_OK(write_long(key));
    out.push_back('"');
    return {};
  }
  PyErr_Format(PyExc_TypeError, "keys must be str, int, float, bool or None, not %.100s", Py_TYPE(key)->tp_name);
  return python_error();
}

Status ValueWriter::enter_level() {
  if (stack_.size() >= kMaxLevels) {
    PyErr_Format(PyExc_RecursionError, "maximum recursion depth exceeded%s", kDepthWhere);
    return python_error();
  }
  if (Py_EnterRecursiveCall(kDepthWhere)) return python_error();
  return {};
}

bool ValueWriter::on_stack(PyObject* container) const {
  std::size_t scanned = stack_.size() < kScannedLevels ? stack_.size() : kScannedLevels;
  for (std::size_t i = 0; i < scanned; ++i)
    if (stack_[i].container.get() == container) return true;
  return stack_.size() > kScannedLevels && deep_containers_.count(container) != 0;
}

// Each level is entered before the container is looked at and left when it
// is done, as the json module does; an empty container is written at once.
Status ValueWriter::open_sequence(PyObject* value) {
  Buffer& out = out_.buffer();
  ZB_CHECK_OK(enter_level());
  Object seq;
  if (PyList_CheckExact(value) || PyTuple_CheckExact(value)) {
    seq = Object::borrow(value);
  } else {
    // A subclass is read through its iterator, as the json module does.
    seq = Object::steal(PySequence_Fast(value, "_iterencode_list needs a sequence"));
    if (!seq) {
      Py_LeaveRecursiveCall();
      return python_error();
    }
  }
  if (PySequence_Fast_GET_SIZE(seq.get()) == 0) {
    Py_LeaveRecursiveCall();
    out.append("[]");
    return {};
  }
  if (on_stack(value)) {
    Py_LeaveRecursiveCall();
    return value_error("Circular reference detected");
  }
  push(Frame{Object::borrow(value), std::move(seq), 0, FrameKind::Sequence, false});
  out.push_back('[');
  return {};
}

Status ValueWriter::open_dict(PyObject* value) {
  Buffer& out = out_.buffer();
  ZB_CHECK_OK(enter_level());
  if (PyDict_GET_SIZE(value) == 0) {
    Py_LeaveRecursiveCall();
    out.append("{}");
    return {};
  }
  if (on_stack(value)) {
    Py_LeaveRecursiveCall();
    return value_error("Circular reference detected");
  }
  Frame frame{Object::borrow(value), Object(), 0, FrameKind::Dict, false};
  if (!PyDict_CheckExact(value)) {
    // A subclass is read through its items(), as the json module does.
    frame.sequence = Object::steal(PyMapping_Items(value));
    if (!frame.sequence) {
      Py_LeaveRecursiveCall();
      return python_error();
    }
    frame.kind = FrameKind::Items;
  }
  push(std::move(frame));
  out.push_back('{');
  return {};
}

Result<bool> ValueWriter::write_typed(PyObject* value) {
  Buffer& out = out_.buffer();
  if (datetime_api_ready()) {
    if (PyDateTime_Check(value)) {
      DateTimeFields fields;
      ZB_TRY(bool exact, exact_datetime(value, fields));
      if (exact) {
        auto utc = fields.utc();
        if (!utc) return typed_form_error("datetime", "could not parse: " + std::string(text::message(utc.error())));
        json::write_datetime(*utc, out);
        return true;
      }
      Object holder;
      ZB_TRY(std::string_view text, isoformat_of(value, holder));
      auto parsed = parse_datetime_attempts(text);
      if (!parsed) return typed_form_error("datetime", "could not parse: " + std::string(text::message(parsed.error())));
      json::write_datetime(*parsed, out);
      return true;
    }
    if (PyDate_Check(value)) {
      if (auto known = exact_date(value)) {
        json::write_date(*known, out);
        return true;
      }
      Object holder;
      ZB_TRY(std::string_view text, isoformat_of(value, holder));
      auto parsed = text::parse_date(text, text::DateTimePattern::Date);
      if (!parsed) return typed_form_error("date", "could not parse: " + std::string(text::message(parsed.error())));
      json::write_date(*parsed, out);
      return true;
    }
    if (PyTime_Check(value)) {
      if (auto known = exact_time(value)) {
        json::write_time(*known, out);
        return true;
      }
      Object holder;
      ZB_TRY(std::string_view text, isoformat_of(value, holder));
      auto parsed = parse_time_attempts(text);
      if (!parsed) return typed_form_error("time", "could not parse: " + std::string(text::message(parsed.error())));
      json::write_time(*parsed, out);
      return true;
    }
  }
  if (PyBytes_Check(value)) {
    json::write_base64(std::string_view(PyBytes_AS_STRING(value), static_cast<std::size_t>(PyBytes_GET_SIZE(value))),
                       out);
    return true;
  }
  if (PyByteArray_Check(value)) {
    json::write_base64(
        std::string_view(PyByteArray_AS_STRING(value), static_cast<std::size_t>(PyByteArray_GET_SIZE(value))), out);
    return true;
  }
  ZB_TRY(PyObject * decimal_cls, decimal_type());
  if (PyObject_TypeCheck(value, reinterpret_cast<PyTypeObject*>(decimal_cls))) {
    ZB_TRY(std::string text, decimal_text_of(value));
    auto parsed = text::parse_decimal(text, text::DecimalMode::Exact);
    if (!parsed) return typed_form_error("Decimal", "invalid decimal string: " + std::string(text::message(parsed.error())));
    json::write_decimal(*parsed, out);
    return true;
  }
  ZB_TRY(PyObject * uuid_cls, uuid_type());
  if (PyObject_TypeCheck(value, reinterpret_cast<PyTypeObject*>(uuid_cls))) {
    ZB_TRY(std::optional<Uuid> known, exact_uuid(value));
    if (!known) {
      Object holder;
      ZB_TRY(std::string_view text, str_of(value, holder));
      auto parsed = text::parse_uuid(text);
      if (!parsed) return typed_form_error("UUID", "invalid UUID: " + text::message(parsed.error()));
      known = *parsed;
    }
    json::write_uuid(*known, out);
    return true;
  }
  return false;
}

}  // namespace zembra::py
