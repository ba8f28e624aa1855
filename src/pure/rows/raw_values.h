// Raw column values of the databases read as the Django backends' converters
// read them, for the values whose converters would only build an object that
// the serializer then turns back into text.
//
// SQLite keeps a DecimalField in a column of NUMERIC affinity, so the values
// arrive as REAL or INTEGER; UUIDs arrive as 32 hex digits. Both backends
// hand JSONField values over as JSON text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "pure/model/values.h"

namespace zembra::rows {

// What the SQLite converter of one DecimalField column needs.
struct DecimalColumn {
  std::uint32_t max_digits = 0;      // the precision of the field's decimal context
  std::uint32_t decimal_places = 0;  // the exponent every value is quantized to
  // Older converters round INTEGER values to 15 significant digits as they
  // do REAL ones; newer ones take integers exactly.
  bool round_integers = false;
};

// The decimal the converter returns, as plain positional text with exactly
// decimal_places fraction digits ("-0.00", "1986.98"): a REAL value is first
// rounded to 15 significant digits (half even, from its exact binary value),
// then quantized to decimal_places (half even), the sign of a zero kept.
// nullopt where the converter raises: a value that is not finite, a result
// with more than max_digits digits, or limits the decimal context refuses.
std::optional<std::string> sqlite_decimal_text(double value, const DecimalColumn& column);
std::optional<std::string> sqlite_decimal_text(std::int64_t value, const DecimalColumn& column);

// Exactly 32 hex digits of either case (the form SQLite keeps UUIDs in);
// nullopt for anything else, even what uuid.UUID() would also read.
std::optional<Uuid> uuid_from_hex(std::string_view text);

// The texts SQLite's Django backend stores dates and datetimes as, read as
// the converters read them (date.fromisoformat / datetime.fromisoformat):
// "YYYY-MM-DD", and "YYYY-MM-DD HH:MM:SS" with an optional fraction of
// exactly six digits. nullopt for any other text (even what fromisoformat
// would also read) and for dates or times that do not exist.
std::optional<Date> sqlite_date(std::string_view text);
std::optional<DateTime> sqlite_datetime(std::string_view text);

// The least limit on the digits of an int read from text that the
// interpreter lets a program set (sys.set_int_max_str_digits); no integer
// of at most this many digits is ever refused.
inline constexpr std::size_t kAlwaysReadableIntDigits = 640;

}  // namespace zembra::rows
