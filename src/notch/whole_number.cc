#include "notch/whole_number.h"

#include <cmath>
#include <cstdint>
#include <limits>

namespace notch {

std::string wholeNumberText(double value) {
  if (std::isnan(value)) return "0";
  // std::round takes halves away from zero. A double at or beyond ±2^63
  // must not reach the conversion, whose result would be undefined; -2^63
  // itself fits.
  const double rounded = std::round(value);
  constexpr double kLimit = 9223372036854775808.0;  // 2^63
  std::int64_t whole = 0;
  if (rounded >= kLimit) {
    whole = std::numeric_limits<std::int64_t>::max();
  } else if (rounded < -kLimit) {
    whole = std::numeric_limits<std::int64_t>::min();
  } else {
    whole = static_cast<std::int64_t>(rounded);  // -0.0 becomes 0
  }
  return std::to_string(whole);
}

}  // namespace notch
