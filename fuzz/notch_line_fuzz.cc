// The notch probe against a platform whose every answer comes from the
// input: any screens, any doubles for their insets, frames and top areas
// (NaN, infinities and values far beyond the integer range included), any
// answer asked twice may differ. The probe must write exactly the line that
// a reference built here from those answers gives.

#include <fuzzer/FuzzedDataProvider.h>

#include <bit>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "captured_output.h"
#include "notch/probe.h"
#include "platform/screens.h"

namespace {

FuzzedDataProvider* input = nullptr;

// The platform's answers, as the reference needs them.
struct Answers {
  std::vector<double> walkTops;  // the insets seen while walking the list
  bool hasMain = false;
  double top = 0;  // the last inset read: the measured one
  double frameWidth = 0;
  std::optional<double> left, right;
} answers;

double anyDouble() { return std::bit_cast<double>(input->ConsumeIntegral<std::uint64_t>()); }

platform::Rect anyRect() { return {anyDouble(), anyDouble(), anyDouble(), anyDouble()}; }

std::optional<platform::Rect> anyArea() {
  if (!input->ConsumeBool()) return std::nullopt;
  return anyRect();
}

platform::ScreenHandle handleFor(std::uintptr_t index) {
  return reinterpret_cast<platform::ScreenHandle>(index + 1);
}

bool measuring = false;  // the walk is over: insets read now are measured

// Whole points: halves away from zero, the 64-bit ends for what lies beyond,
// 0 for NaN; negative zero is written 0.
std::string whole(double value) {
  if (std::isnan(value)) return "0";
  double rounded = std::trunc(value);
  const double rest = value - rounded;  // exact
  if (rest >= 0.5) rounded += 1;
  if (rest <= -0.5) rounded -= 1;
  if (rounded >= 0x1p63) return "9223372036854775807";
  if (rounded < -0x1p63) return "-9223372036854775808";
  char text[32];
  std::snprintf(text, sizeof text, "%" PRId64, static_cast<std::int64_t>(rounded));
  return text;
}

std::string expectedLine() {
  bool chosen = answers.hasMain;
  for (const double top : answers.walkTops) chosen = chosen || top > 0;
  if (!chosen) return "{\"notched\":false}\n";
  const double width = std::fabs(answers.frameWidth);
  double notchWidth = 0;
  if (answers.top > 0 && answers.left && answers.right) {
    notchWidth = (width - std::fabs(*answers.left)) - std::fabs(*answers.right);
  }
  return std::string("{\"notched\":") + (answers.top > 0 ? "true" : "false") +
         ",\"notchWidth\":" + whole(notchWidth) + ",\"notchHeight\":" + whole(answers.top) +
         ",\"screenWidth\":" + whole(width) + "}\n";
}

std::string probeOutput() { return capturedOutput([] { notch::probe(); }); }

}  // namespace

namespace platform {

std::vector<ScreenHandle> screens() {
  std::vector<ScreenHandle> list;
  const auto count = input->ConsumeIntegralInRange<std::uintptr_t>(0, 3);
  for (std::uintptr_t i = 0; i < count; ++i) list.push_back(handleFor(i));
  return list;
}

ScreenHandle mainScreen() {
  measuring = true;
  answers.hasMain = input->ConsumeBool();
  return answers.hasMain ? handleFor(7) : nullptr;
}

double safeAreaTop(ScreenHandle) {
  const double top = anyDouble();
  if (measuring) {
    answers.top = top;
  } else {
    answers.walkTops.push_back(top);
    // The walk ends at the first screen with a positive inset; the next
    // read measures that screen.
    measuring = top > 0;
  }
  return top;
}

Rect frame(ScreenHandle) {
  const Rect rect = anyRect();
  answers.frameWidth = rect.width;
  return rect;
}

std::optional<Rect> auxiliaryTopLeftArea(ScreenHandle) {
  const auto area = anyArea();
  if (area) answers.left = area->width;
  return area;
}

std::optional<Rect> auxiliaryTopRightArea(ScreenHandle) {
  const auto area = anyArea();
  if (area) answers.right = area->width;
  return area;
}

double rectWidth(const Rect& rect) { return std::fabs(rect.width); }

}  // namespace platform

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider provider(data, size);
  input = &provider;
  answers = Answers{};
  measuring = false;
  const std::string line = probeOutput();
  if (line != expectedLine()) {
    std::fprintf(stderr, "got      %sexpected %s", line.c_str(), expectedLine().c_str());
    std::abort();
  }
  return 0;
}
