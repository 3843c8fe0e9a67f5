#include "controls/brightness.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "json_line.h"

namespace controls {

void* displayServices = nullptr;

namespace {
using GetBrightness = std::int32_t (*)(platform::DisplayId display, float* level);
using SetBrightness = std::int32_t (*)(platform::DisplayId display, float level);
}  // namespace

std::optional<platform::DisplayId> builtInDisplay() {
  std::uint32_t count = 0;
  if (platform::onlineDisplayList(0, nullptr, &count) != 0) return std::nullopt;
  if (count == 0) return std::nullopt;
  // The list query overwrites `count` with how many slots it filled; the
  // walk still covers every slot, and unfilled ones hold id 0.
  const std::uint32_t slots = count;
  std::vector<platform::DisplayId> displays(slots, 0);
  if (platform::onlineDisplayList(slots, displays.data(), &count) != 0) return std::nullopt;
  for (platform::DisplayId display : displays) {
    if (platform::isBuiltinDisplay(display)) return display;
  }
  return std::nullopt;
}

std::optional<float> brightness() {
  const auto display = builtInDisplay();
  if (!display) return std::nullopt;
  if (displayServices == nullptr) return std::nullopt;
  const auto get = function<GetBrightness>("DisplayServicesGetBrightness");
  if (!get) return std::nullopt;
  float level = 0;
  if ((*get)(*display, &level) != 0) return std::nullopt;
  return level;
}

void setBrightness(float level) {
  const auto display = builtInDisplay();
  if (!display) return;
  if (displayServices == nullptr) return;
  const auto set = function<SetBrightness>("DisplayServicesSetBrightness");
  if (!set) return;
  // A NaN fails the comparison and becomes +0; a negative zero passes it
  // and is handed on unchanged.
  const float atLeastZero = level >= 0.0f ? level : 0.0f;
  (*set)(*display, std::min(atLeastZero, 1.0f));
}

void printBrightness() {
  Reply reply;
  const auto level = brightness();
  // A level read back as NaN or infinity has no JSON form; null keeps the
  // reply a valid line.
  if (level && std::isfinite(*level)) {
    reply.set("brightness", static_cast<double>(*level));
  } else {
    reply.set("brightness", JsonNull{});
  }
  printJSON(reply);
}

}  // namespace controls
