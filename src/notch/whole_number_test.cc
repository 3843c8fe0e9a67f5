#include "notch/whole_number.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace notch {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kTwoTo63 = 9223372036854775808.0;

TEST(WholeNumberTest, RoundsHalvesAwayFromZero) {
  const struct {
    double value;
    const char* text;
  } cases[] = {
      {0, "0"},
      {0.4, "0"},
      {0.5, "1"},
      {1.5, "2"},
      {2.5, "3"},  // not to even
      {184.5, "185"},
      {600.5, "601"},
      {-0.5, "-1"},
      {-2.5, "-3"},
      {-1.4, "-1"},
      {1512, "1512"},
      {-300, "-300"},
      // Just below one half: adding 0.5 and truncating would give 1.
      {0.49999999999999994, "0"},
      // Above 2^52 every double is whole; adding 0.5 would round up here.
      {4503599627370497.0, "4503599627370497"},
      {-4503599627370497.0, "-4503599627370497"},
  };
  for (const auto& c : cases) EXPECT_EQ(wholeNumberText(c.value), c.text) << c.value;
}

TEST(WholeNumberTest, WritesNegativeZeroAsZero) {
  for (const double value : {-0.0, -0.4, -0.49999999999999994, -std::numeric_limits<double>::denorm_min()}) {
    EXPECT_EQ(wholeNumberText(value), "0") << value;
  }
}

TEST(WholeNumberTest, KeepsValuesOutsideTheRangeValid) {
  const struct {
    double value;
    const char* text;
  } cases[] = {
      {kNaN, "0"},
      {-kNaN, "0"},
      {kInf, "9223372036854775807"},
      {-kInf, "-9223372036854775808"},
      {kTwoTo63, "9223372036854775807"},
      {1e19, "9223372036854775807"},
      {std::numeric_limits<double>::max(), "9223372036854775807"},
      {-1e19, "-9223372036854775808"},
      {std::numeric_limits<double>::lowest(), "-9223372036854775808"},
      // The ends that still fit are written exactly.
      {-kTwoTo63, "-9223372036854775808"},
      {std::nextafter(kTwoTo63, 0.0), "9223372036854774784"},
      // -2^63 - 1024 is the next double down: beyond the range.
      {std::nextafter(-kTwoTo63, -kInf), "-9223372036854775808"},
  };
  for (const auto& c : cases) EXPECT_EQ(wholeNumberText(c.value), c.text) << c.value;
}

}  // namespace
}  // namespace notch
