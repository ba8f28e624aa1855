// PostgreSQL's text output of column values, read as psycopg's text loaders
// read it (then as the serializer converts what they build), for a session
// with DateStyle ISO, TimeZone UTC, bytea_output hex and UTF-8 text.
//
// Each reader takes exactly the form the server writes and refuses (nullopt)
// anything else, including values the loaders would read but which the
// native route does not reproduce (NaN, infinities, BC dates, years past
// 9999, offsets other than +00): the caller then takes the values_list
// route, which gives its own result or error.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "pure/model/values.h"

namespace zembra::rows {

// numeric: "-123.4500". nullopt for NaN/Infinity, for values whose decimal
// the interpreter writes with an exponent (adjusted exponent below -6: the
// serializer reads that text by another path) and for values the Django
// module's decimal reader refuses.
std::optional<Decimal> pg_numeric(std::string_view text);

// int2/int4/int8: an optional "-" and digits.
std::optional<std::int64_t> pg_int(std::string_view text);

// float4/float8: finite values only.
std::optional<double> pg_float(std::string_view text);

// bool: "t" or "f".
std::optional<bool> pg_bool(std::string_view text);

// uuid: 8-4-4-4-12 lower-case hex digits.
std::optional<Uuid> pg_uuid(std::string_view text);

// date: "YYYY-MM-DD", years 1..9999.
std::optional<Date> pg_date(std::string_view text);

// time: "HH:MM:SS" with an optional fraction of 1 to 6 digits; 24:00:00
// (which the server allows) is refused.
std::optional<Time> pg_time(std::string_view text);

// timestamp: "YYYY-MM-DD HH:MM:SS[.ffffff]"; timestamptz: the same followed
// by "+00" (the UTC wall time).
std::optional<DateTime> pg_timestamp(std::string_view text);
std::optional<DateTime> pg_timestamptz(std::string_view text);

// bytea in hex output: "\x" then an even number of hex digits, decoded
// into out (cleared first). False for any other text.
bool pg_bytea_hex(std::string_view text, std::string& out);

}  // namespace zembra::rows
