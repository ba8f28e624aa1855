// Typed values in their serialized JSON form: the text forms of the typed
// route (plain decimals, UTC datetimes, lower-case UUIDs, Base64) as JSON
// strings, and JSON trees with their keys in the order the tree keeps.
#pragma once

#include <string_view>

#include "pure/common/buffer.h"
#include "pure/model/field_value.h"
#include "pure/model/json_value.h"

namespace zembra::json {

void write_decimal(const Decimal& value, Buffer& out);
void write_date(const Date& value, Buffer& out);
void write_time(const Time& value, Buffer& out);
void write_datetime(const DateTime& value, Buffer& out);
void write_uuid(const Uuid& value, Buffer& out);
void write_base64(std::string_view bytes, Buffer& out);

// A JSON tree; its doubles must be finite, as the strict reader makes them.
void write_json_value(const JsonValue& value, Buffer& out);

// One field value; a float must be finite (callers report a non-finite one
// as their own error before anything is written). Null is written null.
void write_field_value(const FieldValue& value, Buffer& out);

}  // namespace zembra::json
