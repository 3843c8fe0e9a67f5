#include "notch/whole_number.h"

#include <cmath>

#include "saturating.h"

namespace notch {

std::string wholeNumberText(double value) {
  // std::round takes halves away from zero; the -0.0 it may give becomes 0.
  return std::to_string(saturatingInt64(std::round(value)));
}

}  // namespace notch
