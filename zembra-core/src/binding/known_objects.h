// Fast readers for objects of the interpreter's own exact types.
//
// Each reader answers only when the result is certain to equal what the
// general path (str(), isoformat(), json.dumps() followed by parsing) would
// give; otherwise it declines and the caller takes the general path. Exact
// types are required because a subclass may override the methods involved.
#pragma once

#include <optional>

#include "binding/error.h"
#include "common/buffer.h"
#include "model/values.h"

namespace zembra::py {

// datetime.datetime that is naive or in UTC, as its UTC wall time.
std::optional<DateTime> exact_datetime(PyObject* value);
std::optional<Date> exact_date(PyObject* value);
// datetime.time without tzinfo.
std::optional<Time> exact_time(PyObject* value);
// uuid.UUID: its 16 bytes.
Result<std::optional<Uuid>> exact_uuid(PyObject* value);

// value.isoformat() for the exact date and time types (datetime naive or in
// UTC, date, naive time), written into out; false when not handled.
bool write_exact_isoformat(PyObject* value, Buffer& out);

// json.loads(json.dumps(value)) with the keys of every dict in ascending
// byte order, built directly for plain structures (exact list, tuple, dict
// with str keys, str, int within 64 bits, finite float, bool, None, at most
// 128 levels). An empty Object (no exception) when the value is not plain.
Result<Object> plain_json_copy(PyObject* value);

// The shape json.loads(json.dumps(value)) would have, for the same plain
// structures, without building anything; nullopt when not plain.
enum class JsonShape { Scalar, Array, Object };
Result<std::optional<JsonShape>> plain_json_shape(PyObject* value);

}  // namespace zembra::py
