// The one rule of the typed route that can fail: JSON has no NaN or Infinity.
#pragma once

#include <cmath>
#include <optional>
#include <string>
#include <string_view>

#include "pure/errors/core_error.h"

namespace zembra {

inline std::optional<CoreError> non_finite_float_error(std::string_view field, double value) {
  if (std::isfinite(value)) return std::nullopt;
  const char* text = std::isnan(value) ? "NaN" : (value > 0 ? "inf" : "-inf");
  return CoreError::serialization(std::string(field), std::string("float value ") + text +
                                                          " is not representable in JSON (NaN/Infinity)");
}

}  // namespace zembra
