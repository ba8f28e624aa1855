// Typed values to JSON-compatible Python objects (the typed route).
#pragma once

#include <span>
#include <string_view>

#include "binding/core/error.h"
#include "pure/model/field_value.h"
#include "pure/model/json_value.h"

namespace zembra::py {

// A fresh Python object for a JSON tree: None, bool, int (exact at any
// size), float, str, list, dict with keys in ascending byte order.
Result<Object> json_to_python(const JsonValue& tree);

// The JSON-compatible form of one field value: decimals, dates, times,
// datetimes (UTC, "+00:00") and UUIDs as text, bytes as Base64 text. A
// non-finite float fails with the serialization error for field_name.
Result<Object> field_value_to_python(std::string_view field_name, const FieldValue& value);

// Whether a dict holding value must stay tracked by the garbage collector,
// by the interpreter's own rule: any value of a collected type counts (an
// untracked dict or list may become part of a cycle later), except a tuple
// the collector has already untracked.
inline bool may_be_tracked(PyObject* value) {
  return PyObject_IS_GC(value) && (!PyTuple_CheckExact(value) || PyObject_GC_IsTracked(value));
}

// Stops the garbage collector from tracking a dict none of whose values
// may be tracked.
void untrack_if_atomic(PyObject* dict);

// Builds the result dict of one record: keys inserted in ascending byte
// order (sorted_order lists the field positions in that order). With a
// template from record_template, the dict is a copy of it whose values are
// replaced: sized once, where inserting key by key resizes it as it grows.
Result<Object> build_record_dict(std::span<PyObject* const> keys, std::span<const std::size_t> sorted_order,
                                 std::span<Object> values, PyObject* record_template = nullptr);

// Every key of a record in ascending byte order with the value None, for
// the calls that build many records of one schema.
Result<Object> record_template(std::span<PyObject* const> keys, std::span<const std::size_t> sorted_order);

}  // namespace zembra::py
