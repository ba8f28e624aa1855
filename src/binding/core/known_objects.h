// Fast readers for objects of the interpreter's own exact types.
//
// Each reader answers only when the result is certain to equal what the
// general path (str(), isoformat(), json.dumps() followed by parsing) would
// give; otherwise it declines and the caller takes the general path. Exact
// types are required because a subclass may override the methods involved.
#pragma once

#include <optional>

#include "binding/core/error.h"
#include "pure/common/buffer.h"
#include "pure/model/values.h"
#include "pure/text/datetime.h"

namespace zembra::py {

// A datetime.datetime of the exact type, read from its own fields: the wall
// time and, for an aware value, the UTC offset in microseconds (what
// utcoffset() gives; none when it gives None).
struct DateTimeFields {
  DateTime wall;
  bool aware = false;
  std::int64_t offset_micros = 0;

  std::optional<std::int64_t> offset() const {
    return aware ? std::optional<std::int64_t>(offset_micros) : std::nullopt;
  }
  // The UTC instant, which must lie in the years 1 to 9999.
  Expected<DateTime, text::DateTimeError> utc() const { return text::wall_time_to_utc(wall, offset_micros); }
};

// Fills fields and gives true for a datetime of the exact type; false for
// any other object. The offset of a datetime.timezone is learned once per
// timezone object; any other tzinfo is asked once, through
// tzinfo.utcoffset(value). When that call fails, or gives something the
// interpreter refuses, the exception is the one isoformat() would raise.
Result<bool> exact_datetime(PyObject* value, DateTimeFields& fields);
std::optional<Date> exact_date(PyObject* value);
// datetime.time without tzinfo.
std::optional<Time> exact_time(PyObject* value);
// uuid.UUID: its 16 bytes.
Result<std::optional<Uuid>> exact_uuid(PyObject* value);

// value.isoformat() for the exact date and time types (datetime with any
// tzinfo, date, naive time), written into out; false when not handled. Fails
// as isoformat() would when the tzinfo's utcoffset() fails.
Result<bool> write_exact_isoformat(PyObject* value, Buffer& out);

// Whether value.isoformat() is known to succeed without calling it: true for
// the types write_exact_isoformat handles; false when not handled. Fails as
// isoformat() would.
Result<bool> exact_isoformat_succeeds(PyObject* value);

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
