// Text forms of the column kinds that only the model layer writes: decimals
// at their field's places and durations in Django's text form.
#pragma once

#include <cstdint>
#include <optional>

#include "pure/common/buffer.h"
#include "pure/model/values.h"
#include "pure/text/datetime.h"

namespace zembra::json {

// The value with exactly `places` fraction digits, rounded half to even as
// Decimal.quantize does in the interpreter's default context; nullopt when
// the result would not fit the 128-bit mantissa.
std::optional<Decimal> rescale_decimal(const Decimal& value, unsigned places);

// django.utils.duration.duration_string of timedelta(days, seconds,
// microseconds) in its normalised form (0 <= seconds < 86400,
// 0 <= microseconds < 10**6): "HH:MM:SS", "D HH:MM:SS" when days is not 0,
// then ".ffffff" when microseconds is not 0.
void format_duration(std::int64_t days, std::int32_t seconds, std::int32_t microseconds, Buffer& out);

// The interpreter's isoformat() of the time, to the microsecond:
// "HH:MM:SS", then ".ffffff" when the microseconds are not 0.
void format_iso_time(const Time& time, Buffer& out);

// isoformat() of the UTC datetime with "+00:00" written "Z", as DRF writes
// datetimes: "YYYY-MM-DDTHH:MM:SS[.ffffff]Z".
void format_iso_datetime_utc(const DateTime& datetime, Buffer& out);

}  // namespace zembra::json
