// Python values written as json.dumps(value, ensure_ascii=False,
// separators=(",", ":"), allow_nan=False) writes them, with its errors: the
// same checks in the same order (non-finite floats, keys that are not str,
// int, float, bool or None, circular references, objects it cannot encode,
// nesting beyond the interpreter's recursion limit). Lists and dicts are
// walked with a stack of our own, so deep nesting never deepens the C stack.
#pragma once

#include <cmath>
#include <unordered_set>
#include <vector>

#include "binding/core/error.h"
#include "binding/speedups/json_output.h"
#include "pure/json_writer/json_text.h"

namespace zembra::py {

class ValueWriter {
 public:
  // With typed_forms, Decimal, UUID, datetime, date, time, bytes and
  // bytearray values (where json.dumps would call its default) are written
  // in the typed route's text forms.
  ValueWriter(JsonOutput& out, bool typed_forms) : out_(out), typed_forms_(typed_forms) {}

  // On failure the buffer holds a partial text that the caller drops.
  Status write(PyObject* value) {
    if (write_plain_scalar(value)) return {};
    return write_tree(value);
  }
  // An exact str, an int, a finite float, None, True or False, written
  // without running any Python code; false (nothing written) for anything
  // else, which write() then takes with the json module's full rules.
  bool write_plain_scalar(PyObject* value) {
    PyTypeObject* type = Py_TYPE(value);
    Buffer& out = out_.buffer();
    if (type == &PyUnicode_Type) {
      out_.note_surrogates(write_str_object(value, out));
      return true;
    }
    return write_plain_number(value, out);
  }
  // A dict key as the json module writes it: str, or int, float, bool and
  // None as text; other keys fail.
  Status write_key(PyObject* key);

 private:
  enum class FrameKind : std::uint8_t { Sequence, Dict, Items };
  struct Frame {
    Object container;  // the list, tuple or dict being written
    Object sequence;   // Sequence: its items as a list or tuple; Items: items() as a list
    Py_ssize_t next = 0;
    FrameKind kind = FrameKind::Sequence;
    bool wrote = false;
  };

  Status write_tree(PyObject* value);
  // An exact list, tuple or dict (str keys) holding only plain scalars and
  // such containers, at most kPlainLevels deep, written in one go: nothing
  // in it runs code, so it cannot change meanwhile, and each level is
  // entered as the json module enters it. False, with nothing written, for
  // anything else, which then takes the frames' walk from the start.
  bool write_plain_container(PyObject* value);
  bool write_plain_level(PyObject* value, int level);
  static constexpr int kPlainLevels = 8;
  Status run(PyObject* root);
  Status begin(PyObject* value);
  Status write_long(PyObject* value);
  Status write_float(PyObject* value);
  Status open_sequence(PyObject* value);
  Status open_dict(PyObject* value);
  Status enter_level();
  bool on_stack(PyObject* container) const;
  void push(Frame frame);
  void pop();
  Result<bool> write_typed(PyObject* value);

  JsonOutput& out_;
  bool typed_forms_;
  std::vector<Frame> stack_;
  // The containers of the frames beyond the first kScannedLevels, which are
  // scanned one by one: deep nesting keeps the circularity check linear.
  static constexpr std::size_t kScannedLevels = 32;
  std::unordered_set<PyObject*> deep_containers_;
};

}  // namespace zembra::py
