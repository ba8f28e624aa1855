// Doubles as plain decimal text: the shortest digits that read back as the
// same double, laid out without an exponent.
#pragma once

#include <cstddef>

#include "pure/common/buffer.h"

namespace zembra {

// Longest possible output: 1 sign + "0." + 324 fraction digits = 327 (every
// double's shortest digits end at or above 10^-324, since each rounding
// interval is wider than that), or 1 sign + 309 integer digits = 310.
inline constexpr std::size_t kMaxFloatPlainSize = 330;

// Writes value as plain decimal text with no exponent and no fractional part
// when the value is integral: 100.0 -> "100", 0.5 -> "0.5", 1e-7 ->
// "0.0000001", 1e21 -> "1" and 21 zeros, -0.0 -> "-0". Non-finite values
// are written "NaN" (either sign), "inf" and "-inf".
void format_float_plain(double value, Buffer& out);

// The same, into out[0..kMaxFloatPlainSize); returns the length written.
std::size_t write_float_plain(double value, char* out) noexcept;

}  // namespace zembra
