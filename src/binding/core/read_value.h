// Reading Python values into typed field values.
//
// The readers by kind are shared: the core's read_field_value, the
// serialization paths and the Django module's conversions all go through
// them, so each message is produced in one place.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "binding/core/error.h"
#include "pure/model/field_rules.h"
#include "pure/model/field_value.h"
#include "pure/text/datetime.h"
#include "pure/text/decimal.h"

namespace zembra::py {

// The value of a field in a record (a new reference), or an empty Object
// when absent. Dicts (and subclasses) are read through their own storage
// lookup, without the subclass's hooks; a lookup error propagates. Other
// objects are read with optional_attribute.
Result<Object> lookup_field(PyObject* record, PyObject* key);

// getattr(object, name), or an empty Object when it raises AttributeError.
Result<Object> optional_attribute(PyObject* object, PyObject* name);

// Absence and None: Null when the field accepts it, else the required error.
Result<FieldValue> null_or_required(const SchemaField& field);

// read_field_value: look the field up and convert it by the field's kind.
Result<FieldValue> read_field_value(PyObject* record, PyObject* key, const SchemaField& field);
// The conversion step alone, for a value that is present and not None.
Result<FieldValue> read_present_value(PyObject* value, const SchemaField& field);

// Readers by kind.
Result<std::string_view> read_str(PyObject* value);
Result<std::int64_t> read_int(PyObject* value);
Result<double> read_float(PyObject* value);
Result<bool> read_bool(PyObject* value);
Result<ByteString> read_bytes(PyObject* value);

// str(value) as UTF-8 (kept alive by holder).
Result<std::string_view> str_of(PyObject* value, Object& holder);
// value.isoformat(), which must return a str.
Result<std::string_view> isoformat_of(PyObject* value, Object& holder);
// json.dumps(value), which must return a str.
Result<std::string_view> json_dumps_of(PyObject* value, Object& holder);

// The text of a decimal value to parse: str(value), or, for an interpreter
// decimal printed with an exponent, the plain text of the same value.
Result<std::string> decimal_text_of(PyObject* value);
// The second step alone, for text = str(value): the plain text when value is
// an interpreter decimal and text has an exponent, else nullopt.
Result<std::optional<std::string>> plain_decimal_text(PyObject* value, std::string_view text);

// The TypeError message for a str given where a sequence of items is read.
inline constexpr const char* kRefusedStrMessage = "'str' object cannot be read as a sequence of items";

// The date and time readers in their order of attempts; on failure, the
// message of the last attempt (an aware instant outside the years 1 to 9999
// fails at once, as it reads but cannot be held).
Expected<DateTime, text::DateTimeError> parse_datetime_attempts(std::string_view text);
Expected<Time, text::DateTimeError> parse_time_attempts(std::string_view text);

}  // namespace zembra::py
