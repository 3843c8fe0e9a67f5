// How the notch report writes its measurements.
#pragma once

#include <string>

namespace notch {

// `value` rounded to the nearest whole number (halves away from zero) as a
// 64-bit signed integer in ASCII decimal; negative zero is written "0".
// Values the integer cannot hold still give a valid number: NaN is 0, and
// infinities and values beyond the range are its nearest end.
std::string wholeNumberText(double value);

}  // namespace notch
