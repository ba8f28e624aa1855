// One column value of the model layer, in its JSON-ready Python form or
// written as JSON text.
//
// Both forms go through the same conversion, so the bytes route writes
// exactly what encode_json() writes for the dict route's value. Values are
// present and not None (the callers write null for None).
#pragma once

#include "binding/core/error.h"
#include "pure/common/buffer.h"
#include "binding/speedups/column_layout.h"
#include "binding/speedups/json_output.h"
#include "binding/speedups/value_writer.h"

namespace zembra::py {

class ColumnValues {
 public:
  // output: where JSON text goes; null for a writer of Python forms only.
  explicit ColumnValues(JsonOutput* output);

  // For a to-many column, value is the instance; with keys_given (rows of
  // the queryset route) it is already an iterable of the keys.
  Result<Object> to_python(PyObject* value, const Column& column, bool keys_given = false);
  Status to_json(PyObject* value, const Column& column, Buffer& out, bool keys_given = false);

 private:
  // The kinds whose form is text: that text, unquoted, in scratch_.
  Status text_form(PyObject* value, ColumnKind kind, const django::FieldDescriptor& descriptor, int places,
                   bool iso);
  // The kinds whose form is the (coerced) value itself.
  Result<Object> plain_form(PyObject* value, ColumnKind kind);
  // A to-many column's keys as a list (a new one, or the callback's
  // answer); keys are converted by the item kind.
  Result<Object> many_keys(PyObject* instance, const Column& column);
  Result<Object> item_to_python(PyObject* value, const Column& column);
  Status item_to_json(PyObject* value, const Column& column, Buffer& out);
  Status write_plain(PyObject* value, Buffer& out);
  // represent(value) of the column, when it has one and value is not of
  // its kind's own type; empty otherwise.
  Result<Object> represented(PyObject* value, const Column& column);
  // The same after the kind's own conversion failed: the failure is dropped
  // when the column has a represent callable (a Python exception only when
  // it is an ordinary Exception), else returned.
  Result<Object> represented_after_error(PyObject* value, const Column& column, Status failed);

  JsonOutput* output_;
  Buffer scratch_;

 public:
  // The callback for to-many columns that were not prefetched.
  PyObject* missing = nullptr;
  // The values are a cursor's, cooked by the raw readers (decimals and
  // UUIDs of SQLite as their text).
  bool cooked_rows = false;
};

// True for the kinds written as text.
constexpr bool is_text_kind(ColumnKind kind) {
  switch (kind) {
    case ColumnKind::Decimal:
    case ColumnKind::Date:
    case ColumnKind::Time:
    case ColumnKind::DateTime:
    case ColumnKind::Uuid:
    case ColumnKind::Bytes:
    case ColumnKind::Duration:
      return true;
    default:
      return false;
  }
}

}  // namespace zembra::py
