// Turning a double into a 64-bit integer without undefined behaviour.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

// `value` truncated toward zero, or the nearest end of the 64-bit range
// when it lies beyond it (infinities included); a NaN gives 0.
inline std::int64_t saturatingInt64(double value) {
  if (std::isnan(value)) return 0;
  // 2^63 is exact as a double; every double below it and at or above -2^63
  // converts without leaving the range.
  constexpr double kLimit = 9223372036854775808.0;
  if (value >= kLimit) return std::numeric_limits<std::int64_t>::max();
  if (value < -kLimit) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(value);
}
