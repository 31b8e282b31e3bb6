// Conversions that are defined for every input: the host hands over doubles
// the module does not control.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace k2t {

// Single precision, with values beyond its range becoming infinities.
inline float NarrowToFloat(double value) {
  constexpr double kMax = std::numeric_limits<float>::max();
  if (value > kMax) return std::numeric_limits<float>::infinity();
  if (value < -kMax) return -std::numeric_limits<float>::infinity();
  return static_cast<float>(value);
}

// Truncated toward zero and held within int32; NaN gives 0.
inline std::int32_t TruncToInt32(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
  if (value <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(value);
}

}  // namespace k2t
