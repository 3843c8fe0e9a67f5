#include "focus/focus_record.h"

#include <cmath>
#include <limits>
#include <string>

#include "json_line.h"

namespace focus {

std::int64_t wholeMilliseconds(double seconds) {
  const double product = seconds * 1000.0;
  if (std::isnan(product)) return 0;
  // 2^63 is exact as a double; every double below it and at or above -2^63
  // converts without leaving the range.
  constexpr double kLimit = 9223372036854775808.0;
  if (product >= kLimit) return std::numeric_limits<std::int64_t>::max();
  if (product < -kLimit) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(product);
}

void emit(platform::Application* application) {
  // The moment comes first, before any property is read; each property is
  // read once.
  const std::int64_t at = wholeMilliseconds(platform::currentTime());
  std::string bundleId = platform::bundleIdentifier(application).value_or("unknown");
  std::string name = platform::localizedName(application).value_or("unknown");
  const std::int32_t pid = platform::processIdentifier(application);

  Reply record;
  record.set("v", std::int64_t{1})
      .set("at", at)
      .set("bundleId", std::move(bundleId))
      .set("name", std::move(name))
      .set("pid", pid);
  printJSON(record);
}

}  // namespace focus
