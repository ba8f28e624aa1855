// Typed values to JSON-compatible Python objects (the typed route).
#pragma once

#include <span>
#include <string_view>

#include "binding/error.h"
#include "model/field_value.h"
#include "model/json_value.h"

namespace zembra::py {

// A fresh Python object for a JSON tree: None, bool, int (exact at any
// size), float, str, list, dict with keys in ascending byte order.
Result<Object> json_to_python(const JsonValue& tree);

// The JSON-compatible form of one field value: decimals, dates, times,
// datetimes (UTC, "+00:00") and UUIDs as text, bytes as Base64 text. A
// non-finite float fails with the serialization error for field_name.
Result<Object> field_value_to_python(std::string_view field_name, const FieldValue& value);

// Stops the garbage collector from tracking a dict that holds no container.
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
